// Mach-O record layouts as Apple's <mach-o/loader.h>, <mach-o/nlist.h> and <mach-o/fat.h>
// give them: fields at fixed offsets, decoded with explicit loads in the file's own byte
// order, never by casting a buffer. Both classes (32- and 64-bit) and both byte orders of
// objects are read; universal ("fat") headers are big-endian whatever their slices are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drelk::macho {

// mach_header / mach_header_64: magic as the file's first four bytes say it.
inline constexpr uint32_t MH_MAGIC = 0xFEEDFACE;
inline constexpr uint32_t MH_MAGIC_64 = 0xFEEDFACF;
inline constexpr uint32_t MH_CIGAM = 0xCEFAEDFE;  // MH_MAGIC of the other byte order
inline constexpr uint32_t MH_CIGAM_64 = 0xCFFAEDFE;
inline constexpr size_t kMagicSize = 4;

inline constexpr size_t kHeaderMagic = 0;
inline constexpr size_t kHeaderCpuType = 4;
inline constexpr size_t kHeaderCpuSubtype = 8;
inline constexpr size_t kHeaderFileType = 12;
inline constexpr size_t kHeaderNumberOfCommands = 16;  // ncmds
inline constexpr size_t kHeaderSizeOfCommands = 20;    // sizeofcmds
inline constexpr size_t kHeaderFlags = 24;
inline constexpr size_t kHeaderSize32 = 28;
inline constexpr size_t kHeaderSize64 = 32;  // a reserved u32 follows the flags
static_assert(kHeaderFlags + 4 == kHeaderSize32);
static_assert(kHeaderSize32 + 4 == kHeaderSize64);

// filetype: only relocatable objects declare COMMON blocks; the other known types are
// linked images, cores and debug companions.
inline constexpr uint32_t MH_OBJECT = 0x1;
inline constexpr uint32_t MH_EXECUTE = 0x2;
inline constexpr uint32_t MH_DYLIB = 0x6;
inline constexpr uint32_t MH_BUNDLE = 0x8;
inline constexpr uint32_t MH_DSYM = 0xA;     // a .dSYM bundle's companion file: debug information
inline constexpr uint32_t MH_FILESET = 0xC;  // the highest type known

// load_command: every command starts with its kind and its size in bytes.
inline constexpr size_t kCommandCmd = 0;
inline constexpr size_t kCommandSize = 4;  // cmdsize
inline constexpr size_t kCommandHeaderSize = 8;
inline constexpr uint32_t LC_SEGMENT = 0x1;
inline constexpr uint32_t LC_SYMTAB = 0x2;
inline constexpr uint32_t LC_SEGMENT_64 = 0x19;
// Where a linked image's export trie is: dyld_info_command's export_off and export_size,
// or linkedit_data_command's dataoff and datasize.
inline constexpr uint32_t LC_DYLD_INFO = 0x22;
inline constexpr uint32_t LC_DYLD_INFO_ONLY = 0x80000022;
inline constexpr uint32_t LC_DYLD_EXPORTS_TRIE = 0x80000033;
inline constexpr size_t kDyldInfoExportOffset = 40;
inline constexpr size_t kDyldInfoCommandSize = 48;
inline constexpr size_t kLinkeditDataOffset = 8;
inline constexpr size_t kLinkeditDataCommandSize = 16;
static_assert(kDyldInfoExportOffset + 8 == kDyldInfoCommandSize);
static_assert(kLinkeditDataOffset + 8 == kLinkeditDataCommandSize);

