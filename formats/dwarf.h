// DWARF constants as the DWARF 4 and 5 standards name them: the subset that describes
// COMMON blocks, their members' types and locations, and the file names of the line
// table. Values only; the reader is in dwarf/.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drelk::dwarf {

// Tags (DW_TAG_*).
inline constexpr uint64_t DW_TAG_array_type = 0x01;
inline constexpr uint64_t DW_TAG_lexical_block = 0x0b;
inline constexpr uint64_t DW_TAG_member = 0x0d;
inline constexpr uint64_t DW_TAG_pointer_type = 0x0f;
inline constexpr uint64_t DW_TAG_compile_unit = 0x11;
inline constexpr uint64_t DW_TAG_string_type = 0x12;
inline constexpr uint64_t DW_TAG_structure_type = 0x13;
inline constexpr uint64_t DW_TAG_typedef = 0x16;
inline constexpr uint64_t DW_TAG_subrange_type = 0x21;
inline constexpr uint64_t DW_TAG_base_type = 0x24;
inline constexpr uint64_t DW_TAG_const_type = 0x26;
inline constexpr uint64_t DW_TAG_common_block = 0x1a;
inline constexpr uint64_t DW_TAG_entry_point = 0x03;
inline constexpr uint64_t DW_TAG_subprogram = 0x2e;
inline constexpr uint64_t DW_TAG_variable = 0x34;
inline constexpr uint64_t DW_TAG_volatile_type = 0x35;
inline constexpr uint64_t DW_TAG_namespace = 0x39;
inline constexpr uint64_t DW_TAG_module = 0x1e;
inline constexpr uint64_t DW_TAG_partial_unit = 0x3c;

// Attributes (DW_AT_*).
inline constexpr uint64_t DW_AT_sibling = 0x01;
inline constexpr uint64_t DW_AT_location = 0x02;
inline constexpr uint64_t DW_AT_name = 0x03;
inline constexpr uint64_t DW_AT_byte_size = 0x0b;
inline constexpr uint64_t DW_AT_stmt_list = 0x10;
inline constexpr uint64_t DW_AT_language = 0x13;
inline constexpr uint64_t DW_AT_string_length = 0x19;
inline constexpr uint64_t DW_AT_comp_dir = 0x1b;
inline constexpr uint64_t DW_AT_lower_bound = 0x22;
inline constexpr uint64_t DW_AT_upper_bound = 0x2f;
inline constexpr uint64_t DW_AT_count = 0x37;
inline constexpr uint64_t DW_AT_decl_file = 0x3a;
inline constexpr uint64_t DW_AT_decl_line = 0x3b;
inline constexpr uint64_t DW_AT_encoding = 0x3e;
inline constexpr uint64_t DW_AT_type = 0x49;
inline constexpr uint64_t DW_AT_linkage_name = 0x6e;
inline constexpr uint64_t DW_AT_MIPS_linkage_name = 0x2007;
inline constexpr uint64_t DW_AT_str_offsets_base = 0x72;
inline constexpr uint64_t DW_AT_addr_base = 0x73;

// Forms (DW_FORM_*).
inline constexpr uint64_t DW_FORM_addr = 0x01;
inline constexpr uint64_t DW_FORM_block2 = 0x03;
inline constexpr uint64_t DW_FORM_block4 = 0x04;
inline constexpr uint64_t DW_FORM_data2 = 0x05;
inline constexpr uint64_t DW_FORM_data4 = 0x06;
inline constexpr uint64_t DW_FORM_data8 = 0x07;
inline constexpr uint64_t DW_FORM_string = 0x08;
inline constexpr uint64_t DW_FORM_block = 0x09;
inline constexpr uint64_t DW_FORM_block1 = 0x0a;
inline constexpr uint64_t DW_FORM_data1 = 0x0b;
inline constexpr uint64_t DW_FORM_flag = 0x0c;
inline constexpr uint64_t DW_FORM_sdata = 0x0d;
inline constexpr uint64_t DW_FORM_strp = 0x0e;
inline constexpr uint64_t DW_FORM_udata = 0x0f;
inline constexpr uint64_t DW_FORM_ref_addr = 0x10;
inline constexpr uint64_t DW_FORM_ref1 = 0x11;
inline constexpr uint64_t DW_FORM_ref2 = 0x12;
inline constexpr uint64_t DW_FORM_ref4 = 0x13;
inline constexpr uint64_t DW_FORM_ref8 = 0x14;
inline constexpr uint64_t DW_FORM_ref_udata = 0x15;
inline constexpr uint64_t DW_FORM_indirect = 0x16;
inline constexpr uint64_t DW_FORM_sec_offset = 0x17;
inline constexpr uint64_t DW_FORM_exprloc = 0x18;
inline constexpr uint64_t DW_FORM_flag_present = 0x19;
inline constexpr uint64_t DW_FORM_strx = 0x1a;
inline constexpr uint64_t DW_FORM_addrx = 0x1b;
inline constexpr uint64_t DW_FORM_ref_sup4 = 0x1c;
inline constexpr uint64_t DW_FORM_strp_sup = 0x1d;
inline constexpr uint64_t DW_FORM_data16 = 0x1e;
inline constexpr uint64_t DW_FORM_line_strp = 0x1f;
inline constexpr uint64_t DW_FORM_ref_sig8 = 0x20;
inline constexpr uint64_t DW_FORM_implicit_const = 0x21;
inline constexpr uint64_t DW_FORM_loclistx = 0x22;
inline constexpr uint64_t DW_FORM_rnglistx = 0x23;
inline constexpr uint64_t DW_FORM_ref_sup8 = 0x24;
inline constexpr uint64_t DW_FORM_strx1 = 0x25;
inline constexpr uint64_t DW_FORM_strx2 = 0x26;
inline constexpr uint64_t DW_FORM_strx3 = 0x27;
inline constexpr uint64_t DW_FORM_strx4 = 0x28;
inline constexpr uint64_t DW_FORM_addrx1 = 0x29;
inline constexpr uint64_t DW_FORM_addrx2 = 0x2a;
inline constexpr uint64_t DW_FORM_addrx3 = 0x2b;
inline constexpr uint64_t DW_FORM_addrx4 = 0x2c;

