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

// Opens, records and analyses one file the search found, shown as `path` and opened as
// `native`. False when its entry could not be made, which ends the pattern.
bool analyze_found_file(Run& run, const std::string& path, const std::string& native,
                        const DirEntry& found) {
  const std::string& name = found.name;
  InputStream& stream = run.input;
  if (!open_native_file(native, stream, found.is_regular_file)) {
    report_open_failure(run.diagnostics, name);
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

// Searches one pattern in `native_directory`, the pattern's directory as the file system
// takes it: the user's own directory part converted once, then the names of the
// subdirectories exactly as the search found them (on POSIX a name may hold a '\\').
void process_pattern(Run& run, std::string pattern, const std::string& native_directory) {
  const PathParts parts = split_path(pattern);
  std::string extension = parts.extension;
  if (extension.empty()) {
    extension = ".obj";
    pattern += extension;
  }
  const std::string prefix = parts.drive + parts.directory;

  std::vector<DirEntry> entries;
  if (!find_files_in(run.directory_search, native_directory, parts.file_name + extension,
                     entries)) {
    report_error(run.diagnostics, strprintf("Can't find file %s\n", pattern.c_str()));
  } else {
    for (const DirEntry& entry : entries) {
      if (is_dot_entry(entry.name) || entry.is_directory) continue;
      if (!analyze_found_file(run, prefix + entry.name, native_directory + entry.name, entry)) {
        return;
      }
    }
  }

  if (!(run.options & OPT_RECURSE) || run.diagnostics.out_of_memory) return;
  if (!find_files_in(run.directory_search, native_directory, "*.*", entries)) return;
  for (const DirEntry& entry : entries) {
    if (is_dot_entry(entry.name) || !entry.is_directory) continue;
    const std::string child = child_directory(native_directory, entry.name);
    // A directory is searched once for the pattern, whatever link leads to it: a link
    // back into the search would never end, and folders linking twice to the next would
    // be walked 2^depth times.
    DirectoryIdentity identity;
    if (native_directory_identity(child, identity) &&
        !run.searched_directories.insert(identity).second) {
      continue;
    }
    process_pattern(run, prefix + entry.name + "\\" + parts.file_name + extension, child);
    if (run.diagnostics.out_of_memory) return;
  }
}

}  // namespace

void process_input(Run& run, std::string pattern) {
  run.searched_directories.clear();
  const PathParts parts = split_path(pattern);
  const std::string native_directory = native_path(parts.drive + parts.directory);
  // Only the recursive search needs to know which directories it has searched.
  DirectoryIdentity identity;
  if ((run.options & OPT_RECURSE) && native_directory_identity(native_directory, identity)) {
    run.searched_directories.insert(identity);
  }
  process_pattern(run, std::move(pattern), native_directory);
  run.searched_directories.clear();
}

}  // namespace drelk
