// The archive walker.
#include "objreader/archive.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "formats/archive.h"
#include "formats/xcoff.h"
#include "objreader/messages.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

using archive::kMemberHeaderSize;
using archive::kMemberNameSize;

constexpr const char* kLabel = "analyze";
constexpr const char* kMemberHeaderUnreadable = "Error reading library member header\n";
constexpr char kMemberListedAgain[] = "Error - library member at offset %llx listed again\n";
constexpr char kMemberOutsideLibrary[] =
    "Error - library member at offset %llx lies outside the library\n";
constexpr char kBigHeaderUnreadable[] = "Error reading big archive header\n";

// The relative seek of the runtime: a signed 32-bit amount, whose result nobody tests.
void skip_forward(InputStream& stream, uint32_t amount) {
  stream_skip(stream, static_cast<int32_t>(amount));
}

// A long name: "/<decimal offset>" in the name field refers to the long-names member, where
// the name ends with a NUL (Microsoft format) or with "/\n" (GNU format). False when the
// field is no such reference or the offset lies outside the long-names member.
bool long_member_name(const ArchiveWalk& walk, const uint8_t* field, ArchiveMember& member) {
  if (field[0] != '/' || field[1] < '0' || field[1] > '9') return false;
  uint64_t offset = 0;
  size_t i = 1;
  for (; i < kMemberNameSize && field[i] >= '0' && field[i] <= '9'; ++i) {
    offset = offset * 10 + (field[i] - '0');
  }
  for (; i < kMemberNameSize; ++i) {
    if (field[i] != ' ') return false;
  }
  if (offset >= walk.long_names.size()) return false;
  const std::string_view names(walk.long_names);
  size_t end = names.find_first_of(std::string_view("\0\n", 2), offset);
  if (end == std::string_view::npos) end = names.size();
  size_t length = end - offset;
  if (end < names.size() && names[end] == '\n' && length > 0 && names[end - 1] == '/') --length;
  member.name.assign(names.substr(offset, length));
  member.name_known = true;
  return true;
}

// The name a member header gives: a long name from the long-names member, or the bytes
// before the first '/' among the `count` bytes looked at, up to a NUL. None when there is
// no '/', or the field starts with one and names nothing the archive holds.
void member_name(const ArchiveWalk& walk, const uint8_t* header, size_t count,
                 ArchiveMember& member) {
  if (count >= kMemberNameSize && long_member_name(walk, header, member)) return;
  const void* slash = std::memchr(header, '/', count);
  member.name_known = slash != nullptr && slash != header;
  if (!member.name_known) {
    member.name.clear();
    return;
  }
  const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(slash) - header);
  member.name.assign(terminated_name(header, length));
}

// True when the 16-byte name field is "/" followed by blanks: a linker member.
bool is_linker_member_name(const uint8_t* name) {
  if (name[0] != '/') return false;
  for (size_t i = 1; i < kMemberNameSize; ++i) {
    if (name[i] != ' ') return false;
  }
  return true;
}

// Members that hold no object: linker members, the long-names member "//", the 64-bit
// symbol table "/SYM64/" and the "/<...>/" members of hybrid archives.
bool is_special_member_name(const uint8_t* name) {
  if (is_linker_member_name(name)) return true;
  const std::string_view field(reinterpret_cast<const char*>(name), kMemberNameSize);
  if (field.substr(0, 2) == "//") return true;
  if (field.substr(0, 7) == "/SYM64/") return true;
  return field.substr(0, 2) == "/<" && field.find(">/") != std::string_view::npos;
}

bool is_long_names_member(const uint8_t* name) {
  return name[0] == '/' && name[1] == '/';
}

// BSD ar's symbol indexes: "__.SYMDEF", "__.SYMDEF SORTED", "__.SYMDEF_64" and
// "__.SYMDEF_64 SORTED", named in the header or, in the "#1/N" style, in the data.
bool is_bsd_symbol_index(std::string_view name) {
  constexpr std::string_view kSymdef = "__.SYMDEF";
  return name.substr(0, kSymdef.size()) == kSymdef &&
         (name.size() == kSymdef.size() || name[kSymdef.size()] == ' ' ||
          name[kSymdef.size()] == '_');
}

