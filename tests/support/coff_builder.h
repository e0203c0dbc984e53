// Test-side builder of COFF object files, the way LLVM's tests describe objects to yaml2obj:
// a test says which headers, sections and symbols the object has, and the builder lays them
// out and writes the bytes. Record layouts follow the public PE/COFF format documentation.
//
//   CoffObject().section(".data", 16).common("_area_", 400).function("_sub_", 1).bytes()
//
// Every setter returns the builder. Overrides named after a header field change that field
// only and leave the layout as it would be without them, so damaged inputs differ from a
// sound object in exactly one place.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

// The builder's own copies of the format's values: a test that built its input from the
// reader's constants would not notice a wrong constant in the reader.
namespace pe {
inline constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x14C;
inline constexpr uint16_t IMAGE_FILE_MACHINE_AMD64 = 0x8664;

inline constexpr int16_t IMAGE_SYM_UNDEFINED = 0;
inline constexpr int16_t IMAGE_SYM_ABSOLUTE = -1;
inline constexpr int16_t IMAGE_SYM_DEBUG = -2;

inline constexpr uint16_t IMAGE_SYM_TYPE_NULL = 0;
// Type field of a function: complex type IMAGE_SYM_DTYPE_FUNCTION (2) in bits 4-5.
inline constexpr uint16_t IMAGE_SYM_TYPE_FUNCTION = 0x20;

inline constexpr uint8_t IMAGE_SYM_CLASS_EXTERNAL = 2;
inline constexpr uint8_t IMAGE_SYM_CLASS_STATIC = 3;
inline constexpr uint8_t IMAGE_SYM_CLASS_FUNCTION = 101;
inline constexpr uint8_t IMAGE_SYM_CLASS_FILE = 103;
inline constexpr uint8_t IMAGE_SYM_CLASS_WEAK_EXTERNAL = 105;

inline constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
inline constexpr uint32_t IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040;
inline constexpr uint32_t IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
inline constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
inline constexpr uint32_t IMAGE_SCN_MEM_READ = 0x40000000;
inline constexpr uint32_t IMAGE_SCN_MEM_WRITE = 0x80000000;

inline constexpr uint32_t kDataSectionCharacteristics =
    IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
inline constexpr uint32_t kCodeSectionCharacteristics =
    IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ;
}  // namespace pe

// Record sizes of the format, pinned here so that tests can compute offsets from them.
inline constexpr size_t kFileHeaderSize = 20;
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr size_t kSymbolSize = 18;
inline constexpr size_t kRelocationSize = 10;
inline constexpr size_t kLineNumberSize = 6;
inline constexpr size_t kStringTableSizeFieldSize = 4;

using AuxRecord = std::array<uint8_t, kSymbolSize>;

// A section header written exactly as given; nothing is laid out for it. For tests of
// section layout (overlapping or out-of-file stretches).
struct SectionHeader {
  std::string name;  // at most 8 bytes, NUL-padded; a "/4" style name is written as is
  uint32_t virtual_size = 0;
  uint32_t virtual_address = 0;
  uint32_t size_of_raw_data = 0;
  uint32_t pointer_to_raw_data = 0;
  uint32_t pointer_to_relocations = 0;
  uint32_t pointer_to_linenumbers = 0;
  uint16_t number_of_relocations = 0;
  uint16_t number_of_linenumbers = 0;
  uint32_t characteristics = 0;
};

// One symbol table record and its auxiliary records.
struct Symbol {
  // Up to 8 bytes go inline (NUL-padded; exactly 8 bytes leave no NUL). Longer names go to
  // the string table. An empty name is eight NULs, which the format reads as the long form
  // with offset 0.
  std::string name;
  uint32_t value = 0;
  int16_t section = pe::IMAGE_SYM_UNDEFINED;
  uint16_t type = pe::IMAGE_SYM_TYPE_NULL;
  uint8_t storage_class = pe::IMAGE_SYM_CLASS_EXTERNAL;
  // Written to NumberOfAuxSymbols.
  uint8_t aux_count = 0;
  // Forces the long-name form (four zero bytes, then this offset) whatever the name's length.
  // The name itself is then not put in the string table; supply text with string_text().
  std::optional<uint32_t> name_offset;
  // Bytes of the auxiliary records. Records written after the symbol: these, then zero-filled
  // ones up to aux_count. More records than aux_count are all written (the field stays).
  std::vector<AuxRecord> aux;
};

// Where bytes() puts each part. Offsets are from the start of the object.
struct CoffLayout {
  size_t optional_header_offset = kFileHeaderSize;
  size_t optional_header_size = 0;
  size_t section_headers_offset = 0;
  // One entry per section, in order. Pointers are those written into the headers (0 for an
  // empty stretch); for section_header() entries they are the ones given.
  std::vector<size_t> section_header_offsets;
  std::vector<uint32_t> raw_data_pointers;
  std::vector<uint32_t> relocation_pointers;
  std::vector<uint32_t> line_number_pointers;
  size_t symbol_table_offset = 0;
  // Per symbol() record (aux records not counted): its offset and its index in the table.
  std::vector<size_t> symbol_offsets;
  std::vector<uint32_t> symbol_indices;
  // String-table offset written for each symbol's long name, if it has the long form.
  std::vector<std::optional<uint32_t>> symbol_name_offsets;
  // String-table offset of each section's long name ("/<offset>" in its header), if any.
  std::vector<std::optional<uint32_t>> section_name_offsets;
  bool has_string_table = false;
  size_t string_table_offset = 0;  // where its size field is (or would be)
  uint32_t string_table_size = 0;  // as written into the size field
  size_t size = 0;                 // of the whole object
};

