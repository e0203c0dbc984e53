#!/usr/bin/env bash
# Times drelk against the I/O floor and the tools people would otherwise run over a build
# tree, on generated corpora, and prints the times, the ratios to the floor, the growth
# from 10,000 to 50,000 objects, peak memory and the goals met. Object trees are checked
# both through one wildcard per folder (-s) and with every path named, in a response file
# and through xargs, as build systems and `find | xargs` name them.
#
#   bench/run.sh                 build in build/bench (-O2), generate, time, report
#   RUNS=9 bench/run.sh          more runs of the fast commands (default 5; slow tools 3)
#   QUICK=1 bench/run.sh         one run of the slow tools and no 50,000-object GNU tools
#   DRELK=/path/drelk bench/run.sh   time another drelk binary with the same corpora
#                                (REGISTRY_BENCH=/path likewise for the registry benchmark)
#   ONLY_DIRECTORY=1 bench/run.sh    only a directory as the input against a response file
#   ONLY_BITCODE=1 bench/run.sh      only 10,000 LLVM bitcode objects against the same ELF tree
#   ONLY_TABLE=1 bench/run.sh        only the table of parallel reading (every row, its goal)
#   CAP=100 SINGLE_LIMIT=15      stop a command after CAP seconds; time a command slower
#                                than SINGLE_LIMIT seconds once only
#
# Warm cache: every command runs once untimed first. hyperfine is used when installed
# (apt-get install hyperfine), otherwise each command is timed by the shell and the
# median taken. The corpora stay in build/bench/corpus and are reused when their
# generator arguments have not changed.
set -euo pipefail
export LC_ALL=C

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
CORPUS=$BUILD/corpus
OUT=$BUILD/out
RUNS=${RUNS:-5}
SLOW_RUNS=${SLOW_RUNS:-3}
QUICK=${QUICK:-0}
SINGLE_LIMIT=${SINGLE_LIMIT:-15}
CAP=${CAP:-100}
[[ $QUICK == 1 ]] && SLOW_RUNS=1

echo "== building in $BUILD (-O2)"
mkdir -p "$BUILD"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DDRELK_BUILD_TESTS=OFF >"$BUILD/configure.log" 2>&1 || { cat "$BUILD/configure.log"; exit 1; }
targets=(drelk drelk_corpus drelk_io_floor drelk_delay_open)
grep -q drelk_registry_bench "$BUILD/CMakeFiles/TargetDirectories.txt" 2>/dev/null &&
  targets+=(drelk_registry_bench)
cmake --build "$BUILD" -j2 --target "${targets[@]}" >"$BUILD/build.log" 2>&1 ||
  { tail -40 "$BUILD/build.log"; exit 1; }

DRELK=${DRELK:-$BUILD/drelk}
DRELK=$(cd "$(dirname "$DRELK")" && pwd)/$(basename "$DRELK")
GEN=$BUILD/tools/drelk_corpus
FLOOR=$BUILD/bench/drelk_io_floor
DELAY_OPEN=$BUILD/bench/libdrelk_delay_open.so
LLVM_NM=$(command -v llvm-nm || ls /usr/bin/llvm-nm-* 2>/dev/null | head -1 || true)
GNU_NM=$(command -v i686-w64-mingw32-nm || true)
GNU_LD=$(command -v i686-w64-mingw32-ld || true)
HYPERFINE=$(command -v hyperfine || true)
mkdir -p "$CORPUS" "$OUT"

# generate NAME ARGS...: a corpus below $CORPUS, kept while its arguments stay the same.
generate() {
  local name=$1
  shift
  local stamp="$CORPUS/$name.args"
  if [[ -f $stamp && "$(cat "$stamp")" == "$*" ]]; then return; fi
  rm -rf "${CORPUS:?}/$name" "$CORPUS/$name.lib" "$stamp"
  echo "   $name: $*"
  "$GEN" "$@"
  echo "$*" >"$stamp"
}

echo "== generating corpora in $CORPUS"
if [[ ${ONLY_BITCODE:-0} != 1 ]]; then
  generate deep10k --shape deep --objects 10000 --seed 1 --out "$CORPUS/deep10k"
  generate deep50k --shape deep --objects 50000 --seed 1 --out "$CORPUS/deep50k"
  generate lib10k --shape deep --objects 10000 --seed 1 --library "$CORPUS/lib10k.lib"
