// Test-side builder of ELF relocatable objects, as coff_builder.h is for COFF: a test says
// which sections and symbols the object has, in which class and byte order, and the
// builder lays them out and writes the bytes. Record layouts follow the System V ABI's ELF
// chapter.
//
//   ElfObject().section(".data", 16).common("blk_", 400).function("sub_", 1).bytes()
//
// Layout: the ELF header, the contents of the sections in order (each at an offset
// aligned to 8), then the section headers: the null section, the sections given, then
// .symtab, .strtab, .symtab_shndx (when a symbol has an extended index) and .shstrtab.
// Overrides named after a field change that field only and leave the layout as it would
// be without them, so damaged inputs differ from a sound object in exactly one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

// The builder's own copies of the format's values.
namespace elfv {
inline constexpr uint16_t ET_REL = 1;
inline constexpr uint16_t ET_EXEC = 2;
inline constexpr uint16_t ET_DYN = 3;
inline constexpr uint16_t ET_CORE = 4;

inline constexpr uint16_t EM_386 = 3;
inline constexpr uint16_t EM_PPC = 20;
inline constexpr uint16_t EM_S390 = 22;
inline constexpr uint16_t EM_X86_64 = 62;

inline constexpr uint16_t SHN_UNDEF = 0;
inline constexpr uint16_t SHN_X86_64_LCOMMON = 0xFF02;
inline constexpr uint16_t SHN_ABS = 0xFFF1;
inline constexpr uint16_t SHN_COMMON = 0xFFF2;
inline constexpr uint16_t SHN_XINDEX = 0xFFFF;

inline constexpr uint32_t SHT_PROGBITS = 1;
inline constexpr uint32_t SHT_SYMTAB = 2;
inline constexpr uint32_t SHT_STRTAB = 3;
inline constexpr uint32_t SHT_NOBITS = 8;
inline constexpr uint32_t SHT_SYMTAB_SHNDX = 18;

inline constexpr uint8_t STB_LOCAL = 0;
inline constexpr uint8_t STB_GLOBAL = 1;
inline constexpr uint8_t STB_WEAK = 2;
inline constexpr uint8_t STT_NOTYPE = 0;
inline constexpr uint8_t STT_OBJECT = 1;
inline constexpr uint8_t STT_FUNC = 2;
inline constexpr uint8_t STT_SECTION = 3;
inline constexpr uint8_t STT_FILE = 4;
inline constexpr uint8_t STT_TLS = 6;
inline constexpr uint8_t STT_GNU_IFUNC = 10;

// GCC's LTO symbol kinds (ld_plugin_symbol_kind) and types (ld_plugin_symbol_type).
inline constexpr uint8_t LDPK_DEF = 0;
inline constexpr uint8_t LDPK_WEAKDEF = 1;
inline constexpr uint8_t LDPK_UNDEF = 2;
inline constexpr uint8_t LDPK_COMMON = 4;
inline constexpr uint8_t LDST_UNKNOWN = 0;
inline constexpr uint8_t LDST_FUNCTION = 1;
inline constexpr uint8_t LDST_VARIABLE = 2;
}  // namespace elfv

inline constexpr uint8_t elf_info(uint8_t binding, uint8_t type) {
  return static_cast<uint8_t>((binding << 4) | type);
}

// One symbol table record.
struct ElfSymbol {
  std::string name;
  uint64_t value = 0;
  uint64_t size = 0;
  uint8_t info = elf_info(elfv::STB_GLOBAL, elfv::STT_NOTYPE);
  uint16_t shndx = elfv::SHN_UNDEF;
  // The section index written to .symtab_shndx when shndx is SHN_XINDEX.
  std::optional<uint32_t> extended_index;
  // Written to st_name instead of the name's offset; the name then goes nowhere.
  std::optional<uint32_t> name_offset;
};

// One record of GCC's LTO symbol table, with its type from the extension.
struct LtoSymbol {
  std::string name;
  uint8_t kind = elfv::LDPK_DEF;
  uint8_t type = elfv::LDST_FUNCTION;
  uint64_t size = 0;
};

// Where bytes() puts each part; offsets from the start of the object.
struct ElfLayout {
  size_t header_size = 0;
  size_t section_headers_offset = 0;
  size_t section_header_size = 0;
  size_t section_count = 0;  // the null section included
  // Per section index: its name, offset and size as written.
  std::vector<std::string> section_names;
  std::vector<size_t> section_offsets;
  std::vector<size_t> section_sizes;
  size_t symtab_index = 0;
  size_t strtab_index = 0;
  size_t symbol_size = 0;
  size_t size = 0;
};

