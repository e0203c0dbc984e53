// File classification and the archive walks.
#include <algorithm>
#include <cstring>
#include <string>

#include "objreader/coff.h"
#include "objreader/objreader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

using coff::kArchiveMemberHeaderSize;
using coff::kArchiveMemberNameSize;

constexpr const char* kLabel = "analyze";

// The relative seek of the runtime: a signed 32-bit amount, whose result nobody tests.
void skip_forward(InputStream& stream, uint32_t amount) {
  stream_skip(stream, static_cast<int32_t>(amount));
}

bool is_executable_signature(uint32_t word) {
  return word == coff::kDosSignature || word == coff::kNeSignature || word == coff::kLeSignature;
}

// Makes the entry of a member, named in the report by the header bytes before the first
// '/', or by none when the name field starts with '/' (a long name) or holds no '/' at all.
// Reports and returns nullptr when the entry cannot be made: the member is then not read.
const ObjectEntry* member_entry(Analysis& analysis, const ObjectEntry& library,
                                const uint8_t* header, size_t header_bytes) {
  const void* slash = std::memchr(header, '/', header_bytes);
  std::string member_name;
  if (slash != nullptr && slash != header) {
    member_name.assign(reinterpret_cast<const char*>(header),
                       static_cast<const uint8_t*>(slash) - header);
    // The name is shown as a C string: it ends at the first NUL.
    member_name.resize(std::strlen(member_name.c_str()));
    member_name = "(" + member_name + ")";
  } else {
    member_name = "(no obj file given)";
  }
  const ObjectEntry* member = make_member_entry(
      analysis.registry, strprintf("%s %s", library.path.c_str(), member_name.c_str()),
      strprintf("%s %s", library.name.c_str(), member_name.c_str()));
  if (member == nullptr) {
    report_error(analysis.diagnostics,
                 strprintf("Error setting up internal buffer for %s\n", library.path.c_str()));
  }
  return member;
}

// True when the 16-byte name field is "/" followed by blanks: a linker member.
bool is_linker_member_name(const uint8_t* name) {
  if (name[0] != '/') return false;
  for (size_t i = 1; i < kArchiveMemberNameSize; ++i) {
    if (name[i] != ' ') return false;
  }
  return true;
}

// Members that hold no object: linker members, the long-names member "//", the 64-bit
// symbol table "/SYM64/" and the "/<...>/" members of hybrid archives.
bool is_special_member_name(const uint8_t* name) {
  if (is_linker_member_name(name)) return true;
  const std::string field(reinterpret_cast<const char*>(name), kArchiveMemberNameSize);
  if (field.compare(0, 2, "//") == 0) return true;
  if (field.compare(0, 7, "/SYM64/") == 0) return true;
  return field.compare(0, 2, "/<") == 0 && field.find(">/") != std::string::npos;
}

// The decimal size field of a member header: digits, then blanks.
bool parse_member_size(const uint8_t* header, uint64_t& size) {
  const uint8_t* field = header + coff::kArchiveMemberSize;
  size_t i = 0;
  size = 0;
  while (i < coff::kArchiveMemberSizeSize && field[i] >= '0' && field[i] <= '9') {
    size = size * 10 + (field[i] - '0');
    ++i;
  }
  if (i == 0) return false;
  for (; i < coff::kArchiveMemberSizeSize; ++i) {
    if (field[i] != ' ') return false;
  }
  return true;
}

// Archives with a second linker member: its table of member offsets gives the members.
int walk_linker_member_offsets(Analysis& analysis, InputStream& stream,
                               const ObjectEntry& library) {
  skip_forward(stream, kArchiveMemberHeaderSize);
  uint8_t word[4] = {};
  if (read_checked(analysis, stream, 4, word, kLabel) == 0) {
    report_error(analysis.diagnostics, "Error reading number of members in library\n");
    return kAnalysisFailed;
  }
  const uint32_t member_count = coff::load_u32(word);

  // A damaged count can claim 2^32 - 1 members: the offsets are read one at a time and
  // the array holds no more than the file can back.
  std::vector<uint32_t> offsets;
  offsets.reserve(
      static_cast<size_t>(std::min<uint64_t>(member_count, stream_remaining(stream) / 4)));
  for (uint32_t i = 0; i < member_count; ++i) {
    if (read_checked(analysis, stream, 4, word, kLabel) == 0) {
      report_error(analysis.diagnostics, "Error reading library members");
      return kAnalysisFailed;
    }
    offsets.push_back(coff::load_u32(word));
  }

  for (const uint32_t offset : offsets) {
    seek_to(stream, offset);
    uint8_t header[kArchiveMemberHeaderSize] = {};
    const size_t got = read_counted(analysis, stream, sizeof header, header, kLabel);
    const ObjectEntry* member = member_entry(analysis, library, header, got);
    if (member == nullptr) return kAnalysisFailed;
    if (analyze_object(analysis, stream, *member, offset + kArchiveMemberHeaderSize) ==
        kAnalysisFailed) {
      return kAnalysisFailed;
    }
  }
  return kAnalysisOk;
}