fi
if [[ ${ONLY_BITCODE:-0} != 1 && ${ONLY_TABLE:-0} != 1 ]]; then
  generate wide10k --shape wide --objects 10000 --seed 1 --out "$CORPUS/wide10k"
  # ELF: the deep plan as x86-64 objects shaped like gfortran's, in ".o" files.
  generate elf50k --shape deep --format elf --objects 50000 --seed 1 --out "$CORPUS/elf50k"
fi
# The deep plan of 10,000 objects as ELF and as LLVM bitcode (flang -flto) in one tree shape.
[[ ${ONLY_TABLE:-0} == 1 ]] || generate elf10k --shape deep --format elf --objects 10000 --seed 1 --out "$CORPUS/elf10k"
[[ ${ONLY_TABLE:-0} == 1 ]] || generate bc10k --shape deep --format bitcode --objects 10000 --seed 1 --out "$CORPUS/bc10k"
cd "$CORPUS"  # paths below are relative, as the reports compared are
# The longest command line xargs can build here: the named-paths run through xargs must be
# one run of drelk, or its report would hold only the last share of the objects.
XARGS_LIMIT=$(xargs --show-limits </dev/null 2>&1 |
  awk -F: '/Maximum length of command we could actually use/ {gsub(/ /, "", $2); print $2}')
XARGS_LIMIT=${XARGS_LIMIT:-131072}

# calc EXPRESSION: the value of an arithmetic expression, by awk (bc is not always there).
calc() { awk "BEGIN {print $1}"; }

# median_of N: median of the numbers on standard input.
median_of() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A TIME NOTE
# measure KEY RUNS COMMAND: the median wall time of COMMAND (run by sh), in seconds. The
# first, untimed-by-hyperfine run warms the cache; a command slower than $SINGLE_LIMIT
# seconds there keeps that one time (marked '1'), one still running after $CAP seconds is
# stopped (marked '>', the time is then a lower bound).
measure() {
  local key=$1 runs=$2 command=$3
  local start end status=0
  start=$(date +%s.%N)
  timeout "$CAP" sh -c "$command" >/dev/null 2>&1 || status=$?
  end=$(date +%s.%N)
  local first
  first=$(calc "$end - $start")
  NOTE[$key]=""
  if [[ $status == 124 ]]; then
    TIME[$key]=$CAP
    NOTE[$key]=">"
  elif awk "BEGIN {exit !($first > $SINGLE_LIMIT)}"; then
    TIME[$key]=$first
    NOTE[$key]="1"
  elif [[ -n $HYPERFINE ]]; then
    "$HYPERFINE" --style none --runs "$runs" -i --export-csv "$OUT/$key.csv" \
      "$command" >"$OUT/$key.hyperfine" 2>&1
    TIME[$key]=$(awk -F, 'NR == 2 {print $4}' "$OUT/$key.csv")
  else
    local i
    for ((i = 0; i < runs; i++)); do
      start=$(date +%s.%N)
      sh -c "$command" >/dev/null 2>&1 || true
      end=$(date +%s.%N)
      calc "$end - $start"
    done | median_of >"$OUT/$key.median"
    TIME[$key]=$(cat "$OUT/$key.median")
  fi
  printf '   %-10s %-8s %9.3f s %s\n' "${key%%:*}" "${key#*:}" "${TIME[$key]}" "${NOTE[$key]}"
}

