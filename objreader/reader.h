// The object readers: what every format reader shares. A reader is handed an object (a
// file, or a member of an archive) at an offset of an input stream, checks what it reads
// with the system's diagnostics, and returns what the object declares: COMMON
// declarations, defined procedures and initialised data, in symbol-table order. It knows
// nothing of the registry or the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "dwarf/dwarf.h"
#include "formats/bytes.h"
#include "formats/outcome.h"
#include "platform/diagnostics.h"
#include "platform/input_stream.h"

namespace drelk {

struct Declaration {
  enum Kind : uint8_t {
    kCommon,           // a COMMON block declared with `size` bytes
    kProcedure,        // a procedure defined in the object
    kInitializedData,  // external data defined in the object: initialises a block of its name
    kCalledProcedure,  // a procedure the object calls but does not define
  };
  Kind kind = kCommon;
  bool has_size = false;  // initialised data whose format records its size
  std::string_view name;  // valid until the reader reads its next object
  uint64_t size = 0;
  // A COMMON declaration's: the alignment it asks for; initialised data's: the alignment
  // that its place in its section is sure to have. 0 where the format records none.
  uint64_t alignment = 0;
  // Initialised data whose format records no size (COFF, Mach-O): `size` is then the bound
  // that the object's layout gives, the bytes up to the next symbol of its section or to
  // the section's end.
  bool bounded = false;
};

// The alignment that data at `offset` in a section aligned to `section_alignment` is sure
// to have: the largest power of two that divides both (a section aligned to 0 or 1 bytes
// gives 1). Offsets are a relocatable object's offsets in the section or a linked image's
// addresses, whose sections the linker placed at their alignment.
inline uint64_t placed_alignment(uint64_t offset, uint64_t section_alignment) {
  const uint64_t section =
      section_alignment == 0 ? 1 : section_alignment & (~section_alignment + 1);
  if (offset == 0) return section;
  const uint64_t place = offset & (~offset + 1);
  return place < section ? place : section;
}

// A shared library's export that carries a symbol version: its bare name, which names the
// block, and the version it is exported with ("@@V1", "@V0").
struct ExportVersion {
  std::string_view name;
  std::string_view version;
};

// What one object declares. Whether its analysis failed (which ends an archive walk) is
// the reader's result.
struct ObjectDeclarations {
  std::vector<Declaration> items;  // in symbol-table order
  bool refused = false;            // the file is no object file (an executable)
  // The file is a shared library (ELF ET_DYN, Mach-O MH_DYLIB or MH_BUNDLE, a PE DLL):
  // its items are the data it exports, definitions that never make a name a block.
  bool library = false;
  std::vector<ExportVersion> versions;  // of a library's versioned exports
  // The file is a linked program or library whose debug information was read (-m).
  bool program = false;
  // The COMMON block layouts of the object's debug information, read only when asked for
  // (ObjectReader::read_layouts), in the order of their source files and lines, and the
  // members of them all, each layout's in offset order.
  std::vector<CommonLayout> layouts;
  std::vector<MemberLayout> members;
};

// The debug sections of the object being read, as the container holds them for the DWARF
// reader: each section's bytes and, in a relocatable ELF object with RELA relocations, the
// value that each relocated field takes (its addend, plus the section symbol's value).
struct DebugRelocation {
  uint64_t offset = 0;  // of the field in the section
  uint64_t value = 0;   // what the field holds once relocated
};
struct DebugSectionData {
  bool present = false;
  std::vector<uint8_t> bytes;
  std::vector<DebugRelocation> relocations;  // sorted by offset
};
struct DwarfTables {
  DebugSectionData sections[kDebugSectionCount];
  bool big_endian = false;
  // What the symbol table puts before a block's linkage name (i386 COFF's '_').
  std::string_view symbol_prefix;
  // The texts that the layouts show but the sections do not hold as such (types, bounds,
  // paths, prefixed symbols), kept in place until the next object.
  std::deque<std::string> texts;
  DwarfStorageHandle storage;  // the DWARF reader's, kept from one object to the next
};

// Tables that a format's room keeps in the reader from one object to the next, of a type
// only the room knows: their buffers are reused, so that a run over thousands of objects
// does not allocate them each time.
struct RoomTables {
  RoomTables() = default;
  RoomTables(const RoomTables&) = delete;
  RoomTables& operator=(const RoomTables&) = delete;
  ~RoomTables() {
    if (release != nullptr) release(tables);
  }
  void* tables = nullptr;
  void (*release)(void* tables) = nullptr;
};

// The tables of type `Tables` that `room` holds, made on first use.
template <typename Tables>
Tables& room_tables(RoomTables& room) {
  if (room.tables == nullptr) {
    room.tables = new Tables();
    room.release = [](void* tables) { delete static_cast<Tables*>(tables); };
  }
  return *static_cast<Tables*>(room.tables);
}

// The state of the readers across one run: the diagnostic channel, the tables of the
// object being read, and what it declares. One per run, so that tests and the fuzz target
// can run many independent analyses in one process.
struct ObjectReader {
  explicit ObjectReader(Diagnostics& channel) : diagnostics(channel) {}
  Diagnostics& diagnostics;
  std::string_view object_path;  // the object being read, as diagnostics name it
  // Each format room's tables (coff/, elf/, macho/, bitcode/, xcoff/), and the debug sections
  // that every room hands to the DWARF reader.
  RoomTables coff;
  RoomTables elf;
  RoomTables macho;
  RoomTables bitcode;
  RoomTables xcoff;
  DwarfTables dwarf;
  ObjectDeclarations declarations;
  // Whether the debug information's COMMON block layouts are read (-m): without it no
  // debug section is even located.
  bool read_layouts = false;
  // Section overlaps reported for the object being read: a few kilobytes of hostile
  // section table can claim billions of them.
  uint32_t overlaps_listed = 0;
  bool overlaps_capped = false;
};

// Overlap diagnostics listed for one object before the rest are summed up in one line.
inline constexpr uint32_t kMaxOverlapsListed = 10000;

// Reads `count` bytes in one request. Returns `count`, or 0 after reporting a failed or
// short read (report_short_read).
size_t read_checked(ObjectReader& reader, InputStream& stream, size_t count, void* destination,
                    const char* label);

// The same read, reporting the same diagnostics, but returning the bytes that came back.
size_t read_counted(ObjectReader& reader, InputStream& stream, size_t count, void* destination,
                    const char* label);

// Reads a table of `count` bytes into `buffer`, never allocating more than the stream can
// still return: a damaged header may claim gigabytes that the file does not hold. A short
// read is reported as a read of the full count would be.
Outcome read_table(ObjectReader& reader, InputStream& stream, uint64_t count,
                   std::vector<uint8_t>& buffer, const char* label);

// Reads up to `count` bytes at `offset` without a diagnostic, and puts the position back:
// what identification looks at. Returns the bytes read.
size_t peek_bytes(InputStream& stream, uint64_t offset, void* destination, size_t count);

// Reads the first `count` bytes of the object at `base` in the stream, wherever an earlier
// reader left the stream. False after the failed read's diagnostic and "Error reading file
// header".
bool read_file_header(ObjectReader& reader, InputStream& stream, uint64_t base, size_t count,
                      uint8_t* destination);

// Forgets what the previous object declared and the checks it used up, before a reader
// reads the object shown as `path`.
void begin_object(ObjectReader& reader, std::string_view path);

// Reads `size` bytes at `base` + `offset` of the stream into `buffer`, never allocating
// more than the stream holds; a stretch the stream cannot reach is reported as a short read.
// For formats with 64-bit offsets (ELF, Mach-O).
Outcome read_table_at(ObjectReader& reader, InputStream& stream, uint64_t base, uint64_t offset,
                      uint64_t size, std::vector<uint8_t>& buffer);

// True when a table was read. Running out of memory is reported here; a failed read has
// been reported by the read itself.
bool table_was_read(ObjectReader& reader, Outcome result);

// Says why a symbol table of `bytes` bytes could not be read. True when it was read: the
// object's symbols can be scanned.
bool symbol_table_was_read(ObjectReader& reader, Outcome result, uint64_t bytes);

// Says why a symbol string table could not be read, and leaves it empty: the object is
// still scanned, and every named symbol is then reported as outside it.
void check_string_table_read(ObjectReader& reader, Outcome result, std::vector<uint8_t>& table);

// The name at `offset` of a symbol string table (ELF, Mach-O): up to its NUL, or to the
// table's end when none ends it. False, after the diagnostic of a name outside the string
// table at the symbol record's position, when the offset lies outside the table.
bool name_in_string_table(ObjectReader& reader, const std::vector<uint8_t>& strings,
                          uint32_t offset, uint64_t record_offset, std::string_view& name);

// Reports that the object at `path` has a header of `format` ("ELF", "Mach-O") that is not
// read: another class, byte order or version.
void report_unsupported_header(ObjectReader& reader, const char* format, std::string_view path);

// Counts one more section overlap of the object being read. False once the object has
// listed as many as a hostile section table may cost: the first refusal says that further
// overlaps of the object are not listed, and its layout checks stop there.
bool may_list_overlap(ObjectReader& reader);

// Reports the overlap of sections `i` and `j` in the words of `format`, a message with two
// "%u"; beyond the run's listing only counts it: a library of hostile members can claim
// billions of overlaps.
void report_overlap(ObjectReader& reader, const char* format, unsigned i, unsigned j);

// Appends a declaration to what the object declares. False when it cannot be held.
inline bool declare(ObjectReader& reader, const Declaration& declaration) {
  try {
    reader.declarations.items.push_back(declaration);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace drelk
