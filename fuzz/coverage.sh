#!/usr/bin/env bash
# Line coverage that the fuzz corpus reaches: builds the analysis target with clang's
# source-based coverage in build/fuzz-coverage, replays the committed seeds, the sample
# objects and whatever corpus a fuzz run left in build/fuzz/corpus-analyze, and prints
# llvm-cov's report for objreader/, registry/ and report/.
#
#   fuzz/coverage.sh            after .ci/fuzz.sh, to see what its run reached
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz-coverage"
llvm_version=14

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
  -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" \
  -DDRELK_FUZZ=ON -DDRELK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target drelk_fuzz_analyze >/dev/null

corpora=("$root/fuzz/corpus/analyze" "$root/examples" "$root/tests/data/archives" "$root/tests/data/elf"
         "$root/tests/data/macho"
         "$root/tests/data/fuzz-regressions/analyze")
if [ -d "$root/build/fuzz/corpus-analyze" ]; then corpora+=("$root/build/fuzz/corpus-analyze"); fi
empty="$build/empty-corpus"
rm -rf "$empty" && mkdir -p "$empty"
rm -f "$build"/coverage-*.profraw
LLVM_PROFILE_FILE="$build/coverage-%p.profraw" \
  "$build/fuzz/drelk_fuzz_analyze" -runs=0 "$empty" "${corpora[@]}" 2>&1 | grep -E 'INITED|DONE' || true
"llvm-profdata-$llvm_version" merge -sparse "$build"/coverage-*.profraw -o "$build/coverage.profdata"
"llvm-cov-$llvm_version" report "$build/fuzz/drelk_fuzz_analyze" \
  -instr-profile="$build/coverage.profdata" \
  "$root/objreader" "$root/registry" "$root/report" "$root/platform/input_stream.cpp"