# The commands of one corpus. An object tree is named by its directory, a library by its file.
run_corpus() {
  local corpus=$1 slow=$2
  local pattern=$corpus extension=obj
  [[ $corpus == elf* ]] && extension=o
  [[ $corpus == *.lib ]] || pattern="-s '$corpus/*.$extension'"
  echo "== $corpus"
  measure "$corpus:floor" "$RUNS" "'$FLOOR' $corpus >/dev/null"
  measure "$corpus:drelk" "$RUNS" "'$DRELK' $pattern -o'$OUT/$corpus.report'"
  measure "$corpus:drelk-p" "$RUNS" "'$DRELK' -p $pattern -o'$OUT/$corpus.problems'"
  if [[ $corpus != *.lib ]]; then
    # Every path named, in the order find gives them: in a response file, and through xargs.
    find "$corpus" -name "*.$extension" >"$OUT/$corpus.named"
    measure "$corpus:named" "$RUNS" "'$DRELK' @'$OUT/$corpus.named' -o'$OUT/$corpus.named-report'"
    measure "$corpus:named-p" "$RUNS" \
      "'$DRELK' -p @'$OUT/$corpus.named' -o'$OUT/$corpus.named-problems'"
    measure "$corpus:xargs" "$RUNS" \
      "xargs -s $XARGS_LIMIT '$DRELK' -o'$OUT/$corpus.xargs-report' <'$OUT/$corpus.named'"
  fi
  local list="find $corpus -name '*.$extension' -print0 | xargs -0"
  [[ $corpus == *.lib ]] && list="echo $corpus | xargs"
  if [[ -n $LLVM_NM ]]; then
    measure "$corpus:llvm-nm" "$SLOW_RUNS" \
      "$list '$LLVM_NM' -A | awk '\$3 == \"C\"' | sort >'$OUT/$corpus.llvm-nm'"
  fi
  if [[ -n $GNU_NM && $slow == 1 ]]; then
    measure "$corpus:gnu-nm" "$SLOW_RUNS" \
      "$list '$GNU_NM' -A | awk '\$2 == \"C\"' | sort >'$OUT/$corpus.gnu-nm'"
  fi
  if [[ -n $GNU_LD && $slow == 1 ]]; then
    # One link over every object, named in a response file: the warnings need them all.
    local files="--whole-archive $corpus"
    if [[ $corpus != *.lib ]]; then
      find "$corpus" -name "*.$extension" | sort >"$OUT/$corpus.files"
      files="@$OUT/$corpus.files"
    fi
    measure "$corpus:ld-r" "$SLOW_RUNS" \
      "'$GNU_LD' -r --warn-common -o /dev/null $files 2>'$OUT/$corpus.ld'"
  fi
}

goal() {
  local verdict="NOT met"
  awk "BEGIN {exit !($2)}" && verdict="met"
  printf '%-62s %s\n' "$1" "$verdict"
}
ratio() { calc "${TIME[$1]} / ${TIME[$2]}"; }

# ratio_goal TEXT KEY BASE LIMIT: the goal "KEY takes at most LIMIT times BASE".
ratio_goal() {
  local text=$1 key=$2 base=$3 limit=$4
  if [[ -z ${TIME[$key]:-} || -z ${TIME[$base]:-} ]]; then
    printf '%-62s %s\n' "$text <= ${limit}x" "not measured"
    return
  fi
  goal "$text <= ${limit}x ($(printf %.2f "$(ratio "$key" "$base")")x)" \
    "${TIME[$key]} <= $limit * ${TIME[$base]}"
}

# ---- a directory as the input ---------------------------------------------------------
# The 50,000 objects of deep50k (500 folders of 100) and of elf50k, read through their
# directory (every file under it told by its bytes) and named one by one in a response
# file: the directory may cost no more than the response file. The two reports hold the
# same lines but for the directory's count of files read.
run_directory_input() {
  echo
  echo "== a directory as the input (median wall time; ratio = directory / response file)"
  local corpus extension
  for corpus in deep50k elf50k; do
    extension=obj
    [[ $corpus == elf* ]] && extension=o
    find "$corpus" -name "*.$extension" >"$OUT/$corpus.named"
    measure "$corpus:named" "$RUNS" "'$DRELK' @'$OUT/$corpus.named' -o'$OUT/$corpus.named-report'"
    measure "$corpus:dir" "$RUNS" "'$DRELK' $corpus -o'$OUT/$corpus.dir-report'"
    local same="differ"
    # The count and the empty line after it are the directory's own.
    cmp -s <(awk '/ files read under /{skip = 1; next} skip {skip = 0; next} 1' \
      "$OUT/$corpus.dir-report" | sort) <(sort "$OUT/$corpus.named-report") && same="the same"
    echo "   $corpus: the reports of the directory and of the response file hold $same lines"
    ratio_goal "$corpus, directory / response file" "$corpus:dir" "$corpus:named" 1
  done
}
if [[ ${ONLY_DIRECTORY:-0} == 1 ]]; then
  run_directory_input
  exit 0
fi

