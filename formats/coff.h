// COFF record layouts as the PE/COFF format documentation gives them: little-endian
// fields at fixed offsets, decoded with explicit loads, never by casting a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace drelk::coff {

// COFF inputs are read with the stream positions of a runtime whose positions are signed
// 32-bit values: 0x80000000 and beyond cannot be reached.
inline constexpr uint64_t kMaxStreamPosition = 0x7FFFFFFF;

// IMAGE_FILE_HEADER
inline constexpr size_t kFileHeaderSize = 20;
inline constexpr size_t kFileHeaderMachine = 0;
inline constexpr size_t kFileHeaderNumberOfSections = 2;
inline constexpr size_t kFileHeaderTimeDateStamp = 4;
inline constexpr size_t kFileHeaderPointerToSymbolTable = 8;
inline constexpr size_t kFileHeaderNumberOfSymbols = 12;
inline constexpr size_t kFileHeaderSizeOfOptionalHeader = 16;
inline constexpr size_t kFileHeaderCharacteristics = 18;
static_assert(kFileHeaderCharacteristics + 2 == kFileHeaderSize);

inline constexpr uint16_t IMAGE_FILE_MACHINE_UNKNOWN = 0;
inline constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x14C;
inline constexpr uint16_t IMAGE_FILE_MACHINE_R3000 = 0x162;
inline constexpr uint16_t IMAGE_FILE_MACHINE_R4000 = 0x166;
inline constexpr uint16_t IMAGE_FILE_MACHINE_R10000 = 0x168;
inline constexpr uint16_t IMAGE_FILE_MACHINE_ALPHA = 0x184;
inline constexpr uint16_t IMAGE_FILE_MACHINE_ALPHA_OLD = 0x183;
inline constexpr uint16_t IMAGE_FILE_MACHINE_POWERPC = 0x1F0;
inline constexpr uint16_t IMAGE_FILE_MACHINE_ARMNT = 0x1C4;
inline constexpr uint16_t IMAGE_FILE_MACHINE_AMD64 = 0x8664;
inline constexpr uint16_t IMAGE_FILE_MACHINE_ARM64 = 0xAA64;
inline constexpr uint16_t IMAGE_FILE_MACHINE_ARM64EC = 0xA641;

// The machine values a COFF object may carry.
inline bool is_valid_machine(uint16_t machine) {
  switch (machine) {
    case IMAGE_FILE_MACHINE_UNKNOWN:
    case IMAGE_FILE_MACHINE_I386:
    case IMAGE_FILE_MACHINE_R3000:
    case IMAGE_FILE_MACHINE_R4000:
    case IMAGE_FILE_MACHINE_R10000:
    case IMAGE_FILE_MACHINE_ALPHA_OLD:
    case IMAGE_FILE_MACHINE_ALPHA:
    case IMAGE_FILE_MACHINE_POWERPC:
    // Today's 64-bit and ARM tool chains.
    case IMAGE_FILE_MACHINE_AMD64:
    case IMAGE_FILE_MACHINE_ARM64:
    case IMAGE_FILE_MACHINE_ARMNT:
    case IMAGE_FILE_MACHINE_ARM64EC:
      return true;
    default:
      return false;
  }
}

// Cross-compilers write this fixed value instead of a build time.
inline constexpr uint32_t kReproducibleTimeStamp = 0x01020304;

// Optional header: the two sizes an object may carry, and the Subsystem field of the
// 224-byte (PE32) form.
inline constexpr uint16_t kOptionalHeaderSizeSmall = 28;
inline constexpr uint16_t kOptionalHeaderSizePe32 = 224;
inline constexpr size_t kOptionalHeaderSubsystem = 68;

inline constexpr uint16_t IMAGE_SUBSYSTEM_UNKNOWN = 0;
inline constexpr uint16_t IMAGE_SUBSYSTEM_NATIVE = 1;
inline constexpr uint16_t IMAGE_SUBSYSTEM_WINDOWS_GUI = 2;
inline constexpr uint16_t IMAGE_SUBSYSTEM_WINDOWS_CUI = 3;
inline constexpr uint16_t IMAGE_SUBSYSTEM_OS2_CUI = 5;
inline constexpr uint16_t IMAGE_SUBSYSTEM_POSIX_CUI = 7;

// IMAGE_SECTION_HEADER
inline constexpr size_t kSectionHeaderSize = 40;
inline constexpr size_t kSectionSizeOfRawData = 16;
inline constexpr size_t kSectionPointerToRawData = 20;
inline constexpr size_t kSectionPointerToRelocations = 24;
inline constexpr size_t kSectionPointerToLinenumbers = 28;
inline constexpr size_t kSectionNumberOfRelocations = 32;
inline constexpr size_t kSectionNumberOfLinenumbers = 34;
inline constexpr size_t kSectionCharacteristics = 36;
static_assert(kSectionCharacteristics + 4 == kSectionHeaderSize);

// A section's alignment in an object: IMAGE_SCN_ALIGN_1BYTES (1) to
// IMAGE_SCN_ALIGN_8192BYTES (14) in bits 20 to 23, the power of two plus one; 0 leaves the
// linker's default of 16 bytes. IMAGE_SCN_TYPE_NO_PAD, obsolete, stands for 1 byte.
inline constexpr uint32_t IMAGE_SCN_TYPE_NO_PAD = 0x00000008;
inline constexpr uint32_t kSectionAlignShift = 20;
inline constexpr uint32_t kSectionAlignMask = 0xF;
inline constexpr uint32_t kSectionAlignLargest = 14;  // IMAGE_SCN_ALIGN_8192BYTES
inline constexpr uint64_t kDefaultSectionAlignment = 16;
// The alignment in bytes that a section's characteristics give it; 0 for the undefined
// value 15.
inline constexpr uint64_t section_alignment(uint32_t characteristics) {
  if ((characteristics & IMAGE_SCN_TYPE_NO_PAD) != 0) return 1;
  const uint32_t field = (characteristics >> kSectionAlignShift) & kSectionAlignMask;
  if (field == 0) return kDefaultSectionAlignment;
  return field <= kSectionAlignLargest ? uint64_t{1} << (field - 1) : 0;
}

