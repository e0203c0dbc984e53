// The run from start to end: switches, streams, inputs, report, exit status.
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "driver/driver.h"
#include "platform/strprintf.h"
#include "report/adoption.h"
#include "report/report.h"

namespace drelk {
namespace {

// Opens the file that the -e (or -o) switch names (`argument`) for writing. False after a
// diagnostic: `no_memory` when the name cannot be held, `open_failed` (with the name) when
// the file cannot be opened.
bool open_switch_file(Run& run, const char* argument, const char* no_memory,
                      const char* open_failed, std::string& name, std::FILE*& file) {
  try {
    name = argument;
  } catch (const std::bad_alloc&) {
    report_error(run.diagnostics, no_memory);
    return false;
  }
  file = open_text_file_unwritten(name);
  if (file == nullptr) {
    report_error(run.diagnostics, strprintf(open_failed, name.c_str()));
    return false;
  }
  return true;
}

// Flushes a stream and tells whether something written to it did not arrive.
bool write_failed(const TextStream& stream) {
  return stream.file != nullptr && (std::fflush(stream.file) != 0 || std::ferror(stream.file));
}

// Writes a line about a failed stream straight to standard error: the diagnostic channel
// may be the very stream that failed.
void say_on_standard_error(Run& run, const std::string& message) {
  write_text(run.standard_error, "Drelk: " + message + "\n");
}

// Whether some input of the run is its -e or -o file, which is then never written.
bool is_input(const Run& run, const char* role) {
  for (const WrittenFile& file : run.analysis.written_files) {
    if (file.is_input && std::strcmp(file.role, role) == 0) return true;
  }
  return false;
}

// Takes the opened -e or -o file as one that no input may be.
void watch_written_file(Run& run, std::FILE* file, const char* role, const std::string& name) {
  WrittenFile written;
  written.role = role;
  written.name = name;
  if (stream_identity(file, written.identity)) run.analysis.written_files.push_back(written);
}

// The diagnostics bound for the -e file wait in a spool (a temporary file) until every
// input has been read. Without room for one, they go to the -e file at once.
void spool_diagnostics(Run& run, std::FILE* file, const std::string& name) {
  run.error_file = file;
  run.error_file_name = name;
  run.error_spool = std::tmpfile();
  if (run.error_spool == nullptr) start_text_file(file);
  run.diagnostics.error_stream = file_text_stream(run.error_spool ? run.error_spool : file);
}

// Copies the spooled diagnostics where they belong: into the -e file, emptied first
// (unless it is the -o file, which the report has begun), or to standard error when the
// -e file is an input of the run. False when the spool could not be read back whole.
bool write_spooled_diagnostics(Run& run) {
  if (run.error_spool == nullptr) return true;
  const bool keep = is_input(run, "error");
  FileIdentity error_file;
  FileIdentity output_file;
  const bool shares_the_report =
      run.output_stream.file != nullptr && stream_identity(run.error_file, error_file) &&
      stream_identity(run.output_stream.file, output_file) && error_file == output_file;
  if (!keep && !shares_the_report) start_text_file(run.error_file);
  TextStream destination = keep ? run.standard_error : file_text_stream(run.error_file);
  std::fflush(run.error_spool);
  std::rewind(run.error_spool);
  char buffer[64 * 1024];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, run.error_spool)) > 0) {
    write_text(destination, std::string_view(buffer, got));
  }
  const bool whole = !std::ferror(run.error_spool);
  std::fclose(run.error_spool);
  run.error_spool = nullptr;
  if (keep) {
    std::fclose(run.error_file);
    run.error_file = nullptr;
  }
  run.diagnostics.error_stream = destination;
  return whole;
}

// The end of every run: every write is checked, so that output lost on a full disk or a
// closed pipe never passes for a successful check. A report that did not arrive is a
// diagnostic; an error file or standard output that failed is said on standard error.
int finish(Run& run, int status, bool report_written) {
  bool lost = false;
  list_unlisted(run.diagnostics);
  if (report_written && write_failed(run.output_stream)) {
    report_error(run.diagnostics, "Error writing the report\n");
  }
  const bool spooled = write_spooled_diagnostics(run);
  const TextStream& errors = run.diagnostics.error_stream;
  if (!spooled ||
      (errors.file != nullptr && errors.file != run.standard_error.file && write_failed(errors))) {
    say_on_standard_error(run, "Error writing error file \"" + run.error_file_name + "\"\n");
    lost = true;
  }
  if ((!report_written || run.standard_output.file != run.output_stream.file) &&
      write_failed(run.standard_output)) {
    say_on_standard_error(run, "Error writing to standard output\n");
    lost = true;
  }
  if (write_failed(run.standard_error)) lost = true;
  if (run.diagnostics.error_count > 0) status = kExitFailure;
  return lost ? kExitFailure : status;
}

// The exit status as the caller sees it: -1 is 255 where the system keeps 8 bits.
int shown_exit_status(int status) {
#ifdef _WIN32
  return status;
#else
  return status & 0xFF;
#endif
}