# ---- LLVM bitcode: the same tree as ELF objects ---------------------------------------
# 10,000 objects of the deep plan as flang's -flto bitcode and as gfortran's ELF, read
# through one wildcard per folder: bitcode may cost at most 2x ELF. The reports hold the
# same blocks and sizes (bitcode's initialised blocks aside, whose size it does not record).
run_bitcode_input() {
  echo
  echo "== LLVM bitcode, deep 10,000 (median wall time; ratio = bitcode / ELF)"
  measure "elf10k:floor" "$RUNS" "'$FLOOR' elf10k >/dev/null"
  measure "bc10k:floor" "$RUNS" "'$FLOOR' bc10k >/dev/null"
  measure "elf10k:drelk" "$RUNS" "'$DRELK' -s 'elf10k/*.o' -o'$OUT/elf10k.report'"
  measure "bc10k:drelk" "$RUNS" "'$DRELK' -s 'bc10k/*.o' -o'$OUT/bc10k.report'"
  measure "elf10k:drelk-p" "$RUNS" "'$DRELK' -p -s 'elf10k/*.o' -o'$OUT/elf10k.problems'"
  measure "bc10k:drelk-p" "$RUNS" "'$DRELK' -p -s 'bc10k/*.o' -o'$OUT/bc10k.problems'"
  ratio_goal "bitcode 10,000 wildcards, full report / ELF's" bc10k:drelk elf10k:drelk 2
  ratio_goal "bitcode 10,000 wildcards, -p / ELF's" bc10k:drelk-p elf10k:drelk-p 2
}
if [[ ${ONLY_BITCODE:-0} == 1 ]]; then
  run_bitcode_input
  exit 0
fi