// The export trie: a node is a ULEB128 size of its terminal information (0 where no name
// ends there; else the flags, then an address, or a dylib ordinal and a name for a
// re-export, and one more address for a stub with a resolver), then a byte of children
// count, each child an edge string ending in NUL and the ULEB128 offset of its node from
// the trie's start.
inline constexpr uint64_t EXPORT_SYMBOL_FLAGS_KIND_MASK = 0x03;
inline constexpr uint64_t EXPORT_SYMBOL_FLAGS_KIND_REGULAR = 0x00;
inline constexpr uint64_t EXPORT_SYMBOL_FLAGS_KIND_THREAD_LOCAL = 0x01;
inline constexpr uint64_t EXPORT_SYMBOL_FLAGS_REEXPORT = 0x08;
inline constexpr uint64_t EXPORT_SYMBOL_FLAGS_STUB_AND_RESOLVER = 0x10;
// The segment a linked image's export addresses count from.
inline constexpr std::string_view kTextSegment = "__TEXT";
inline constexpr size_t kSegmentName = 8;      // segname[16]
inline constexpr size_t kSegmentAddress = 24;  // vmaddr: u32, or u64 in segment_command_64

// segment_command / segment_command_64: the number of section records that follow.
inline constexpr size_t kSegmentNumberOfSections32 = 48;  // nsects
inline constexpr size_t kSegmentSize32 = 56;
inline constexpr size_t kSegmentNumberOfSections64 = 64;
inline constexpr size_t kSegmentSize64 = 72;
static_assert(kSegmentNumberOfSections32 + 8 == kSegmentSize32);  // nsects, flags
static_assert(kSegmentNumberOfSections64 + 8 == kSegmentSize64);

// section / section_64: sectname[16], segname[16], then these fields.
inline constexpr size_t kSectionName = 0;
inline constexpr size_t kSectionSegmentName = 16;
inline constexpr size_t kSectionNameSize = 16;  // NUL-padded; a full name has no NUL
static_assert(kSectionSegmentName + kSectionNameSize == 32);
// The segment of the debug information in an object (its sections named "__debug_info",
// and so on).
inline constexpr std::string_view kDwarfSegment = "__DWARF";
// A section's address: u32 in section, u64 in section_64, right after the names.
inline constexpr size_t kSectionAddress = 32;
struct SectionLayout {
  size_t record_size;
  size_t size;    // u32 in section, u64 in section_64
  size_t offset;  // u32: the section's data in the object
  size_t align;   // u32: the power of two of its alignment
  size_t reloff;  // u32: its relocation entries
  size_t nreloc;  // u32
  size_t flags;   // u32: type and attributes
};
inline constexpr SectionLayout kSection32{68, 36, 40, 44, 48, 52, 56};
inline constexpr SectionLayout kSection64{80, 40, 48, 52, 56, 60, 64};
static_assert(kSection32.align + 4 == kSection32.reloff &&
              kSection64.align + 4 == kSection64.reloff);
static_assert(kSection32.flags + 12 == kSection32.record_size);  // reserved1, reserved2
static_assert(kSection64.flags + 16 == kSection64.record_size);  // reserved1 to reserved3
static_assert(kSection64.size + 8 == kSection64.offset);

// A relocation_info (or scattered_relocation_info) entry.
inline constexpr uint64_t kRelocationEntrySize = 8;

// Section flags: the type in the low byte, attributes above it.
inline constexpr uint32_t SECTION_TYPE = 0x000000FF;
inline constexpr uint32_t S_ZEROFILL = 0x1;
inline constexpr uint32_t S_GB_ZEROFILL = 0xC;
inline constexpr uint32_t S_THREAD_LOCAL_ZEROFILL = 0x12;
inline constexpr uint32_t S_ATTR_PURE_INSTRUCTIONS = 0x80000000;
inline constexpr uint32_t S_ATTR_SOME_INSTRUCTIONS = 0x00000400;

// symtab_command
inline constexpr size_t kSymtabSymbolOffset = 8;      // symoff
inline constexpr size_t kSymtabNumberOfSymbols = 12;  // nsyms
inline constexpr size_t kSymtabStringOffset = 16;     // stroff
inline constexpr size_t kSymtabStringSize = 20;       // strsize
inline constexpr size_t kSymtabCommandSize = 24;
static_assert(kSymtabStringSize + 4 == kSymtabCommandSize);