// Location expression operations (DW_OP_*).
inline constexpr uint8_t DW_OP_addr = 0x03;
inline constexpr uint8_t DW_OP_plus_uconst = 0x23;
inline constexpr uint8_t DW_OP_addrx = 0xa1;
inline constexpr uint8_t DW_OP_GNU_addr_index = 0xfb;

// Base type encodings (DW_ATE_*).
inline constexpr uint64_t DW_ATE_boolean = 0x02;
inline constexpr uint64_t DW_ATE_complex_float = 0x03;
inline constexpr uint64_t DW_ATE_float = 0x04;
inline constexpr uint64_t DW_ATE_signed = 0x05;
inline constexpr uint64_t DW_ATE_signed_char = 0x06;
inline constexpr uint64_t DW_ATE_unsigned = 0x07;
inline constexpr uint64_t DW_ATE_unsigned_char = 0x08;
inline constexpr uint64_t DW_ATE_UTF = 0x10;

// Languages whose arrays start at 0 unless a lower bound says otherwise (DW_LANG_*);
// Fortran's, and any language not listed, start at 1.
inline constexpr uint64_t DW_LANG_C89 = 0x01;
inline constexpr uint64_t DW_LANG_C = 0x02;
inline constexpr uint64_t DW_LANG_C_plus_plus = 0x04;
inline constexpr uint64_t DW_LANG_C99 = 0x0c;
inline constexpr uint64_t DW_LANG_C_plus_plus_11 = 0x1a;
inline constexpr uint64_t DW_LANG_C11 = 0x1d;
inline constexpr uint64_t DW_LANG_C_plus_plus_14 = 0x21;

// Unit types (DW_UT_*) of DWARF 5 unit headers.
inline constexpr uint8_t DW_UT_compile = 0x01;
inline constexpr uint8_t DW_UT_partial = 0x03;

// Line table header entry content types (DW_LNCT_*) of DWARF 5.
inline constexpr uint64_t DW_LNCT_path = 0x1;
inline constexpr uint64_t DW_LNCT_directory_index = 0x2;

// A unit length of this value announces 64-bit DWARF; values from 0xfffffff0 up are reserved.
inline constexpr uint32_t kDwarf64Escape = 0xffffffff;
inline constexpr uint32_t kReservedLengths = 0xfffffff0;

// Unit header sizes after the unit length (32-bit DWARF): version (2), then for DWARF 5
// unit type (1), address size (1) and abbreviation offset (4); for DWARF 2 to 4 the
// abbreviation offset (4) and the address size (1).
inline constexpr size_t kUnitLengthSize = 4;
inline constexpr size_t kUnitHeaderSize5 = 2 + 1 + 1 + 4;
inline constexpr size_t kUnitHeaderSize4 = 2 + 4 + 1;
static_assert(kUnitHeaderSize5 == 8 && kUnitHeaderSize4 == 7);

// The lowest and highest unit and line table versions read.
inline constexpr uint16_t kFirstVersion = 2;
inline constexpr uint16_t kLastVersion = 5;

}  // namespace drelk::dwarf
