// The pipeline for one input file: identify it, read each object it holds with the
// reader of its format, and register what the object declares.
#pragma once

#include <string>

#include "objreader/objreader.h"
#include "platform/file_system.h"
#include "registry/registry.h"

namespace drelk {

// What the analysis of a run's files works with: the readers (with the diagnostic
// channel) and the registry they feed.
struct Analysis {
  Analysis(Diagnostics& diagnostics, Registry& registry_)
      : reader(diagnostics), registry(registry_) {}
  ObjectReader reader;
  Registry& registry;
  // Opens the file of a thin archive's member; a run from memory (the fuzz target) opens
  // none.
  bool (*open_file)(const std::string& path, InputStream& stream) = open_input_file;
};

// Classifies an opened input and analyses it: executables are refused, archives walked
// member by member, objects read by the reader of their format. Returns kAnalysisFailed
// when the analysis of the file ended in a failure, kAnalysisOk otherwise.
// The entry's format is set once the file or member is identified.
int analyze_file(Analysis& analysis, InputStream& stream, ObjectEntry& entry);

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