class CoffObject {
 public:
  CoffObject& machine(uint16_t value);
  CoffObject& time_stamp(uint32_t value);
  CoffObject& characteristics(uint16_t value);

  // size zero bytes after the file header; the u16 Subsystem at offset 68 when it fits.
  CoffObject& optional_header(uint16_t size, uint16_t subsystem = 0);

  // A section whose raw data, relocations and line numbers are laid out after the section
  // headers, one section after another, zero-filled. A pointer is 0 when its stretch is empty.
  // A name longer than 8 bytes goes to the string table and the header says "/<offset>".
  CoffObject& section(std::string name, uint32_t raw_size, uint16_t relocations = 0,
                      uint16_t line_numbers = 0,
                      uint32_t characteristics = pe::kDataSectionCharacteristics);
  CoffObject& section_header(SectionHeader header);

  // A COMMON block declaration: external, undefined, Value = block size.
  CoffObject& common(std::string name, uint32_t size);
  // A procedure defined in a section: Type function, Value 0.
  CoffObject& function(std::string name, int16_t section,
                       uint8_t storage_class = pe::IMAGE_SYM_CLASS_EXTERNAL);
  // External data defined in a section.
  CoffObject& data(std::string name, int16_t section, uint32_t value = 0);
  // Any symbol record. g++ 12 warns (-Wmissing-field-initializers) on a designated
  // initializer that leaves fields out, so the positional form below and the modifiers of
  // the last symbol are the short way to write one; symbol(Symbol) takes a record in full.
  CoffObject& symbol(Symbol s);
  CoffObject& symbol(std::string name, uint32_t value, int16_t section,
                     uint16_t type = pe::IMAGE_SYM_TYPE_NULL,
                     uint8_t storage_class = pe::IMAGE_SYM_CLASS_EXTERNAL, uint8_t aux_count = 0);

  // Modifiers of the last symbol added (std::logic_error when there is none).
  // Appends an auxiliary record, raising NumberOfAuxSymbols to cover it.
  CoffObject& aux(AuxRecord record);
  // Sets NumberOfAuxSymbols; zero-filled records are written up to it.
  CoffObject& aux_count(uint8_t count);
  // Writes the name in the long form with this raw string-table offset (see Symbol).
  CoffObject& name_offset(uint32_t offset);

  // Overrides of single fields, for damaged inputs.
  CoffObject& section_count(uint16_t value);               // NumberOfSections
  CoffObject& symbol_table_pointer(uint32_t value);        // PointerToSymbolTable
  CoffObject& symbol_count(uint32_t value);                // NumberOfSymbols
  CoffObject& optional_header_size_field(uint16_t value);  // SizeOfOptionalHeader
  CoffObject& string_table_size(uint32_t value);           // the table's size field
  // Raw text appended to the string table after the long names; the size field covers it.
  CoffObject& string_text(std::string raw);
  // Ends the object right after its symbol table.
  CoffObject& no_string_table();

  // The string table is written when the object has a symbol table (at least one symbol, or
  // a NumberOfSymbols override), a long name, or string_table_size()/string_text() was
  // given; with nothing in it, it is just the size field 4, as compilers write it. The
  // symbol table pointer is 0 when neither symbols nor a string table are written.
  std::vector<uint8_t> bytes() const;
  // The first n bytes of bytes(); n beyond the end throws std::out_of_range.
  std::vector<uint8_t> truncated(size_t n) const;
  CoffLayout layout() const;
  size_t symbol_table_offset() const;

 private:
  struct Section {
    SectionHeader header;
    bool laid_out = false;  // false for section_header() entries
  };

  uint16_t machine_ = pe::IMAGE_FILE_MACHINE_I386;
  uint32_t time_stamp_ = 0;
  uint16_t characteristics_ = 0;
  uint16_t optional_header_size_ = 0;
  uint16_t subsystem_ = 0;
  std::vector<Section> sections_;
  std::vector<Symbol> symbols_;

  std::optional<uint16_t> section_count_;
  std::optional<uint32_t> symbol_table_pointer_;
  std::optional<uint32_t> symbol_count_;
  std::optional<uint16_t> optional_header_size_field_;
  std::optional<uint32_t> string_table_size_;
  std::string string_text_;
  bool string_text_given_ = false;
  bool no_string_table_ = false;

  Symbol& last_symbol(const char* modifier);
  // The layout, and the string table's text (everything after its size field).
  CoffLayout plan(std::string& text) const;
};

// An object of `count` .data sections whose raw data, relocations and line numbers all lie
// in one place: overlaps enough for some ten thousand diagnostics from 200 of them.
CoffObject sections_in_one_place(uint32_t count);

}  // namespace drelk::test
