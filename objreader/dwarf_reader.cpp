// The DWARF reader: units of .debug_info (versions 2 to 5, 32-bit DWARF) with their
// abbreviation tables, the strings of .debug_str, .debug_line_str and .debug_str_offsets,
// the addresses of .debug_addr, and the file names of the line table header, as far as the
// COMMON block layouts need them.
//
// Only what leads to a DW_TAG_common_block is walked: a subtree of no interest is skipped
// by its DW_AT_sibling where it has a sound one. Every read is bounded by its section, and
// every length, offset, form and count is checked before it is used: what fails stops the
// reading of the object's debug information with one diagnostic.
#include "objreader/dwarf_reader.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "objreader/dwarf.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

using namespace dwarf;

// Limits that no compiler's output comes near, and that keep hostile input cheap.
constexpr size_t kMaxDepth = 256;                 // nesting of DIEs
constexpr int kMaxTypeChain = 16;                 // typedefs, qualifiers, arrays of arrays
constexpr size_t kMaxDimensions = 31;             // Fortran allows 15
constexpr int kMaxIndirections = 4;               // DW_FORM_indirect in a row
constexpr size_t kMaxMembersPerObject = 1 << 16;  // a few MB of layouts

constexpr const char* kSectionNames[kDebugSectionCount] = {
    ".debug_info", ".debug_abbrev",      ".debug_str",  ".debug_line_str",
    ".debug_line", ".debug_str_offsets", ".debug_addr",
};

// The reason a debug section cannot be read, carried up to the one diagnostic.
struct Damage {
  DebugSection section = kDebugInfo;
  const char* reason = nullptr;
};

// Loads of 2, 4 and 8 bytes in the byte order of the object.
uint64_t load_u16(const uint8_t* p, bool big_endian) {
  return big_endian ? (uint64_t{p[0]} << 8) | p[1] : p[0] | (uint64_t{p[1]} << 8);
}
uint64_t load_u32(const uint8_t* p, bool big_endian) {
  if (big_endian) {
    return (uint64_t{p[0]} << 24) | (uint64_t{p[1]} << 16) | (uint64_t{p[2]} << 8) | p[3];
  }
  return p[0] | (uint64_t{p[1]} << 8) | (uint64_t{p[2]} << 16) | (uint64_t{p[3]} << 24);
}
uint64_t load_u64(const uint8_t* p, bool big_endian) {
  const uint64_t first = load_u32(p, big_endian);
  const uint64_t second = load_u32(p + 4, big_endian);
  return big_endian ? (first << 32) | second : (second << 32) | first;
}

// A bounded reader over one section's bytes: a read past the end yields zeros and sets
// `failed`, which the caller checks once per record.
struct Cursor {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  bool big_endian = false;
  bool failed = false;

  bool has(size_t n) const { return !failed && at <= size && n <= size - at; }
  uint64_t fixed(size_t n) {
    if (!has(n)) {
      failed = true;
      return 0;
    }
    const uint8_t* p = data + at;
    at += n;
    // The sizes that forms and headers use, each loaded in one step.
    switch (n) {
      case 1:
        return p[0];
      case 2:
        return load_u16(p, big_endian);
      case 4:
        return load_u32(p, big_endian);
      case 8:
        return load_u64(p, big_endian);
      default:
        break;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t byte = p[i];
      value |= big_endian ? byte << (8 * (n - 1 - i)) : byte << (8 * i);
    }
    return value;
  }
  uint8_t u8() { return static_cast<uint8_t>(fixed(1)); }
  uint64_t uleb() {
    // Codes, attributes, forms and most numbers take one byte.
    if (at < size && !failed && (data[at] & 0x80) == 0) return data[at++];
    uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (!has(1)) {
        failed = true;
        return 0;
      }
      const uint8_t byte = data[at++];
      if (shift < 64) value |= uint64_t{byte & 0x7fu} << shift;
      if ((byte & 0x80) == 0) return value;
    }
  }
  int64_t sleb() {
    uint64_t value = 0;
    unsigned shift = 0;
    uint8_t byte = 0;
    do {
      if (!has(1)) {
        failed = true;
        return 0;
      }
      byte = data[at++];
      if (shift < 64) value |= uint64_t{byte & 0x7fu} << shift;
      shift += 7;
    } while (byte & 0x80);
    if (shift < 64 && (byte & 0x40)) value |= ~uint64_t{0} << shift;
    return static_cast<int64_t>(value);
  }
  void skip(uint64_t n) {
    if (!has(n)) {
      failed = true;
      return;
    }
    at += n;
  }
  // A NUL-terminated string at the cursor; fails when the section ends first.
  std::string_view string() {
    if (failed || at >= size) {
      failed = true;
      return {};
    }
    const auto* text = reinterpret_cast<const char*>(data + at);
    const auto* end = static_cast<const char*>(std::memchr(text, 0, size - at));
    if (end == nullptr) {
      failed = true;
      return {};
    }
    at += static_cast<size_t>(end - text) + 1;
    return std::string_view(text, static_cast<size_t>(end - text));
  }
};

Cursor cursor_over(const DwarfTables& tables, DebugSection section) {
  const std::vector<uint8_t>& bytes = tables.sections[section].bytes;
  return Cursor{bytes.data(), bytes.size(), 0, tables.big_endian, false};
}

// A string at `offset` of a string section; false when it does not lie inside.
bool string_at(const DwarfTables& tables, DebugSection section, uint64_t offset,
               std::string_view& text) {
  Cursor cursor = cursor_over(tables, section);
  if (offset >= cursor.size) return false;
  cursor.at = static_cast<size_t>(offset);
  text = cursor.string();
  return !cursor.failed;
}

// The attributes the layouts need, each with its place in a Die.
enum Slot : uint8_t {
  kName,
  kLinkageName,
  kType,
  kLocation,
  kDeclFile,
  kDeclLine,
  kByteSize,
  kEncoding,
  kLowerBound,
  kUpperBound,
  kCount,
  kSibling,
  kLanguage,
  kStmtList,
  kStrOffsetsBase,
  kAddrBase,
  kSlotCount,
  kNoSlot = kSlotCount,  // an attribute the layouts pass over
};
static_assert(kSlotCount <= 32, "a Die marks its attributes in 32 bits");

Slot slot_for(uint64_t attribute) {
  switch (attribute) {
    case DW_AT_name:
      return kName;
    case DW_AT_linkage_name:
    case DW_AT_MIPS_linkage_name:
      return kLinkageName;
    case DW_AT_type:
      return kType;
    case DW_AT_location:
      return kLocation;
    case DW_AT_decl_file:
      return kDeclFile;
    case DW_AT_decl_line:
      return kDeclLine;
    case DW_AT_byte_size:
      return kByteSize;
    case DW_AT_encoding:
      return kEncoding;
    case DW_AT_lower_bound:
      return kLowerBound;
    case DW_AT_upper_bound:
      return kUpperBound;
    case DW_AT_count:
      return kCount;
    case DW_AT_sibling:
      return kSibling;
    case DW_AT_language:
      return kLanguage;
    case DW_AT_stmt_list:
      return kStmtList;
    case DW_AT_str_offsets_base:
      return kStrOffsetsBase;
    case DW_AT_addr_base:
      return kAddrBase;
    default:
      return kNoSlot;
  }
}

