// Attribute values in every form of DWARF 2 to 5 (32-bit DWARF), bounded by their unit,
// with the relocations of addresses and section offsets applied by the container.
#include "dwarf/forms.h"

#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

constexpr int kMaxIndirections = 4;  // DW_FORM_indirect in a row
constexpr size_t kOffsetSize = 4;    // 32-bit DWARF

// Reads a value whose form says its own length (LEB128 numbers, strings, blocks) or takes
// no bytes. False for an unknown form.
bool read_variable_value(Cursor& cursor, uint64_t form, int64_t implicit_const, Value& value) {
  switch (form) {
    case DW_FORM_sdata:
      value.number = static_cast<uint64_t>(cursor.sleb());
      return true;
    case DW_FORM_udata:
    case DW_FORM_ref_udata:
    case DW_FORM_strx:
    case DW_FORM_addrx:
    case DW_FORM_loclistx:
    case DW_FORM_rnglistx:
      value.number = cursor.uleb();
      return true;
    case DW_FORM_string:
      value.number = cursor.at;
      cursor.string();
      return true;
    case DW_FORM_flag_present:
      value.number = 1;
      return true;
    case DW_FORM_implicit_const:
      value.number = static_cast<uint64_t>(implicit_const);
      return true;
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
      return true;
    }
    default:
      return false;
  }
}

// Reads a value of `form` at the cursor: the forms of fixed size here, the others by
// read_variable_value. False for an unknown form.
bool read_form(Walk& walk, Cursor& cursor, uint64_t form, int64_t implicit_const, Value& value) {
  const Unit& unit = walk.unit;
  switch (form) {
    case DW_FORM_addr:
      value.number = relocated(walk, kDebugInfo, cursor, unit.address_size);
      return true;
    case DW_FORM_data1:
    case DW_FORM_ref1:
    case DW_FORM_flag:
    case DW_FORM_strx1:
    case DW_FORM_addrx1:
      value.number = cursor.fixed(1);
      return true;
    case DW_FORM_data2:
    case DW_FORM_ref2:
    case DW_FORM_strx2:
    case DW_FORM_addrx2:
      value.number = cursor.fixed(2);
      return true;
    case DW_FORM_strx3:
    case DW_FORM_addrx3:
      value.number = cursor.fixed(3);
      return true;
    case DW_FORM_data4:
    case DW_FORM_ref4:
    case DW_FORM_strx4:
    case DW_FORM_addrx4:
    case DW_FORM_ref_sup4:
      value.number = cursor.fixed(4);
      return true;
    case DW_FORM_data8:
    case DW_FORM_ref8:
    case DW_FORM_ref_sig8:
    case DW_FORM_ref_sup8:
      value.number = cursor.fixed(8);
      return true;
    case DW_FORM_data16:
      cursor.skip(16);
      return true;
    case DW_FORM_strp:
    case DW_FORM_line_strp:
    case DW_FORM_sec_offset:
    case DW_FORM_strp_sup:
      value.number = relocated(walk, kDebugInfo, cursor, kOffsetSize);
      return true;
    case DW_FORM_ref_addr:
      value.number =
          relocated(walk, kDebugInfo, cursor, unit.version <= 2 ? unit.address_size : kOffsetSize);
      return true;
    default:
      return read_variable_value(cursor, form, implicit_const, value);
  }
}

// Reads one attribute value of `form` at the cursor (in .debug_info).
bool read_value(Walk& walk, Cursor& cursor, uint64_t form, int64_t implicit_const, Value& value) {
  for (int indirections = 0; form == DW_FORM_indirect; ++indirections) {
    if (indirections == kMaxIndirections) return fail(walk, kDebugInfo, "indirect forms loop");
    form = cursor.uleb();
  }
  value.present = true;
  value.form = form;
  value.number = 0;
  value.length = 0;
  if (!read_form(walk, cursor, form, implicit_const, value)) {
    return fail(walk, kDebugInfo, "unknown attribute form");
  }
  if (cursor.failed) return fail(walk, kDebugInfo, "attribute runs past its unit");
  return true;
}

// The string that a DW_FORM_strx* index names, through .debug_str_offsets.
bool indexed_string(Walk& walk, uint64_t index, std::string_view& text) {
  Cursor cursor = cursor_over(walk, kDebugStrOffsets);
  const uint64_t base = walk.unit.str_offsets_base;
  if (index > (UINT64_MAX - base) / 4 || base + index * 4 > cursor.size) {
    return fail(walk, kDebugStrOffsets, "string index beyond the section");
  }
  cursor.at = static_cast<size_t>(base + index * 4);
  const uint64_t offset = relocated(walk, kDebugStrOffsets, cursor, 4);
  if (!cursor.failed && string_at(walk, kDebugStr, offset, text)) return true;
  return fail(walk, kDebugStr, "string offset beyond the section");
}

}  // namespace

bool read_code(Walk& walk, Cursor& cursor, const Abbreviation*& abbreviation) {
  const uint64_t code = cursor.uleb();
  if (cursor.failed) return fail(walk, kDebugInfo, "entry runs past its unit");
  abbreviation = nullptr;
  if (code == 0) return true;
  abbreviation = find_abbreviation(*walk.abbreviations, code);
  if (abbreviation == nullptr) return fail(walk, kDebugInfo, "entry of an unknown abbreviation");
  return true;
}

bool skip_fixed_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation) {
  cursor.skip(abbreviation.fixed_size);
  if (cursor.failed) return fail(walk, kDebugInfo, "attribute runs past its unit");
  return true;
}

bool read_attributes(Walk& walk, Cursor& cursor, const Abbreviation& abbreviation, Die& die) {
  die.tag = abbreviation.tag;
  die.has_children = abbreviation.has_children;
  Value scratch;
  const AttributeField* fields = walk.abbreviations->fields.data() + abbreviation.first_field;
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

bool read_die(Walk& walk, Cursor& cursor, Die& die) {
  die.offset = cursor.at;
  die.tag = 0;
  die.has_children = false;
  die.read = 0;
  const Abbreviation* abbreviation = nullptr;
  if (!read_code(walk, cursor, abbreviation)) return false;
  return abbreviation == nullptr || read_attributes(walk, cursor, *abbreviation, die);
}

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

bool is_unit_reference(uint64_t form) {
  return form == DW_FORM_ref1 || form == DW_FORM_ref2 || form == DW_FORM_ref4 ||
         form == DW_FORM_ref8 || form == DW_FORM_ref_udata;
}

bool string_value(Walk& walk, const Value& value, std::string_view& text) {
  switch (value.form) {
    case DW_FORM_string:
      if (string_at(walk, kDebugInfo, value.number, text)) return true;
      return fail(walk, kDebugInfo, "string runs past the section");
    case DW_FORM_strp:
      if (string_at(walk, kDebugStr, value.number, text)) return true;
      return fail(walk, kDebugStr, "string offset beyond the section");
    case DW_FORM_line_strp:
      if (string_at(walk, kDebugLineStr, value.number, text)) return true;
      return fail(walk, kDebugLineStr, "string offset beyond the section");
    case DW_FORM_strx:
    case DW_FORM_strx1:
    case DW_FORM_strx2:
    case DW_FORM_strx3:
    case DW_FORM_strx4:
      return indexed_string(walk, value.number, text);
    default:
      text = {};
      return true;  // a form that holds no string: the attribute says nothing
  }
}

}  // namespace drelk::dwarf
