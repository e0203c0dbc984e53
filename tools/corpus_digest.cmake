# Checks that drelk's output on a small generated corpus keeps its SHA-256 digests.
# Run by ctest as: cmake -DDRELK=... -DCORPUS=... -DWORK_DIR=... [-DFLOOR=...] -P corpus_digest.cmake
# (FLOOR, the I/O floor of bench/, has its reads checked too when it is built.)
#
# The corpus: 240 objects in nested directories (20 a directory, 3 subdirectories each),
# 60 blocks of which 12 in each object, a quarter of the blocks declared with different
# sizes, long and short names, initialised blocks and blocks named like procedures; and
# the same objects packed into one library with both linker members.
cmake_minimum_required(VERSION 3.20)

set(EXPECTED_FULL "fb959a76975bc90bf47b848ce405fcf06f8e105fd2a3424ea36575ae435d3b82")
set(EXPECTED_PROBLEMS "277d7f5413b0c25bd388e78d71f8a51250f74acc7e0bf0b227cee037ce966ef1")
set(EXPECTED_LIBRARY "ccde0db3684a241f0a51a8cd4a811f8cc6a040496c10fafa7de9e2ef97e9ee73")
# The same reports without the lines that class each finding and count them: what scripts
# that read the report before findings were classed see, which must not change.
set(EXPECTED_FULL_LINES "1451d3ff6b55f8ee0f7c9fe23624ee38e9fca3241e1a5e66ebc1d1ddf977df73")
set(EXPECTED_PROBLEMS_LINES "e41133f048089459fa37259f493412376a69b731885adbfc7a01f05f7c104973")
set(EXPECTED_LIBRARY_LINES "a42e478b07c2b79780d059a000bdbc65cbb5ae536f70fede41918f091b46779c")

foreach(variable DRELK CORPUS WORK_DIR)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "corpus_digest.cmake needs -D${variable}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
execute_process(
  COMMAND "${CORPUS}" --objects 240 --blocks 60 --per-object 12 --mismatch 0.25
          --procedures 2 --calls 2 --long-names 0.4 --initialized 0.1 --clashes 4
          --per-directory 20 --fanout 3 --seed 2024
          --out "${WORK_DIR}/tree" --library "${WORK_DIR}/corpus.lib"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "drelk_corpus failed: ${status}")
endif()

# The generator's own promises: the same arguments give the same bytes, another seed
# other bytes.
execute_process(COMMAND "${CORPUS}" --objects 240 --blocks 60 --per-object 12 --mismatch 0.25
                        --procedures 2 --calls 2 --long-names 0.4 --initialized 0.1 --clashes 4
                        --seed 2024 --library "${WORK_DIR}/again.lib" RESULT_VARIABLE status)
execute_process(COMMAND "${CORPUS}" --objects 240 --blocks 60 --per-object 12 --mismatch 0.25
                        --procedures 2 --calls 2 --long-names 0.4 --initialized 0.1 --clashes 4
                        --seed 2025 --library "${WORK_DIR}/other.lib" RESULT_VARIABLE other_status)
file(SHA256 "${WORK_DIR}/corpus.lib" first_library)
file(SHA256 "${WORK_DIR}/again.lib" second_library)
file(SHA256 "${WORK_DIR}/other.lib" other_library)
if(NOT status EQUAL 0 OR NOT other_status EQUAL 0 OR NOT first_library STREQUAL second_library
   OR first_library STREQUAL other_library)
  message(FATAL_ERROR "drelk_corpus is not deterministic in its seed")
endif()