// The slots that the layouts use of a DIE of `tag`: a name, a size and a sibling of any
// (a type reference may lead anywhere), and what each kind of entry is read for. The
// attributes of other slots are passed over as those of no interest.
uint32_t slots_used(uint64_t tag) {
  constexpr auto bit = [](Slot slot) { return uint32_t{1} << slot; };
  const uint32_t any = bit(kName) | bit(kByteSize) | bit(kSibling);
  switch (tag) {
    case DW_TAG_compile_unit:
    case DW_TAG_partial_unit:
      return any | bit(kLanguage) | bit(kStmtList) | bit(kStrOffsetsBase) | bit(kAddrBase);
    case DW_TAG_subprogram:
    case DW_TAG_entry_point:
    case DW_TAG_module:
      return any | bit(kDeclLine);
    case DW_TAG_common_block:
      return any | bit(kLinkageName) | bit(kDeclFile) | bit(kDeclLine);
    case DW_TAG_variable:
      return any | bit(kType) | bit(kLocation) | bit(kDeclLine);
    case DW_TAG_base_type:
      return any | bit(kEncoding);
    case DW_TAG_subrange_type:
      return any | bit(kLowerBound) | bit(kUpperBound) | bit(kCount);
    case DW_TAG_typedef:
    case DW_TAG_const_type:
    case DW_TAG_volatile_type:
    case DW_TAG_array_type:
      return any | bit(kType);
    default:
      return any;
  }
}

// The bytes a value of `form` takes in a unit of that address size and version, or
// kVariableSize where the value says its own length (LEB128 numbers, strings, blocks,
// indirect forms) or the form is unknown.
constexpr uint8_t kVariableSize = 0xff;
uint8_t form_size(uint64_t form, uint8_t address_size, uint16_t version) {
  switch (form) {
    case DW_FORM_flag_present:
    case DW_FORM_implicit_const:
      return 0;
    case DW_FORM_data1:
    case DW_FORM_ref1:
    case DW_FORM_flag:
    case DW_FORM_strx1:
    case DW_FORM_addrx1:
      return 1;
    case DW_FORM_data2:
    case DW_FORM_ref2:
    case DW_FORM_strx2:
    case DW_FORM_addrx2:
      return 2;
    case DW_FORM_strx3:
    case DW_FORM_addrx3:
      return 3;
    case DW_FORM_data4:
    case DW_FORM_ref4:
    case DW_FORM_strx4:
    case DW_FORM_addrx4:
    case DW_FORM_ref_sup4:
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_sec_offset:
    case DW_FORM_strp_sup:
      return 4;  // 32-bit DWARF
    case DW_FORM_data8:
    case DW_FORM_ref8:
    case DW_FORM_ref_sig8:
    case DW_FORM_ref_sup8:
      return 8;
    case DW_FORM_data16:
      return 16;
    case DW_FORM_addr:
      return address_size;
    case DW_FORM_ref_addr:
      return version <= 2 ? address_size : 4;
    default:
      return kVariableSize;
  }
}

// One abbreviation: its tag, whether DIEs of it have children, and its attribute fields,
// each with the slot it fills and the size of its form in the units that use the table.
struct AttributeField {
  uint64_t form = 0;
  int64_t implicit_const = 0;
  Slot slot = kNoSlot;
  uint8_t size = kVariableSize;
};
constexpr uint64_t kVariableSizes = UINT64_MAX;
struct Abbreviation {
  uint64_t code = 0;
  uint64_t tag = 0;
  bool has_children = false;
  uint32_t first_field = 0;
  uint32_t field_count = 0;
  // The bytes of all the attributes where every form has a fixed size, else
  // kVariableSizes: a DIE of no interest is then passed over in one step.
  uint64_t fixed_size = kVariableSizes;
};
struct AbbreviationTable {
  std::vector<Abbreviation> entries;  // by code where codes run 1, 2, 3...; else sorted
  std::vector<AttributeField> fields;
  bool dense = true;
  uint64_t offset = UINT64_MAX;  // where in .debug_abbrev the table was read from
  uint8_t address_size = 0;      // of the unit that the form sizes are for
  uint16_t version = 0;
};

// Gives the fields of the table the sizes of their forms in a unit of that address size
// and version.
void size_forms(AbbreviationTable& table, uint8_t address_size, uint16_t version) {
  table.address_size = address_size;
  table.version = version;
  for (AttributeField& field : table.fields)
    field.size = form_size(field.form, address_size, version);
  for (Abbreviation& entry : table.entries) {
    uint64_t total = 0;
    for (uint32_t i = 0; i < entry.field_count && total != kVariableSizes; ++i) {
      const uint8_t size = table.fields[entry.first_field + i].size;
      total = size == kVariableSize ? kVariableSizes : total + size;
    }
    entry.fixed_size = total;
  }
}

bool read_abbreviations(const DwarfTables& tables, uint64_t offset, uint8_t address_size,
                        uint16_t version, AbbreviationTable& table, Damage& damage) {
  if (table.offset == offset) {
    if (table.address_size != address_size || table.version != version) {
      size_forms(table, address_size, version);
    }
    return true;
  }
  table.entries.clear();
  table.fields.clear();
  table.dense = true;
  table.offset = UINT64_MAX;
  Cursor cursor = cursor_over(tables, kDebugAbbrev);
  damage.section = kDebugAbbrev;
  if (offset >= cursor.size) {
    damage.reason = "abbreviation table offset beyond the section";
    return false;
  }
  cursor.at = static_cast<size_t>(offset);
  while (true) {
    Abbreviation entry;
    entry.code = cursor.uleb();
    if (cursor.failed) break;
    if (entry.code == 0) {
      if (!table.dense) {
        std::sort(table.entries.begin(), table.entries.end(),
                  [](const Abbreviation& a, const Abbreviation& b) { return a.code < b.code; });
      }
      table.offset = offset;
      size_forms(table, address_size, version);
      return true;
    }
    entry.tag = cursor.uleb();
    entry.has_children = cursor.u8() != 0;
    entry.first_field = static_cast<uint32_t>(table.fields.size());
    const uint32_t used = slots_used(entry.tag);
    while (!cursor.failed) {
      AttributeField field;
      const uint64_t attribute = cursor.uleb();
      field.form = cursor.uleb();
      if (attribute == 0 && field.form == 0) break;
      field.slot = slot_for(attribute);
      if (field.slot != kNoSlot && ((used >> field.slot) & 1) == 0) field.slot = kNoSlot;
      if (field.form == DW_FORM_implicit_const) field.implicit_const = cursor.sleb();
      table.fields.push_back(field);
    }
    entry.field_count = static_cast<uint32_t>(table.fields.size()) - entry.first_field;
    if (entry.code != table.entries.size() + 1) table.dense = false;
    table.entries.push_back(entry);
  }
  damage.reason = "abbreviation table runs past the section";
  return false;
}

const Abbreviation* find_abbreviation(const AbbreviationTable& table, uint64_t code) {
  if (table.dense) return code - 1 < table.entries.size() ? &table.entries[code - 1] : nullptr;
  const auto found =
      std::lower_bound(table.entries.begin(), table.entries.end(), code,
                       [](const Abbreviation& a, uint64_t value) { return a.code < value; });
  return found != table.entries.end() && found->code == code ? &*found : nullptr;
}

