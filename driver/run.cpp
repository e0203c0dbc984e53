// The run from start to end: switches, streams, inputs, report, exit status.
#include <cstdio>
#include <cstring>
#include <new>

#include "driver/driver.h"
#include "platform/strprintf.h"
#include "report/report.h"

namespace drelk {
namespace {

// The file name of the first -e (or -o) switch: the argument from its third character
// on. The letter is matched in either case, as the switch scan matches it, and the search
// starts after the program name, which may itself begin with '/'.
const char* switch_file_name(int argc, const char* const* argv, char letter) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if ((argument[0] == '-' || argument[0] == '/') && argument[1] != '\0' &&
        (argument[1] == letter || argument[1] == letter - 'a' + 'A')) {
      return argument + 2;
    }
  }
  return "";
}

}  // namespace

int run_drelk(Run& run, int argc, const char* const* argv) {
  free_lists(run.registry);
  run.diagnostics.error_count = 0;

  std::vector<std::string> patterns;
  int n = 0;
  try {
    patterns.reserve(static_cast<size_t>(argc));
    n = parse_options(run, argc, argv, patterns);
  } catch (const std::bad_alloc&) {
    report_error(run.diagnostics, "Error: Cannot allocate the input pattern list.\n\n");
    return kExitFailure;
  }
  if (n == kNoInput) {
    report_error(run.diagnostics, "Error: No input file specified.\n\n");
    return kExitFailure;
  }
  if (run.options & OPT_USAGE) {
    print_usage(run, argc > 0 ? argv[0] : "drelk");
    // An unusable command line must not pass for a successful check.
    return n == kIllegalSwitch ? kExitFailure : kExitSuccess;
  }

  if (run.options & OPT_ERRFILE) {
    std::string name;
    try {
      name = switch_file_name(argc, argv, 'e');
    } catch (const std::bad_alloc&) {
      report_error(run.diagnostics, "Error:  Cannot allocate errorfile_name.");
      return kExitFailure;
    }
    std::FILE* file = open_text_file_for_writing(name);
    if (file == nullptr) {
      report_error(run.diagnostics, strprintf("Error opening error file \"%s\"\n", name.c_str()));
      return kExitFailure;
    }
    run.diagnostics.error_stream = file_text_stream(file);
  }
  if (run.options & OPT_OUTFILE) {
    std::string name;
    try {
      name = switch_file_name(argc, argv, 'o');
    } catch (const std::bad_alloc&) {
      report_error(run.diagnostics, "Error - Cannot allocate outfile_name.");
      return kExitFailure;
    }
    std::FILE* file = open_text_file_for_writing(name);
    if (file == nullptr) {
      report_error(run.diagnostics, strprintf("Error opening output file \"%s\".\n", name.c_str()));
      return kExitFailure;
    }
    run.output_stream = file_text_stream(file);
  }

  for (std::string& pattern : patterns) process_input(run, std::move(pattern));

  if (!run.registry.object_list.empty()) {
    report_common_blocks(run.registry, run.diagnostics.error_count, run.problems_only,
                         run.output_stream);
  }
  // A report that did not reach its file (a full disk, a closed pipe) is no successful check.
  if (std::FILE* file = run.output_stream.file;
      file != nullptr && (std::fflush(file) != 0 || std::ferror(file))) {
    report_error(run.diagnostics, "Error writing the report\n");
  }
  free_lists(run.registry);
  return run.diagnostics.error_count == 0 ? kExitSuccess : kExitFailure;
}

}  // namespace drelk