# ---- the table of parallel reading --------------------------------------------------
# Every row of the table with its goal, from one run: best of $TABLE_RUNS wall times (the
# machine may be shared), drelk with its default jobs beside -j1. Cold rows drop the page
# cache before each run where this process may (root, and a kernel that lets it).
TABLE_RUNS=${TABLE_RUNS:-3}
declare -A BEST
# best KEY COMMAND: the best of $TABLE_RUNS wall times of COMMAND; with COLD=1 the page
# cache is dropped before each.
best() {
  local key=$1 command=$2 i start end times=""
  for ((i = 0; i < TABLE_RUNS; i++)); do
    [[ ${COLD:-0} == 1 ]] && drop_page_cache
    start=$(date +%s.%N)
    timeout "$CAP" sh -c "$command" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    times+="$(calc "$end - $start")"$'\n'
  done
  BEST[$key]=$(printf '%s' "$times" | sort -g | head -1)
  printf '   %-34s %9.3f s\n' "$key" "${BEST[$key]}"
}
drop_page_cache() { sync && echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null
# table_goal TEXT KEY BASE LIMIT: KEY takes at most LIMIT times BASE.
table_goal() {
  local text=$1 key=$2 base=$3 limit=$4
  goal "$text <= ${limit}x ($(printf %.2f "$(calc "${BEST[$key]} / ${BEST[$base]}")")x)" \
    "${BEST[$key]} <= $limit * ${BEST[$base]}"
}
# peak_kb ARGS...: drelk's peak resident set in kB.
peak_kb() {
  timeout "$CAP" /usr/bin/time -f %M "$DRELK" "$@" 2>&1 >/dev/null | tail -1
}
run_table() {
  echo
  echo "== parallel reading: the table (best of $TABLE_RUNS; drelk's default jobs: $(nproc))"
  find deep50k -name '*.obj' >"$OUT/deep50k.named"
  find deep10k -name '*.obj' >"$OUT/deep10k.named"
  best "floor deep50k" "'$FLOOR' deep50k"
  best "drelk deep50k named" "'$DRELK' @'$OUT/deep50k.named'"
  best "drelk -j1 deep50k named" "'$DRELK' -j1 @'$OUT/deep50k.named'"
  best "drelk deep50k named -p" "'$DRELK' -p @'$OUT/deep50k.named'"
  best "drelk deep50k wildcards" "'$DRELK' -s 'deep50k/*.obj'"
  best "drelk deep10k named" "'$DRELK' @'$OUT/deep10k.named'"
  best "floor lib10k" "'$FLOOR' lib10k.lib"
  best "drelk lib10k" "'$DRELK' lib10k.lib"
  local cold=0
  drop_page_cache && cold=1
  if [[ $cold == 1 ]]; then
    COLD=1 best "floor deep50k cold" "'$FLOOR' deep50k"
    COLD=1 best "drelk deep50k named cold" "'$DRELK' @'$OUT/deep50k.named'"
    COLD=1 best "drelk -j1 deep50k named cold" "'$DRELK' -j1 @'$OUT/deep50k.named'"
  fi
  if [[ -f $DELAY_OPEN ]]; then
    local delay="LD_PRELOAD='$DELAY_OPEN' DELAY_OPEN_UNDER=deep10k/"
    best "floor deep10k, 1 ms an open" "$delay '$FLOOR' deep10k"
    best "drelk deep10k, 1 ms an open" "$delay '$DRELK' -s 'deep10k/*.obj'"
    best "drelk -j1 deep10k, 1 ms an open" "$delay '$DRELK' -j1 -s 'deep10k/*.obj'"
  fi
  local layouts=0
  if command -v gfortran >/dev/null && command -v python3 >/dev/null; then
    python3 "$ROOT/bench/fortran_tree.py" --objects 2000 --out "$CORPUS/fortran2k" >/dev/null
    best "drelk gfortran -g 2,000" "'$DRELK' 'fortran2k/*.o'"
    best "drelk -m gfortran -g 2,000" "'$DRELK' -m 'fortran2k/*.o'"
    layouts=1
  fi
  local peak peak_one peak_10k
  peak=$(peak_kb @"$OUT/deep50k.named")
  peak_one=$(peak_kb -j1 @"$OUT/deep50k.named")
  peak_10k=$(peak_kb @"$OUT/deep10k.named")
  echo "   peak memory deep50k named: $((peak / 1024)) MB (-j1: $((peak_one / 1024)) MB);" \
    "deep10k: $((peak_10k / 1024)) MB"

  echo
  echo "== parallel reading: goals"
  table_goal "50,000 named, full report / floor" "drelk deep50k named" "floor deep50k" 1.5
  table_goal "50,000 named, -p / floor" "drelk deep50k named -p" "floor deep50k" 1.2
  table_goal "50,000 wildcards, full report / floor" "drelk deep50k wildcards" "floor deep50k" 1.5
  if [[ $cold == 1 ]]; then
    table_goal "50,000 named, cold / cold floor" "drelk deep50k named cold" "floor deep50k cold" 0.6
  else
    echo "50,000 cold: not measured (the page cache cannot be dropped here:" \
      "/proc/sys/vm/drop_caches is not writable)"
  fi
  table_goal "library of 10,000 members / floor" "drelk lib10k" "floor lib10k" 2
  if [[ $layouts == 1 ]]; then
    table_goal "gfortran -g 2,000 (for GEANT3), -m / without" "drelk -m gfortran -g 2,000" \
      "drelk gfortran -g 2,000" 1.5
  fi
  if [[ -f $DELAY_OPEN ]]; then
    goal "1 ms an open, 10,000: floor >= 10 s ($(printf %.2f "${BEST[floor deep10k, 1 ms an open]}") s)" \
      "${BEST[floor deep10k, 1 ms an open]} >= 10"
    goal "1 ms an open, 10,000: drelk <= 1.5 s ($(printf %.2f "${BEST[drelk deep10k, 1 ms an open]}") s)" \
      "${BEST[drelk deep10k, 1 ms an open]} <= 1.5"
  fi
  table_goal "linear: named 50,000 / named 10,000" "drelk deep50k named" "drelk deep10k named" 5.5
  goal "peak memory at 50,000 <= 150 MB ($((peak / 1024)) MB)" "$peak <= 150 * 1024"
  goal "peak memory at 50,000 <= 1.5x -j1's ($(printf %.2f "$(calc "$peak / $peak_one")")x)" \
    "$peak <= 1.5 * $peak_one"
  # A million objects, from the growth between 10,000 and 50,000: time and memory per
  # further object stay what they were.
  local seconds megabytes
  seconds=$(calc "${BEST[drelk deep50k named]} + (${BEST[drelk deep50k named]} - ${BEST[drelk deep10k named]}) / 40000 * 950000")
  megabytes=$(calc "($peak + ($peak - $peak_10k) / 40000 * 950000) / 1024")
  printf 'a million objects (estimated from the growth): %.0f s, %.0f MB\n' "$seconds" "$megabytes"
}
if [[ ${ONLY_TABLE:-0} == 1 ]]; then
  run_table
  exit 0
fi

slow_50k=1
[[ $QUICK == 1 ]] && slow_50k=0
run_corpus deep10k 1
run_corpus deep50k "$slow_50k"
run_corpus wide10k 1
run_corpus lib10k.lib 1
run_corpus elf50k 0

# peak_memory NAME ARGS...: drelk's peak resident set in kB, or nothing.
peak_memory() {
  local name=$1
  shift
  if [[ -x /usr/bin/time ]] &&
    timeout "$CAP" /usr/bin/time -v "$DRELK" "$@" 2>"$OUT/$name.time-v" >/dev/null; then
    awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); print $2}' "$OUT/$name.time-v"
  fi
}
peak_kb=$(peak_memory deep50k -s 'deep50k/*.obj' -o"$OUT/deep50k.report")
peak_named_kb=$(peak_memory deep50k-named @"$OUT/deep50k.named" -o"$OUT/deep50k.named-report")