// An attribute's value as read: the form it was read in, the number it holds (a constant,
// an offset, an index, or for strings and blocks the place of their bytes in .debug_info)
// and, for blocks, their length. Left uninitialised in a Die until read: a Die marks which
// of its values were.
struct Value {
  bool present;
  uint64_t form;
  uint64_t number;
  size_t length;
};
constexpr Value kAbsent{};

// The attributes the layouts need, of one DIE.
struct Die {
  size_t offset = 0;  // in .debug_info
  uint64_t tag = 0;
  bool has_children = false;
  uint32_t read = 0;  // a bit for each slot whose value was read
  Value values[kSlotCount];

  const Value& operator[](Slot slot) const { return (read >> slot) & 1 ? values[slot] : kAbsent; }
};

// A file of the line table: its name and the index of its directory, and its path once
// composed.
struct LineFile {
  std::string_view name;
  uint64_t directory = 0;
  bool composed = false;
  std::string_view path;
};

// One unit of .debug_info as the walk reads it.
struct Unit {
  size_t start = 0;  // of its header
  size_t end = 0;    // one past its last byte
  uint16_t version = 0;
  uint8_t address_size = 0;
  bool lower_bound_zero = false;  // a C-family language: arrays start at 0
  uint64_t str_offsets_base = 0;
  uint64_t addr_base = 0;
  bool has_line_table = false;
  uint64_t stmt_list = 0;
  bool files_read = false;
  std::vector<std::string_view> directories;
  std::vector<LineFile> files;
  bool files_one_based = false;  // DWARF 2 to 4 count file names from 1
};

// A member's type as the layouts show it, and its size, described once for each type DIE
// of a unit.
struct MemberType {
  std::string_view type;
  std::string_view dimensions;
  uint64_t size = 0;
};

// The types of a unit described so far, by the offset of their DIE: open addressing in a
// power of two of slots, at most half full. A new unit starts a new generation, and slots
// of an older one count as empty.
struct TypeCache {
  struct Slot {
    uint64_t offset = 0;
    uint32_t generation = 0;
    MemberType type;
  };
  std::vector<Slot> slots;
  size_t used = 0;
  uint32_t generation = 1;

  void clear() {
    used = 0;
    if (++generation == 0) {  // wrapped: the old marks could match again
      slots.assign(slots.size(), Slot());
      generation = 1;
    }
  }
  size_t home(uint64_t offset) const {
    return static_cast<size_t>((offset * 0x9e3779b97f4a7c15u) >> 32) & (slots.size() - 1);
  }
  const MemberType* find(uint64_t offset) const {
    if (slots.empty()) return nullptr;
    for (size_t i = home(offset);; i = (i + 1) & (slots.size() - 1)) {
      const Slot& slot = slots[i];
      if (slot.generation != generation) return nullptr;
      if (slot.offset == offset) return &slot.type;
    }
  }
  void insert(uint64_t offset, const MemberType& type) {
    if (2 * (used + 1) > slots.size()) grow();
    size_t i = home(offset);
    while (slots[i].generation == generation) i = (i + 1) & (slots.size() - 1);
    slots[i] = Slot{offset, generation, type};
    ++used;
  }
  void grow() {
    std::vector<Slot> old(std::max<size_t>(64, 2 * slots.size()));
    old.swap(slots);
    const uint32_t previous = generation;
    generation = 1;
    used = 0;
    for (const Slot& slot : old) {
      if (slot.generation == previous) insert(slot.offset, slot.type);
    }
  }
};

// What the walk keeps of each level of nesting: the tag, and the name of the routine or
// module that the level is (empty for other levels).
struct Level {
  uint64_t tag = 0;
  std::string_view scope;
  uint64_t scope_line = 0;  // where the routine or module begins
  bool in_block = false;    // the level is a common block: its variables are members
};

// The state of the reading of one object's debug information.
}  // namespace

struct DwarfStorage {
  AbbreviationTable abbreviations;
  std::vector<uint8_t> abbreviation_bytes;  // the .debug_abbrev the table was read from
  Unit unit;
  std::vector<Level> levels;
  TypeCache types;
};

void DwarfStorageDelete::operator()(DwarfStorage* storage) const {
  delete storage;
}

