// The pipeline for one input file: identify it, read each object it holds with the
// reader of its format, and register what the object declares.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "objreader/objreader.h"
#include "platform/file_system.h"
#include "registry/registry.h"

namespace drelk {

// A file the run writes (the -e or -o file), which must come out of the run as it was when
// it is also one of the run's inputs.
struct WrittenFile {
  FileIdentity identity;
  const char* role = "";  // "error" or "output"
  std::string name;       // as the command line names it
  bool is_input = false;  // some input of the run is this file: it is never written
};

// What the analysis of a file read ahead of its turn made, kept in order until the run
// comes to the file: the entries of its members and slices, composed but not yet kept, and
// what each object declared, with the names copied out of the reader's buffers. Each
// holds the count of the file's diagnostics captured before it, so that the replay
// interleaves them as they happened.
struct ReadStep {
  size_t diagnostics_before = 0;
  // An entry made (the archive or universal file it belongs to is `parent`), or
  const ObjectEntry* parent = nullptr;
  std::unique_ptr<ObjectEntry> entry;
  // what `object` declared.
  const ObjectEntry* object = nullptr;
  ObjectDeclarations declarations;
  std::unique_ptr<char[]> names;  // the texts `declarations` points into
};

struct ReadLog {
  std::vector<ReadStep> steps;
  std::vector<CapturedDiagnostic> diagnostics;
  size_t bytes = 0;  // what the log holds, about: the read-ahead's bound
  // A file read as one object: its identity, where known, and the diagnostics captured
  // before its reading, so that a shared library met before is passed over in its turn.
  bool identified = false;
  FileIdentity identity;
  size_t diagnostics_before_object = SIZE_MAX;
};

// What the analysis of a run's files works with: the readers (with the diagnostic
// channel) and the registry they feed.
struct Analysis {
  Analysis(Diagnostics& diagnostics, Registry& registry_)
      : reader(diagnostics), registry(registry_) {}
  ObjectReader reader;
  Registry& registry;
  // Opens the file of a thin archive's member; a run from memory (the fuzz target) opens
  // none.
  bool (*open_file)(const std::string& path, InputStream& stream) = open_native_input_file;
  // The files the run writes, which no input may be.
  std::vector<WrittenFile> written_files;
  // The shared libraries read: each is read once, however many names lead to it.
  std::set<FileIdentity> libraries_read;
  // Where set, the entries made and the declarations read go to this log rather than to
  // the registry, which is then not touched (a file read ahead of its turn).
  ReadLog* log = nullptr;
};

// True, after the diagnostic that says so, when the input `path` (of identity `identity`)
// is one of the files the run writes: the file is marked, and the run reads no further.
bool is_written_file(Analysis& analysis, const FileIdentity& identity, const std::string& path);

// Classifies an opened input and analyses it: executables are refused, archives walked
// member by member, objects read by the reader of their format. Returns Outcome::kFailed
// when the analysis of the file ended in a failure, Outcome::kOk otherwise.
// The entry's format is set once the file or member is identified.
Outcome analyze_file(Analysis& analysis, InputStream& stream, ObjectEntry& entry);

// Registers what one object declares: its COMMON declarations and procedures, then the
// marks of the blocks it initialises. False, after a diagnostic, when the registry ran out
// of memory.
bool register_declarations(Registry& registry, Diagnostics& diagnostics, const ObjectEntry& object,
                           const ObjectDeclarations& declarations);

// Reports that the entry of an object at `path` could not be made.
void report_entry_failure(Diagnostics& diagnostics, const std::string& path);

// Reports that the file `name` could not be opened.
void report_open_failure(Diagnostics& diagnostics, const std::string& name);

}  // namespace drelk