// A decimal field: digits, then blanks to its end.
bool parse_decimal(const uint8_t* field, size_t width, uint64_t& value) {
  size_t i = 0;
  value = 0;
  while (i < width && field[i] >= '0' && field[i] <= '9') {
    // A big archive's 20-digit offsets can exceed 64 bits: they stop at the largest value.
    value = saturating_add(saturating_multiply(value, 10), field[i] - '0');
    ++i;
  }
  if (i == 0) return false;
  for (; i < width; ++i) {
    if (field[i] != ' ') return false;
  }
  return true;
}

// The decimal size field of a member header.
bool parse_member_size(const uint8_t* header, uint64_t& size) {
  return parse_decimal(header + archive::kMemberSize, archive::kMemberSizeSize, size);
}

// BSD ar's long names: "#1/<length>" in the name field, and the name in the first
// <length> bytes of the data, padded with NULs; the member's own data follows them.
constexpr std::string_view kBsdLongNamePrefix = "#1/";

bool bsd_name_length(const uint8_t* header, uint64_t& length) {
  const std::string_view field(reinterpret_cast<const char*>(header), kMemberNameSize);
  return field.substr(0, kBsdLongNamePrefix.size()) == kBsdLongNamePrefix &&
         parse_decimal(header + kBsdLongNamePrefix.size(),
                       kMemberNameSize - kBsdLongNamePrefix.size(), length);
}

// A name field without any '/': BSD ar's index when it names "__.SYMDEF...", blank-padded.
bool is_bsd_symbol_index_field(const uint8_t* header) {
  const std::string_view field(reinterpret_cast<const char*>(header), kMemberNameSize);
  const size_t end = field.find_last_not_of(' ');
  return end != std::string_view::npos && is_bsd_symbol_index(field.substr(0, end + 1));
}

// Keeps the long-names member's data, as much of it as the file holds; the position is
// kept. Its names only name members: a damaged one costs the names, not a diagnostic.
void load_long_names(InputStream& stream, uint64_t data, uint64_t size, ArchiveWalk& walk) {
  const uint64_t held = stream.size > data ? stream.size - data : 0;
  try {
    walk.long_names.resize(static_cast<size_t>(std::min(size, held)));
  } catch (const std::bad_alloc&) {
    walk.long_names.clear();
    return;
  }
  walk.long_names.resize(peek_bytes(stream, data, walk.long_names.data(), walk.long_names.size()));
}

// In the Microsoft format the long-names member follows the second linker member, whose
// header stands at `second`: found by the size fields, without a diagnostic.
void find_long_names(InputStream& stream, uint64_t second, ArchiveWalk& walk) {
  uint8_t header[kMemberHeaderSize] = {};
  uint64_t size = 0;
  if (peek_bytes(stream, second, header, sizeof header) != sizeof header ||
      !parse_member_size(header, size)) {
    return;
  }
  const uint64_t next = second + kMemberHeaderSize + size + (size & 1);
  if (peek_bytes(stream, next, header, sizeof header) != sizeof header ||
      !is_long_names_member(header) || !parse_member_size(header, size)) {
    return;
  }
  load_long_names(stream, next + kMemberHeaderSize, size, walk);
}

// True when the member header at the stream's position is a linker member's; the
// position is kept.
bool at_linker_member(InputStream& stream) {
  uint8_t name[kMemberNameSize] = {};
  return peek_bytes(stream, stream.position, name, sizeof name) == sizeof name &&
         is_linker_member_name(name);
}