namespace {

struct Walk {
  Walk(const DwarfTables& sections, std::deque<std::string>& kept, ObjectReader& object_reader,
       DwarfStorage& storage)
      : tables(sections),
        texts(kept),
        reader(object_reader),
        abbreviations(storage.abbreviations),
        unit(storage.unit),
        levels(storage.levels),
        types(storage.types) {}
  const DwarfTables& tables;
  std::deque<std::string>& texts;  // composed texts that the layouts point into
  ObjectReader& reader;
  AbbreviationTable& abbreviations;
  Unit& unit;
  std::vector<Level>& levels;
  TypeCache& types;
  Damage damage;
  size_t members = 0;
  // Where each section's last relocation search ended (see relocated).
  size_t next_relocation[kDebugSectionCount] = {};
  bool depth_reached = false;  // a description met kMaxTypeChain: it is not cached
};

bool fail(Walk& walk, DebugSection section, const char* reason) {
  walk.damage.section = section;
  walk.damage.reason = reason;
  return false;
}

// Holds a composed text until the next object; an empty text needs no place.
std::string_view keep(Walk& walk, std::string text) {
  if (text.empty()) return {};
  walk.texts.push_back(std::move(text));
  return walk.texts.back();
}

// The relocation of the field at `at`, searched for on the side of `next` where it must
// lie; `next` is left at the relocation after it.
[[gnu::noinline]] uint64_t searched_relocation(const std::vector<DebugRelocation>& relocations,
                                               size_t& next, size_t at, uint64_t stored) {
  const size_t count = relocations.size();
  const bool after_previous = next == 0 || relocations[next - 1].offset < at;
  if (after_previous && (next == count || relocations[next].offset > at)) return stored;
  const auto by_offset = [](const DebugRelocation& r, uint64_t offset) {
    return r.offset < offset;
  };
  const auto begin = relocations.begin();
  const auto found =
      after_previous
          ? std::lower_bound(begin + static_cast<std::ptrdiff_t>(next) + 1, relocations.end(), at,
                             by_offset)
          : std::lower_bound(begin, begin + static_cast<std::ptrdiff_t>(next) - 1, at, by_offset);
  next = static_cast<size_t>(found - begin);
  return next < count && relocations[next].offset == at ? relocations[next++].value : stored;
}

// The value of the field of `size` bytes at the cursor, with its relocation applied. The
// walk reads a section mostly forward: `next` is the first relocation past the field read
// last, and most often it is the field's own; otherwise it is searched for.
inline uint64_t relocated(Walk& walk, DebugSection section, Cursor& cursor, size_t size) {
  const size_t at = cursor.at;
  const uint64_t stored = cursor.fixed(size);
  const std::vector<DebugRelocation>& relocations = walk.tables.sections[section].relocations;
  size_t& next = walk.next_relocation[section];
  if (next < relocations.size() && relocations[next].offset == at && !cursor.failed) {
    return relocations[next++].value;
  }
  if (relocations.empty() || cursor.failed) return stored;
  return searched_relocation(relocations, next, at, stored);
}

// Reads one attribute value of `form` at the cursor (in .debug_info).
bool read_value(Walk& walk, Cursor& cursor, uint64_t form, int64_t implicit_const, Value& value) {
  const Unit& unit = walk.unit;
  for (int indirections = 0; form == DW_FORM_indirect; ++indirections) {
    if (indirections == kMaxIndirections) return fail(walk, kDebugInfo, "indirect forms loop");
    form = cursor.uleb();
  }
  value.present = true;
  value.form = form;
  value.number = 0;
  value.length = 0;
  const size_t offset_size = 4;  // 32-bit DWARF
  switch (form) {
    case DW_FORM_addr:
      value.number = relocated(walk, kDebugInfo, cursor, unit.address_size);
      break;
    case DW_FORM_data1:
    case DW_FORM_ref1:
    case DW_FORM_flag:
    case DW_FORM_strx1:
    case DW_FORM_addrx1:
      value.number = cursor.fixed(1);
      break;
    case DW_FORM_data2:
    case DW_FORM_ref2:
    case DW_FORM_strx2:
    case DW_FORM_addrx2:
      value.number = cursor.fixed(2);
      break;
    case DW_FORM_strx3:
    case DW_FORM_addrx3:
      value.number = cursor.fixed(3);
      break;
    case DW_FORM_data4:
    case DW_FORM_ref4:
    case DW_FORM_strx4:
    case DW_FORM_addrx4:
    case DW_FORM_ref_sup4:
      value.number = cursor.fixed(4);
      break;
    case DW_FORM_data8:
    case DW_FORM_ref8:
    case DW_FORM_ref_sig8:
    case DW_FORM_ref_sup8:
      value.number = cursor.fixed(8);
      break;
    case DW_FORM_data16:
      cursor.skip(16);
      break;
    case DW_FORM_sdata:
      value.number = static_cast<uint64_t>(cursor.sleb());
      break;
    case DW_FORM_udata:
    case DW_FORM_ref_udata:
    case DW_FORM_strx:
    case DW_FORM_addrx:
    case DW_FORM_loclistx:
    case DW_FORM_rnglistx:
      value.number = cursor.uleb();
      break;
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_sec_offset:
    case DW_FORM_strp_sup:
      value.number = relocated(walk, kDebugInfo, cursor, offset_size);
      break;
    case DW_FORM_ref_addr:
      value.number =
          relocated(walk, kDebugInfo, cursor, unit.version <= 2 ? unit.address_size : offset_size);
      break;
    case DW_FORM_string:
      value.number = cursor.at;
      cursor.string();
      break;
    case DW_FORM_flag_present:
      value.number = 1;
      break;
    case DW_FORM_implicit_const:
      value.number = static_cast<uint64_t>(implicit_const);
      break;
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block:
    case DW_FORM_exprloc: {
      const uint64_t length = form == DW_FORM_block1   ? cursor.fixed(1)
                              : form == DW_FORM_block2 ? cursor.fixed(2)
                              : form == DW_FORM_block4 ? cursor.fixed(4)
                                                       : cursor.uleb();
      value.number = cursor.at;
      cursor.skip(length);
      value.length = static_cast<size_t>(length);
      break;
    }
    default:
      return fail(walk, kDebugInfo, "unknown attribute form");
  }
  if (cursor.failed) return fail(walk, kDebugInfo, "attribute runs past its unit");
  return true;
}

// Reads the abbreviation code of the DIE at the cursor: `abbreviation` is null for the
// entry that ends a list of children.
bool read_code(Walk& walk, Cursor& cursor, const Abbreviation*& abbreviation) {
  const uint64_t code = cursor.uleb();
  if (cursor.failed) return fail(walk, kDebugInfo, "entry runs past its unit");
  abbreviation = nullptr;
  if (code == 0) return true;
  abbreviation = find_abbreviation(walk.abbreviations, code);
  if (abbreviation == nullptr) return fail(walk, kDebugInfo, "entry of an unknown abbreviation");
  return true;
}

// Passes over the attributes of a DIE whose forms all have fixed sizes.
bool skip_fixed_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation) {
  cursor.skip(abbreviation.fixed_size);
  if (cursor.failed) return fail(walk, kDebugInfo, "attribute runs past its unit");
  return true;
}

// Reads the attributes of a DIE of `abbreviation` into `die`: the values of the slots the
// layouts need; the others are passed over, by their size where their form fixes it.
bool read_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation, Die& die) {
  die.tag = abbreviation.tag;
  die.has_children = abbreviation.has_children;
  Value scratch;
  const AttributeField* fields = walk.abbreviations.fields.data() + abbreviation.first_field;
  for (uint32_t i = 0; i < abbreviation.field_count; ++i) {
    const AttributeField& field = fields[i];
    if (field.slot == kNoSlot && field.size != kVariableSize) {
      cursor.skip(field.size);
      if (cursor.failed) return fail(walk, kDebugInfo, "attribute runs past its unit");
      continue;
    }
    Value* value = &scratch;
    if (field.slot != kNoSlot) {
      value = &die.values[field.slot];
      die.read |= uint32_t{1} << field.slot;
    }
    if (!read_value(walk, cursor, field.form, field.implicit_const, *value)) return false;
  }
  return true;
}

// Reads the DIE at the cursor. `die.tag` is 0 for the null entry that ends a list of
// children.
bool read_die(Walk& walk, Cursor& cursor, Die& die) {
  die.offset = cursor.at;
  die.tag = 0;
  die.has_children = false;
  die.read = 0;
  const Abbreviation* abbreviation = nullptr;
  if (!read_code(walk, cursor, abbreviation)) return false;
  return abbreviation == nullptr || read_attributes(walk, cursor, *abbreviation, die);
}

// The unsigned constant a value holds, where it holds one.
bool constant(const Value& value, uint64_t& number) {
  switch (value.form) {
    case DW_FORM_data1:
    case DW_FORM_data2:
    case DW_FORM_data4:
    case DW_FORM_data8:
    case DW_FORM_udata:
    case DW_FORM_sdata:
    case DW_FORM_implicit_const:
      number = value.number;
      return value.present;
    default:
      return false;
  }
}

// A bound of an array: constants of either sign.
bool signed_constant(const Value& value, int64_t& number) {
  uint64_t raw = 0;
  if (!constant(value, raw)) return false;
  switch (value.form) {
    case DW_FORM_data1:
      number = static_cast<int8_t>(raw);
      break;
    case DW_FORM_data2:
      number = static_cast<int16_t>(raw);
      break;
    case DW_FORM_data4:
      number = static_cast<int32_t>(raw);
      break;
    default:
      number = static_cast<int64_t>(raw);
      break;
  }
  return true;
}

// The text of a string attribute.
bool string_value(Walk& walk, const Value& value, std::string_view& text) {
  const DwarfTables& tables = walk.tables;
  switch (value.form) {
    case DW_FORM_string:
      if (string_at(tables, kDebugInfo, value.number, text)) return true;
      return fail(walk, kDebugInfo, "string runs past the section");
    case DW_FORM_strp:
      if (string_at(tables, kDebugStr, value.number, text)) return true;
      return fail(walk, kDebugStr, "string offset beyond the section");
    case DW_FORM_line_strp:
      if (string_at(tables, kDebugLineStr, value.number, text)) return true;
      return fail(walk, kDebugLineStr, "string offset beyond the section");
    case DW_FORM_strx:
    case DW_FORM_strx1:
    case DW_FORM_strx2:
    case DW_FORM_strx3:
    case DW_FORM_strx4: {
      Cursor cursor = cursor_over(tables, kDebugStrOffsets);
      const uint64_t base = walk.unit.str_offsets_base;
      if (value.number > (UINT64_MAX - base) / 4 || base + value.number * 4 > cursor.size) {
        return fail(walk, kDebugStrOffsets, "string index beyond the section");
      }
      cursor.at = static_cast<size_t>(base + value.number * 4);
      const uint64_t offset = relocated(walk, kDebugStrOffsets, cursor, 4);
      if (!cursor.failed && string_at(tables, kDebugStr, offset, text)) return true;
      return fail(walk, kDebugStr, "string offset beyond the section");
    }
    default:
      text = {};
      return true;  // a form that holds no string: the attribute says nothing
  }
}

