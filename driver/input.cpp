// Input expansion: one pattern from the command line becomes the files it names, each
// opened, recorded and analysed; with -s the same file pattern is searched in every
// subdirectory, depth first. A directory named as an input is searched, all the way
// down, for the objects and libraries it holds, told by their bytes.
#include <algorithm>
#include <new>

#include "driver/analyze.h"
#include "driver/driver.h"
#include "objreader/identify.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

bool is_dot_entry(const std::string& name) {
  return name == "." || name == "..";
}

// One file the search found, taken in its turn: read at once, or read ahead.
bool take_found_input(Run& run, FoundInput input) {
  if (run.read_ahead != nullptr) return take_input(*run.read_ahead, std::move(input));
  return read_found_input(run, input);
}

// A diagnostic of the search, in its turn among the files' diagnostics.
void report_search_error(Run& run, std::string message) {
  if (run.read_ahead != nullptr) {
    report_in_turn(*run.read_ahead, std::move(message));
  } else {
    report_error(run.diagnostics, message);
  }
}

bool has_wildcard(const std::string& pattern) {
  return pattern.find_first_of("*?") != std::string::npos;
}

// Reads every object and library under `native` (ending in a separator), shown as
// `shown`: entries in name order, each subdirectory searched where its name stands.
// Returns false when memory ran out or an entry could not be made, which ends the input.
bool walk_directory(Run& run, const std::string& shown, const std::string& native) {
  std::vector<DirEntry> entries;
  if (!find_files_in(run.directory_search, native, "*.*", entries)) {
    report_search_error(run, strprintf("Error reading directory %s\n", shown.c_str()));
    return true;
  }
  // The order of names, the same on every system whatever order the directory keeps.
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return directory_order_less(a.name, b.name);
  });
  for (const DirEntry& entry : entries) {
    if (is_dot_entry(entry.name)) continue;
    const std::string path = shown + entry.name;
    if (entry.is_directory) {
      const std::string child = child_directory(native, entry.name);
      // Each directory is searched once, whatever link leads to it.
      DirectoryIdentity identity;
      if (native_directory_identity(child, identity) &&
          !run.searched_directories.insert(identity).second) {
        continue;
      }
      if (!walk_directory(run, path + kNativeSeparator, child)) return false;
      continue;
    }
    if (!take_found_input(
            run, FoundInput{path, entry.name, native + entry.name, entry.is_regular_file, true})) {
      return false;
    }
  }
  return true;
}

// A directory named as an input.
void process_directory_input(Run& run, const std::string& directory, const std::string& native) {
  const bool ends_in_separator =
      !directory.empty() && (directory.back() == '/' || directory.back() == '\\');
  const std::string shown = ends_in_separator ? directory : directory + kNativeSeparator;
  const std::string native_directory = native.back() == '/' || native.back() == kNativeSeparator
                                           ? native
                                           : native + kNativeSeparator;
  DirectoryIdentity identity;
  if (native_directory_identity(native_directory, identity)) {
    run.searched_directories.insert(identity);
  }
  // The files read under it are counted as they are read.
  if (run.read_ahead != nullptr) {
    begin_directory_in_turn(*run.read_ahead, directory);
  } else {
    run.directory_inputs.push_back(DirectoryInput{directory, 0});
  }
  walk_directory(run, shown, native_directory);
}

// A pattern that names a directory, and no file: no wildcards, and for a name without an
// extension no file of that name with ".obj" added, which it names as before.
bool names_a_directory(const std::string& pattern, const std::string& native) {
  if (pattern.empty() || has_wildcard(pattern) || !is_native_directory(native)) return false;
  return !split_path(pattern).extension.empty() || !is_native_regular_file(native + ".obj");
}

