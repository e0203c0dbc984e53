#include "driver/analyze.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <vector>

#include "platform/strprintf.h"

namespace drelk {
namespace {

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

// A shared library's entry: its role, and the exports that carry a version, which the
// report shows as the library exports them.
void note_library(ObjectEntry& entry, const ObjectDeclarations& declarations) {
  entry.role = InputRole::kLibrary;
  for (const ExportVersion& exported : declarations.versions) {
    entry.versioned_exports.push_back(std::string(exported.name) + std::string(exported.version));
  }
  const auto bare = [](const std::string& name) {
    return std::string_view(name).substr(0, name.find('@'));
  };
  std::stable_sort(entry.versioned_exports.begin(), entry.versioned_exports.end(),
                   [&](const std::string& a, const std::string& b) { return bare(a) < bare(b); });
}

// Keeps a made entry: in the registry, or in the log of a file read ahead. nullptr when
// memory ran out.
ObjectEntry* keep_made_entry(Analysis& analysis, const ObjectEntry& parent,
                             std::unique_ptr<ObjectEntry> entry) {
  if (analysis.log == nullptr) return keep_entry(analysis.registry, std::move(entry));
  if (entry == nullptr) return nullptr;
  try {
    ReadStep& step = analysis.log->steps.emplace_back();
    step.diagnostics_before = analysis.log->diagnostics.size();
    step.parent = &parent;
    step.entry = std::move(entry);
    analysis.log->bytes += sizeof(ReadStep) + sizeof(ObjectEntry) + 2 * step.entry->path.size();
    return step.entry.get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// A view of `text` in `names`, where the copies are appended from `at` on.
std::string_view copied(std::string_view text, char* names, size_t& at) {
  std::copy(text.begin(), text.end(), names + at);
  const std::string_view copy(names + at, text.size());
  at += text.size();
  return copy;
}

// Keeps what `object` declared in the log, its names copied: the reader's buffers hold them
// only until its next object. False when memory ran out.
bool log_declarations(ReadLog& log, const ObjectEntry& object,
                      const ObjectDeclarations& declarations) {
  try {
    size_t length = 0;
    for (const Declaration& declaration : declarations.items) length += declaration.name.size();
    for (const CommonLayout& layout : declarations.layouts) {
      length += layout.symbol.size() + layout.routine.size() + layout.file.size();
    }
    for (const MemberLayout& member : declarations.members) {
      length += member.name.size() + member.type.size() + member.dimensions.size();
    }
    ReadStep step;
    step.diagnostics_before = log.diagnostics.size();
    step.object = &object;
    step.declarations = declarations;
    step.names.reset(new char[length]);
    size_t at = 0;
    char* names = step.names.get();
    for (Declaration& declaration : step.declarations.items) {
      declaration.name = copied(declaration.name, names, at);
    }
    for (CommonLayout& layout : step.declarations.layouts) {
      layout.symbol = copied(layout.symbol, names, at);
      layout.routine = copied(layout.routine, names, at);
      layout.file = copied(layout.file, names, at);
    }
    for (MemberLayout& member : step.declarations.members) {
      member.name = copied(member.name, names, at);
      member.type = copied(member.type, names, at);
      member.dimensions = copied(member.dimensions, names, at);
    }
    log.steps.push_back(std::move(step));
    log.bytes += sizeof(ReadStep) + length + declarations.items.size() * sizeof(Declaration) +
                 declarations.layouts.size() * sizeof(CommonLayout) +
                 declarations.members.size() * sizeof(MemberLayout);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// Registers what an object declares, or keeps it in the log of a file read ahead.
bool register_object(Analysis& analysis, const ObjectEntry& object) {
  const ObjectDeclarations& declarations = analysis.reader.declarations;
  if (analysis.log == nullptr) {
    return register_declarations(analysis.registry, analysis.reader.diagnostics, object,
                                 declarations);
  }
  if (log_declarations(*analysis.log, object, declarations)) return true;
  report_out_of_memory(analysis.reader.diagnostics, object.path);
  return false;
}

// Reads one object of `kind` at the stream's position (`base` in the file, `extent` bytes
// long) and registers what it declares; what it registered before a failure stays.
Outcome analyze_object(Analysis& analysis, InputStream& stream, ObjectEntry& entry, uint64_t base,
                       uint64_t extent, FileKind kind) {
  ObjectReader& reader = analysis.reader;
  const DiagnosticSubject subject(reader.diagnostics, entry);
  entry.format = object_format(kind).name;
  Outcome result = object_format(kind).read(reader, stream, entry.path, base, extent, kind);
  // An executable is no object file: read as nothing.
  if (reader.declarations.refused) entry.format = {};
  if (reader.declarations.library) {
    note_library(entry, reader.declarations);
  } else if (reader.declarations.program) {
    entry.role = InputRole::kProgram;
  }
  if (!register_object(analysis, entry)) result = Outcome::kFailed;
  return result;
}

// What the bytes at the stream's position make an archive member.
FileKind identify_at_position(InputStream& stream) {
  uint8_t bytes[kIdentifyBytes] = {};
  const size_t got = peek_bytes(stream, stream.position, bytes, sizeof bytes);
  return identify_member(bytes, got);
}

Outcome analyze_universal(Analysis& analysis, InputStream& stream, ObjectEntry& universal,
                          uint64_t base, uint64_t extent, bool slices_may_be_archives);

// An object of `kind` that an archive or a universal file holds, or a file of its own:
// a universal file is analysed slice by slice (whose slices are objects only), anything
// else as one object.
Outcome analyze_contained(Analysis& analysis, InputStream& stream, ObjectEntry& entry,
                          uint64_t base, uint64_t extent, FileKind kind) {
  if (kind == FileKind::kUniversal) {
    return analyze_universal(analysis, stream, entry, base, extent, false);
  }
  return analyze_object(analysis, stream, entry, base, extent, kind);
}

// True, after its diagnostic, when the file open in `stream` is one the run writes.
bool reads_written_file(Analysis& analysis, const InputStream& stream, const std::string& path) {
  FileIdentity identity;
  return !analysis.written_files.empty() && input_identity(stream, identity) &&
         is_written_file(analysis, identity, path);
}

// A thin archive's member: the file its name gives, beside the archive, read as a member
// of its own. One that cannot be opened is reported and passed over.
// What one archive's walk has read: the stretches of its members' data and the files of
// its thin members. A member whose data overlaps one already read, or whose file was
// already read, is reported (once an archive) and passed over: names and offsets that
// all lead to the same bytes must not make them be read again and again.
struct MembersRead {
  std::map<uint64_t, uint64_t> stretches;  // start -> end of each member's data read
  std::set<FileIdentity> files;
  bool overlap_reported = false;
  bool file_reported = false;
};

// True when the data from `start` to `end` meets none of the members read, and notes it.
bool first_read_of(MembersRead& read, uint64_t start, uint64_t end) {
  if (start >= end) return true;
  const auto after = read.stretches.lower_bound(start);
  if (after != read.stretches.end() && after->first < end) return false;
  if (after != read.stretches.begin() && std::prev(after)->second > start) return false;
  read.stretches.emplace(start, end);
  return true;
}

Outcome analyze_external_member(Analysis& analysis, const ObjectEntry& archive, ObjectEntry& entry,
                                const ArchiveMember& member, MembersRead& read) {
  const std::string path = member_file_path(object_file(archive), member.name);
  InputStream stream;
  if (!member.name_known ||
      !analysis.open_file(member_file_native_path(object_file(archive), member.name), stream)) {
    const DiagnosticSubject subject(analysis.reader.diagnostics, entry);
    if (member.name_known && is_native_directory(native_path(path))) {
      report_not_an_object(analysis.reader, path.c_str(), "a directory");
    } else {
      report_open_failure(analysis.reader.diagnostics, path);
    }
    return Outcome::kOk;
  }
  // A member that is plainly no object is named for what it is and passed over.
  if (reported_unreadable_file(analysis.reader, stream, path.c_str())) {
    close_input_stream(stream);
    return Outcome::kOk;
  }
  if (reads_written_file(analysis, stream, path)) {
    close_input_stream(stream);
    return Outcome::kFailed;
  }
  FileIdentity identity;
  if (input_identity(stream, identity) && !read.files.insert(identity).second) {
    close_input_stream(stream);
    if (!read.file_reported) {
      read.file_reported = true;
      const DiagnosticSubject subject(analysis.reader.diagnostics, entry);
      report_error(analysis.reader.diagnostics,
                   strprintf("Error - thin archive member file %s named again\n", path.c_str()));
    }
    return Outcome::kOk;
  }
  const FileKind kind = identify_at_position(stream);
  use_positions_of(stream, kind);
  const Outcome result = analyze_contained(analysis, stream, entry, 0, stream.size, kind);
  close_input_stream(stream);
  return result;
}

// The members of an archive, each analysed as an object of its own, until the first
// member whose analysis fails. The archive may be the `architecture` slice of a universal
// file, from `base` to `end` in the stream.
Outcome analyze_archive(Analysis& analysis, InputStream& stream, ObjectEntry& archive, bool thin,
                        std::string_view architecture = {}, uint64_t base = 0,
                        uint64_t end = UINT64_MAX) {
  ObjectReader& reader = analysis.reader;
  ArchiveWalk walk;
  if (begin_archive_walk(reader, stream, walk, thin, base, end) == Outcome::kFailed) {
    return Outcome::kFailed;
  }
  ArchiveMember member;
  MembersRead read;
  while (true) {
    switch (next_archive_member(reader, stream, walk, member)) {
      case MemberStep::kEnd:
        return Outcome::kOk;
      case MemberStep::kFailed:
        return Outcome::kFailed;
      case MemberStep::kMember:
        break;
    }
    ObjectEntry* entry = keep_made_entry(
        analysis, archive,
        compose_member_entry(archive, member.name, member.name_known, architecture));
    if (entry == nullptr) {
      report_entry_failure(reader.diagnostics, archive.path);
      return Outcome::kFailed;
    }
    // A thin archive's member has no data in the archive: its place there, where its
    // header ends, still tells it from the other members.
    entry->member_offset = member.data_offset;
    Outcome result = Outcome::kOk;
    if (member.external) {
      result = analyze_external_member(analysis, archive, *entry, member, read);
    } else {
      if (!first_read_of(read, member.data_offset, member.data_offset + member.extent)) {
        if (!read.overlap_reported) {
          read.overlap_reported = true;
          const DiagnosticSubject subject(reader.diagnostics, *entry);
          report_error(reader.diagnostics,
                       strprintf("Error - library member data at offset %llx overlaps a member "
                                 "already read\n",
                                 static_cast<unsigned long long>(member.data_offset)));
        }
        continue;
      }
      result = analyze_contained(analysis, stream, *entry, member.data_offset, member.extent,
                                 identify_at_position(stream));
    }
    if (result == Outcome::kFailed) return Outcome::kFailed;
  }
}

void report_unsupported_slice(Diagnostics& diagnostics, const ObjectEntry& slice) {
  report_error(diagnostics,
               strprintf("Error - unsupported universal file slice %s\n", slice.path.c_str()));
}

// A universal file, from `base` to `base + extent` in the stream: each architecture's
// slice is analysed as an object of its own, shown with its architecture. A slice may be
// an archive (lipo's universal static libraries) only in a universal file read on its
// own. Every slice is analysed whatever became of the others; the result is a failure
// when any failed.
Outcome analyze_universal(Analysis& analysis, InputStream& stream, ObjectEntry& universal,
                          uint64_t base, uint64_t extent, bool slices_may_be_archives) {
  ObjectReader& reader = analysis.reader;
  const DiagnosticSubject subject(reader.diagnostics, universal);
  const ObjectFormat& format = object_format(FileKind::kUniversal);
  universal.format = format.name;
  std::vector<Slice> slices;
  Outcome result = format.read_slices(reader, stream, universal.path, base, extent, slices);
  for (const Slice& slice : slices) {
    const std::string& architecture = slice.architecture;
    // What the slice is, from its own first bytes.
    uint8_t bytes[kIdentifyBytes] = {};
    const size_t held = static_cast<size_t>(std::min<uint64_t>(slice.size, sizeof bytes));
    const FileKind kind = identify_format(bytes, peek_bytes(stream, slice.offset, bytes, held));
    if (object_format(kind).is_archive && slices_may_be_archives) {
      skip_archive_signature(stream, slice.offset);
      if (analyze_archive(analysis, stream, universal, kind == FileKind::kThinArchive, architecture,
                          slice.offset, slice.offset + slice.size) == Outcome::kFailed) {
        result = Outcome::kFailed;
      }
      continue;
    }
    ObjectEntry* entry = keep_made_entry(
        analysis, universal, compose_slice_entry(universal, architecture, slice.offset));
    if (entry == nullptr) {
      report_entry_failure(reader.diagnostics, universal.path);
      return Outcome::kFailed;
    }
    if (!object_format(kind).may_be_slice) {
      const DiagnosticSubject slice_subject(reader.diagnostics, *entry);
      report_unsupported_slice(reader.diagnostics, *entry);
      result = Outcome::kFailed;
      continue;
    }
    if (analyze_object(analysis, stream, *entry, slice.offset, slice.size, kind) ==
        Outcome::kFailed) {
      result = Outcome::kFailed;
    }
  }
  return result;
}

}  // namespace

Outcome analyze_file(Analysis& analysis, InputStream& stream, ObjectEntry& entry) {
  const DiagnosticSubject subject(analysis.reader.diagnostics, entry);
  if (reads_written_file(analysis, stream, entry.path)) return Outcome::kFailed;
  use_classification_positions(stream);
  FileKind kind = FileKind::kCoffObject;
  Outcome result = Outcome::kOk;
  if (!classify_file(analysis.reader, stream, entry.name.c_str(), entry.path.c_str(), kind,
                     result)) {
    return result;
  }
  use_positions_of(stream, kind);
  if (object_format(kind).is_archive) {
    entry.format = object_format(kind).name;
    return analyze_archive(analysis, stream, entry, kind == FileKind::kThinArchive);
  }
  if (kind == FileKind::kUniversal) {
    return analyze_universal(analysis, stream, entry, 0, stream.size, true);
  }
  // A shared library met again (by a link, or by another name of the same file) is read
  // once: its exports would otherwise define its blocks twice.
  FileIdentity identity;
  const bool identified = input_identity(stream, identity);
  if (analysis.log != nullptr) {
    // Read ahead, whether a library was met before is known only in its turn.
    analysis.log->identified = identified;
    analysis.log->identity = identity;
    analysis.log->diagnostics_before_object = analysis.log->diagnostics.size();
    return analyze_object(analysis, stream, entry, 0, stream.size, kind);
  }
  if (identified && analysis.libraries_read.count(identity) != 0) return Outcome::kOk;
  result = analyze_object(analysis, stream, entry, 0, stream.size, kind);
  if (identified && entry.role == InputRole::kLibrary) analysis.libraries_read.insert(identity);
  return result;
}

namespace {

// Gives the object's latest reference of the layout's block the layout; `members` is room
// for its members.
Outcome add_layout(Registry& registry, const ObjectEntry& object,
                   const ObjectDeclarations& declarations, const CommonLayout& layout,
                   std::vector<LayoutMember>& members) {
  members.clear();
  for (uint32_t i = 0; i < layout.member_count; ++i) {
    const MemberLayout& member = declarations.members[layout.first_member + i];
    members.push_back(
        LayoutMember{member.offset, member.size, member.name, member.type, member.dimensions});
  }
  return add_reference_layout(registry, object, layout.symbol, layout.routine, layout.file,
                              layout.line, members);
}

}  // namespace

bool register_declarations(Registry& registry, Diagnostics& diagnostics, const ObjectEntry& object,
                           const ObjectDeclarations& declarations) {
  bool registered = true;
  bool marks = false;  // some definition without its size marks the blocks it initialises
  // A definition bounded by the layout (COFF, Mach-O) of a block that the object also
  // declares marks that declaration, as a definition without a size does; one of a block
  // the object does not declare (a BLOCK DATA as mingw-w64 gfortran writes it) is a
  // reference of its own, as an ELF definition is. So is every one of a linked program's,
  // whose routines' layouts declare the block that its BLOCK DATA initialised.
  std::vector<std::string_view> declared_here;
  for (const Declaration& declaration : declarations.items) {
    if (declaration.bounded) {
      for (const Declaration& other : declarations.items) {
        if (other.kind == Declaration::kCommon) declared_here.push_back(other.name);
      }
      std::sort(declared_here.begin(), declared_here.end());
      break;
    }
  }
  const auto marks_its_declaration = [&](const Declaration& declaration) {
    return !declaration.has_size ||
           (declaration.bounded && !declarations.program &&
            std::binary_search(declared_here.begin(), declared_here.end(), declaration.name));
  };
  // A linked program's declarations are its layouts, one each, in order: each layout goes
  // to the reference just made for it.
  size_t layout = 0;
  std::vector<LayoutMember> members;
  for (const Declaration& declaration : declarations.items) {
    switch (declaration.kind) {
      case Declaration::kCommon:
        if (declarations.program && registered && layout < declarations.layouts.size()) {
          if (add_common_reference(registry, object, declaration.name, declaration.size) !=
                  Outcome::kOk ||
              add_layout(registry, object, declarations, declarations.layouts[layout++], members) !=
                  Outcome::kOk) {
            registered = false;
          }
          break;
        }
        if (add_common_reference(registry, object, declaration.name, declaration.size,
                                 declaration.alignment) != Outcome::kOk) {
          registered = false;
        }
        break;
      case Declaration::kProcedure:
        if (add_procedure(registry, object, declaration.name) != Outcome::kOk) registered = false;
        break;
      case Declaration::kCalledProcedure:
        if (add_procedure_call(registry, object, declaration.name) != Outcome::kOk) {
          registered = false;
        }
        break;
      case Declaration::kInitializedData:
        // A definition that records its size is a reference of its own, in its place.
        if (marks_its_declaration(declaration)) {
          marks = true;
        } else if (add_initialized_reference(registry, object, declaration.name, declaration.size,
                                             declaration.bounded,
                                             declaration.alignment) != Outcome::kOk) {
          registered = false;
        }
        break;
    }
  }
  // Each layout of the debug information goes to the object's reference of its block.
  for (const CommonLayout& each : declarations.layouts) {
    if (!registered || declarations.program) break;
    if (add_layout(registry, object, declarations, each, members) != Outcome::kOk) {
      registered = false;
    }
  }
  // Running out of memory loses declarations: that is said, never passed over.
  if (!registered) report_out_of_memory(diagnostics, object.path);
  // Otherwise a block counts as initialised by this object when the object also defines
  // data of the block's name; the mark goes to the first reference with this object's
  // path.
  if (!marks) return registered;
  for (const Declaration& declaration : declarations.items) {
    if (declaration.kind != Declaration::kInitializedData || !marks_its_declaration(declaration)) {
      continue;
    }
    if (CommonBlock* block = find_block(registry, declaration.name)) {
      mark_initialized(*block, object.path);
    }
  }
  return registered;
}

bool is_written_file(Analysis& analysis, const FileIdentity& identity, const std::string& path) {
  bool written = false;
  for (WrittenFile& file : analysis.written_files) {
    if (file.identity != identity) continue;
    report_error(analysis.reader.diagnostics,
                 strprintf("Error: Input file \"%s\" is also the %s file \"%s\"; it is left as "
                           "it was.\n",
                           path.c_str(), file.role, file.name.c_str()));
    file.is_input = true;
    written = true;
  }
  if (written) analysis.reader.diagnostics.stop_reading = true;
  return written;
}

void report_open_failure(Diagnostics& diagnostics, const std::string& name) {
  report_error(diagnostics, strprintf("Error opening input file \"%s\"\n", name.c_str()));
}

void report_entry_failure(Diagnostics& diagnostics, const std::string& path) {
  report_error(diagnostics, strprintf("Error setting up internal buffer for %s\n", path.c_str()));
}

}  // namespace drelk