// Reads the line table header of the unit for its directories and file names.
bool read_line_files(Walk& walk, Unit& unit) {
  unit.files_read = true;
  if (!unit.has_line_table) return true;
  const DwarfTables& tables = walk.tables;
  Cursor cursor = cursor_over(tables, kDebugLine);
  if (unit.stmt_list >= cursor.size) {
    return fail(walk, kDebugLine, "line table offset beyond the section");
  }
  cursor.at = static_cast<size_t>(unit.stmt_list);
  const uint64_t length = cursor.fixed(kUnitLengthSize);
  if (cursor.failed || length >= kReservedLengths || length > cursor.size - cursor.at) {
    return fail(walk, kDebugLine, "line table length beyond the section");
  }
  cursor.size = cursor.at + static_cast<size_t>(length);
  const uint16_t version = static_cast<uint16_t>(cursor.fixed(2));
  if (version < kFirstVersion || version > kLastVersion) return true;  // unknown: no names
  if (version >= 5) cursor.skip(2);  // address size, segment selector size
  const uint64_t header_length = cursor.fixed(4);
  if (cursor.failed || header_length > cursor.size - cursor.at) {
    return fail(walk, kDebugLine, "line table header beyond its table");
  }
  cursor.size = cursor.at + static_cast<size_t>(header_length);
  cursor.skip(version >= 4 ? 5 : 4);  // instruction lengths, is_stmt, line base and range
  const uint8_t opcode_base = cursor.u8();
  cursor.skip(opcode_base > 0 ? opcode_base - 1u : 0u);
  if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");

  if (version < 5) {
    unit.files_one_based = true;
    unit.directories.push_back({});  // directory 0: the compilation directory
    while (true) {
      const std::string_view directory = cursor.string();
      if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
      if (directory.empty()) break;
      unit.directories.push_back(directory);
    }
    while (true) {
      LineFile file;
      file.name = cursor.string();
      if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
      if (file.name.empty()) break;
      file.directory = cursor.uleb();
      cursor.uleb();  // modification time
      cursor.uleb();  // length
      if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
      unit.files.push_back(file);
    }
    return true;
  }

  // DWARF 5: directories and file names as entries of described formats.
  const auto read_entries = [&](bool files) {
    const uint8_t format_count = cursor.u8();
    std::vector<std::pair<uint64_t, uint64_t>> formats;
    for (uint8_t i = 0; i < format_count && !cursor.failed; ++i) {
      const uint64_t content = cursor.uleb();
      const uint64_t form = cursor.uleb();
      formats.emplace_back(content, form);
    }
    const uint64_t count = cursor.uleb();
    if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
    // Every entry takes a byte at least: a count beyond the bytes left is damage.
    if (count > 0 && (formats.empty() || count > cursor.size - cursor.at)) {
      return fail(walk, kDebugLine, "line table entry count beyond its header");
    }
    for (uint64_t i = 0; i < count; ++i) {
      LineFile entry;
      for (const auto& [content, form] : formats) {
        uint64_t number = 0;
        bool is_string_index = false;
        switch (form) {
          case DW_FORM_string: {
            const std::string_view text = cursor.string();
            if (content == DW_LNCT_path) entry.name = text;
            continue;
          }
          case DW_FORM_line_strp:
          case DW_FORM_strp:
            number = relocated(walk, kDebugLine, cursor, 4);
            if (content == DW_LNCT_path && !cursor.failed &&
                !string_at(tables, form == DW_FORM_strp ? kDebugStr : kDebugLineStr, number,
                           entry.name)) {
              return fail(walk, kDebugLine, "file name offset beyond its section");
            }
            continue;
          case DW_FORM_udata:
            number = cursor.uleb();
            break;
          case DW_FORM_strx:
            number = cursor.uleb();
            is_string_index = true;
            break;
          case DW_FORM_data1:
          case DW_FORM_data2:
          case DW_FORM_data4:
          case DW_FORM_data8:
            number = cursor.fixed(form == DW_FORM_data1   ? 1
                                  : form == DW_FORM_data2 ? 2
                                  : form == DW_FORM_data4 ? 4
                                                          : 8);
            break;
          case DW_FORM_strx1:
          case DW_FORM_strx2:
          case DW_FORM_strx3:
          case DW_FORM_strx4:
            number = cursor.fixed(form - DW_FORM_strx1 + 1);
            is_string_index = true;
            break;
          case DW_FORM_data16:
            cursor.skip(16);
            break;
          case DW_FORM_block:
            cursor.skip(cursor.uleb());
            break;
          default:
            return fail(walk, kDebugLine, "unknown form in the line table header");
        }
        if (cursor.failed) break;
        if (content == DW_LNCT_directory_index) entry.directory = number;
        if (content == DW_LNCT_path && is_string_index) {
          Value value;
          value.present = true;
          value.form = form;
          value.number = number;
          if (!string_value(walk, value, entry.name)) return false;
        }
      }
      if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
      if (files) {
        unit.files.push_back(entry);
      } else {
        unit.directories.push_back(entry.name);
      }
    }
    return true;
  };
  return read_entries(false) && read_entries(true);
}

// The source file of a decl_file index, as the compiler recorded it: the name, behind its
// directory unless that is the compilation directory (or the name is absolute). Composed
// once for each file of the unit.
bool source_file(Walk& walk, const Value& decl_file, std::string_view& path) {
  path = {};
  uint64_t index = 0;
  if (!constant(decl_file, index)) return true;
  Unit& unit = walk.unit;
  if (!unit.files_read && !read_line_files(walk, unit)) return false;
  if (unit.files_one_based) {
    if (index == 0) return true;
    --index;
  }
  if (index >= unit.files.size()) return true;
  LineFile& file = unit.files[index];
  if (!file.composed) {
    const bool absolute = !file.name.empty() && (file.name[0] == '/' || file.name[0] == '\\' ||
                                                 (file.name.size() > 1 && file.name[1] == ':'));
    if (!absolute && file.directory != 0 && file.directory < unit.directories.size() &&
        !unit.directories[file.directory].empty()) {
      std::string text(unit.directories[file.directory]);
      if (text.back() != '/' && text.back() != '\\') text.push_back('/');
      text.append(file.name);
      file.path = keep(walk, std::move(text));
    } else {
      file.path = file.name;
    }
    file.composed = true;
  }
  path = file.path;
  return true;
}

// Appends a decimal number: a layout's types and bounds are composed for every array.
void append_number(std::string& text, int64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end);
}

std::string sized(const char* kind, uint64_t size) {
  std::string text(kind);
  text += '*';
  append_number(text, static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX)));
  return text;
}

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

bool describe_type(Walk& walk, uint64_t reference, int depth, MemberType& shown);