echo
echo "== results (median wall time; ratio = time / I/O floor of the same corpus;"
echo "   1 = timed once, being slower than $SINGLE_LIMIT s; > = stopped after $CAP s)"
printf '%-12s %-9s %10s %8s\n' corpus command seconds ratio
for corpus in deep10k deep50k wide10k lib10k.lib elf50k; do
  for tool in floor drelk drelk-p named named-p xargs llvm-nm gnu-nm ld-r; do
    key="$corpus:$tool"
    [[ -n ${TIME[$key]:-} ]] || continue
    printf '%-12s %-9s %10.3f %7.1fx %s\n' "$corpus" "$tool" "${TIME[$key]}" \
      "$(calc "${TIME[$key]} / ${TIME[$corpus:floor]}")" "${NOTE[$key]}"
  done
done

echo
echo "== growth from 10,000 to 50,000 deep objects (time at 50,000 / time at 10,000)"
for tool in floor drelk drelk-p named named-p xargs llvm-nm gnu-nm ld-r; do
  [[ -n ${TIME[deep10k:$tool]:-} && -n ${TIME[deep50k:$tool]:-} ]] || continue
  printf '%-9s %6.2fx %s\n' "$tool" "$(calc "${TIME[deep50k:$tool]} / ${TIME[deep10k:$tool]}")" \
    "${NOTE[deep50k:$tool]}${NOTE[deep10k:$tool]}"
done

echo
echo "== drelk's reports (SHA-256; unchanged by any optimisation; the xargs run must give"
echo "   the named-report's: one run of drelk over every path)"
for corpus in deep10k deep50k wide10k lib10k.lib elf50k; do
  for kind in report problems named-report named-problems xargs-report; do
    case $kind in
      report) tool=drelk ;;
      problems) tool=drelk-p ;;
      named-report) tool=named ;;
      named-problems) tool=named-p ;;
      xargs-report) tool=xargs ;;
    esac
    if [[ ${NOTE[$corpus:$tool]:-} == ">" ]]; then
      printf '%-12s %-14s %s\n' "$corpus" "$kind" "(none: drelk was stopped)"
    elif [[ -f $OUT/$corpus.$kind ]]; then
      printf '%-12s %-14s %s\n' "$corpus" "$kind" "$(sha256sum <"$OUT/$corpus.$kind" | cut -c1-64)"
    fi
  done
done

