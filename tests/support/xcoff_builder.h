// Test-side builder of XCOFF objects of both classes and of AIX big archives, as the other
// builders are for their formats. Layouts follow IBM's "XCOFF Object File Format" and
// <ar.h>'s big archive (fl_hdr, ar_hdr).
//
//   XcoffObject().section(".text", 16, xcoffv::STYP_TEXT).section(".bss", 400, xcoffv::STYP_BSS)
//       .common("blk_", 400).descriptor("sub_").bytes()
//
// Layout, as LLVM lays out an object: the file header; the section headers; each section's
// data (none for .bss), aligned to 4; its relocations; the symbol table, each symbol with one
// csect auxiliary entry; the string table, which holds every name of a 64-bit object and
// the names longer than 8 bytes of a 32-bit one. Overrides named after a field change that
// field only and leave the layout as it would be without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

// The builder's own copies of the format's values.
namespace xcoffv {
inline constexpr uint32_t STYP_TEXT = 0x20;
inline constexpr uint32_t STYP_DATA = 0x40;
inline constexpr uint32_t STYP_BSS = 0x80;
inline constexpr uint32_t STYP_OVRFLO = 0x8000;
inline constexpr uint8_t C_EXT = 2;
inline constexpr uint8_t C_HIDEXT = 107;
inline constexpr uint8_t C_WEAKEXT = 111;
inline constexpr uint8_t C_FILE = 103;
inline constexpr uint8_t XTY_ER = 0;
inline constexpr uint8_t XTY_SD = 1;
inline constexpr uint8_t XTY_LD = 2;
inline constexpr uint8_t XTY_CM = 3;
inline constexpr uint8_t XMC_PR = 0;
inline constexpr uint8_t XMC_TC = 3;
inline constexpr uint8_t XMC_RW = 5;
inline constexpr uint8_t XMC_DS = 10;
inline constexpr uint16_t F_SHROBJ = 0x2000;
}  // namespace xcoffv

// One symbol and its csect auxiliary entry.
struct XcoffSymbolSpec {
  std::string name;
  uint8_t storage_class = xcoffv::C_EXT;
  int16_t section = 0;  // n_scnum
  uint64_t value = 0;
  uint8_t symbol_type = xcoffv::XTY_CM;  // x_smtyp's low bits
  uint8_t alignment_log2 = 3;
  uint8_t mapping_class = xcoffv::XMC_RW;
  uint64_t length = 0;    // x_scnlen
  uint8_t aux_count = 1;  // n_numaux; the csect entry is the last of them
};

// A symbol with its csect entry of `type` and `mapping_class`.
inline XcoffSymbolSpec csect_symbol(const std::string& name, uint8_t storage_class, uint8_t type,
                                    uint8_t mapping_class, uint64_t length, int16_t section = 0) {
  XcoffSymbolSpec symbol;
  symbol.name = name;
  symbol.storage_class = storage_class;
  symbol.symbol_type = type;
  symbol.mapping_class = mapping_class;
  symbol.length = length;
  symbol.section = section;
  return symbol;
}

class XcoffObject {
 public:
  XcoffObject& is64(bool value = true);
  // A section of `size` bytes; sections are numbered from 1 in the order given.
  XcoffObject& section(const std::string& name, uint64_t size, uint32_t flags,
                       uint32_t relocations = 0);
  // An external COMMON csect of `size` bytes.
  XcoffObject& common(const std::string& name, uint64_t size);
  // A procedure's function descriptor (XMC_DS) in section `section`.
  XcoffObject& descriptor(const std::string& name, int16_t section = 1);
  // Initialised data: an external read-write csect of `length` bytes in `section`.
  XcoffObject& data(const std::string& name, uint64_t length, int16_t section = 1);
  XcoffObject& symbol(const XcoffSymbolSpec& symbol);

  // Overrides of single fields.
  XcoffObject& flags(uint16_t value);
  XcoffObject& section_count(uint16_t value);
  XcoffObject& symbol_offset(uint64_t value);
  XcoffObject& symbol_count(uint32_t value);
  XcoffObject& string_table_size(uint32_t value);
  // n_offset of the `index`th symbol added, instead of its name's offset.
  XcoffObject& name_offset(size_t index, uint32_t value);
  // A section's data, relocation or line-number pointer, or its line-number count.
  XcoffObject& section_data(size_t number, uint64_t offset);
  XcoffObject& section_relocations(size_t number, uint64_t offset, uint32_t count);
  XcoffObject& section_line_numbers(size_t number, uint64_t offset, uint32_t count);
  // A 32-bit section whose `count` relocations overflow its 16-bit field: the field reads
  // 65535 and an overflow section (STYP_OVRFLO) after the others holds the count.
  XcoffObject& overflowing_relocations(size_t number, uint32_t count);
  // The file ends right after the symbol table, without a string table.
  XcoffObject& without_string_table();

  std::vector<uint8_t> bytes() const;

 private:
  struct Section {
    std::string name;
    uint64_t size = 0;
    uint32_t flags = 0;
    uint32_t relocations = 0;
    std::optional<uint64_t> data_offset, relocation_offset, line_number_offset;
    uint32_t line_numbers = 0;
    std::optional<size_t> overflow_of;  // an overflow section: the number of its owner
  };
  bool is64_ = false;
  std::vector<Section> sections_;
  std::vector<XcoffSymbolSpec> symbols_;
  std::optional<uint16_t> flags_, section_count_;
  std::optional<uint64_t> symbol_offset_;
  std::optional<uint32_t> symbol_count_, string_table_size_;
  std::map<size_t, uint32_t> name_offsets_;
  bool string_table_ = true;
};

// An AIX big archive of members in the order given, each header linked to the next; the
// fixed header names the first and the last. No member table and no symbol table are
// written: the walk does not read them.
class BigArchive {
 public:
  BigArchive& member(const std::string& name, const std::vector<uint8_t>& data);
  // Overrides: the fixed header's first member, and a member's link to the next (by the
  // index of the member, whose header's offset `member_offset` gives).
  BigArchive& first_member(uint64_t offset);
  BigArchive& next_member(size_t index, uint64_t offset);
  // Where the header of the `index`th member stands once laid out.
  uint64_t member_offset(size_t index) const;
  std::vector<uint8_t> bytes() const;

 private:
  struct Member {
    std::string name;
    std::vector<uint8_t> data;
  };
  std::vector<Member> members_;
  std::optional<uint64_t> first_member_;
  std::map<size_t, uint64_t> next_members_;
};

}  // namespace drelk::test
