// DWARF for tests, built from a readable description: an abbreviation table and units of
// DIEs in little-endian 32-bit DWARF, to be put into an object's .debug_abbrev and
// .debug_info sections (ElfObject::section_bytes). For example a COMMON block:
//
//   DwarfBuilder dwarf = common_block_dwarf("blk_", {{0, 4, DW_ATE_signed}, {8, 8, DW_ATE_float}});
//   ElfObject().common("blk_", 16).section_bytes(".debug_info", dwarf.info)
//       .section_bytes(".debug_abbrev", dwarf.abbrev).bytes();
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "formats/dwarf.h"

namespace drelk::test {

inline void put_uleb(std::vector<uint8_t>& out, uint64_t value) {
  do {
    uint8_t byte = value & 0x7f;
    value >>= 7;
    if (value != 0) byte |= 0x80;
    out.push_back(byte);
  } while (value != 0);
}

inline void put_le(std::vector<uint8_t>& out, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void put_string(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

struct DwarfBuilder {
  std::vector<uint8_t> abbrev;
  std::vector<uint8_t> info;
  size_t unit_start = 0;

  // An abbreviation: code, tag, whether its DIEs have children, (attribute, form) pairs.
  DwarfBuilder& abbreviation(uint64_t code, uint64_t tag, bool children,
                             const std::vector<std::pair<uint64_t, uint64_t>>& attributes) {
    put_uleb(abbrev, code);
    put_uleb(abbrev, tag);
    abbrev.push_back(children ? 1 : 0);
    for (const auto& [attribute, form] : attributes) {
      put_uleb(abbrev, attribute);
      put_uleb(abbrev, form);
    }
    abbrev.push_back(0);
    abbrev.push_back(0);
    return *this;
  }
  DwarfBuilder& end_abbreviations() {
    abbrev.push_back(0);
    return *this;
  }
  // A DWARF 5 compile unit header; its length is set by end_unit().
  DwarfBuilder& begin_unit(uint8_t address_size = 8) {
    unit_start = info.size();
    put_le(info, 0, 4);
    put_le(info, 5, 2);
    info.push_back(dwarf::DW_UT_compile);
    info.push_back(address_size);
    put_le(info, 0, 4);  // abbreviations at offset 0
    return *this;
  }
  DwarfBuilder& end_unit() {
    const uint64_t length = info.size() - unit_start - 4;
    for (size_t i = 0; i < 4; ++i) info[unit_start + i] = static_cast<uint8_t>(length >> (8 * i));
    return *this;
  }
  // The offset of the next DIE from the start of the unit (for DW_FORM_ref4).
  uint32_t here() const { return static_cast<uint32_t>(info.size() - unit_start); }
  DwarfBuilder& code(uint64_t value) {
    put_uleb(info, value);
    return *this;
  }
  DwarfBuilder& string(const std::string& text) {
    put_string(info, text);
    return *this;
  }
  DwarfBuilder& u8(uint8_t value) {
    info.push_back(value);
    return *this;
  }
  DwarfBuilder& u32(uint32_t value) {
    put_le(info, value, 4);
    return *this;
  }
  // DW_OP_addr with an 8-byte operand, as an exprloc.
  DwarfBuilder& address_location(uint64_t offset) {
    put_uleb(info, 9);
    info.push_back(dwarf::DW_OP_addr);
    put_le(info, offset, 8);
    return *this;
  }
  DwarfBuilder& end_children() { return u8(0); }
};

// Abbreviation codes of common_block_dwarf.
inline constexpr uint64_t kUnitCode = 1, kRoutineCode = 2, kBlockCode = 3, kMemberCode = 4,
                          kBaseTypeCode = 5;

struct BuiltMember {
  uint64_t offset;
  uint8_t size;
  uint8_t encoding;  // DW_ATE_*
};

// The abbreviations of common_block_dwarf: names inline, references within the unit.
inline DwarfBuilder common_block_abbreviations() {
  using namespace dwarf;
  DwarfBuilder dwarf;
  dwarf.abbreviation(kUnitCode, DW_TAG_compile_unit, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(kRoutineCode, DW_TAG_subprogram, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(kBlockCode, DW_TAG_common_block, true,
                    {{DW_AT_name, DW_FORM_string}, {DW_AT_linkage_name, DW_FORM_string}})
      .abbreviation(kMemberCode, DW_TAG_variable, false,
                    {{DW_AT_name, DW_FORM_string},
                     {DW_AT_type, DW_FORM_ref4},
                     {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(kBaseTypeCode, DW_TAG_base_type, false,
                    {{DW_AT_byte_size, DW_FORM_data1}, {DW_AT_encoding, DW_FORM_data1}})
      .end_abbreviations();
  return dwarf;
}

// One unit with routine "sub" declaring block `linkage` (named without its last '_'),
// with one base type per member just after the block.
inline DwarfBuilder common_block_dwarf(const std::string& linkage,
                                       const std::vector<BuiltMember>& members) {
  DwarfBuilder dwarf = common_block_abbreviations();
  dwarf.begin_unit().code(kUnitCode).string("a.f").code(kRoutineCode).string("sub");
  dwarf.code(kBlockCode).string(linkage.substr(0, linkage.size() - 1)).string(linkage);
  // Each member's type follows the block: member i refers to type i.
  const uint32_t member_size = 1 + 2 + 4 + 1 + 9;  // code, "m\0", ref4, length, DW_OP_addr
  const uint32_t types = dwarf.here() + static_cast<uint32_t>(members.size()) * member_size + 1 + 1;
  for (size_t i = 0; i < members.size(); ++i) {
    dwarf.code(kMemberCode).string("m").u32(types + static_cast<uint32_t>(i) * 3);
    dwarf.address_location(members[i].offset);
  }
  dwarf.end_children().end_children();  // the block, the routine
  for (const BuiltMember& member : members) {
    dwarf.code(kBaseTypeCode).u8(member.size).u8(member.encoding);
  }
  dwarf.end_children().end_unit();
  return dwarf;
}

}  // namespace drelk::test