// The second linker member's table of member offsets, read one at a time: a damaged
// count can claim 2^32 - 1 members, and the table holds no more than the file can back.
Outcome read_member_offsets(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk) {
  find_long_names(stream, stream.position, walk);
  skip_forward(stream, kMemberHeaderSize);
  uint8_t word[4] = {};
  if (read_checked(reader, stream, 4, word, kLabel) == 0) {
    report_error(reader.diagnostics, "Error reading number of members in library\n");
    return Outcome::kFailed;
  }
  const uint32_t member_count = load_u32(word);
  walk.member_offsets.reserve(
      static_cast<size_t>(std::min<uint64_t>(member_count, stream_remaining(stream) / 4)));
  for (uint32_t i = 0; i < member_count; ++i) {
    if (read_checked(reader, stream, 4, word, kLabel) == 0) {
      report_error(reader.diagnostics, "Error reading library members");
      return Outcome::kFailed;
    }
    walk.member_offsets.push_back(load_u32(word));
  }
  walk.distinct_offsets = walk.member_offsets;
  std::sort(walk.distinct_offsets.begin(), walk.distinct_offsets.end());
  walk.distinct_offsets.erase(
      std::unique(walk.distinct_offsets.begin(), walk.distinct_offsets.end()),
      walk.distinct_offsets.end());
  walk.walked.assign(walk.distinct_offsets.size(), false);
  walk.by_member_offsets = true;
  return Outcome::kOk;
}

// Marks the member at `offset` walked. False when it was walked before; the first repeat
// in a library is reported.
bool first_visit(ObjectReader& reader, ArchiveWalk& walk, uint32_t offset) {
  const auto at =
      std::lower_bound(walk.distinct_offsets.begin(), walk.distinct_offsets.end(), offset) -
      walk.distinct_offsets.begin();
  if (!walk.walked[static_cast<size_t>(at)]) {
    walk.walked[static_cast<size_t>(at)] = true;
    return true;
  }
  if (!walk.repeat_reported) {
    walk.repeat_reported = true;
    report_error(reader.diagnostics,
                 strprintf(kMemberListedAgain, static_cast<unsigned long long>(offset)));
  }
  return false;
}

MemberStep next_by_member_offsets(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                                  ArchiveMember& member) {
  uint32_t offset = 0;
  do {
    if (walk.next_member >= walk.member_offsets.size()) return MemberStep::kEnd;
    offset = walk.member_offsets[walk.next_member++];
  } while (!first_visit(reader, walk, offset));
  // Neither the seek nor the header read decides anything: the member is read where the
  // stream then stands, and named by what the header read returned.
  stream_seek(stream, static_cast<int64_t>(walk.base + offset));
  uint8_t header[kMemberHeaderSize] = {};
  const size_t got = read_counted(reader, stream, sizeof header, header, kLabel);
  member_name(walk, header, got, member);
  member.data_offset = walk.base + static_cast<uint32_t>(offset + kMemberHeaderSize);
  uint64_t size = 0;
  member.data_size.reset();
  if (got == sizeof header && parse_member_size(header, size)) member.data_size = size;
  member.external = false;
  return MemberStep::kMember;
}

MemberStep next_in_file_order(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                              ArchiveMember& member) {
  while (true) {
    const uint64_t position = walk.next_header;
    if (!stream_seek(stream, static_cast<int64_t>(position))) {
      report_error(reader.diagnostics, kMemberHeaderUnreadable);
      return MemberStep::kFailed;
    }
    if (stream_remaining(stream) == 0 || position >= walk.end) return MemberStep::kEnd;
    uint8_t header[kMemberHeaderSize] = {};
    uint64_t size = 0;
    if (read_checked(reader, stream, sizeof header, header, kLabel) == 0 ||
        !parse_member_size(header, size)) {
      report_error_at(reader.diagnostics, kMemberHeaderUnreadable, position);
      return MemberStep::kFailed;
    }
    const uint64_t data = position + kMemberHeaderSize;
    const bool special = is_special_member_name(header);
    // A thin archive's symbol index and long names are its only members with data.
    const bool holds_data = !walk.thin || special;
    walk.next_header = holds_data ? data + size + (size & 1) : data;
    if (is_long_names_member(header)) load_long_names(stream, data, size, walk);
    if (special) continue;
    member.data_offset = data;
    member.data_size = size;
    member.external = walk.thin;
    uint64_t name_length = 0;
    if (bsd_name_length(header, name_length)) {
      if (name_length > size) {
        report_error_at(reader.diagnostics, kMemberHeaderUnreadable, position);
        return MemberStep::kFailed;
      }
      // No more of the name is held than the file holds: its length may claim gigabytes.
      const uint64_t held = stream.size > data ? stream.size - data : 0;
      std::string name;
      try {
        name.resize(static_cast<size_t>(std::min(name_length, held)));
      } catch (const std::bad_alloc&) {
        report_out_of_memory(reader.diagnostics, {});
        return MemberStep::kFailed;
      }
      name.resize(peek_bytes(stream, data, name.data(), name.size()));
      name.resize(std::min(name.size(), name.find('\0')));
      if (is_bsd_symbol_index(name)) continue;
      member.name = std::move(name);
      member.name_known = !member.name.empty();
      member.data_offset = data + name_length;
      member.data_size = size - name_length;
      stream_seek(stream, static_cast<int64_t>(member.data_offset));
    } else {
      // Old BSD ar's short names end in no '/': such a name is not known, as in the other
      // styles, but its "__.SYMDEF" index is still no member.
      if (is_bsd_symbol_index_field(header)) continue;
      member_name(walk, header, kMemberNameSize, member);
    }
    return MemberStep::kMember;
  }
}

