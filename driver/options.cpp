// Switches, the banner and the usage text.
#include <cstring>
#include <string_view>

#include "driver/driver.h"
#include "driver/version.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

char fold_letter(char c) {
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

int illegal_program_option(Run& run, const char* argument) {
  report_error(run.diagnostics, strprintf("Illegal program option: %s\n\n", argument));
  run.options |= OPT_USAGE;
  return kIllegalSwitch;
}

// --fail-on=<severity>: the lowest severity of finding that fails the run.
bool set_fail_on(Run& run, std::string_view severity) {
  if (severity == "error") {
    run.fail_on = Severity::kError;
  } else if (severity == "warning") {
    run.fail_on = Severity::kWarning;
  } else if (severity == "note") {
    run.fail_on = Severity::kNote;
  } else {
    return false;
  }
  run.fail_on_findings = true;
  return true;
}

// The letter of a long option that has no switch letter of its own.
constexpr char kFailOnOption = 'F';
// The long options of baselines and suppressions, which have no letter.
constexpr char kBaselineOption = 'B';
constexpr char kSuppressionsOption = 'S';
constexpr char kShowSuppressedOption = 'U';
constexpr char kStaleSuppressionsOption = 'T';

// -f<format>: the name must be one of these exactly.
bool set_report_format(Run& run, const char* name) {
  if (std::strcmp(name, "text") == 0) {
    run.format = ReportFormat::kText;
  } else if (std::strcmp(name, "json") == 0) {
    run.format = ReportFormat::kJson;
  } else if (std::strcmp(name, "sarif") == 0) {
    run.format = ReportFormat::kSarif;
  } else if (std::strcmp(name, "html") == 0) {
    run.format = ReportFormat::kHtml;
  } else {
    return false;
  }
  return true;
}

// The most jobs a run takes: more threads than this only cost memory.
constexpr unsigned kMostJobs = 1024;

// -j<count>, --jobs=<count>: a count of 1 to kMostJobs, in decimal.
bool set_jobs(Run& run, const char* count) {
  unsigned value = 0;
  if (*count == '\0') return false;
  for (const char* c = count; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
    value = value * 10 + static_cast<unsigned>(*c - '0');
    if (value > kMostJobs) return false;
  }
  if (value == 0) return false;
  run.jobs = value;
  return true;
}

// The switches that take no value, which may be bundled behind one dash (-pw is -p -w).
bool is_flag_letter(char letter) {
  return letter != '\0' && std::strchr("mpqsvw?", letter) != nullptr;
}

// Sets what a switch without a value asks for.
void set_flag(Run& run, char letter) {
  switch (letter) {
    case 'm':
      run.layouts = true;
      break;
    case 'p':
      run.problems_only = true;
      break;
    case 'q':
      run.quiet = true;
      break;
    case 's':
      run.options |= OPT_RECURSE;
      break;
    case 'v':
      run.options |= OPT_USAGE | OPT_VERSION_ONLY;
      break;
    case 'w':
      // Errors and warnings fail the run; notes (blank COMMON) do not.
      run.fail_on_findings = true;
      run.fail_on = Severity::kWarning;
      break;
    case kShowSuppressedOption:
      run.show_suppressed = true;
      break;
    case kStaleSuppressionsOption:
      run.stale_suppressions = true;
      break;
    default:  // '?'
      run.options |= OPT_USAGE;
      break;
  }
}

// An argument whose every letter after the dash is a switch without a value, two or
// more of them: each applies. Any other letter keeps the rule that only the first counts
// (-verbose is -v).
bool is_bundle(const char* argument) {
  if (argument[1] == '\0' || argument[2] == '\0') return false;
  for (const char* c = argument + 1; *c != '\0'; ++c) {
    if (!is_flag_letter(fold_letter(*c))) return false;
  }
  return true;
}

// The first -e and the first -o switch name the files; later ones are ignored.
void name_stream_file(Run& run, char letter, const char* name) {
  const char*& file = letter == 'e' ? run.error_file_argument : run.output_file_argument;
  if (file == nullptr) file = name;
  run.options |= letter == 'e' ? OPT_ERRFILE : OPT_OUTFILE;
}

// The long options, spelled as GNU tools spell them; each stands for a switch letter, or
// for a code of its own where it has no letter. A value follows '=' or comes as the next
// argument.
struct LongOption {
  const char* name;
  bool takes_value;
  char letter;
};
constexpr LongOption kLongOptions[] = {
    {"baseline", true, kBaselineOption},
    {"error-file", true, 'e'},
    {"exit-code", false, 'w'},
    {"fail-on", true, kFailOnOption},
    {"format", true, 'f'},
    {"help", false, '?'},
    {"jobs", true, 'j'},
    {"layouts", false, 'm'},
    {"output", true, 'o'},
    {"problems-only", false, 'p'},
    {"quiet", false, 'q'},
    {"recursive", false, 's'},
    {"show-suppressed", false, kShowSuppressedOption},
    {"stale-suppressions", false, kStaleSuppressionsOption},
    {"suppressions", true, kSuppressionsOption},
    {"version", false, 'v'},
};

// The long option that `name` spells in full or, as getopt_long allows, abbreviates
// without ambiguity; nullptr for none or several.
const LongOption* find_long_option(std::string_view name) {
  const LongOption* found = nullptr;
  for (const LongOption& option : kLongOptions) {
    const std::string_view spelled = option.name;
    if (spelled == name) return &option;
    if (spelled.substr(0, name.size()) == name) {
      if (found != nullptr) return nullptr;
      found = &option;
    }
  }
  return found;
}

// One "--name[=value]" argument at argv[i]; its value may be the next argument, and then
// i moves past it. Returns 0, or kIllegalSwitch after a diagnostic.
int parse_long_option(Run& run, int argc, const char* const* argv, int& i) {
  const char* argument = argv[i];
  const char* equals = std::strchr(argument, '=');
  const std::string_view name = equals == nullptr
                                    ? std::string_view(argument + 2)
                                    : std::string_view(argument + 2, equals - argument - 2);
  const LongOption* option = name.empty() ? nullptr : find_long_option(name);
  if (option == nullptr || (!option->takes_value && equals != nullptr)) {
    return illegal_program_option(run, argument);
  }
  if (!option->takes_value) {
    set_flag(run, option->letter);
    return 0;
  }
  const char* value = equals != nullptr ? equals + 1 : nullptr;
  if (value == nullptr) {
    if (i + 1 >= argc) {
      report_error(run.diagnostics, strprintf("Option %s requires an argument\n\n", argument));
      run.options |= OPT_USAGE;
      return kIllegalSwitch;
    }
    value = argv[++i];
  }
  if (option->letter == 'f') {
    if (!set_report_format(run, value)) return illegal_option(run, argument);
  } else if (option->letter == 'j') {
    if (!set_jobs(run, value)) return illegal_option(run, argument);
  } else if (option->letter == kFailOnOption) {
    if (!set_fail_on(run, value)) return illegal_program_option(run, argument);
  } else if (option->letter == kBaselineOption || option->letter == kSuppressionsOption) {
    if (*value == '\0') return illegal_program_option(run, argument);
    (option->letter == kBaselineOption ? run.baseline_file : run.suppressions_file) = value;
  } else {
    name_stream_file(run, option->letter, value);
  }
  return 0;
}

}  // namespace