// Writes the findings in the format of -f. The text report is printed only when some
// input file was opened and recorded; a document for programs is written in any case,
// since it also carries the diagnostics that tell why nothing was read.
void render(Run& run, const Findings& findings, const Adoption& adoption, int status, int argc,
            const char* const* argv) {
  if (run.format == ReportFormat::kText) {
    if (!run.registry.object_list.empty()) {
      render_text(findings, run.problems_only || run.quiet, run.output_stream, run.quiet, &adoption,
                  run.show_suppressed);
    }
    return;
  }
  DocumentContext context;
  context.tool_name = "drelk";
  context.tool_title = kTitle;
  context.tool_version = kVersion;
  context.diagnostics = &run.diagnostics.records;
  context.problems_only = run.problems_only;
  context.exit_status = shown_exit_status(status);
  context.adoption = &adoption;
  for (int i = 1; i < argc; ++i) context.arguments.emplace_back(argv[i]);
  if (run.format == ReportFormat::kJson) {
    render_json(findings, context, run.output_stream);
  } else if (run.format == ReportFormat::kHtml) {
    render_html(findings, context, run.output_stream);
  } else {
    render_sarif(findings, context, run.output_stream);
  }
}

// A baseline or suppressions file can hold a whole tree's findings, never more than this.
constexpr size_t kMaxAdoptionFileBytes = size_t{1} << 30;

// Reads what a team keeps beside its build, the baseline and the suppressions, before any
// input: a file that cannot be used is a diagnostic, and the run reads nothing.
bool read_adoption_files(Run& run, Baseline& baseline, std::vector<Suppression>& suppressions) {
  std::string text;
  if (!run.baseline_file.empty()) {
    const char* name = run.baseline_file.c_str();
    if (!read_whole_file(run.baseline_file, kMaxAdoptionFileBytes, text)) {
      report_error(run.diagnostics, strprintf("Error reading baseline \"%s\": the file cannot "
                                              "be read\n",
                                              name));
      return false;
    }
    std::string why;
    if (!read_baseline(text, baseline, why)) {
      report_error(run.diagnostics,
                   strprintf("Error reading baseline \"%s\": the file %s\n", name, why.c_str()));
      return false;
    }
    baseline.name = run.baseline_file;
  }
  if (!run.suppressions_file.empty()) {
    const char* name = run.suppressions_file.c_str();
    if (!read_whole_file(run.suppressions_file, kMaxAdoptionFileBytes, text)) {
      report_error(run.diagnostics, strprintf("Error reading suppressions file \"%s\": the file "
                                              "cannot be read\n",
                                              name));
      return false;
    }
    SuppressionError error;
    if (!parse_suppressions(text, suppressible_kinds(), suppressions, error)) {
      report_error(run.diagnostics,
                   strprintf("Error in suppressions file \"%s\", line %llu: %s\n", name,
                             static_cast<unsigned long long>(error.line), error.message.c_str()));
      return false;
    }
  }
  return true;
}

// With --stale-suppressions, an entry that accepted no finding is a diagnostic of its own:
// the finding it was written for is gone, and the entry would hide the next one.
void report_stale_suppressions(Run& run, const std::vector<Suppression>& suppressions) {
  for (const Suppression& entry : suppressions) {
    if (entry.matches > 0) continue;
    report_error(run.diagnostics,
                 strprintf("Suppression \"%s\" in \"%s\", line %llu, accepts no finding\n",
                           entry.pattern.c_str(), run.suppressions_file.c_str(),
                           static_cast<unsigned long long>(entry.line)));
  }
}

// A run starts from nothing, whatever an earlier run in the same process left.
void reset_run(Run& run) {
  free_lists(run.registry);
  run.diagnostics.error_count = 0;
  run.diagnostics.unlisted = 0;
  run.diagnostics.listing_limit = kMaxDiagnosticsListed;
  run.diagnostics.stop_reading = false;
  run.diagnostics.records.clear();
  run.analysis.written_files.clear();
}

// Expands the response files and parses the switches into `run`, leaving the input patterns
// in `patterns` and the expanded command line in `argc`/`argv`. Returns the exit status when
// the run ends here (a damaged command line, no input, the usage text).
std::optional<int> read_command_line(Run& run, int& argc, const char* const*& argv,
                                     Arguments& expanded, std::vector<std::string>& patterns) {
  // Response files are expanded before anything else looks at the command line, so that
  // the switches they hold act as on the command line; the -e and -o look-ups see the
  // expanded arguments too. The documents show the command line as it was given.
  int n = 0;
  try {
    if (has_response_files(argc, argv)) {
      if (!expand_response_files(run, argc, argv, expanded)) return kExitFailure;
      argc = static_cast<int>(expanded.argv.size() - 1);
      argv = expanded.argv.data();
    }
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
    return finish(run, n == kIllegalSwitch ? kExitFailure : kExitSuccess, false);
  }
  return std::nullopt;
}