// nlist / nlist_64
inline constexpr size_t kNlistStringIndex = 0;  // n_strx
inline constexpr size_t kNlistType = 4;         // n_type
inline constexpr size_t kNlistSection = 5;      // n_sect
inline constexpr size_t kNlistDescription = 6;  // n_desc
inline constexpr size_t kNlistValue = 8;        // n_value: u32, or u64 in nlist_64
inline constexpr size_t kNlistSize32 = 12;
inline constexpr size_t kNlistSize64 = 16;
static_assert(kNlistValue + 4 == kNlistSize32);
static_assert(kNlistValue + 8 == kNlistSize64);

// n_type: debugging entries, private and external bits, and the symbol's kind.
inline constexpr uint8_t N_STAB = 0xE0;
inline constexpr uint8_t N_TYPE = 0x0E;
inline constexpr uint8_t N_EXT = 0x01;
inline constexpr uint8_t N_PEXT = 0x10;  // private external: not exported from a linked image
inline constexpr uint8_t N_UNDF = 0x0;
inline constexpr uint8_t N_SECT = 0xE;

// A COMMON symbol's alignment, a power of two, sits in bits 8 to 11 of n_desc.
inline constexpr uint64_t common_alignment(uint16_t n_desc) {
  return uint64_t{1} << ((n_desc >> 8) & 0xF);
}

// Universal files: fat_header (magic, nfat_arch), then nfat_arch fat_arch records, all
// big-endian; FAT_MAGIC_64 files have fat_arch_64 records with 64-bit offsets and sizes.
inline constexpr uint32_t FAT_MAGIC = 0xCAFEBABE;
inline constexpr uint32_t FAT_MAGIC_64 = 0xCAFEBABF;
inline constexpr size_t kFatHeaderNumberOfArchitectures = 4;  // nfat_arch
inline constexpr size_t kFatHeaderSize = 8;
static_assert(kFatHeaderNumberOfArchitectures + 4 == kFatHeaderSize);

inline constexpr size_t kFatArchCpuType = 0;
inline constexpr size_t kFatArchCpuSubtype = 4;
inline constexpr size_t kFatArchOffset = 8;   // u32, or u64 in fat_arch_64
inline constexpr size_t kFatArchSize32 = 20;  // offset, size, align: u32 each
inline constexpr size_t kFatArchSize64 = 32;  // offset, size: u64; align, reserved: u32
static_assert(kFatArchOffset + 3 * 4 == kFatArchSize32);
static_assert(kFatArchOffset + 2 * 8 + 2 * 4 == kFatArchSize64);

// Java class files start with FAT_MAGIC too; their second word is (minor << 16) | major,
// and no class file's major version is below 45 (JDK 1.0.2). A universal file's count of
// slices is far below that.
inline constexpr uint32_t kFirstClassFileVersion = 45;

// CPU types (cputype) and the subtypes that name architectures of their own; the high byte
// of a subtype holds capability bits.
inline constexpr uint32_t CPU_ARCH_ABI64 = 0x01000000;
inline constexpr uint32_t CPU_ARCH_ABI64_32 = 0x02000000;
inline constexpr uint32_t CPU_TYPE_MC680x0 = 6;
inline constexpr uint32_t CPU_TYPE_X86 = 7;
inline constexpr uint32_t CPU_TYPE_X86_64 = CPU_TYPE_X86 | CPU_ARCH_ABI64;
inline constexpr uint32_t CPU_TYPE_HPPA = 11;
inline constexpr uint32_t CPU_TYPE_ARM = 12;
inline constexpr uint32_t CPU_TYPE_ARM64 = CPU_TYPE_ARM | CPU_ARCH_ABI64;
inline constexpr uint32_t CPU_TYPE_ARM64_32 = CPU_TYPE_ARM | CPU_ARCH_ABI64_32;
inline constexpr uint32_t CPU_TYPE_MC88000 = 13;
inline constexpr uint32_t CPU_TYPE_SPARC = 14;
inline constexpr uint32_t CPU_TYPE_I860 = 15;
inline constexpr uint32_t CPU_TYPE_POWERPC = 18;
inline constexpr uint32_t CPU_TYPE_POWERPC64 = CPU_TYPE_POWERPC | CPU_ARCH_ABI64;
inline constexpr uint32_t CPU_SUBTYPE_MASK = 0xFF000000;

}  // namespace drelk::macho