# goal TEXT CONDITION: prints the goal and whether CONDITION holds.
echo
echo "== goals"
ratio_goal "deep 50,000 named, full report / floor" deep50k:named deep50k:floor 2
ratio_goal "deep 50,000 named, -p / floor" deep50k:named-p deep50k:floor 1.5
ratio_goal "deep 50,000 wildcards, full report / floor" deep50k:drelk deep50k:floor 2
ratio_goal "deep 50,000 wildcards, -p / floor" deep50k:drelk-p deep50k:floor 1.5
ratio_goal "wide 10,000, full report / floor" wide10k:drelk wide10k:floor 2.5
ratio_goal "library of 10,000 members, full report / floor" lib10k.lib:drelk lib10k.lib:floor 2
ratio_goal "linear: named 50,000 / named 10,000" deep50k:named deep10k:named 5.5
for memory in "wildcards:$peak_kb" "named:$peak_named_kb"; do
  kb=${memory#*:}
  if [[ -n $kb ]]; then
    goal "peak memory at 50,000 (${memory%%:*}) <= 150 MB ($((kb / 1024)) MB)" "$kb <= 150 * 1024"
  else
    echo "peak memory at 50,000 (${memory%%:*}): not measured (no /usr/bin/time, or stopped)"
  fi
done
# ---- ELF: the same plan as x86-64 ELF objects, against its own floor ----------------
if [[ -n ${TIME[elf50k:drelk]:-} && -n ${TIME[deep50k:drelk]:-} ]]; then
  elf_ratio=$(ratio elf50k:drelk elf50k:floor)
  coff_ratio=$(ratio deep50k:drelk deep50k:floor)
  goal "ELF 50,000 wildcards, full report / floor within 10% of COFF's ($(printf %.2f "$elf_ratio")x vs $(printf %.2f "$coff_ratio")x)" \
    "$elf_ratio <= 1.1 * $coff_ratio"
fi

run_directory_input
run_bitcode_input

# ---- documents for programs (-fjson, -fsarif) ----------------------------------------
# The JSON document and the SARIF log of the 50,000-object tree against the text report of
# the same tree, timed one after the other: each may cost at most 1.3x the text report.
echo
echo "== documents for programs, deep 50,000 (median wall time; ratio = time / text report)"
measure "deep50k:text" "$RUNS" "'$DRELK' -s 'deep50k/*.obj' -o'$OUT/deep50k.text'"
measure "deep50k:json" "$RUNS" "'$DRELK' -fjson -s 'deep50k/*.obj' -o'$OUT/deep50k.json'"
measure "deep50k:sarif" "$RUNS" "'$DRELK' -fsarif -s 'deep50k/*.obj' -o'$OUT/deep50k.sarif'"
for format in json sarif; do
  printf '%-12s %-9s %10.3f %7.2fx %s\n' deep50k "$format" "${TIME[deep50k:$format]}" \
    "$(ratio "deep50k:$format" deep50k:text)" "${NOTE[deep50k:$format]}"
done
for format in json sarif; do
  goal "deep 50,000, -f$format <= 1.3x the text report ($(printf %.2f "$(ratio "deep50k:$format" deep50k:text)")x)" \
    "${TIME[deep50k:$format]} <= 1.3 * ${TIME[deep50k:text]}"
done
# ---- end of documents for programs ---------------------------------------------------

# ---- layouts from debug information (-m) ---------------------------------------------
# 2,000 objects of gfortran -g with varied block layouts (bench/fortran_tree.py, compiled
# once and kept in $CORPUS/fortran2k), checked with and without -m: -m reads every
# object's debug information and may cost at most 2x the run without it.
if command -v gfortran >/dev/null && command -v python3 >/dev/null; then
  echo
  echo "== layouts (-m), 2,000 objects of gfortran -g (median wall time; ratio = -m / without)"
  python3 "$ROOT/bench/fortran_tree.py" --objects 2000 --out "$CORPUS/fortran2k"
  measure "fortran2k:plain" "$RUNS" "'$DRELK' 'fortran2k/*.o' -o'$OUT/fortran2k.text'"
  measure "fortran2k:m" "$RUNS" "'$DRELK' -m 'fortran2k/*.o' -o'$OUT/fortran2k-m.text'"
  goal "gfortran -g 2,000, -m <= 2x without it ($(printf %.2f "$(ratio fortran2k:m fortran2k:plain)")x)" \
    "${TIME[fortran2k:m]} <= 2 * ${TIME[fortran2k:plain]}"
else
  echo "layouts (-m): not measured (no gfortran or python3)"
fi
# ---- end of layouts from debug information --------------------------------------------

REGISTRY_BENCH=${REGISTRY_BENCH:-$BUILD/bench/drelk_registry_bench}
if [[ -x $REGISTRY_BENCH ]]; then
  echo
  echo "== the registry alone (Google Benchmark, $REGISTRY_BENCH)"
  "$REGISTRY_BENCH" --benchmark_min_time=0.2 2>/dev/null
fi
