// Input expansion: one pattern from the command line becomes the files it names, each
// opened, recorded and analysed; with -s the same file pattern is searched in every
// subdirectory, depth first.
#include <algorithm>
#include <new>

#include "driver/analyze.h"
#include "driver/driver.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

bool is_dot_entry(const std::string& name) {
  return name == "." || name == "..";
}

// Opens, records and analyses one file the search found. False when its entry could not
// be made, which ends the pattern.
bool analyze_found_file(Run& run, const std::string& path, const std::string& name) {
  InputStream& stream = run.input;
  if (!open_input_file(path, stream)) {
    report_error(run.diagnostics, strprintf("Error opening input file \"%s\"\n", name.c_str()));
    return true;
  }
  ObjectEntry* entry = record_object(run.registry, path, name);
  if (entry == nullptr) {
    close_input_stream(stream);
    report_entry_failure(run.diagnostics, path);
    return false;
  }
  try {
    analyze_file(run.analysis, stream, *entry);
  } catch (const std::bad_alloc&) {
    // What was registered stays; the rest of the inputs are not read, so that the memory
    // left goes to the report.
    run.diagnostics.subject = {};
    report_out_of_memory(run.diagnostics, entry->path);
  }
  // Nothing reads the file after its analysis; thousands of inputs must not hold
  // thousands of open files.
  close_input_stream(stream);
  return !run.diagnostics.out_of_memory;
}

bool is_open_directory(const Run& run, const DirectoryIdentity& identity) {
  return std::find(run.open_directories.begin(), run.open_directories.end(), identity) !=
         run.open_directories.end();
}

void process_pattern(Run& run, std::string pattern) {
  const PathParts parts = split_path(pattern);
  std::string extension = parts.extension;
  if (extension.empty()) {
    extension = ".obj";
    pattern += extension;
  }
  const std::string prefix = parts.drive + parts.directory;

  std::vector<DirEntry> entries;
  if (!find_files(run.directory_search, pattern, entries)) {
    report_error(run.diagnostics, strprintf("Can't find file %s\n", pattern.c_str()));
  } else {
    for (const DirEntry& entry : entries) {
      if (is_dot_entry(entry.name) || entry.is_directory) continue;
      if (!analyze_found_file(run, prefix + entry.name, entry.name)) return;
    }
  }

  if (!(run.options & OPT_RECURSE) || run.diagnostics.out_of_memory) return;
  if (!find_files(run.directory_search, prefix + "*.*", entries)) return;
  for (const DirEntry& entry : entries) {
    if (is_dot_entry(entry.name) || !entry.is_directory) continue;
    // A link back to a directory the search is already inside would never end.
    DirectoryIdentity identity;
    const bool known = directory_identity(prefix + entry.name, identity);
    if (known && is_open_directory(run, identity)) continue;
    if (known) run.open_directories.push_back(identity);
    process_pattern(run, prefix + entry.name + "\\" + parts.file_name + extension);
    if (known) run.open_directories.pop_back();
    if (run.diagnostics.out_of_memory) return;
  }
}

}  // namespace

void process_input(Run& run, std::string pattern) {
  run.open_directories.clear();
  // Only the recursive search needs to know which directories it is inside.
  DirectoryIdentity identity;
  if (run.options & OPT_RECURSE) {
    const PathParts parts = split_path(pattern);
    if (directory_identity(parts.drive + parts.directory, identity)) {
      run.open_directories.push_back(identity);
    }
  }
  process_pattern(run, std::move(pattern));
  run.open_directories.clear();
}

}  // namespace drelk
