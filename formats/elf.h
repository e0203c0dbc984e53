// ELF record layouts as the System V ABI's ELF chapter (the "gABI") gives them: fields at
// fixed offsets in the file's own byte order and class, decoded with explicit loads, never
// by casting a buffer. Both classes (32- and 64-bit) and both byte orders are read.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/bytes.h"

namespace drelk::elf {

// The class and byte order of one file: every multi-byte field is loaded through these.
struct Encoding {
  bool is64 = false;
  bool big_endian = false;
};

// An address-sized field (Elf32_Addr/Off/Word of the size class, Elf64_Addr/Off/Xword).
inline uint64_t load_word(const uint8_t* p, const Encoding& encoding) {
  return encoding.is64 ? load_u64(p, encoding.big_endian) : load_u32(p, encoding.big_endian);
}

// e_ident: the 16 bytes that say how to read the rest.
inline constexpr size_t EI_NIDENT = 16;
inline constexpr size_t EI_CLASS = 4;
inline constexpr size_t EI_DATA = 5;
inline constexpr size_t EI_VERSION = 6;
inline constexpr uint8_t ELFMAG[] = {0x7F, 'E', 'L', 'F'};
inline constexpr size_t SELFMAG = 4;
inline constexpr uint8_t ELFCLASS32 = 1;
inline constexpr uint8_t ELFCLASS64 = 2;
inline constexpr uint8_t ELFDATA2LSB = 1;
inline constexpr uint8_t ELFDATA2MSB = 2;
inline constexpr uint32_t EV_CURRENT = 1;

// e_type
inline constexpr uint16_t ET_REL = 1;
inline constexpr uint16_t ET_EXEC = 2;
inline constexpr uint16_t ET_DYN = 3;
inline constexpr uint16_t ET_CORE = 4;

// e_machine values that give reserved section indexes or relocation types a meaning of
// their own.
inline constexpr uint16_t EM_386 = 3;
inline constexpr uint16_t EM_X86_64 = 62;
inline constexpr uint16_t EM_AARCH64 = 183;

// The relocation types of a call to a procedure through its PLT entry (or, on AArch64, a
// direct branch with link): what compilers write for a call of an external procedure.
inline constexpr uint32_t R_386_PLT32 = 4;
inline constexpr uint32_t R_X86_64_PLT32 = 4;
inline constexpr uint32_t R_AARCH64_JUMP26 = 282;
inline constexpr uint32_t R_AARCH64_CALL26 = 283;

// Reserved section indexes.
inline constexpr uint16_t SHN_UNDEF = 0;
inline constexpr uint16_t SHN_LORESERVE = 0xFF00;
inline constexpr uint16_t SHN_X86_64_LCOMMON = 0xFF02;  // x86-64 large-model COMMON
inline constexpr uint16_t SHN_ABS = 0xFFF1;
inline constexpr uint16_t SHN_COMMON = 0xFFF2;
inline constexpr uint16_t SHN_XINDEX = 0xFFFF;

// Section types.
inline constexpr uint32_t SHT_SYMTAB = 2;
inline constexpr uint32_t SHT_STRTAB = 3;
inline constexpr uint32_t SHT_RELA = 4;
inline constexpr uint32_t SHT_NOBITS = 8;
inline constexpr uint32_t SHT_REL = 9;
inline constexpr uint32_t SHT_DYNAMIC = 6;
inline constexpr uint32_t SHT_DYNSYM = 11;
inline constexpr uint32_t SHT_GNU_verdef = 0x6FFFFFFD;
inline constexpr uint32_t SHT_GNU_versym = 0x6FFFFFFF;

// Section flags.
inline constexpr uint64_t SHF_EXECINSTR = 0x4;
inline constexpr uint64_t SHF_COMPRESSED = 0x800;

// Elf32_Chdr / Elf64_Chdr: the header before a compressed section's data.
inline constexpr size_t kChdrType = 0;  // ch_type, u32 in either class
inline constexpr size_t kChdrSize32 = 4;
inline constexpr size_t kChdrSize64 = 8;  // after ch_reserved
inline constexpr size_t kChdrHeaderSize32 = 12;
inline constexpr size_t kChdrHeaderSize64 = 24;
static_assert(kChdrSize32 + 2 * 4 == kChdrHeaderSize32);  // ch_size, ch_addralign
static_assert(kChdrSize64 + 2 * 8 == kChdrHeaderSize64);
inline constexpr uint32_t ELFCOMPRESS_ZLIB = 1;
inline constexpr uint32_t ELFCOMPRESS_ZSTD = 2;
inline constexpr uint32_t SHT_SYMTAB_SHNDX = 18;

// st_info: binding in the high four bits, type in the low four.
inline constexpr uint8_t STB_LOCAL = 0;
inline constexpr uint8_t STB_GLOBAL = 1;
inline constexpr uint8_t STB_WEAK = 2;
inline constexpr uint8_t STB_GNU_UNIQUE = 10;
inline constexpr uint8_t STT_NOTYPE = 0;
inline constexpr uint8_t STT_OBJECT = 1;
inline constexpr uint8_t STT_FUNC = 2;
inline constexpr uint8_t STT_SECTION = 3;
inline constexpr uint8_t STT_TLS = 6;
inline constexpr uint8_t STT_GNU_IFUNC = 10;
inline constexpr uint8_t symbol_binding(uint8_t info) {
  return static_cast<uint8_t>(info >> 4);
}
inline constexpr uint8_t symbol_type(uint8_t info) {
  return static_cast<uint8_t>(info & 0xF);
}

// The offsets of the fields drelk reads in each class's records.
struct ClassLayout {
  // Elf32_Ehdr / Elf64_Ehdr
  size_t header_size;
  size_t e_type;
  size_t e_machine;
  size_t e_version;
  size_t e_shoff;
  size_t e_shentsize;
  size_t e_shnum;
  size_t e_shstrndx;
  // Elf32_Shdr / Elf64_Shdr
  size_t section_header_size;
  size_t sh_name;
  size_t sh_type;
  size_t sh_offset;
  size_t sh_size;
  size_t sh_link;
  size_t sh_entsize;
  // Elf32_Sym / Elf64_Sym
  size_t symbol_size;
  size_t st_name;
  size_t st_value;
  size_t st_size;
  size_t st_info;
  size_t st_shndx;
  // Elf32_Shdr / Elf64_Shdr, the fields read for the debug sections
  size_t sh_flags;
  size_t sh_info;
  // Elf32_Rel(a) / Elf64_Rel(a)
  size_t rel_size;
  size_t rela_size;
  size_t r_info;
  size_t r_addend;
  // Elf32_Shdr / Elf64_Shdr: what a definition's alignment is bounded by
  size_t sh_addralign;
};

inline constexpr ClassLayout kElf32{
    52, 16, 18, 20, 32, 46, 48, 50,  // header: e_shstrndx is its last u16
    40, 0,  4,  16, 20, 24, 36,      // section header: sh_entsize is its last u32
    16, 0,  4,  8,  12, 14,          // symbol: st_shndx is its last u16
    8,  28,                          // section header: sh_flags, sh_info
    8,  12, 4,  8,                   // relocation: r_addend is Elf32_Rela's last u32
    32,                              // section header: sh_addralign, before sh_entsize
};
inline constexpr ClassLayout kElf64{
    64, 16, 18, 20, 40, 58, 60, 62,  // header: e_shstrndx is its last u16
    64, 0,  4,  24, 32, 40, 56,      // section header: sh_entsize is its last u64
    24, 0,  8,  16, 4,  6,           // symbol: st_size is its last u64
    8,  44,                          // section header: sh_flags, sh_info
    16, 24, 8,  16,                  // relocation: r_addend is Elf64_Rela's last u64
    48,                              // section header: sh_addralign, before sh_entsize
};
static_assert(kElf32.e_shstrndx + 2 == kElf32.header_size);
static_assert(kElf64.e_shstrndx + 2 == kElf64.header_size);
static_assert(kElf32.sh_entsize + 4 == kElf32.section_header_size);
static_assert(kElf64.sh_entsize + 8 == kElf64.section_header_size);
static_assert(kElf32.sh_addralign + 4 == kElf32.sh_entsize);
static_assert(kElf64.sh_addralign + 8 == kElf64.sh_entsize);
static_assert(kElf32.st_shndx + 2 == kElf32.symbol_size);
static_assert(kElf64.st_size + 8 == kElf64.symbol_size);
static_assert(kElf32.r_addend + 4 == kElf32.rela_size && kElf32.r_info + 4 == kElf32.rel_size);
static_assert(kElf64.r_addend + 8 == kElf64.rela_size && kElf64.r_info + 8 == kElf64.rel_size);

// r_info: the symbol index above the relocation type (8 bits in ELF32, 32 in ELF64).
inline uint64_t relocation_symbol(uint64_t info, bool is64) {
  return is64 ? info >> 32 : info >> 8;
}
inline uint64_t relocation_type(uint64_t info, bool is64) {
  return is64 ? info & 0xFFFFFFFF : info & 0xFF;
}

inline const ClassLayout& layout_of(const Encoding& encoding) {
  return encoding.is64 ? kElf64 : kElf32;
}

// The program headers' place in the file header (e_phoff, address-sized; e_phentsize and
// e_phnum, u16), of ELF32 and ELF64, and the one program header type drelk looks for.
inline constexpr size_t kPhoff32 = 28;
inline constexpr size_t kPhentsize32 = 42;
inline constexpr size_t kPhoff64 = 32;
inline constexpr size_t kPhentsize64 = 54;
inline constexpr size_t kPhnumAfterPhentsize = 2;
inline constexpr uint32_t PT_INTERP = 3;
// A file found in a directory is judged by at most this many program headers.
inline constexpr uint16_t kProgramHeadersLooked = 64;

// Elf32_Dyn / Elf64_Dyn: d_tag and d_un, each an address-sized field.
inline constexpr uint64_t DT_NULL = 0;
inline constexpr uint64_t DT_FLAGS_1 = 0x6FFFFFFB;
inline constexpr uint64_t DF_1_PIE = 0x08000000;  // a position-independent executable

// The GNU symbol versions: SHT_GNU_versym holds a u16 per dynamic symbol, the index of its
// version (VERSYM_HIDDEN set where it is not the default one); SHT_GNU_verdef a chain of
// Elf_Verdef records (the same in either class), each with its Elf_Verdaux names, the
// first of which is the version's own.
inline constexpr size_t kVersymEntrySize = 2;
inline constexpr uint16_t VERSYM_HIDDEN = 0x8000;
inline constexpr uint16_t VERSYM_VERSION = 0x7FFF;
inline constexpr uint16_t VER_NDX_GLOBAL = 1;  // unversioned
inline constexpr size_t kVerdefNdx = 4;        // vd_ndx, u16
inline constexpr size_t kVerdefAux = 12;       // vd_aux, u32: to the first Elf_Verdaux
inline constexpr size_t kVerdefNext = 16;      // vd_next, u32: to the next Elf_Verdef
inline constexpr size_t kVerdefSize = 20;
inline constexpr size_t kVerdauxName = 0;  // vda_name, u32: in the linked string table
inline constexpr size_t kVerdauxSize = 8;
static_assert(kVerdefNext + 4 == kVerdefSize);

// An SHT_SYMTAB_SHNDX entry: the u32 section index of the symbol of the same index.
inline constexpr size_t kSymtabShndxEntrySize = 4;

// GCC's slim LTO objects: the symbol that marks one, and the sections that hold the
// symbols its intermediate code defines and uses.
inline constexpr char kLtoSlimMarker[] = "__gnu_lto_slim";
inline constexpr char kLtoSymtabPrefix[] = ".gnu.lto_.symtab";
inline constexpr char kLtoExtSymtabPrefix[] = ".gnu.lto_.ext_symtab";

// A .gnu.lto_.symtab record: the NUL-terminated name and comdat name, then these fields.
inline constexpr size_t kLtoSymbolKind = 0;        // u8: ld_plugin_symbol_kind
inline constexpr size_t kLtoSymbolVisibility = 1;  // u8
inline constexpr size_t kLtoSymbolSize = 2;        // u64, little-endian
inline constexpr size_t kLtoSymbolSlot = 10;       // u32, little-endian
inline constexpr size_t kLtoSymbolFieldsSize = 14;
static_assert(kLtoSymbolSlot + 4 == kLtoSymbolFieldsSize);

// ld_plugin_symbol_kind
inline constexpr uint8_t LDPK_DEF = 0;
inline constexpr uint8_t LDPK_WEAKDEF = 1;
inline constexpr uint8_t LDPK_UNDEF = 2;
inline constexpr uint8_t LDPK_WEAKUNDEF = 3;
inline constexpr uint8_t LDPK_COMMON = 4;

// .gnu.lto_.ext_symtab: a version byte, then per symbol a (type, section kind) byte pair.
inline constexpr size_t kLtoExtHeaderSize = 1;
inline constexpr size_t kLtoExtEntrySize = 2;
inline constexpr uint8_t LDST_FUNCTION = 1;
inline constexpr uint8_t LDST_VARIABLE = 2;

}  // namespace drelk::elf
