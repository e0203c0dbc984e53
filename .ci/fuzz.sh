#!/usr/bin/env bash
# Fuzz smoke run: builds the libFuzzer targets with clang in build/fuzz and runs each for a
# bounded time from the committed seed corpus. Any crash, leak, sanitizer report, timeout
# or out-of-memory ends libFuzzer with a non-zero status, and so this script.
#
#   .ci/fuzz.sh                      every target, 40 s for the analysis target, 15 s for
#                                    the command-line, DWARF and adoption targets
#   FUZZ_SECONDS=600 .ci/fuzz.sh     a longer run of the analysis target
#
# New inputs go to build/fuzz/corpus-*, never into the committed corpus; a finding is
# written to build/fuzz/findings/ and belongs minimized in tests/data/fuzz-regressions/.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build/fuzz"
seconds="${FUZZ_SECONDS:-40}"
command_line_seconds="${FUZZ_COMMAND_LINE_SECONDS:-15}"
dwarf_seconds="${FUZZ_DWARF_SECONDS:-15}"
adoption_seconds="${FUZZ_ADOPTION_SECONDS:-15}"

fuzzer_runtime="/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
if ! command -v clang++ >/dev/null || ! compgen -G "$fuzzer_runtime" >/dev/null; then
  echo "fuzz: installing clang and its fuzzer runtime"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q clang libclang-rt-dev >/dev/null
fi

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DDRELK_FUZZ=ON -DDRELK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target drelk_fuzz_analyze drelk_fuzz_command_line \
  drelk_fuzz_dwarf drelk_fuzz_adoption

mkdir -p "$build/findings" "$build/corpus-analyze" "$build/corpus-command-line" \
  "$build/corpus-dwarf" "$build/tmp"
# The command-line target lays out its tree of test files below TMPDIR.
export TMPDIR="$build/tmp"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# Every committed finding must pass before the search starts.
replay() {
  local target="$1" dir="$2"
  local inputs=("$dir"/*)
  [ -e "${inputs[0]}" ] || return 0
  echo "fuzz: replaying ${#inputs[@]} inputs of $dir"
  "$build/fuzz/$target" -runs=1 "${inputs[@]}" >"$build/replay-$target.log" 2>&1 || {
    tail -n 60 "$build/replay-$target.log"
    echo "fuzz: a committed finding fails again"
    exit 1
  }
}
replay drelk_fuzz_analyze "$root/tests/data/fuzz-regressions/analyze"
replay drelk_fuzz_command_line "$root/tests/data/fuzz-regressions/command_line"
replay drelk_fuzz_dwarf "$root/tests/data/fuzz-regressions/dwarf"

# One dictionary for every format: libFuzzer takes a single -dict.
cat "$root/fuzz/coff.dict" "$root/fuzz/elf.dict" "$root/fuzz/macho.dict" "$root/fuzz/xcoff.dict" \
  "$root/fuzz/bitcode.dict" "$root/fuzz/shlib.dict" "$root/fuzz/calls.dict" >"$build/analyze.dict"

# -malloc_limit_mb: no input of max_len bytes needs a large block, whatever it claims.
# -timeout: an input that takes seconds is a hang in a run over a build tree.
echo "fuzz: drelk_fuzz_analyze for ${seconds} s"
"$build/fuzz/drelk_fuzz_analyze" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -max_len=16384 -print_final_stats=1 \
  -dict="$build/analyze.dict" -artifact_prefix="$build/findings/analyze-" \
  "$build/corpus-analyze" "$root/fuzz/corpus/analyze" "$root/examples" \
  "$root/tests/data/archives" "$root/tests/data/elf" "$root/tests/data/dwarf" \
  "$root/tests/data/macho" "$root/tests/data/xcoff" "$root/tests/data/bitcode" \
  "$root/tests/data/shlib" "$root/fuzz/corpus/bitcode" "$root/fuzz/corpus/shlib" \
  "$root/fuzz/corpus/xcoff" "$root/fuzz/corpus/linked" "$root/fuzz/corpus/calls" \
  "$root/tests/data/calls" "$root/tests/data/alignment" \
  "$root/tests/data/fuzz-regressions/analyze" \
  2>"$build/fuzz-analyze.log" || {
    tail -n 60 "$build/fuzz-analyze.log"
    echo "fuzz: drelk_fuzz_analyze found a fault; the input is in $build/findings/"
    exit 1
  }
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
  "$build/fuzz-analyze.log" || true

echo "fuzz: drelk_fuzz_command_line for ${command_line_seconds} s"
"$build/fuzz/drelk_fuzz_command_line" \
  -max_total_time="$command_line_seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=1024 -print_final_stats=1 \
  -dict="$root/fuzz/command_line.dict" -artifact_prefix="$build/findings/command-line-" \
  "$build/corpus-command-line" "$root/fuzz/corpus/command_line" \
  2>"$build/fuzz-command-line.log" || {
    tail -n 60 "$build/fuzz-command-line.log"
    echo "fuzz: drelk_fuzz_command_line found a fault; the input is in $build/findings/"
    exit 1
  }
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
  "$build/fuzz-command-line.log" || true
echo "fuzz: drelk_fuzz_dwarf for ${dwarf_seconds} s"
"$build/fuzz/drelk_fuzz_dwarf" \
  -max_total_time="$dwarf_seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -max_len=16384 -print_final_stats=1 -artifact_prefix="$build/findings/dwarf-" \
  "$build/corpus-dwarf" "$root/fuzz/corpus/dwarf" \
  2>"$build/fuzz-dwarf.log" || {
    tail -n 60 "$build/fuzz-dwarf.log"
    echo "fuzz: drelk_fuzz_dwarf found a fault; the input is in $build/findings/"
    exit 1
  }
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
  "$build/fuzz-dwarf.log" || true
echo "fuzz: drelk_fuzz_adoption for ${adoption_seconds} s"
mkdir -p "$build/corpus-adoption"
"$build/fuzz/drelk_fuzz_adoption" \
  -max_total_time="$adoption_seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=256 \
  -max_len=65536 -print_final_stats=1 -dict="$root/fuzz/adoption.dict" \
  -artifact_prefix="$build/findings/adoption-" \
  "$build/corpus-adoption" "$root/fuzz/corpus/adoption" \
  2>"$build/fuzz-adoption.log" || {
    tail -n 60 "$build/fuzz-adoption.log"
    echo "fuzz: drelk_fuzz_adoption found a fault; the input is in $build/findings/"
    exit 1
  }
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
  "$build/fuzz-adoption.log" || true
echo "fuzz: no findings"