const char* const kTitle = kWhatTitle + 4;
const char* const kVersion = DRELK_VERSION;

bool is_switch_argument(const char* argument) {
  return argument[0] == '-' || (argument[0] == '/' && !slash_argument_is_path(argument));
}

int parse_options(Run& run, int argc, const char* const* argv, std::vector<std::string>& patterns) {
  bool switches_ended = false;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (switches_ended || !is_switch_argument(argument)) {
      patterns.emplace_back(argument);
      continue;
    }
    if (argument[0] == '-' && argument[1] == '-') {
      // "--" alone ends the switches: what follows are inputs, even when they begin with '-'.
      if (argument[2] == '\0') {
        switches_ended = true;
        continue;
      }
      if (parse_long_option(run, argc, argv, i) != 0) return kIllegalSwitch;
      continue;
    }
    if (is_bundle(argument)) {
      for (const char* c = argument + 1; *c != '\0'; ++c) set_flag(run, fold_letter(*c));
      continue;
    }
    const char letter = fold_letter(argument[1]);
    switch (letter) {
      case 'e':
      case 'o':
        // The file name follows the letter, or, where the switch stands alone, is the next
        // argument, as getopt takes it.
        if (argument[2] == '\0' && i + 1 < argc) {
          name_stream_file(run, letter, argv[++i]);
        } else {
          name_stream_file(run, letter, argument + 2);
        }
        break;
      case 'f':
        if (!set_report_format(run, argument + 2)) return illegal_option(run, argument);
        break;
      case 'j':
        // The count follows the letter, or is the next argument.
        if (argument[2] == '\0' && i + 1 < argc) {
          if (!set_jobs(run, argv[++i])) return illegal_option(run, argument);
        } else if (!set_jobs(run, argument + 2)) {
          return illegal_option(run, argument);
        }
        break;
      case 'h':
        if (argument[2] != '\0' && std::strcmp(argument + 1, "help") != 0) {
          return illegal_option(run, argument);
        }
        run.options |= OPT_USAGE;
        break;
      default:
        if (!is_flag_letter(letter)) return illegal_program_option(run, argument);
        set_flag(run, letter);
        break;
    }
  }
  if (!patterns.empty()) return static_cast<int>(patterns.size());
  return (run.options & OPT_USAGE) ? kUsageRequested : kNoInput;
}

