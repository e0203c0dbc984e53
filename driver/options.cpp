// Switches, the banner and the usage text.
#include <cstring>

#include "driver/driver.h"
#include "driver/version.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

char switch_letter(const char* argument) {
  const char c = argument[1];
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// The title, stored behind the SCCS what-marker so that `what drelk` finds it in the
// binary; the banner prints it without the marker.
const char kWhatTitle[] = "@(#)" DRELK_TITLE " " DRELK_VERSION;

int illegal_option(Run& run, const char* argument) {
  report_error(run.diagnostics, strprintf("Illegal option %s\n\n", argument));
  run.options |= OPT_USAGE;
  return kIllegalSwitch;
}

// -f<format>: the name must be one of these exactly.
bool set_report_format(Run& run, const char* name) {
  if (std::strcmp(name, "text") == 0) {
    run.format = ReportFormat::kText;
  } else if (std::strcmp(name, "json") == 0) {
    run.format = ReportFormat::kJson;
  } else if (std::strcmp(name, "sarif") == 0) {
    run.format = ReportFormat::kSarif;
  } else {
    return false;
  }
  return true;
}

}  // namespace

const char* const kTitle = kWhatTitle + 4;
const char* const kVersion = DRELK_VERSION;

bool is_switch_argument(const char* argument) {
  return argument[0] == '-' || (argument[0] == '/' && !slash_argument_is_path(argument));
}

int parse_options(Run& run, int argc, const char* const* argv, std::vector<std::string>& patterns) {
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (!is_switch_argument(argument)) {
      patterns.emplace_back(argument);
      continue;
    }
    // The GNU spellings, exactly as written, ask for the usage and the version text.
    if (std::strcmp(argument, "--help") == 0) {
      run.options |= OPT_USAGE;
      continue;
    }
    if (std::strcmp(argument, "--version") == 0) {
      run.options |= OPT_USAGE | OPT_VERSION_ONLY;
      continue;
    }
    switch (switch_letter(argument)) {
      case 'e':
        run.options |= OPT_ERRFILE;
        break;
      case 'f':
        if (!set_report_format(run, argument + 2)) return illegal_option(run, argument);
        break;
      case 'm':
        run.layouts = true;
        break;
      case 'o':
        run.options |= OPT_OUTFILE;
        break;
      case 'p':
        run.problems_only = true;
        break;
      case 's':
        run.options |= OPT_RECURSE;
        break;
      case 'v':
        run.options |= OPT_USAGE | OPT_VERSION_ONLY;
        break;
      case 'w':
        run.errors_fail = true;
        break;
      case '?':
        run.options |= OPT_USAGE;
        break;
      case 'h':
        if (argument[2] != '\0' && std::strcmp(argument + 1, "help") != 0) {
          return illegal_option(run, argument);
        }
        run.options |= OPT_USAGE;
        break;
      default:
        report_error(run.diagnostics, strprintf("Illegal program option: %s\n\n", argument));
        run.options |= OPT_USAGE;
        return kIllegalSwitch;
    }
  }
  if (!patterns.empty()) return static_cast<int>(patterns.size());
  return (run.options & OPT_USAGE) ? kUsageRequested : kNoInput;
}

void print_usage(Run& run, const char* program_name) {
  write_text(run.standard_output,
             strprintf("%s: %s\n    Version: %s\n\n", program_name, kTitle, kVersion));
  if (run.options & OPT_VERSION_ONLY) return;
  write_text(run.standard_output,
             "COMMON block analyzer: Searches object files for COMMON block inconsistencies\n\n"
             "usage:  drelk [switches] input-files\n"
             "    -e[file] Direct internal errors to a specified file (default: stderr)\n"
             "    -f<fmt>  Output format: text, json or sarif (default: text)\n"
             "    -m       Show the members of inconsistent blocks from debug information (-g)\n"
             "    -o[file] Output to a specified file (default: stdout)\n"
             "    -p       Only display COMMON block problems (default: display all COMMON "
             "block information)\n"
             "    -s       Recurse over subdirectories\n"
             "    -v       Display version information\n"
             "    -w       Exit with status 1 on COMMON block errors (default: 0)\n"
             "    -?       Displays this message\n");
  write_text(run.standard_output,
             "    @file    Read further arguments from a file (blank-separated, \"quoted\" when "
             "they hold blanks)\n");
}

}  // namespace drelk
