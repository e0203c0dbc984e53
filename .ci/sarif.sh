#!/usr/bin/env bash
# The documents for programs on real runs: tests/report/documents_test.py writes the JSON
# and SARIF of the sample objects, the test archives, damaged inputs and a 10,000-object
# corpus (checking the JSON against its schema and all three formats against each other),
# and every SARIF log must then pass Microsoft's SARIF validator with no error. The
# validator (npm package @microsoft/sarif-multitool) is installed once under build/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

fail() {
  echo "sarif: $*" >&2
  exit 1
}

need=()
command -v npm >/dev/null || need+=(npm)
command -v python3 >/dev/null || need+=(python3)
python3 -c 'import jsonschema' 2>/dev/null || need+=(python3-jsonschema)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

tool=build/sarif-multitool
validator=$tool/node_modules/.bin/sarif-multitool
if [ ! -x "$validator" ]; then
  npm install --prefix "$tool" --no-audit --no-fund --loglevel=error '@microsoft/sarif-multitool@^5'
fi
# The validator is a .NET program: without ICU it must not look for it.
[ -n "$(ldconfig -p | grep libicuuc)" ] || export DOTNET_SYSTEM_GLOBALIZATION_INVARIANT=1

build=${SARIF_BUILD_DIR:-build/release}
[ -f "$build/CMakeCache.txt" ] || cmake --preset release >/dev/null
cmake --build "$build" -j2 --target drelk drelk_corpus >/dev/null
out=build/sarif-check
rm -rf "$out"
python3 tests/report/documents_test.py --drelk "$build/drelk" --corpus "$build/tools/drelk_corpus" \
  --source . --work "$out/work" --keep "$out/documents" || fail "documents_test.py failed"

logs=("$out"/documents/*.sarif)
[ -f "${logs[0]}" ] || fail "no SARIF log was written"
# One run of the validator over every log; it reports each error as "FILE(line,column):
# error ID: text" and exits 0 whatever it found.
"$validator" validate "${logs[@]}" >"$out/validation.txt" 2>&1 || true
grep -q "Done. ${#logs[@]} files scanned." "$out/validation.txt" ||
  { cat "$out/validation.txt"; fail "the validator did not scan the ${#logs[@]} logs"; }
if grep -E ": error [A-Z]+[0-9]+:" "$out/validation.txt"; then
  fail "some SARIF log does not validate"
fi
echo "sarif: ${#logs[@]} SARIF logs pass the validator"
