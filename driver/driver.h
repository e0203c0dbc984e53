// The command-line driver: switches, the two output streams, input expansion, and the
// exit status that the diagnostics decide.
#pragma once

#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "driver/analyze.h"
#include "driver/read_ahead.h"
#include "platform/diagnostics.h"
#include "platform/file_system.h"
#include "platform/text_stream.h"
#include "registry/registry.h"
#include "report/findings.h"

namespace drelk {

// Option bits.
inline constexpr unsigned OPT_ERRFILE = 0x01;
inline constexpr unsigned OPT_OUTFILE = 0x02;
inline constexpr unsigned OPT_RECURSE = 0x04;
inline constexpr unsigned OPT_VERSION_ONLY = 0x08;
inline constexpr unsigned OPT_USAGE = 0x10;

// parse_options results besides the pattern count.
inline constexpr int kUsageRequested = 0;
inline constexpr int kNoInput = -1;
inline constexpr int kIllegalSwitch = -2;

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = -1;           // 255 where the system keeps 8 bits
inline constexpr int kExitCommonBlockErrors = 1;  // -w, --fail-on: findings of that severity

// What the output stream receives (-f): the text report, or a document for programs.
enum class ReportFormat { kText, kJson, kSarif, kHtml };

// The state of one run.
struct Run {
  unsigned options = 0;
  bool problems_only = false;
  ReportFormat format = ReportFormat::kText;
  // -w, --fail-on: findings of `fail_on` or a graver severity make the exit status 1.
  bool fail_on_findings = false;
  Severity fail_on = Severity::kWarning;
  bool layouts = false;  // -m: the members of each block, from debug information
  bool quiet = false;    // -q: standard output gets the findings or the document alone
  // The file names of the first -e and -o switches, pointing into the arguments.
  const char* error_file_argument = nullptr;
  const char* output_file_argument = nullptr;
  // The directories named as inputs, each with the number of files read under it.
  std::vector<DirectoryInput> directory_inputs;
  // --baseline: a JSON report of an earlier run; only new and updated findings fail.
  std::string baseline_file;
  // --suppressions: findings accepted on purpose; --show-suppressed lists them in the text
  // report, --stale-suppressions reports the entries that accept nothing.
  std::string suppressions_file;
  bool show_suppressed = false;
  bool stale_suppressions = false;
  Diagnostics diagnostics;
  TextStream standard_output;   // where the usage text always goes
  TextStream standard_error;    // where a failed error stream is said
  std::string error_file_name;  // of -e, once open
  TextStream output_stream;     // the report: standard output or the -o file
  // The -e and -o files are opened where the command line is read but emptied only when
  // they are written, once every input has been read: an input that is one of them comes
  // out of the run as it was. Until then the diagnostics go to a spool.
  std::FILE* error_file = nullptr;
  std::FILE* error_spool = nullptr;
  Registry registry;
  // The readers and what they feed, kept for the run so that their buffers are reused.
  Analysis analysis{diagnostics, registry};
  // Memory set aside at the start and given back when memory runs out, so that the
  // report of what was gathered can still be written.
  std::unique_ptr<char[]> memory_reserve;
  // The stream of the file being analysed: one for the run, so that its read cache is
  // reused from file to file.
  InputStream input;
  // The directory search, with the listings it keeps for the run.
  DirectorySearch directory_search;
  // Directories the recursive search has searched for the pattern at hand.
  std::set<DirectoryIdentity> searched_directories;
  // Whether the run releases the registry when it ends; a process that exits right after
  // leaves that to the exit.
  bool release_at_end = true;
  // -j, --jobs: the objects read at once; 0 for the processors the process may use. One
  // job reads the files one after another on the run's own thread.
  unsigned jobs = 0;
  // The threads that read ahead, for a run of more than one job, while the inputs are read.
  // Last, so that they stop before anything they use goes.
  ReadAheadHandle read_ahead;
};

// The title and version, as the banner shows them.
extern const char* const kTitle;
extern const char* const kVersion;

int parse_options(Run& run, int argc, const char* const* argv, std::vector<std::string>& patterns);

// True when a command-line argument is a switch: it begins with '-', or with '/' unless
// the platform takes it for a path (on POSIX, '/' followed later by a further '/').
bool is_switch_argument(const char* argument);

// The command line after its response files are expanded: the arguments, each ended by
// a NUL, in one text, and argv-style pointers to them (ending in a null pointer).
struct Arguments {
  std::string text;
  std::vector<const char*> argv;
  // Every response file read, by its name as the command line gives it.
  struct ResponseFile {
    std::string name;
    FileIdentity identity;
  };
  std::vector<ResponseFile> response_files;
};

// True when some argument after the program name is a response file ("@file").
bool has_response_files(int argc, const char* const* argv);

// Replaces every "@file" argument, in place and in order, by the arguments the file holds
// (blank-separated, double quotes around one that holds blanks), expanding response files
// named inside response files to a bounded depth. False, after reporting "Cannot read
// response file", when one cannot be read.
bool expand_response_files(Run& run, int argc, const char* const* argv, Arguments& expanded);
void print_usage(Run& run, const char* program_name);

// Records and analyses the file open in `stream` (the input `path`, found as `name`), then
// closes it. False when its entry could not be made, or the run reads no further.
bool analyze_opened_file(Run& run, InputStream& stream, const std::string& path,
                         const std::string& name);

// Opens, checks and analyses one file the search found, at once, as one job does. False
// when its entry could not be made, which ends the pattern, or the run reads no further.
bool read_found_input(Run& run, const FoundInput& input);

// Whether the stream holds an object or library by its first bytes; under -m (`layouts`) a
// .dSYM bundle's companion file too, whose debug information declares the program's blocks.
bool holds_object_or_library(InputStream& stream, bool layouts);

// Expands one input pattern, opens every file it names and analyses it.
void process_input(Run& run, std::string pattern);

// The whole run over the command line, with its streams set up by the caller; returns
// the exit status.
int run_drelk(Run& run, int argc, const char* const* argv);

}  // namespace drelk