// Searches one pattern in `native_directory`, the pattern's directory as the file system
// takes it: the user's own directory part converted once, then the names of the
// subdirectories exactly as the search found them (on POSIX a name may hold a '\\').
// `named`: the pattern is the one the user named, not one applied in a subdirectory.
void process_pattern(Run& run, std::string pattern, const std::string& native_directory,
                     bool named) {
  const PathParts parts = split_path(pattern);
  std::string extension = parts.extension;
  // A named file without an extension is read as named where the name with ".obj" added
  // finds nothing (drelk prog, drelk ./libfoo).
  const bool as_given_too = named && extension.empty() && !has_wildcard(pattern);
  if (extension.empty()) {
    extension = ".obj";
    pattern += extension;
  }
  const std::string prefix = parts.drive + parts.directory;

  std::vector<DirEntry> entries;
  bool found =
      find_files_in(run.directory_search, native_directory, parts.file_name + extension, entries);
  if (!found && as_given_too &&
      find_files_in(run.directory_search, native_directory, parts.file_name, entries)) {
    found = std::any_of(entries.begin(), entries.end(),
                        [](const DirEntry& entry) { return !entry.is_directory; });
  }
  if (!found) {
    report_search_error(run, strprintf("Can't find file %s\n", pattern.c_str()));
  } else {
    for (const DirEntry& entry : entries) {
      if (is_dot_entry(entry.name) || entry.is_directory) continue;
      if (!take_found_input(
              run, FoundInput{prefix + entry.name, entry.name, native_directory + entry.name,
                              entry.is_regular_file, false})) {
        return;
      }
    }
  }

  if (!(run.options & OPT_RECURSE) || run.diagnostics.stop_reading) return;
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
    process_pattern(run, prefix + entry.name + "\\" + parts.file_name + extension, child, false);
    if (run.diagnostics.stop_reading) return;
  }
}

}  // namespace

// Opens, checks and analyses one file the search found, at once: the single-threaded run.
// False when its entry could not be made, which ends the pattern, or the run reads no
// further.
bool read_found_input(Run& run, const FoundInput& input) {
  InputStream& stream = run.input;
  // FIFOs, sockets and devices are no objects; in a directory they are passed over unopened.
  if (input.in_directory && !input.regular_file && !is_native_regular_file(input.native)) {
    return true;
  }
  if (!open_native_file(input.native, stream, input.regular_file)) {
    report_open_failure(run.diagnostics, input.name);
    return true;
  }
  if (input.in_directory) {
    if (!holds_object_or_library(stream, run.layouts)) {
      close_input_stream(stream);
      return true;
    }
    ++run.directory_inputs.back().files_read;
  }
  return analyze_opened_file(run, stream, input.path, input.name);
}

bool analyze_opened_file(Run& run, InputStream& stream, const std::string& path,
                         const std::string& name) {
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
  return !run.diagnostics.stop_reading;
}

bool holds_object_or_library(InputStream& stream, bool layouts) {
  uint8_t bytes[kObjectSignatureBytes] = {};
  const size_t got = peek_bytes(stream, 0, bytes, sizeof bytes);
  return is_object_or_library(bytes, got) || is_shared_library(stream) ||
         (layouts && is_debug_companion(stream));
}

void process_input(Run& run, std::string pattern) {
  if (run.read_ahead != nullptr) begin_pattern(*run.read_ahead);
  run.searched_directories.clear();
  const std::string native = native_path(pattern);
  // Under -s a name is a pattern that every subdirectory is searched for, never a directory.
  if (!(run.options & OPT_RECURSE) && names_a_directory(pattern, native)) {
    process_directory_input(run, pattern, native);
    run.searched_directories.clear();
    return;
  }
  const PathParts parts = split_path(pattern);
  const std::string native_directory = native_path(parts.drive + parts.directory);
  // Only the recursive search needs to know which directories it has searched.
  DirectoryIdentity identity;
  if ((run.options & OPT_RECURSE) && native_directory_identity(native_directory, identity)) {
    run.searched_directories.insert(identity);
  }
  process_pattern(run, std::move(pattern), native_directory, true);
  run.searched_directories.clear();
}

}  // namespace drelk
