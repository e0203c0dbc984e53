// Abbreviation tables: read once a table, each field given the slot it fills for the
// entry's tag (the others are passed over) and the size of its form.
#include "dwarf/abbreviations.h"

#include <algorithm>

#include "formats/cursor.h"
#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

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

// Reads the attribute fields of an abbreviation of `tag` up to the pair (0, 0) that ends
// them.
void read_fields(Cursor& cursor, uint64_t tag, AbbreviationTable& table) {
  const uint32_t used = slots_used(tag);
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
}

// Ends a table at its code 0: sorted by code unless its codes run 1, 2, 3...
void finish_table(AbbreviationTable& table, uint64_t offset, uint8_t address_size,
                  uint16_t version) {
  if (!table.dense) {
    std::sort(table.entries.begin(), table.entries.end(),
              [](const Abbreviation& a, const Abbreviation& b) { return a.code < b.code; });
  }
  table.offset = offset;
  size_forms(table, address_size, version);
}

}  // namespace

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

bool read_abbreviations(std::span<const uint8_t> section, uint64_t offset, uint8_t address_size,
                        uint16_t version, AbbreviationTable& table, DwarfDamage& damage) {
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
  // The byte order does not matter: a table holds LEB128 numbers and single bytes.
  Cursor cursor = make_cursor(section, false);
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
      finish_table(table, offset, address_size, version);
      return true;
    }
    entry.tag = cursor.uleb();
    entry.has_children = cursor.u8() != 0;
    entry.first_field = static_cast<uint32_t>(table.fields.size());
    read_fields(cursor, entry.tag, table);
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

}  // namespace drelk::dwarf