// Archives without a second linker member, as GNU ar and llvm-ar write them: the members
// follow one another, each header's size field giving the length of its data.
int walk_members_in_order(Analysis& analysis, InputStream& stream, const ObjectEntry& library) {
  uint64_t position = stream.position;
  while (true) {
    if (!stream_seek(stream, static_cast<int64_t>(position))) {
      report_error(analysis.diagnostics, "Error reading library member header\n");
      return kAnalysisFailed;
    }
    if (stream_remaining(stream) == 0) return kAnalysisOk;
    uint8_t header[kArchiveMemberHeaderSize] = {};
    uint64_t size = 0;
    if (read_checked(analysis, stream, sizeof header, header, kLabel) == 0 ||
        !parse_member_size(header, size)) {
      report_error(analysis.diagnostics, "Error reading library member header\n");
      return kAnalysisFailed;
    }
    const uint64_t data = position + kArchiveMemberHeaderSize;
    if (!is_special_member_name(header)) {
      const ObjectEntry* member = member_entry(analysis, library, header, kArchiveMemberNameSize);
      if (member == nullptr) return kAnalysisFailed;
      if (analyze_object(analysis, stream, *member, static_cast<uint32_t>(data)) ==
          kAnalysisFailed) {
        return kAnalysisFailed;
      }
    }
    position = data + size + (size & 1);
  }
}

// True when the member header at the stream's position is a linker member's; the
// position is kept.
bool at_linker_member(InputStream& stream) {
  uint8_t name[kArchiveMemberNameSize] = {};
  const uint32_t start = stream.position;
  const size_t got = stream.error ? 0 : stream_read(stream, name, sizeof name);
  stream_seek(stream, start);
  return got == sizeof name && is_linker_member_name(name);
}

int walk_library(Analysis& analysis, InputStream& stream, const ObjectEntry& library) {
  // An archive written without a symbol index starts with its first object.
  if (!at_linker_member(stream)) return walk_members_in_order(analysis, stream, library);

  skip_forward(stream, kArchiveMemberHeaderSize);
  uint8_t word[4] = {};
  if (read_checked(analysis, stream, 4, word, kLabel) == 0) {
    report_error(analysis.diagnostics, "Error with number of symbols in library\n");
    return kAnalysisFailed;
  }
  const uint32_t symbol_count = swap_bytes32(coff::load_u32(word));
  skip_forward(stream, 4 * symbol_count);

  // Skip the NUL-terminated symbol names. A truncated library ends the skip at the end
  // of the file, with one diagnostic for the failed read.
  for (uint32_t i = 0; i < symbol_count; ++i) {
    uint8_t byte = 0;
    do {
      if (read_checked(analysis, stream, 1, &byte, kLabel) == 0) {
        report_error(analysis.diagnostics, "Error reading library symbol names\n");
        return kAnalysisFailed;
      }
    } while (byte != 0);
  }
  if (stream.position & 1) skip_forward(stream, 1);

  // Only some archive writers put a second linker member here; without one, the members
  // are walked in file order.
  if (at_linker_member(stream)) return walk_linker_member_offsets(analysis, stream, library);
  return walk_members_in_order(analysis, stream, library);
}

}  // namespace

size_t read_counted(Analysis& analysis, InputStream& stream, size_t count, void* destination,
                    const char* label) {
  const size_t got = stream.error ? 0 : stream_read(stream, destination, count);
  if (stream.error) {
    report_error(analysis.diagnostics, strprintf("DRELK Internal: fread failed in %s", label));
  } else if (got < count) {
    report_error(analysis.diagnostics,
                 strprintf("DRELK Internal: fread returned %zu bytes (%zu expected). [%s]", got,
                           count, label));
  }
  return got;
}

size_t read_checked(Analysis& analysis, InputStream& stream, size_t count, void* destination,
                    const char* label) {
  const size_t got = read_counted(analysis, stream, count, destination, label);
  return got == count && !stream.error ? count : 0;
}

bool seek_to(InputStream& stream, uint32_t offset) {
  return stream_seek(stream, offset);
}

uint32_t swap_bytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

int analyze_file(Analysis& analysis, InputStream& stream, const ObjectEntry& entry) {
  uint8_t bytes[coff::kArchiveMagicSize] = {};
  if (read_checked(analysis, stream, 2, bytes, entry.name.c_str()) == 0) {
    report_error(analysis.diagnostics, "Error reading file signature\n");
    return kAnalysisOk;
  }
  if (is_executable_signature(coff::load_u16(bytes))) {
    report_error(analysis.diagnostics,
                 strprintf("The file %s is not an object file.", entry.path.c_str()));
    return kAnalysisOk;
  }
  if (!seek_to(stream, 0)) {
    report_error(analysis.diagnostics, "Error seeking to start of file\n");
    return kAnalysisFailed;
  }
  if (read_checked(analysis, stream, 4, bytes, kLabel) == 0) {
    report_error(analysis.diagnostics, "Error reading file signature\n");
    return kAnalysisFailed;
  }
  if (coff::load_u32(bytes) == coff::kPeSignature) {
    report_error(analysis.diagnostics,
                 strprintf("The file %s is not an object file.", entry.path.c_str()));
    return kAnalysisFailed;
  }
  if (!seek_to(stream, 0)) {
    report_error(analysis.diagnostics, "Error seeking to start of file header\n");
    return kAnalysisFailed;
  }
  if (read_checked(analysis, stream, coff::kArchiveMagicSize, bytes, kLabel) == 0) {
    report_error(analysis.diagnostics, "Error reading file signature\n");
    return kAnalysisFailed;
  }
  if (std::memcmp(bytes, coff::kArchiveMagic, coff::kArchiveMagicSize) != 0) {
    if (!seek_to(stream, 0)) {
      report_error(analysis.diagnostics, "Error seeking to start of file header\n");
      return kAnalysisFailed;
    }
    return analyze_object(analysis, stream, entry, 0) == kAnalysisFailed ? kAnalysisFailed
                                                                         : kAnalysisOk;
  }
  return walk_library(analysis, stream, entry);
}

}  // namespace drelk
