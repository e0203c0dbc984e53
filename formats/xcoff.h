// XCOFF layouts (AIX objects, IBM's "XCOFF Object File Format"): the file header, section
// headers, symbol table entries and csect auxiliary entries of both classes, 32-bit (magic
// 0x01DF) and 64-bit (0x01F7), and AIX big archives (ar_big.h: "<bigaf>\n", a fixed header
// of decimal offsets and member headers linked by offsets). Big-endian throughout.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drelk::xcoff {

inline constexpr uint16_t kMagic32 = 0x01DF;  // U802TOCMAGIC
inline constexpr uint16_t kMagic64 = 0x01F7;  // U64_TOCMAGIC

// The file header (filehdr). Both classes start with f_magic, f_nscns and f_timdat and keep
// f_opthdr and f_flags at the same offsets; the 64-bit one widens f_symptr and moves f_nsyms
// after the flags.
inline constexpr size_t kFileHeaderSize32 = 20;
inline constexpr size_t kFileHeaderSize64 = 24;
inline constexpr size_t kFileHeaderMagic = 0;
inline constexpr size_t kFileHeaderNumberOfSections = 2;
inline constexpr size_t kFileHeaderSymbolTablePointer = 8;  // u32, or u64 in 64-bit
inline constexpr size_t kFileHeaderNumberOfSymbols32 = 12;
inline constexpr size_t kFileHeaderOptionalHeaderSize = 16;
inline constexpr size_t kFileHeaderFlags = 18;
inline constexpr size_t kFileHeaderNumberOfSymbols64 = 20;
static_assert(kFileHeaderNumberOfSymbols32 + 4 == kFileHeaderOptionalHeaderSize);
static_assert(kFileHeaderNumberOfSymbols64 + 4 == kFileHeaderSize64);

// f_flags of linked files: an executable, a shared object.
inline constexpr uint16_t F_EXEC = 0x0002;
inline constexpr uint16_t F_SHROBJ = 0x2000;

// A section header (scnhdr): every field after s_name is widened in 64-bit.
struct SectionLayout {
  size_t record_size;
  size_t size;             // s_size
  size_t data_pointer;     // s_scnptr
  size_t relocation_ptr;   // s_relptr
  size_t line_number_ptr;  // s_lnnoptr
  size_t relocation_count;
  size_t line_number_count;
  size_t count_size;  // of s_nreloc and s_nlnno: 2, or 4 in 64-bit
  size_t flags;       // s_flags, u32
  size_t relocation_entry_size;
  size_t line_number_entry_size;
};
inline constexpr size_t kSectionNameSize = 8;
inline constexpr size_t kSectionPhysicalAddress = 8;  // s_paddr
inline constexpr size_t kSectionVirtualAddress32 = 12;
inline constexpr SectionLayout kSection32{40, 16, 20, 24, 28, 32, 34, 2, 36, 10, 6};
inline constexpr SectionLayout kSection64{72, 24, 32, 40, 48, 56, 60, 4, 64, 14, 12};
static_assert(kSection32.flags + 4 == kSection32.record_size);
static_assert(kSection64.flags + 8 == kSection64.record_size);  // 4 bytes of padding

// s_flags, the section's type in the low 16 bits.
inline constexpr uint32_t STYP_TEXT = 0x0020;
inline constexpr uint32_t STYP_DATA = 0x0040;
inline constexpr uint32_t STYP_BSS = 0x0080;
inline constexpr uint32_t STYP_TBSS = 0x0800;
inline constexpr uint32_t STYP_OVRFLO = 0x8000;
inline constexpr uint32_t kSectionTypeMask = 0xFFFF;

// A 32-bit section whose s_nreloc or s_nlnno reads 65535 has its counts in an overflow
// section (STYP_OVRFLO), whose s_nreloc names it and whose s_paddr and s_vaddr hold them.
inline constexpr uint16_t kCountOverflow = 0xFFFF;

// A symbol table entry (syment), 18 bytes in both classes, as is each auxiliary entry.
inline constexpr size_t kSymbolSize = 18;
inline constexpr size_t kSymbolName32 = 0;  // 8 bytes inline, or n_zeroes 0 and n_offset
inline constexpr size_t kSymbolNameOffset32 = 4;
inline constexpr size_t kSymbolValue32 = 8;
inline constexpr size_t kSymbolValue64 = 0;  // u64
inline constexpr size_t kSymbolNameOffset64 = 8;
inline constexpr size_t kSymbolSectionNumber = 12;  // n_scnum, signed
inline constexpr size_t kSymbolType = 14;
inline constexpr size_t kSymbolStorageClass = 16;
inline constexpr size_t kSymbolNumberOfAux = 17;
inline constexpr size_t kSymbolNameSize = 8;
static_assert(kSymbolNumberOfAux + 1 == kSymbolSize);

