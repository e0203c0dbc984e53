// The archive walker: the members of an "!<arch>\n" library or an AIX big archive, one at a
// time, for every archive style drelk reads. With a second linker member (the Microsoft format) its
// table of member offsets gives the members; without one (GNU ar, llvm-ar, BSD ar, ar without a
// symbol index) the members are walked in file order by their headers' size fields. A
// thin archive ("!<thin>\n", GNU ar's T modifier) is walked in file order too, but its
// members hold no data: each names a file relative to the archive's folder. The walker
// yields each member's name and offsets; what the member is, where its file is, and how
// it is shown, is for its callers to decide.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/archive.h"
#include "objreader/reader.h"

namespace drelk {

struct ArchiveMember {
  // The member's name as the archive stores it (a long name whole, from the long-names
  // member), or nothing (name_known false) when the archive gives none that can be shown.
  std::string name;
  bool name_known = false;
  // Where the member's data starts; the stream stands there when the member is yielded
  // (unless the seek to its header failed, when it stands where that left it).
  uint64_t data_offset = 0;
  // The size of its data as its header gives it, when the header could be read.
  std::optional<uint64_t> data_size;
  // A member of a thin archive: its data is the file `name` names, not in the archive.
  bool external = false;
  // The bytes from data_offset that the member's object may take: its size, cut at the end
  // of the archive and of the stream (a member of a thin archive: unset).
  uint64_t extent = 0;
};

struct ArchiveWalk {
  bool thin = false;               // "!<thin>\n": members hold no data
  bool by_member_offsets = false;  // the second linker member's table, else file order
  std::vector<uint32_t> member_offsets;
  size_t next_member = 0;
  // The distinct member offsets in order, and which of them were walked: a damaged table
  // may list one member any number of times, and each is analysed once.
  std::vector<uint32_t> distinct_offsets;
  std::vector<bool> walked;
  bool repeat_reported = false;
  uint64_t next_header = 0;  // in file order: where the next member header stands
  // Where the archive lies in the stream: a universal file's slice may be one. The second
  // linker member's offsets count from `base`; the walk in file order ends at `end`.
  uint64_t base = 0;
  uint64_t end = UINT64_MAX;
  // The long-names member "//": the names that do not fit a header, which refers to them
  // as "/<offset>".
  std::string long_names;
  // An AIX big archive ("<bigaf>\n"): members in the order their headers link them, from
  // the first member to the last that the fixed header names, each at most once. The
  // member table and the symbol tables, which the chain may run on into, are no members.
  bool big = false;
  uint64_t last_member = 0;
  uint64_t tables[3] = {0, 0, 0};
  std::set<uint64_t> visited;
};

// Reads the linker members of the archive whose signature the stream has just passed, and
// sets up the walk; `thin` for a thin archive's signature; the archive starts at `base` in
// the stream and ends at `end`. Returns Outcome::kFailed after a diagnostic when they cannot
// be read.
Outcome begin_archive_walk(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                           bool thin = false, uint64_t base = 0, uint64_t end = UINT64_MAX);

// Passes over the signature of the archive at `base` in the stream (a universal file's
// slice), to where begin_archive_walk starts.
void skip_archive_signature(InputStream& stream, uint64_t base);

enum class MemberStep { kMember, kEnd, kFailed };

// The next member that may hold an object (linker members, symbol indexes of every style
// and the long-names member are passed over). kFailed after a diagnostic when a member header
// cannot be read.
MemberStep next_archive_member(ObjectReader& reader, InputStream& stream, ArchiveWalk& walk,
                               ArchiveMember& member);

}  // namespace drelk