class ElfObject {
 public:
  // Class and byte order: ELF64 little-endian x86-64 unless told otherwise.
  ElfObject& elf32();
  ElfObject& big_endian();
  ElfObject& machine(uint16_t value);
  ElfObject& type(uint16_t value);  // e_type

  // A section of `size` zero bytes (PROGBITS), or without file data (NOBITS), or with the
  // given contents; returns the builder. Sections are numbered from 1 in the order given.
  ElfObject& section(std::string name, uint64_t size, uint32_t type = elfv::SHT_PROGBITS);
  ElfObject& section_bytes(std::string name, std::vector<uint8_t> contents,
                           uint32_t type = elfv::SHT_PROGBITS);

  // A COMMON declaration: SHN_COMMON, st_size the block's size, st_value its alignment.
  ElfObject& common(std::string name, uint64_t size, uint64_t alignment = 16);
  // A function defined in section `section`.
  ElfObject& function(std::string name, uint16_t section, uint8_t binding = elfv::STB_GLOBAL);
  // A data object of `size` bytes defined in section `section`.
  ElfObject& data(std::string name, uint16_t section, uint64_t size,
                  uint8_t binding = elfv::STB_GLOBAL, uint8_t type = elfv::STT_OBJECT);
  ElfObject& undefined(std::string name);
  ElfObject& symbol(ElfSymbol s);

  // A slim LTO object's symbols: the __gnu_lto_slim marker in the ELF symbol table, and
  // .gnu.lto_.symtab.<id> with its .gnu.lto_.ext_symtab.<id> (left out with
  // `extension` false).
  ElfObject& lto_symbols(std::vector<LtoSymbol> symbols, std::string id = "1",
                         bool extension = true);

  // Overrides of single fields, for damaged inputs.
  ElfObject& ident_byte(size_t index, uint8_t value);  // e_ident[index]
  ElfObject& version(uint32_t value);                  // e_version
  ElfObject& section_headers_offset(uint64_t value);   // e_shoff
  ElfObject& section_header_size(uint16_t value);      // e_shentsize
  ElfObject& section_count(uint16_t value);            // e_shnum
  ElfObject& section_names_index(uint16_t value);      // e_shstrndx
  // e_shnum 0 and e_shstrndx SHN_XINDEX, the real values in section 0's sh_size and sh_link.
  ElfObject& extended_numbering();
  ElfObject& symbol_entry_size(uint64_t value);  // .symtab's sh_entsize
  ElfObject& symbol_table_link(uint32_t value);  // .symtab's sh_link
  // sh_offset and sh_size of the section named `name` (".symtab", ".strtab" included).
  ElfObject& section_offset(const std::string& name, uint64_t value);
  ElfObject& section_size(const std::string& name, uint64_t value);
  // sh_info of every section of that name so far (a RELA section's target section).
  ElfObject& section_info(const std::string& name, uint32_t value);
  // sh_link and sh_flags of every section of that name so far.
  ElfObject& section_link(const std::string& name, uint32_t value);
  ElfObject& section_flags(const std::string& name, uint64_t value);
  // sh_addralign of every section of that name so far (1 unless told).
  ElfObject& section_alignment(const std::string& name, uint64_t value);

  std::vector<uint8_t> bytes() const;
  // The first n bytes of bytes(); n beyond the end throws std::out_of_range.
  std::vector<uint8_t> truncated(size_t n) const;
  ElfLayout layout() const;

 private:
  struct Section {
    std::string name;
    uint32_t type = elfv::SHT_PROGBITS;
    uint64_t size = 0;
    std::vector<uint8_t> contents;  // PROGBITS data; zeros when empty and size is given
    uint32_t link = 0;
    uint32_t info = 0;
    uint64_t flags = 0;
    uint64_t entry_size = 0;
    uint64_t alignment = 1;
  };
  struct Plan;
  Plan plan() const;

  bool is64_ = true;
  bool big_endian_ = false;
  uint16_t machine_ = elfv::EM_X86_64;
  uint16_t type_ = elfv::ET_REL;
  std::vector<Section> sections_;
  std::vector<ElfSymbol> symbols_;

  std::map<size_t, uint8_t> ident_bytes_;
  std::optional<uint32_t> version_;
  std::optional<uint64_t> section_headers_offset_;
  std::optional<uint16_t> section_header_size_;
  std::optional<uint16_t> section_count_;
  std::optional<uint16_t> section_names_index_;
  bool extended_numbering_ = false;
  std::optional<uint64_t> symbol_entry_size_;
  std::optional<uint32_t> symbol_table_link_;
  std::map<std::string, uint64_t> section_offsets_;
  std::map<std::string, uint64_t> section_sizes_;
};

}  // namespace drelk::test