void print_usage(Run& run, const char* program_name) {
  write_text(run.standard_output,
             strprintf("%s: %s\n    Version: %s\n\n", program_name, kTitle, kVersion));
  if (run.options & OPT_VERSION_ONLY) return;
  write_text(
      run.standard_output,
      "COMMON block analyzer: Searches object files for COMMON block inconsistencies\n\n"
      "usage:  drelk [switches] input-files\n"
      "    -e[file]  --error-file=FILE  Direct internal errors to a specified file (default: "
      "stderr)\n"
      "    -f<fmt>   --format=FMT       Output format: text, json, sarif or html (default: text)\n"
      "    -j<n>     --jobs=N           Read N files at once (default: the processors drelk may "
      "use; -j1: one after another)\n"
      "    -m        --layouts          Show the members of inconsistent blocks from debug "
      "information (-g)\n"
      "    -o[file]  --output=FILE      Output to a specified file (default: stdout)\n"
      "    -p        --problems-only    Only display COMMON block problems (default: display all "
      "COMMON block information)\n"
      "    -q        --quiet            Write only the findings or the document; the exit status "
      "tells the rest\n"
      "    -s        --recursive        Recurse over subdirectories\n"
      "    -v        --version          Display version information\n"
      "    -w        --exit-code        Exit with status 1 on COMMON block errors and warnings "
      "(default: 0)\n"
      "    --fail-on=LEVEL              Exit with status 1 on findings of LEVEL (error, warning "
      "or note) or graver\n"
      "    --baseline=FILE              Compare with an earlier -fjson report: only new and "
      "updated findings fail\n"
      "    --suppressions=FILE          Accept the findings FILE lists (a block name or pattern, "
      "a kind, # reason)\n"
      "    --show-suppressed            List suppressed findings in the text report\n"
      "    --stale-suppressions         Report suppressions that accept no finding\n"
      "    -?        --help             Displays this message\n"
      "    --                           Take every later argument as an input\n"
      "    @file                        Read further arguments from a file (blank-separated, "
      "\"quoted\" when they hold blanks)\n"
      "Switches without a value may be bundled (-pw). Inputs are files, wildcard patterns (a "
      "name without\n"
      "an extension gets .obj unless only the name as given exists) and directories, searched "
      "for objects.\n"
      "\n"
      "exit status:\n"
      "    0    the analysis ran (with -w or --fail-on: and found nothing that fails it)\n"
      "    1    -w or --fail-on: findings of the severity asked for or graver\n"
      "    255  (-1 on Windows) a diagnostic was reported, or the command line is unusable\n"
      "\n"
      "finding classes:\n"
      "    error    initialised-smaller, type-conflict, procedure-clash, library-smaller\n"
      "    warning  extent, possible-procedure-clash\n"
      "    note     blank-common, library-unsized, alignment-smaller\n");
}

}  // namespace drelk