// The offset of the type DIE that an attribute refers to; `described` is false for an
// absent or unusable reference, whose type is shown as "?". False after damage.
bool type_offset(Walk& walk, const Value& type, uint64_t& offset, bool& described) {
  described = false;
  switch (type.form) {
    case DW_FORM_ref1:
    case DW_FORM_ref2:
    case DW_FORM_ref4:
    case DW_FORM_ref8:
    case DW_FORM_ref_udata:
      offset = walk.unit.start + type.number;
      if (type.number >= walk.unit.end - walk.unit.start) {
        return fail(walk, kDebugInfo, "type reference beyond its unit");
      }
      break;
    case DW_FORM_ref_addr:
      // Another unit's entries are read with that unit's abbreviations: only this unit's
      // are described.
      offset = type.number;
      if (offset < walk.unit.start || offset >= walk.unit.end) return true;
      break;
    default:
      return true;
  }
  described = type.present;
  return true;
}

// The type an attribute refers to, met at `depth` of a chain of types; an absent or
// unusable reference gives "?". Each type DIE of the unit is described once.
bool referenced_type(Walk& walk, const Value& type, int depth, MemberType& shown) {
  uint64_t offset = 0;
  bool described = false;
  if (!type_offset(walk, type, offset, described)) return false;
  if (!described) {
    shown = MemberType{"?", {}, 0};
    return true;
  }
  if (const MemberType* cached = walk.types.find(offset)) {
    shown = *cached;
    return true;
  }
  // A description cut short by the length of its chain holds only for that depth.
  const bool reached = walk.depth_reached;
  walk.depth_reached = false;
  if (!describe_type(walk, offset, depth, shown)) return false;
  if (!walk.depth_reached) walk.types.insert(offset, shown);
  walk.depth_reached = walk.depth_reached || reached;
  return true;
}

// The dimensions of an array type from its DW_TAG_subrange_type children at the cursor,
// and the number of elements; false after damage. `known` is false where a bound is not
// a constant.
bool read_dimensions(Walk& walk, Cursor& cursor, std::string& dimensions, uint64_t& elements,
                     bool& known) {
  elements = 1;
  known = true;
  size_t rank = 0;
  size_t depth = 0;  // children of the subranges, which the layouts do not need
  Die die;
  while (true) {
    if (!read_die(walk, cursor, die)) return false;
    if (die.tag == 0) {
      if (depth == 0) break;
      --depth;
      continue;
    }
    if (die.has_children) {
      if (++depth > kMaxDepth) return fail(walk, kDebugInfo, "entries nested too deeply");
    }
    if (depth != 0 || die.tag != DW_TAG_subrange_type) continue;
    if (++rank > kMaxDimensions) return fail(walk, kDebugInfo, "array of too many dimensions");
    int64_t lower = walk.unit.lower_bound_zero ? 0 : 1;
    int64_t upper = 0;
    uint64_t count = 0;
    dimensions += rank == 1 ? "(" : ",";
    if (die[kLowerBound].present && !signed_constant(die[kLowerBound], lower)) known = false;
    const bool has_lower = die[kLowerBound].present;
    // Bounds and counts are taken modulo 2^64: hostile ones may hold no signed result.
    if (die[kCount].present && constant(die[kCount], count)) {
      upper = static_cast<int64_t>(static_cast<uint64_t>(lower) + count - 1);
    } else if (die[kUpperBound].present && signed_constant(die[kUpperBound], upper)) {
      count = upper >= lower ? static_cast<uint64_t>(upper) - static_cast<uint64_t>(lower) + 1 : 0;
    } else {
      known = false;
    }
    const int64_t natural = walk.unit.lower_bound_zero ? 0 : 1;
    if (!known) {
      dimensions += '*';
    } else if (has_lower && lower != natural) {
      append_number(dimensions, lower);
      dimensions += ':';
      append_number(dimensions, upper);
    } else {
      append_number(dimensions, static_cast<int64_t>(static_cast<uint64_t>(upper) -
                                                     static_cast<uint64_t>(natural) + 1));
    }
    elements = saturating_multiply(elements, count);
  }
  if (rank > 0) dimensions += ")";
  return true;
}

bool describe_type(Walk& walk, uint64_t reference, int depth, MemberType& shown) {
  shown = MemberType{"?", {}, 0};
  if (depth > kMaxTypeChain) {
    walk.depth_reached = true;
    return true;
  }
  Cursor cursor = cursor_over(walk.tables, kDebugInfo);
  cursor.at = static_cast<size_t>(reference);
  cursor.size = walk.unit.end;
  Die die;
  if (!read_die(walk, cursor, die)) return false;
  uint64_t byte_size = 0;
  const bool sized_type = constant(die[kByteSize], byte_size);
  std::string_view name;
  switch (die.tag) {
    case DW_TAG_base_type: {
      uint64_t encoding = 0;
      constant(die[kEncoding], encoding);
      shown.size = byte_size;
      const char* kind = nullptr;
      switch (encoding) {
        case DW_ATE_signed:
        case DW_ATE_unsigned:
          kind = "INTEGER";
          break;
        case DW_ATE_float:
          kind = "REAL";
          break;
        case DW_ATE_complex_float:
          kind = "COMPLEX";
          break;
        case DW_ATE_boolean:
          kind = "LOGICAL";
          break;
        case DW_ATE_signed_char:
        case DW_ATE_unsigned_char:
        case DW_ATE_UTF:
          kind = "CHARACTER";
          break;
        default:
          break;
      }
      if (kind != nullptr) {
        shown.type = keep(walk, sized(kind, byte_size));
        return true;
      }
      if (!string_value(walk, die[kName], name)) return false;
      if (!name.empty()) shown.type = name;
      return true;
    }
    case DW_TAG_string_type:
      shown.size = byte_size;
      shown.type = sized_type ? keep(walk, sized("CHARACTER", byte_size))
                              : std::string_view("CHARACTER*(*)");
      return true;
    case DW_TAG_structure_type:
      if (!string_value(walk, die[kName], name)) return false;
      shown.size = byte_size;
      shown.type = keep(walk, "TYPE(" + std::string(name) + ")");
      return true;
    case DW_TAG_typedef:
    case DW_TAG_const_type:
    case DW_TAG_volatile_type:
      return referenced_type(walk, die[kType], depth + 1, shown);
    case DW_TAG_pointer_type:
      shown.size = sized_type ? byte_size : walk.unit.address_size;
      shown.type = "POINTER";
      return true;
    case DW_TAG_array_type: {
      MemberType element;
      if (!referenced_type(walk, die[kType], depth + 1, element)) return false;
      std::string dimensions;
      uint64_t elements = 0;
      bool known = false;
      if (die.has_children && !read_dimensions(walk, cursor, dimensions, elements, known)) {
        return false;
      }
      dimensions += element.dimensions;
      shown.type = element.type;
      shown.dimensions = keep(walk, std::move(dimensions));
      shown.size = sized_type ? byte_size : known ? saturating_multiply(elements, element.size) : 0;
      return true;
    }
    default:
      if (!string_value(walk, die[kName], name)) return false;
      shown.size = byte_size;
      if (!name.empty()) shown.type = name;
      return true;
  }
}

