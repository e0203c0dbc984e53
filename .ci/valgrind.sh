#!/usr/bin/env bash
# Memcheck run of the end-to-end suites: builds drelk and the end-to-end test binaries with
# g++ in build/valgrind, then runs them with DRELK_UNDER_TEST pointing at a wrapper that
# starts every drelk under valgrind memcheck. The run fails when any drelk had an invalid
# read or write, a use of uninitialised memory, or a definite or possible leak.
#
# Each drelk's findings go to build/valgrind/memcheck/*.log (an empty log is a clean run),
# never to its standard error, which the tests compare byte for byte. The wrapper finds
# drelk on PATH so that drelk sees argv[0] = "drelk", as the tests expect; the one test of
# another argv[0] cannot pass through a wrapper and is left out.
#
#   .ci/valgrind.sh                                  builds and runs in build/valgrind
#   VALGRIND_BUILD_DIR=build/release .ci/valgrind.sh reuses a configured build instead
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "$root" && mkdir -p "${VALGRIND_BUILD_DIR:-build/valgrind}" &&
         cd "${VALGRIND_BUILD_DIR:-build/valgrind}" && pwd)"
logs="$build/memcheck"

if ! command -v valgrind >/dev/null; then
  echo "valgrind: installing valgrind"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q valgrind >/dev/null
fi

generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
# Memcheck needs drelk without the sanitizers; line numbers make its reports readable.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDRELK_SANITIZE=OFF \
    >/dev/null
fi
if grep -q '^DRELK_SANITIZE:BOOL=ON' "$build/CMakeCache.txt"; then
  echo "valgrind: $build is a sanitizer build; memcheck needs a plain one"
  exit 1
fi
targets=(drelk drelk_e2e_tests)
if cmake --build "$build" --target help | grep -q drelk_hostile_tests; then
  targets+=(drelk_hostile_tests)
fi
cmake --build "$build" -j2 --target "${targets[@]}"

# The hostile-input tests run drelk as user nobody when they run as root: the wrapper and
# the logs must be open to it.
rm -rf "$logs"
mkdir -p "$logs"
chmod 1777 "$logs"
wrapper="$build/drelk-under-valgrind"
cat >"$wrapper" <<EOF
#!/bin/sh
PATH="$build:\$PATH" exec valgrind --tool=memcheck --error-exitcode=99 --leak-check=full \\
  --show-leak-kinds=definite,possible --errors-for-leak-kinds=definite,possible \\
  --track-origins=yes --quiet --log-file="$logs/drelk.%p.log" drelk "\$@"
EOF
chmod 755 "$wrapper"
export DRELK_UNDER_TEST="$wrapper"

# Memcheck makes every drelk some twenty times slower, and the suites spend nearly all their
# time in it: each suite is split into two shards (GoogleTest's own sharding) that run side
# by side on the two cores, each shard's output to a log shown when it is done.
hostile="$(find "$build/tests" -name drelk_hostile_tests -type f | head -n 1)"
# The parallel reading of every corpus of the suite at three counts of jobs would take most
# of the step under memcheck, which runs one thread at a time; the sanitizer and
# ThreadSanitizer builds run it, and the other parallel tests read every kind of input here
# at each count. The test of another argv[0] cannot pass
# through the wrapper. Nor can the test of closed
# standard descriptors: the descriptors it closes are where valgrind opens its log, which
# drelk then writes to. The table rows and resource bounds build inputs of megabytes to bound
# the work and the memory drelk takes; under memcheck they take minutes, and the sanitizer
# build runs them.
run_shard() {
  local index="$1"
  GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX="$index" "$build/tests/drelk_e2e_tests" \
    --gtest_brief=1 \
    --gtest_filter='-CommandLine.BannerShowsTheProgramNameAsInvoked:ParallelReading.EveryCorpusOfTheSuiteReadsTheSame' ||
    return 1
  if [ -n "$hostile" ]; then
    GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX="$index" "$hostile" --gtest_brief=1 \
      --gtest_filter='-DamagedTree.ClosedStandardDescriptorsAreNotTakenByTheFilesOpened:TableRows.*:ResourceBounds.*' ||
      return 1
  fi
}
echo "valgrind: drelk_e2e_tests${hostile:+ and drelk_hostile_tests}, two shards side by side"
pids=()
for index in 0 1; do
  run_shard "$index" >"$logs/shard-$index.out" 2>&1 &
  pids+=($!)
done
status=0
for index in 0 1; do
  wait "${pids[$index]}" || status=1
  echo "---- shard $index"
  cat "$logs/shard-$index.out"
done

runs=$(find "$logs" -name 'drelk.*.log' | wc -l)
dirty=$(find "$logs" -name 'drelk.*.log' -size +0 | sort)
if [ "$runs" -eq 0 ]; then
  echo "valgrind: no drelk ran under valgrind"
  status=1
fi
if [ -n "$dirty" ]; then
  for log in $dirty; do
    echo "---- $log"
    head -n 60 "$log"
  done
  echo "valgrind: memcheck found errors in $(echo "$dirty" | wc -l) of $runs drelk runs"
  status=1
fi
if [ "$status" -eq 0 ]; then
  echo "valgrind: $runs drelk runs, no memcheck errors, no leaks"
fi
exit "$status"