// The fixed-length header of a big archive: where its first and last members and its
// tables stand. The walk starts at the first member; an archive without members names 0.
Outcome begin_big_archive_walk(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk) {
  walk.big = true;
  uint8_t header[xcoff::kBigHeaderSize] = {};
  uint64_t first = 0;
  if (!stream_seek(stream, static_cast<int64_t>(walk.base)) ||
      read_checked(reader, stream, sizeof header, header, kLabel) == 0 ||
      !parse_decimal(header + xcoff::kBigHeaderFirstMember, xcoff::kBigHeaderOffsetSize, first) ||
      !parse_decimal(header + xcoff::kBigHeaderLastMember, xcoff::kBigHeaderOffsetSize,
                     walk.last_member)) {
    report_error(reader.diagnostics, kBigHeaderUnreadable);
    return Outcome::kFailed;
  }
  // The member table and the two global symbol tables: their offsets are not checked, as
  // they are never read.
  for (size_t k = 0; k < 3; ++k) {
    if (!parse_decimal(header + xcoff::kBigHeaderMemberTable + k * xcoff::kBigHeaderOffsetSize,
                       xcoff::kBigHeaderOffsetSize, walk.tables[k])) {
      walk.tables[k] = 0;
    }
  }
  walk.next_header = first;
  return Outcome::kOk;
}

bool is_big_archive_table(const ArchiveWalk& walk, uint64_t offset) {
  return offset == walk.tables[0] || offset == walk.tables[1] || offset == walk.tables[2];
}

// The next member of a big archive's chain: its header's fixed fields, its name, then
// "`\n" and its data. A chain that comes back to a member read before, or that points past
// the archive, ends with a diagnostic.
MemberStep next_in_big_archive(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                               ArchiveMember& member) {
  const uint64_t offset = walk.next_header;
  if (offset == 0 || is_big_archive_table(walk, offset)) return MemberStep::kEnd;
  if (!walk.visited.insert(offset).second) {
    report_error(reader.diagnostics,
                 strprintf(kMemberListedAgain, static_cast<unsigned long long>(offset)));
    return MemberStep::kEnd;
  }
  const uint64_t archive_end = std::min(stream.size, walk.end);
  const uint64_t position = saturating_add(walk.base, offset);
  if (position >= archive_end || archive_end - position < xcoff::kBigMemberHeaderSize) {
    report_error(reader.diagnostics,
                 strprintf(kMemberOutsideLibrary, static_cast<unsigned long long>(offset)));
    return MemberStep::kFailed;
  }
  uint8_t header[xcoff::kBigMemberHeaderSize] = {};
  uint64_t size = 0;
  uint64_t next = 0;
  uint64_t name_length = 0;
  if (!stream_seek(stream, static_cast<int64_t>(position)) ||
      read_checked(reader, stream, sizeof header, header, kLabel) == 0 ||
      !parse_decimal(header + xcoff::kBigMemberSize, xcoff::kBigHeaderOffsetSize, size) ||
      !parse_decimal(header + xcoff::kBigMemberNext, xcoff::kBigHeaderOffsetSize, next) ||
      !parse_decimal(header + xcoff::kBigMemberNameLength, xcoff::kBigMemberNameLengthSize,
                     name_length)) {
    report_error_at(reader.diagnostics, kMemberHeaderUnreadable, position);
    return MemberStep::kFailed;
  }
  // ar_namlen has four digits: the name costs at most 9999 bytes.
  std::string name(static_cast<size_t>(name_length), '\0');
  if (read_checked(reader, stream, name.size(), name.data(), kLabel) == 0 && !name.empty()) {
    report_error_at(reader.diagnostics, kMemberHeaderUnreadable, position);
    return MemberStep::kFailed;
  }
  walk.next_header = offset == walk.last_member ? 0 : next;
  member.name.assign(name.data(), std::min(name.size(), name.find('\0')));
  member.name_known = !member.name.empty();
  member.data_offset = position + xcoff::kBigMemberHeaderSize + name_length + (name_length & 1) +
                       xcoff::kBigMemberTerminatorSize;
  member.data_size = size;
  member.external = false;
  stream_seek(stream, static_cast<int64_t>(member.data_offset));
  return MemberStep::kMember;
}

}  // namespace

