# drelk_check(TARGET <target>... [NAME <check>] [FAIL_ON error|warning|note]
#             [BASELINE <file>] [SUPPRESSIONS <file>] [OPTIONS <argument>...])
#
# Checks the COMMON blocks of every object of the targets named, together, each time the
# build runs, and fails the build when drelk finds a problem: COMMON blocks agree or not
# across a whole program, so name every target whose objects end up linked together.
# The check is a target of its own in ALL (default name drelk_check_<first target>), built
# after the targets it checks. The objects reach drelk through a response file, so a
# target of thousands of objects meets no command-line limit.
#
#   FAIL_ON       the lowest severity that fails the build (drelk's --fail-on); without it
#                 drelk's -w decides.
#   BASELINE      a JSON report of an earlier run (drelk -fjson): only new and changed
#                 findings fail the build.
#   SUPPRESSIONS  a file of findings accepted on purpose.
#   OPTIONS       further arguments for drelk, such as -m to show member layouts.
function(drelk_check)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "NAME;FAIL_ON;BASELINE;SUPPRESSIONS" "TARGET;OPTIONS")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "drelk_check: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_TARGET)
    message(FATAL_ERROR "drelk_check: name at least one TARGET whose objects to check")
  endif()
  foreach(target IN LISTS arg_TARGET)
    if(NOT TARGET ${target})
      message(FATAL_ERROR "drelk_check: ${target} is not a target")
    endif()
  endforeach()
  list(GET arg_TARGET 0 first)
  if(NOT arg_NAME)
    set(arg_NAME drelk_check_${first})
  endif()

  set(objects "")
  foreach(target IN LISTS arg_TARGET)
    list(APPEND objects "$<TARGET_OBJECTS:${target}>")
  endforeach()
  # One quoted path a line; one file a build configuration, since the objects differ.
  set(response_file "${CMAKE_CURRENT_BINARY_DIR}/${arg_NAME}-$<CONFIG>.rsp")
  file(GENERATE OUTPUT "${response_file}"
       CONTENT "$<$<BOOL:${objects}>:\"$<JOIN:${objects},\"\n\">\"\n>")

  set(arguments -p -w)
  if(arg_FAIL_ON)
    list(APPEND arguments "--fail-on=${arg_FAIL_ON}")
  endif()
  if(arg_BASELINE)
    get_filename_component(baseline "${arg_BASELINE}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND arguments --baseline "${baseline}")
  endif()
  if(arg_SUPPRESSIONS)
    get_filename_component(suppressions "${arg_SUPPRESSIONS}" ABSOLUTE
                           BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    list(APPEND arguments --suppressions "${suppressions}")
  endif()
  list(APPEND arguments ${arg_OPTIONS})

  add_custom_target(${arg_NAME} ALL
    COMMAND drelk::drelk ${arguments} "@${response_file}"
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    COMMENT "Checking the COMMON blocks of ${arg_TARGET} with drelk"
    VERBATIM)
  add_dependencies(${arg_NAME} ${arg_TARGET})
endfunction()