// The offset of a member in its block: the operand of DW_OP_addr (or the address that
// DW_OP_addrx names), plus a DW_OP_plus_uconst that follows. False when the location is
// no such expression.
bool member_offset(Walk& walk, const Value& location, uint64_t& offset) {
  if (!location.present || location.length == 0) return false;
  switch (location.form) {
    case DW_FORM_exprloc:
    case DW_FORM_block1:
    case DW_FORM_block2:
    case DW_FORM_block4:
    case DW_FORM_block:
      break;
    default:
      return false;  // a location list: no static place
  }
  const DwarfTables& tables = walk.tables;
  Cursor cursor = cursor_over(tables, kDebugInfo);
  cursor.at = static_cast<size_t>(location.number);
  cursor.size = cursor.at + location.length;
  const uint8_t op = cursor.u8();
  if (op == DW_OP_addr) {
    offset = relocated(walk, kDebugInfo, cursor, walk.unit.address_size);
  } else if (op == DW_OP_addrx || op == DW_OP_GNU_addr_index) {
    const uint64_t index = cursor.uleb();
    Cursor addresses = cursor_over(tables, kDebugAddr);
    const uint64_t size = walk.unit.address_size;
    const uint64_t base = walk.unit.addr_base;
    if (cursor.failed || index > (UINT64_MAX - base) / size ||
        base + index * size > addresses.size) {
      return false;
    }
    addresses.at = static_cast<size_t>(base + index * size);
    offset = relocated(walk, kDebugAddr, addresses, walk.unit.address_size);
    if (addresses.failed) return false;
  } else {
    return false;
  }
  if (cursor.has(1) && cursor.data[cursor.at] == DW_OP_plus_uconst) {
    cursor.u8();
    offset += cursor.uleb();
  }
  return !cursor.failed;
}

bool is_scope(uint64_t tag) {
  return tag == DW_TAG_subprogram || tag == DW_TAG_entry_point || tag == DW_TAG_module;
}

// Tags whose children may hold a common block, directly or further down.
bool may_hold_blocks(uint64_t tag) {
  switch (tag) {
    case DW_TAG_compile_unit:
    case DW_TAG_partial_unit:
    case DW_TAG_subprogram:
    case DW_TAG_module:
    case DW_TAG_namespace:
    case DW_TAG_lexical_block:
    case DW_TAG_common_block:
      return true;
    default:
      return false;
  }
}

// The unit's own attributes: language, line table, string and address bases.
void take_unit_attributes(Unit& unit, const Die& die) {
  uint64_t language = 0;
  if (constant(die[kLanguage], language)) {
    switch (language) {
      case DW_LANG_C89:
      case DW_LANG_C:
      case DW_LANG_C_plus_plus:
      case DW_LANG_C99:
      case DW_LANG_C_plus_plus_11:
      case DW_LANG_C11:
      case DW_LANG_C_plus_plus_14:
        unit.lower_bound_zero = true;
        break;
      default:
        break;
    }
  }
  if (die[kStmtList].present) {
    unit.has_line_table = true;
    unit.stmt_list = die[kStmtList].number;
  }
  if (die[kStrOffsetsBase].present) unit.str_offsets_base = die[kStrOffsetsBase].number;
  if (die[kAddrBase].present) unit.addr_base = die[kAddrBase].number;
}

// Starts the layout of a common block DIE.
bool begin_layout(Walk& walk, const Die& die, std::string_view scope, CommonLayout& layout) {
  std::string_view name;
  std::string_view linkage;
  if (!string_value(walk, die[kName], name) || !string_value(walk, die[kLinkageName], linkage)) {
    return false;
  }
  layout = CommonLayout();
  const std::string_view symbol = linkage.empty() ? name : linkage;
  const std::string_view prefix = walk.tables.symbol_prefix;
  layout.symbol = prefix.empty() ? symbol : keep(walk, std::string(prefix).append(symbol));
  layout.routine = scope;
  if (!source_file(walk, die[kDeclFile], layout.file)) return false;
  uint64_t line = 0;
  if (constant(die[kDeclLine], line))
    layout.line = static_cast<uint32_t>(std::min<uint64_t>(line, UINT32_MAX));
  layout.first_member = static_cast<uint32_t>(walk.reader.declarations.members.size());
  return true;
}

// Adds a DW_TAG_variable of a common block to the object's members.
bool add_member(Walk& walk, const Die& die, uint64_t& first_line) {
  MemberLayout member;
  uint64_t line = 0;
  if (constant(die[kDeclLine], line) && line != 0 && (first_line == 0 || line < first_line)) {
    first_line = line;
  }
  if (!member_offset(walk, die[kLocation], member.offset)) {
    if (walk.damage.reason != nullptr) return false;
    return true;  // no static place in the block: not a member the layouts can show
  }
  if (++walk.members > kMaxMembersPerObject) {
    return fail(walk, kDebugInfo, "more members than an object can hold");
  }
  if (!string_value(walk, die[kName], member.name)) return false;
  MemberType type;
  if (!referenced_type(walk, die[kType], 1, type)) return false;
  member.type = type.type;
  member.dimensions = type.dimensions;
  member.size = type.size;
  walk.reader.declarations.members.push_back(member);
  return true;
}

// gfortran gives every routine's block of a file the line of the block's first
// declaration in the file; a line before the routine's own start is then replaced by the
// first line that declares one of the routine's members there.
void finish_layout(ObjectReader& reader, CommonLayout& layout, uint64_t scope_line,
                   uint64_t first_member_line) {
  if (layout.line < scope_line && first_member_line != 0) {
    layout.line = static_cast<uint32_t>(std::min<uint64_t>(first_member_line, UINT32_MAX));
  }
  std::vector<MemberLayout>& members = reader.declarations.members;
  layout.member_count = static_cast<uint32_t>(members.size() - layout.first_member);
  const auto first = members.begin() + layout.first_member;
  const auto by_offset = [](const MemberLayout& a, const MemberLayout& b) {
    return a.offset < b.offset;
  };
  if (!std::is_sorted(first, members.end(), by_offset)) {
    std::stable_sort(first, members.end(), by_offset);
  }
  reader.declarations.layouts.push_back(layout);
}

// Whether the walk uses the attributes of a DIE without children: those of the unit, of a
// routine, and of a member of the block being read.
bool walk_reads(uint64_t tag, bool in_block) {
  return tag == DW_TAG_compile_unit || tag == DW_TAG_partial_unit || is_scope(tag) ||
         (in_block && tag == DW_TAG_variable);
}

