#include "driver/analyze.h"

#include "platform/strprintf.h"

namespace drelk {
namespace {

// The name of an object's format as the documents for programs show it: the one place
// where a kind of input gets its name.
std::string_view format_name(FileKind kind) {
  switch (kind) {
    case FileKind::kCoffObject:
      return "coff";
    case FileKind::kCoffImport:
      return "coff-import";
    case FileKind::kCoffBigObject:
      return "coff-bigobj";
    case FileKind::kArchive:
      return "archive";
    case FileKind::kExecutable:
    case FileKind::kPeImage:
      break;
  }
  return {};
}

// Makes `object` the subject of the diagnostics while it lives, and gives the previous
// subject back after it: a member's diagnostics name the member, its archive's the archive.
class DiagnosticSubject {
 public:
  DiagnosticSubject(Diagnostics& diagnostics, const ObjectEntry& object)
      : diagnostics_(diagnostics), previous_(diagnostics.subject) {
    diagnostics_.subject = object.path;
  }
  ~DiagnosticSubject() { diagnostics_.subject = previous_; }
  DiagnosticSubject(const DiagnosticSubject&) = delete;
  DiagnosticSubject& operator=(const DiagnosticSubject&) = delete;

 private:
  Diagnostics& diagnostics_;
  std::string_view previous_;
};

// Reads one object of `kind` at the stream's position (`base` in the file) and registers
// what it declares; what it registered before a failure stays.
int analyze_object(Analysis& analysis, InputStream& stream, ObjectEntry& entry, uint64_t base,
                   FileKind kind) {
  ObjectReader& reader = analysis.reader;
  const DiagnosticSubject subject(reader.diagnostics, entry);
  entry.format = format_name(kind);
  int result = read_coff_object(reader, stream, entry.path, base, kind);
  if (!register_declarations(analysis.registry, reader.diagnostics, entry,
                             reader.declarations)) {
    result = kAnalysisFailed;
  }
  return result;
}

// The members of an archive, each analysed as an object of its own, until the first
// member whose analysis fails.
int analyze_archive(Analysis& analysis, InputStream& stream, ObjectEntry& archive) {
  ObjectReader& reader = analysis.reader;
  ArchiveWalk walk;
  if (begin_archive_walk(reader, stream, walk) == kAnalysisFailed) return kAnalysisFailed;
  ArchiveMember member;
  while (true) {
    switch (next_archive_member(reader, stream, walk, member)) {
      case MemberStep::kEnd:
        return kAnalysisOk;
      case MemberStep::kFailed:
        return kAnalysisFailed;
      case MemberStep::kMember:
        break;
    }
    ObjectEntry* entry =
        make_member_entry(analysis.registry, archive, member.name, member.name_known);
    if (entry == nullptr) {
      report_entry_failure(reader.diagnostics, archive.path);
      return kAnalysisFailed;
    }
    entry->member_offset = member.data_offset;
    uint8_t bytes[kIdentifyBytes] = {};
    const size_t got = peek_bytes(stream, stream.position, bytes, sizeof bytes);
    if (analyze_object(analysis, stream, *entry, member.data_offset,
                       identify_member(bytes, got)) == kAnalysisFailed) {
      return kAnalysisFailed;
    }
  }
}

}  // namespace

int analyze_file(Analysis& analysis, InputStream& stream, ObjectEntry& entry) {
  const DiagnosticSubject subject(analysis.reader.diagnostics, entry);
  use_coff_positions(stream);
  FileKind kind = FileKind::kCoffObject;
  int result = kAnalysisOk;
  if (!classify_file(analysis.reader, stream, entry.name.c_str(), entry.path.c_str(), kind,
                     result)) {
    return result;
  }
  if (kind == FileKind::kArchive) {
    entry.format = format_name(kind);
    return analyze_archive(analysis, stream, entry);
  }
  return analyze_object(analysis, stream, entry, 0, kind);
}

bool register_declarations(Registry& registry, Diagnostics& diagnostics,
                           const ObjectEntry& object, const ObjectDeclarations& declarations) {
  bool registered = true;
  for (const Declaration& declaration : declarations.items) {
    switch (declaration.kind) {
      case Declaration::kCommon:
        if (add_common_reference(registry, object, declaration.name, declaration.size) ==
            kRegistryOutOfMemory) {
          registered = false;
        }
        break;
      case Declaration::kProcedure:
        if (add_procedure(registry, object, declaration.name) != 0) registered = false;
        break;
      case Declaration::kInitializedData:
        break;
    }
  }
  // Running out of memory loses declarations: that is said, never passed over.
  if (!registered) report_out_of_memory(diagnostics, object.path);
  // A block counts as initialised by this object when the object also defines data of
  // the block's name; the mark goes to the first reference with this object's path.
  for (const Declaration& declaration : declarations.items) {
    if (declaration.kind != Declaration::kInitializedData) continue;
    if (CommonBlock* block = find_block(registry, declaration.name)) {
      mark_initialized(*block, object.path);
    }
  }
  return registered;
}

void report_entry_failure(Diagnostics& diagnostics, const std::string& path) {
  report_error(diagnostics, strprintf("Error setting up internal buffer for %s\n", path.c_str()));
}

}  // namespace drelk
