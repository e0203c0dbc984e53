#!/usr/bin/env bash
# ThreadSanitizer over the parallel reading: builds drelk alone with -fsanitize=thread
# (preset tsan) and runs the end-to-end tests that read with -j1, -j2 and -j8 (every corpus
# of the suite, a tree of every kind of input and diagnostic) with it in place of the
# release drelk, and the corpus digests, which do the same. (The goldens' runs at every
# count are left to the release suite, to keep CI in its time.) A data race makes drelk exit with status 66
# and its report on standard error, which fails the comparisons.
set -euo pipefail
cd "$(dirname "$0")/.."
release="${RELEASE_BUILD_DIR:-build/release}"
start=$(date +%s)
cmake --preset tsan >/dev/null
cmake --build --preset tsan
built=$(date +%s)
export DRELK_UNDER_TEST="$PWD/build/tsan/drelk"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66"
"$release/tests/drelk_e2e_tests" \
  --gtest_filter='ParallelReading.*'
cmake -DDRELK="$DRELK_UNDER_TEST" -DCORPUS="$release/tools/drelk_corpus" \
      -DWORK_DIR="$PWD/build/tsan/corpus" -P tools/corpus_digest.cmake
echo "tsan: built in $((built - start)) s, tests in $(($(date +%s) - built)) s"