// Walks the DIEs of the unit from the cursor to the unit's end.
bool walk_unit(Walk& walk, Cursor& cursor) {
  std::vector<Level>& levels = walk.levels;
  levels.clear();
  walk.types.clear();
  CommonLayout layout;
  uint64_t first_member_line = 0;
  Die die;
  while (cursor.at < walk.unit.end) {
    die.offset = cursor.at;
    die.read = 0;
    const Abbreviation* abbreviation = nullptr;
    if (!read_code(walk, cursor, abbreviation)) return false;
    if (abbreviation == nullptr) {
      if (!levels.empty()) {
        if (levels.back().in_block) {
          finish_layout(walk.reader, layout, levels.back().scope_line, first_member_line);
        }
        levels.pop_back();
      }
      continue;
    }
    const bool in_block = !levels.empty() && levels.back().in_block;
    // A DIE of no interest whose attributes have fixed sizes is passed over in one step.
    if (!abbreviation->has_children && abbreviation->fixed_size != kVariableSizes &&
        !walk_reads(abbreviation->tag, in_block)) {
      if (!skip_fixed_attributes(walk, cursor, *abbreviation)) return false;
      continue;
    }
    if (!read_attributes(walk, cursor, *abbreviation, die)) return false;
    std::string_view scope = levels.empty() ? std::string_view() : levels.back().scope;
    uint64_t scope_line = levels.empty() ? 0 : levels.back().scope_line;
    if (die.tag == DW_TAG_compile_unit || die.tag == DW_TAG_partial_unit) {
      take_unit_attributes(walk.unit, die);
    } else if (is_scope(die.tag)) {
      if (!string_value(walk, die[kName], scope)) return false;
      scope_line = 0;
      constant(die[kDeclLine], scope_line);
    } else if (in_block && die.tag == DW_TAG_variable) {
      if (!add_member(walk, die, first_member_line)) return false;
    }
    if (!die.has_children) continue;
    if (!may_hold_blocks(die.tag) || in_block) {
      // Skip the subtree by its sibling where that lies ahead inside the unit.
      const Value& next = die[kSibling];
      uint64_t sibling = 0;
      const bool local = next.form == DW_FORM_ref1 || next.form == DW_FORM_ref2 ||
                         next.form == DW_FORM_ref4 || next.form == DW_FORM_ref8 ||
                         next.form == DW_FORM_ref_udata;
      if (next.present && local && next.number < walk.unit.end - walk.unit.start) {
        sibling = walk.unit.start + next.number;
      }
      if (sibling > cursor.at) {
        cursor.at = static_cast<size_t>(sibling);
        continue;
      }
    }
    if (levels.size() == kMaxDepth) return fail(walk, kDebugInfo, "entries nested too deeply");
    Level level;
    level.tag = die.tag;
    level.scope = scope;
    level.scope_line = scope_line;
    if (die.tag == DW_TAG_common_block && !in_block) {
      if (!begin_layout(walk, die, scope, layout)) return false;
      first_member_line = 0;
      level.in_block = true;
    }
    levels.push_back(level);
  }
  // A unit whose last lists are not closed ends them.
  if (!levels.empty() && levels.back().in_block) {
    finish_layout(walk.reader, layout, levels.back().scope_line, first_member_line);
  }
  return true;
}

// Makes `unit` a new one, keeping the storage of its lists.
void start_unit(Unit& unit) {
  std::vector<std::string_view> directories = std::move(unit.directories);
  std::vector<LineFile> files = std::move(unit.files);
  directories.clear();
  files.clear();
  unit = Unit();
  unit.directories = std::move(directories);
  unit.files = std::move(files);
}

// Reads every unit of .debug_info.
bool read_units(Walk& walk) {
  const DwarfTables& tables = walk.tables;
  Cursor cursor = cursor_over(tables, kDebugInfo);
  while (cursor.at < cursor.size) {
    Unit& unit = walk.unit;
    start_unit(unit);
    unit.start = cursor.at;
    const uint64_t length = cursor.fixed(kUnitLengthSize);
    if (cursor.failed) return fail(walk, kDebugInfo, "unit header runs past the section");
    if (length == kDwarf64Escape) return fail(walk, kDebugInfo, "64-bit DWARF is not read");
    if (length >= kReservedLengths || length > cursor.size - cursor.at) {
      return fail(walk, kDebugInfo, "unit length beyond the section");
    }
    unit.end = cursor.at + static_cast<size_t>(length);
    Cursor header = cursor;
    header.size = unit.end;
    cursor.at = unit.end;
    unit.version = static_cast<uint16_t>(header.fixed(2));
    if (header.failed) return fail(walk, kDebugInfo, "unit header runs past its unit");
    if (unit.version < kFirstVersion || unit.version > kLastVersion) continue;
    uint64_t abbreviations = 0;
    if (unit.version >= 5) {
      const uint8_t type = header.u8();
      unit.address_size = header.u8();
      abbreviations = relocated(walk, kDebugInfo, header, 4);
      if (type != DW_UT_compile && type != DW_UT_partial) continue;  // no blocks there
    } else {
      abbreviations = relocated(walk, kDebugInfo, header, 4);
      unit.address_size = header.u8();
    }
    if (header.failed) return fail(walk, kDebugInfo, "unit header runs past its unit");
    if (unit.address_size != 2 && unit.address_size != 4 && unit.address_size != 8) {
      return fail(walk, kDebugInfo, "unit of an unknown address size");
    }
    if (!read_abbreviations(tables, abbreviations, unit.address_size, unit.version,
                            walk.abbreviations, walk.damage)) {
      return false;
    }
    if (!walk_unit(walk, header)) return false;
  }
  return true;
}

}  // namespace

DebugSection debug_section_named(std::string_view name) {
  // Mach-O writes "__debug_info" where ELF and COFF write ".debug_info", in at most 16
  // characters: "__debug_str_offs".
  if (name == "__debug_str_offs") return kDebugStrOffsets;
  if (name.substr(0, 2) == "__") {
    name.remove_prefix(2);
  } else if (!name.empty() && name[0] == '.') {
    name.remove_prefix(1);
  } else {
    return kDebugSectionCount;
  }
  if (name.substr(0, 6) != "debug_") return kDebugSectionCount;  // most sections of an object
  for (size_t i = 0; i < kDebugSectionCount; ++i) {
    if (name == std::string_view(kSectionNames[i]).substr(1)) return static_cast<DebugSection>(i);
  }
  return kDebugSectionCount;
}

void reset_debug_sections(DwarfTables& tables) {
  for (DebugSectionData& section : tables.sections) {
    section.present = false;
    section.bytes.clear();
    section.relocations.clear();
  }
  tables.big_endian = false;
  tables.symbol_prefix = {};
  tables.texts.clear();
}

void read_common_layouts(ObjectReader& reader) {
  DwarfTables& tables = reader.dwarf;
  if (!tables.sections[kDebugInfo].present || tables.sections[kDebugInfo].bytes.empty()) return;
  bool read = false;
  Damage damage;
  try {
    if (!tables.storage) tables.storage.reset(new DwarfStorage());
    DwarfStorage& storage = *tables.storage;
    // An abbreviation table read from the same bytes is the same table: objects of one
    // compiler share a few.
    const std::vector<uint8_t>& abbreviations = tables.sections[kDebugAbbrev].bytes;
    if (abbreviations != storage.abbreviation_bytes) {
      storage.abbreviations.offset = UINT64_MAX;
      storage.abbreviation_bytes = abbreviations;
    }
    Walk walk(tables, tables.texts, reader, storage);
    read = read_units(walk);
    damage = walk.damage;
  } catch (const std::bad_alloc&) {
    report_out_of_memory(reader.diagnostics, reader.object_path);
    return;
  }
  // The routines in the order of their files and lines: gfortran describes a file's
  // routines last first.
  std::stable_sort(reader.declarations.layouts.begin(), reader.declarations.layouts.end(),
                   [](const CommonLayout& a, const CommonLayout& b) {
                     return a.file != b.file ? a.file < b.file : a.line < b.line;
                   });
  if (read) return;
  report_error(reader.diagnostics,
               strprintf("Debug Information Error: %s in %s cannot be read (%s); "
                         "COMMON block layouts after that are not shown\n",
                         kSectionNames[damage.section], std::string(reader.object_path).c_str(),
                         damage.reason));
}

}  // namespace drelk