Outcome begin_archive_walk(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk, bool thin,
                           uint64_t base, uint64_t end) {
  walk = ArchiveWalk();
  walk.thin = thin;
  walk.base = base;
  walk.end = end;
  uint8_t magic[xcoff::kBigArchiveMagicSize] = {};
  if (peek_bytes(stream, base, magic, sizeof magic) == sizeof magic &&
      std::memcmp(magic, xcoff::kBigArchiveMagic, sizeof magic) == 0) {
    return begin_big_archive_walk(reader, stream, walk);
  }
  // An archive written without a symbol index starts with its first object.
  if (!at_linker_member(stream)) {
    walk.next_header = stream.position;
    return Outcome::kOk;
  }

  // The first linker member is stepped over by parsing it: a big-endian symbol count,
  // the symbols' member offsets, their NUL-terminated names, a pad byte to an even offset.
  skip_forward(stream, kMemberHeaderSize);
  uint8_t word[4] = {};
  if (read_checked(reader, stream, 4, word, kLabel) == 0) {
    report_error(reader.diagnostics, "Error with number of symbols in library\n");
    return Outcome::kFailed;
  }
  const uint32_t symbol_count = swap_bytes32(load_u32(word));
  skip_forward(stream, 4 * symbol_count);
  // A truncated library ends the skip at the end of the file, with one diagnostic for
  // the failed read. The names are passed a buffer at a time; what remains when the data
  // ends is read a byte at a time, which reports it.
  const uint32_t passed = stream_skip_strings(stream, symbol_count);
  for (uint32_t i = passed; i < symbol_count; ++i) {
    uint8_t byte = 0;
    do {
      if (read_checked(reader, stream, 1, &byte, kLabel) == 0) {
        report_error(reader.diagnostics, "Error reading library symbol names\n");
        return Outcome::kFailed;
      }
    } while (byte != 0);
  }
  if (stream.position & 1) skip_forward(stream, 1);

  // Only some archive writers put a second linker member here; without one, the members
  // are walked in file order. A thin archive's members are never read at an offset.
  if (!thin && at_linker_member(stream)) return read_member_offsets(reader, stream, walk);
  walk.next_header = stream.position;
  return Outcome::kOk;
}

MemberStep next_archive_member(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                               ArchiveMember& member) {
  const MemberStep step = walk.big ? next_in_big_archive(reader, stream, walk, member)
                          : walk.by_member_offsets
                              ? next_by_member_offsets(reader, stream, walk, member)
                              : next_in_file_order(reader, stream, walk, member);
  if (step == MemberStep::kMember && !member.external) {
    // What the member may hold: its size, but never beyond the archive or the stream.
    const uint64_t archive_end = std::min(stream.size, walk.end);
    const uint64_t held = archive_end > member.data_offset ? archive_end - member.data_offset : 0;
    member.extent = member.data_size ? std::min(*member.data_size, held) : held;
  }
  return step;
}

void skip_archive_signature(InputStream& stream, uint64_t base) {
  stream_seek(stream, static_cast<int64_t>(base + archive::kMagicSize));
}

}  // namespace drelk