// The linker directives of an object: GNU as names the section ".drectve" (eight bytes,
// no NUL), as Microsoft's tools do.
inline constexpr std::string_view kDirectiveSectionName = ".drectve";
// mingw-w64's directive of the alignment that a COMMON symbol asks for:
// -aligncomm:"name",N or -aligncomm:name,N, N the power of two.
inline constexpr std::string_view kAlignCommonDirective = "-aligncomm:";

inline constexpr uint32_t kRelocationEntrySize = 10;  // IMAGE_RELOCATION
inline constexpr uint32_t kLineNumberEntrySize = 6;   // IMAGE_LINENUMBER

// IMAGE_SYMBOL, and the auxiliary records that follow a symbol, of the same size.
inline constexpr size_t kSymbolSize = 18;
inline constexpr size_t kSymbolName = 0;
inline constexpr size_t kSymbolNameLength = 8;
inline constexpr size_t kSymbolNameOffset = 4;  // u32 string table offset of a long name
inline constexpr size_t kSymbolValue = 8;
inline constexpr size_t kSymbolSectionNumber = 12;
inline constexpr size_t kSymbolType = 14;
inline constexpr size_t kSymbolStorageClass = 16;
inline constexpr size_t kSymbolNumberOfAuxSymbols = 17;
static_assert(kSymbolNumberOfAuxSymbols + 1 == kSymbolSize);

inline constexpr int16_t IMAGE_SYM_UNDEFINED = 0;
inline constexpr int16_t IMAGE_SYM_DEBUG = -2;
inline constexpr uint16_t IMAGE_SYM_DTYPE_FUNCTION = 0x20;
inline constexpr uint16_t kComplexTypeMask = 0x30;
inline constexpr uint8_t IMAGE_SYM_CLASS_EXTERNAL = 2;
inline constexpr uint8_t IMAGE_SYM_CLASS_WEAK_EXTERNAL = 105;

// String table: a u32 size that counts itself, then NUL-terminated names.
inline constexpr uint32_t kStringTableSizeField = 4;

// Executable signatures at offset 0, read as a little-endian word.
inline constexpr uint32_t kDosSignature = 0x5A4D;     // "MZ"
inline constexpr uint32_t kNeSignature = 0x454E;      // "NE"
inline constexpr uint32_t kLeSignature = 0x454C;      // "LE"
inline constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"

// A PE image (Microsoft's "PE Format"): the MS-DOS stub's e_lfanew gives the place of the
// "PE\0\0" signature, which the COFF file header follows, then the optional header and
// the section table.
inline constexpr size_t kDosLfanew = 0x3C;  // u32
inline constexpr size_t kPeSignatureSize = 4;
inline constexpr uint16_t IMAGE_FILE_DLL = 0x2000;  // Characteristics
inline constexpr uint16_t IMAGE_NT_OPTIONAL_HDR32_MAGIC = 0x10B;
inline constexpr uint16_t IMAGE_NT_OPTIONAL_HDR64_MAGIC = 0x20B;
// NumberOfRvaAndSizes, then the data directories (RVA and size, u32 each), of PE32 and PE32+.
inline constexpr size_t kPe32ImageBase = 28;  // u32 in PE32
inline constexpr size_t kPe64ImageBase = 24;  // u64 in PE32+
inline constexpr size_t kPe32NumberOfRvaAndSizes = 92;
inline constexpr size_t kPe64NumberOfRvaAndSizes = 108;
inline constexpr size_t kDataDirectorySize = 8;
inline constexpr size_t IMAGE_DIRECTORY_ENTRY_EXPORT = 0;
inline constexpr size_t kSectionVirtualSize = 8;
inline constexpr size_t kSectionVirtualAddress = 12;
inline constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
inline constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
inline constexpr uint32_t IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
// IMAGE_EXPORT_DIRECTORY: the counts and the RVAs of its three tables.
inline constexpr size_t kExportNumberOfFunctions = 20;
inline constexpr size_t kExportNumberOfNames = 24;
inline constexpr size_t kExportAddressOfFunctions = 28;
inline constexpr size_t kExportAddressOfNames = 32;
inline constexpr size_t kExportAddressOfNameOrdinals = 36;
inline constexpr size_t kExportDirectorySize = 40;
static_assert(kExportAddressOfNameOrdinals + 4 == kExportDirectorySize);

// A short import member's IMPORT_OBJECT_HEADER: the type of the import in the low two
// bits of the u16 at 18, then the symbol's name and the DLL's, each ending in NUL.
inline constexpr size_t kImportObjectType = 18;
inline constexpr size_t kImportObjectHeaderSize = 20;
inline constexpr uint16_t IMPORT_OBJECT_TYPE_MASK = 0x3;
inline constexpr uint16_t IMPORT_OBJECT_DATA = 1;

// An import object header or an extended ("bigobj") object header starts with
// Sig1 = IMAGE_FILE_MACHINE_UNKNOWN, Sig2 = 0xFFFF and a u16 version.
inline constexpr uint16_t kImportObjectSig2 = 0xFFFF;
inline constexpr size_t kImportObjectVersion = 4;
inline constexpr uint16_t kBigObjectMinimumVersion = 2;

}  // namespace drelk::coff