# Runs drelk in `directory` with the arguments after `name`; keeps stdout in name.txt. The
# run is made with each count of jobs, which must all give the same bytes.
function(run_drelk name directory)
  foreach(jobs 1 2 8)
    execute_process(COMMAND "${DRELK}" -j${jobs} ${ARGN}
                    WORKING_DIRECTORY "${directory}"
                    OUTPUT_FILE "${WORK_DIR}/${name}-j${jobs}.txt"
                    ERROR_VARIABLE errors
                    RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
      message(FATAL_ERROR "drelk -j${jobs} ${ARGN} in ${directory}: status ${status}, stderr:\n"
                          "${errors}")
    endif()
    file(SHA256 "${WORK_DIR}/${name}-j${jobs}.txt" digest)
    if(jobs EQUAL 1)
      set(one_job "${digest}")
    elseif(NOT digest STREQUAL one_job)
      message(FATAL_ERROR "drelk -j${jobs} ${ARGN} in ${directory} differs from -j1: see "
                          "${WORK_DIR}/${name}-j${jobs}.txt")
    endif()
  endforeach()
  file(RENAME "${WORK_DIR}/${name}-j1.txt" "${WORK_DIR}/${name}.txt")
  file(SHA256 "${WORK_DIR}/${name}.txt" digest)
  set(${name}_digest "${digest}" PARENT_SCOPE)
  file(READ "${WORK_DIR}/${name}.txt" text)
  string(REGEX REPLACE "\n  [a-z-]+ \\((error|warning|note)\\): [^\n]*" "" text "${text}")
  string(REGEX REPLACE "(^|\n)Summary: [^\n]*\n" "\\1" text "${text}")
  string(SHA256 digest "${text}")
  set(${name}_lines_digest "${digest}" PARENT_SCOPE)
endfunction()

run_drelk(full "${WORK_DIR}/tree" -s *.obj)
run_drelk(problems "${WORK_DIR}/tree" -p -s *.obj)
run_drelk(library "${WORK_DIR}" corpus.lib)

# Every declaration is listed once, from the tree and from the library alike.
foreach(name full library)
  file(STRINGS "${WORK_DIR}/${name}.txt" lines REGEX "^ +[0-9]+ ")
  list(LENGTH lines count)
  if(NOT count EQUAL 2880)
    message(FATAL_ERROR "${name}: ${count} declarations listed, 240 objects x 12 expected")
  endif()
endforeach()

# An independent reader sees the same: llvm-nm, when installed, lists every declaration of
# the library as a common symbol ("C"), which also checks both linker members.
find_program(LLVM_NM NAMES llvm-nm llvm-nm-19 llvm-nm-14)
if(LLVM_NM)
  execute_process(COMMAND "${LLVM_NM}" -A corpus.lib WORKING_DIRECTORY "${WORK_DIR}"
                  OUTPUT_FILE "${WORK_DIR}/llvm-nm.txt" RESULT_VARIABLE status)
  file(STRINGS "${WORK_DIR}/llvm-nm.txt" commons REGEX ": [0-9a-f]+ C ")
  list(LENGTH commons count)
  if(NOT status EQUAL 0 OR NOT count EQUAL 2880)
    message(FATAL_ERROR "llvm-nm corpus.lib: status ${status}, ${count} common symbols")
  endif()
  execute_process(COMMAND "${LLVM_NM}" --print-armap corpus.lib WORKING_DIRECTORY "${WORK_DIR}"
                  OUTPUT_QUIET ERROR_VARIABLE errors RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT errors STREQUAL "")
    message(FATAL_ERROR "llvm-nm --print-armap corpus.lib: ${errors}")
  endif()
endif()

# Writes the corpus's plan again as `format` objects, a tree and a library below
# WORK_DIR/<format>, and requires the reports of both to be those that the objects of
# `reference` gave ("coff" or a format checked before), once the COFF names lose the
# leading '_' of i386 COFF and the files are ".o" ones.
function(check_format_corpus format reference)
  execute_process(
    COMMAND "${CORPUS}" --format ${format} --objects 240 --blocks 60 --per-object 12
            --mismatch 0.25 --procedures 2 --calls 2 --long-names 0.4 --initialized 0.1
            --clashes 4 --per-directory 20 --fanout 3 --seed 2024
            --out "${WORK_DIR}/${format}/tree" --library "${WORK_DIR}/${format}/corpus.lib"
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "drelk_corpus --format ${format} failed: ${status}")
  endif()
  run_drelk(${format}_full "${WORK_DIR}/${format}/tree" -s *.o)
  run_drelk(${format}_library "${WORK_DIR}/${format}" corpus.lib)
  foreach(name full library)
    if(reference STREQUAL "coff")
      file(READ "${WORK_DIR}/${name}.txt" expected)
      string(REPLACE "\n _" "\n " expected "${expected}")
      string(REPLACE "Common Block _" "Common Block " expected "${expected}")
      string(REPLACE "procedure _" "procedure " expected "${expected}")
      string(REPLACE ".obj" ".o" expected "${expected}")
    else()
      file(READ "${WORK_DIR}/${reference}_${name}.txt" expected)
    endif()
    file(READ "${WORK_DIR}/${format}_${name}.txt" got)
    if(NOT got STREQUAL expected)
      message(FATAL_ERROR "the ${format} corpus's ${name} report differs from the ${reference} "
                          "corpus's; see ${WORK_DIR}/${format}_${name}.txt")
    endif()
  endforeach()
endfunction()

# The ELF reader gives the COFF reader's report, and the XCOFF reader (64-bit objects named
# as ELF names them, and an AIX big archive) the ELF reader's.
check_format_corpus(elf coff)
check_format_corpus(xcoff elf)

# Arguments that cannot make a corpus are refused.
execute_process(COMMAND "${CORPUS}" --blocks 10 --per-object 11 --out "${WORK_DIR}/refused"
                OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE status)
if(status EQUAL 0 OR EXISTS "${WORK_DIR}/refused")
  message(FATAL_ERROR "drelk_corpus accepted more blocks per object than blocks")
endif()

# The I/O floor reads every object of the tree and every member of the library.
if(DEFINED FLOOR)
  foreach(input tree corpus.lib)
    execute_process(COMMAND "${FLOOR}" "${input}" WORKING_DIRECTORY "${WORK_DIR}"
                    OUTPUT_VARIABLE counts RESULT_VARIABLE status)
    if(NOT status EQUAL 0 OR NOT counts MATCHES " objects 240 symbols ")
      message(FATAL_ERROR "drelk_io_floor ${input}: ${counts}")
    endif()
    list(APPEND floor_counts "${counts}")
  endforeach()
  list(GET floor_counts 0 tree_counts)
  list(GET floor_counts 1 library_counts)
  string(REGEX REPLACE ".* symbols ([0-9]+) .*" "\\1" tree_symbols "${tree_counts}")
  string(REGEX REPLACE ".* symbols ([0-9]+) .*" "\\1" library_symbols "${library_counts}")
  if(NOT tree_symbols STREQUAL library_symbols)
    message(FATAL_ERROR "drelk_io_floor: ${tree_symbols} symbols in the tree, "
                        "${library_symbols} in the library")
  endif()
endif()

# The wide shape: every object declares the same 50 blocks. Without mismatches, clashes or
# initialised blocks the report finds no problem and -p prints nothing; with every block
# mismatched, every block is reported.
foreach(mismatch 0 1)
  set(wide "${WORK_DIR}/wide${mismatch}")
  execute_process(COMMAND "${CORPUS}" --shape wide --objects 30 --mismatch ${mismatch}
                          --clashes 0 --initialized 0 --per-directory 7 --fanout 2 --seed 5
                          --out "${wide}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "drelk_corpus --shape wide failed: ${status}")
  endif()
  run_drelk(wide${mismatch} "${wide}" -s *.obj)
  run_drelk(wide${mismatch}_problems "${wide}" -p -s *.obj)
  file(STRINGS "${WORK_DIR}/wide${mismatch}.txt" lines REGEX "^ +[0-9]+ ")
  file(STRINGS "${WORK_DIR}/wide${mismatch}.txt" mixed REGEX "declared with different sizes")
  file(READ "${WORK_DIR}/wide${mismatch}_problems.txt" problems)
  list(LENGTH lines count)
  list(LENGTH mixed mixed_count)
  math(EXPR expected_mixed "50 * ${mismatch}")
  if(NOT count EQUAL 1500 OR NOT mixed_count EQUAL expected_mixed)
    message(FATAL_ERROR "wide, mismatch ${mismatch}: ${count} declarations (1500 expected), "
                        "${mixed_count} blocks of different sizes")
  endif()
  if(mismatch EQUAL 0 AND
     NOT problems STREQUAL "Summary: 50 blocks in 30 objects; 0 errors, 0 warnings, 0 notes\n")
    message(FATAL_ERROR "wide without mismatches: -p printed more than the summary\n${problems}")
  endif()
endforeach()

# A digest only guards what the corpus shows: make sure it shows every kind of line.
file(READ "${WORK_DIR}/full.txt" full)
foreach(needle " is declared with different sizes" " conflicts with procedure "
               "   I              d0\\" "_common_area_")
  string(FIND "${full}" "${needle}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the corpus report shows no \"${needle}\": the corpus lost its coverage")
  endif()
endforeach()

set(failed FALSE)
foreach(name full problems library full_lines problems_lines library_lines)
  string(TOUPPER "${name}" upper)
  if(NOT ${name}_digest STREQUAL EXPECTED_${upper})
    message(SEND_ERROR "${name}: SHA-256 ${${name}_digest}, expected ${EXPECTED_${upper}}")
    set(failed TRUE)
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "drelk's output changed; the outputs are in ${WORK_DIR}")
endif()
message(STATUS "full ${full_digest}\nproblems ${problems_digest}\nlibrary ${library_digest}")