// n_scnum values that name no section.
inline constexpr int16_t N_DEBUG = -2;
inline constexpr int16_t N_ABS = -1;
inline constexpr int16_t N_UNDEF = 0;

// n_sclass: the storage classes whose last auxiliary entry is their csect entry.
inline constexpr uint8_t C_EXT = 2;
inline constexpr uint8_t C_HIDEXT = 107;
inline constexpr uint8_t C_WEAKEXT = 111;

// The csect auxiliary entry (x_csect). x_scnlen is the csect's length (of XTY_SD and
// XTY_CM), or the index of the containing csect (XTY_LD); 64-bit splits it in two halves.
inline constexpr size_t kCsectLength = 0;         // x_scnlen, or x_scnlen_lo in 64-bit
inline constexpr size_t kCsectSymbolType = 10;    // x_smtyp
inline constexpr size_t kCsectStorageClass = 11;  // x_smclas
inline constexpr size_t kCsectLengthHigh64 = 12;  // x_scnlen_hi
inline constexpr size_t kAuxType64 = 17;          // x_auxtype
inline constexpr uint8_t AUX_CSECT = 251;
static_assert(kAuxType64 + 1 == kSymbolSize);

// x_smtyp: the symbol type in the low 3 bits, log2 of the alignment in the high 5.
inline constexpr uint8_t kSymbolTypeMask = 0x07;
inline constexpr unsigned kAlignmentShift = 3;
inline constexpr uint8_t XTY_ER = 0;  // external reference
inline constexpr uint8_t XTY_SD = 1;  // csect definition
inline constexpr uint8_t XTY_LD = 2;  // label in a csect
inline constexpr uint8_t XTY_CM = 3;  // common (uninitialised) csect

// x_smclas, the storage-mapping classes that matter here.
inline constexpr uint8_t XMC_PR = 0;   // program code
inline constexpr uint8_t XMC_RW = 5;   // read-write data
inline constexpr uint8_t XMC_TC = 3;   // TOC entry
inline constexpr uint8_t XMC_DS = 10;  // function descriptor
inline constexpr uint8_t XMC_TD = 16;  // data in the TOC

// The string table follows the symbol table: a u32 length that counts itself, then the
// names, each NUL-terminated. Name offsets count from the length field.
inline constexpr size_t kStringTableLengthSize = 4;

// AIX big archives: the fixed-length header (fl_hdr), its fields decimal text padded with
// blanks.
inline constexpr char kBigArchiveMagic[] = "<bigaf>\n";
inline constexpr size_t kBigArchiveMagicSize = 8;
static_assert(sizeof kBigArchiveMagic - 1 == kBigArchiveMagicSize);
inline constexpr size_t kBigHeaderSize = 128;
inline constexpr size_t kBigHeaderOffsetSize = 20;
inline constexpr size_t kBigHeaderMemberTable = 8;   // fl_memoff
inline constexpr size_t kBigHeaderFirstMember = 68;  // fl_fstmoff
inline constexpr size_t kBigHeaderLastMember = 88;   // fl_lstmoff
static_assert(kBigHeaderFirstMember + 3 * kBigHeaderOffsetSize == kBigHeaderSize);

// A big archive member header (ar_hdr): its fixed fields, then ar_namlen bytes of name,
// padded to an even length, then "`\n" and the member's data.
inline constexpr size_t kBigMemberHeaderSize = 112;
inline constexpr size_t kBigMemberSize = 0;          // ar_size[20]
inline constexpr size_t kBigMemberNext = 20;         // ar_nxtmem[20]
inline constexpr size_t kBigMemberNameLength = 108;  // ar_namlen[4]
inline constexpr size_t kBigMemberNameLengthSize = 4;
inline constexpr size_t kBigMemberTerminatorSize = 2;  // "`\n"
static_assert(kBigMemberNameLength + kBigMemberNameLengthSize == kBigMemberHeaderSize);

}  // namespace drelk::xcoff