// Opens the -e and -o files (diagnostics go to the -e file from here on). Returns the exit
// status when the run ends here: a file that cannot be opened, or one that is a response file.
std::optional<int> open_switch_files(Run& run, const Arguments& expanded) {
  std::string name;
  std::FILE* file = nullptr;
  if (run.options & OPT_ERRFILE) {
    if (!open_switch_file(run, run.error_file_argument, "Error:  Cannot allocate errorfile_name.",
                          "Error opening error file \"%s\"\n", name, file)) {
      return kExitFailure;
    }
    watch_written_file(run, file, "error", name);
    spool_diagnostics(run, file, name);
  }
  if (run.options & OPT_OUTFILE) {
    if (!open_switch_file(run, run.output_file_argument, "Error - Cannot allocate outfile_name.",
                          "Error opening output file \"%s\".\n", name, file)) {
      return finish(run, kExitFailure, false);
    }
    watch_written_file(run, file, "output", name);
    run.output_stream = file_text_stream(file);
  }
  // The response files were read before the -e and -o files were opened: neither may be one.
  bool response_file_written = false;
  for (const Arguments::ResponseFile& response_file : expanded.response_files) {
    if (is_written_file(run.analysis, response_file.identity, response_file.name)) {
      response_file_written = true;
    }
  }
  if (response_file_written) return finish(run, kExitFailure, false);
  return std::nullopt;
}

// Reads every input in command-line order, into the registry.
void read_inputs(Run& run, std::vector<std::string>& patterns) {
  // Debug sections are located and read only for -m.
  run.analysis.reader.read_layouts = run.layouts;
  // The documents for programs carry the diagnostics as well.
  run.diagnostics.keep_records = run.format != ReportFormat::kText;
  // Left untouched, the reserve costs address space, not memory; without it the run goes on.
  constexpr size_t kMemoryReserve = 4 << 20;
  run.memory_reserve.reset(new (std::nothrow) char[kMemoryReserve]);
  try {
    const unsigned jobs = run.jobs != 0 ? run.jobs : usable_processors();
    if (jobs > 1) run.read_ahead = start_read_ahead(run, jobs);
    for (std::string& pattern : patterns) {
      if (run.diagnostics.stop_reading) break;
      process_input(run, std::move(pattern));
    }
    if (run.read_ahead != nullptr) finish_read_ahead(*run.read_ahead);
  } catch (const std::bad_alloc&) {
    // The files found before memory ran out are taken in first, as they were read first.
    try {
      if (run.read_ahead != nullptr) finish_read_ahead(*run.read_ahead);
    } catch (const std::bad_alloc&) {
      drop_read_ahead(*run.read_ahead);
    }
    report_out_of_memory(run.diagnostics, {});
  }
  run.read_ahead.reset();

  if (run.diagnostics.out_of_memory) run.memory_reserve.reset();
}

// Finds the problems, sets them against the baseline and the suppressions, and renders the
// report. Returns the status the findings give (-w, --fail-on).
int report_findings(Run& run, Baseline& baseline, std::vector<Suppression>& suppressions,
                    int given_argc, const char* const* given_argv) {
  int status = kExitSuccess;
  if (run.options & OPT_OUTFILE) start_text_file(run.output_stream.file);
  try {
    Findings findings = find_problems(run.registry, run.diagnostics.error_count, run.layouts);
    findings.directory_inputs = std::move(run.directory_inputs);
    Adoption adoption = adopt(findings, run.baseline_file.empty() ? nullptr : &baseline,
                              run.suppressions_file.empty() ? nullptr : &suppressions);
    adoption.baseline_file = run.baseline_file;
    adoption.suppressions_file = run.suppressions_file;
    if (run.stale_suppressions) {
      report_stale_suppressions(run, suppressions);
      findings.incomplete = run.diagnostics.error_count > 0;
    }
    if (run.fail_on_findings && adoption.failing.at_least(run.fail_on) > 0) {
      status = kExitCommonBlockErrors;
    }
    // A diagnostic makes the status -1 (finish), which wins over -w and --fail-on.
    render(run, findings, adoption, run.diagnostics.error_count > 0 ? kExitFailure : status,
           given_argc, given_argv);
  } catch (const std::bad_alloc&) {
    report_out_of_memory(run.diagnostics, {});
  }
  return status;
}

}  // namespace

int run_drelk(Run& run, int argc, const char* const* argv) {
  reset_run(run);
  const int given_argc = argc;
  const char* const* given_argv = argv;
  Arguments expanded;
  std::vector<std::string> patterns;
  if (const std::optional<int> ended = read_command_line(run, argc, argv, expanded, patterns)) {
    return *ended;
  }
  if (const std::optional<int> ended = open_switch_files(run, expanded)) return *ended;

  Baseline baseline;
  std::vector<Suppression> suppressions;
  if (!read_adoption_files(run, baseline, suppressions)) return finish(run, kExitFailure, false);
  read_inputs(run, patterns);
  // A run that found its -e or -o file among its inputs ends there, with no report.
  if (is_input(run, "output") || is_input(run, "error")) return finish(run, kExitFailure, false);
  const int status =
      finish(run, report_findings(run, baseline, suppressions, given_argc, given_argv), true);
  if (run.release_at_end) free_lists(run.registry);
  return status;
}

}  // namespace drelk
