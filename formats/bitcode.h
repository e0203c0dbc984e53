// LLVM bitcode as LLVM's "LLVM Bitcode File Format" describes it, and the layout of the IR
// symbol table that LLVM keeps in every bitcode file it writes (llvm/Object/IRSymtab.h): the
// wrapper header, the bitstream's abbreviation ids and encodings, the ids of the top-level
// blocks, and the symbol table's records at fixed offsets, little-endian and unaligned.
#pragma once

#include <cstddef>
#include <cstdint>

namespace drelk::bitcode {

// The raw form starts with "BC" 0xC0DE; the wrapper that Darwin tools put around it with
// five little-endian u32: magic, version, offset and size of the bitcode, CPU type.
inline constexpr uint8_t kRawMagic[] = {'B', 'C', 0xC0, 0xDE};
inline constexpr size_t kRawMagicSize = sizeof kRawMagic;
inline constexpr uint32_t kWrapperMagic = 0x0B17C0DE;
inline constexpr size_t kWrapperMagicField = 0;
inline constexpr size_t kWrapperVersion = 4;
inline constexpr size_t kWrapperOffset = 8;
inline constexpr size_t kWrapperSize = 12;
inline constexpr size_t kWrapperCpuType = 16;
inline constexpr size_t kWrapperHeaderSize = 20;
static_assert(kWrapperCpuType + 4 == kWrapperHeaderSize);

// The abbreviation ids every block knows; ids from kFirstApplicationAbbrev name the
// abbreviations defined in the block.
inline constexpr uint32_t END_BLOCK = 0;
inline constexpr uint32_t ENTER_SUBBLOCK = 1;
inline constexpr uint32_t DEFINE_ABBREV = 2;
inline constexpr uint32_t UNABBREV_RECORD = 3;
inline constexpr uint32_t kFirstApplicationAbbrev = 4;
inline constexpr unsigned kTopLevelAbbrevWidth = 2;

// The widths of the fields of the items above.
inline constexpr unsigned kBlockIdWidth = 8;             // vbr
inline constexpr unsigned kNewAbbrevWidthWidth = 4;      // vbr
inline constexpr unsigned kBlockLengthWidth = 32;        // fixed, in 32-bit words
inline constexpr unsigned kAbbrevOperandCountWidth = 5;  // vbr
inline constexpr unsigned kLiteralValueWidth = 8;        // vbr
inline constexpr unsigned kEncodingWidth = 3;            // fixed
inline constexpr unsigned kEncodingValueWidth = 5;       // vbr
inline constexpr unsigned kRecordCodeWidth = 6;          // vbr
inline constexpr unsigned kRecordOperandCountWidth = 6;  // vbr
inline constexpr unsigned kRecordOperandWidth = 6;       // vbr
inline constexpr unsigned kArrayLengthWidth = 6;         // vbr
inline constexpr unsigned kBlobLengthWidth = 6;          // vbr
inline constexpr unsigned kChar6Width = 6;

// The encodings of an abbreviation's operands.
inline constexpr uint32_t kEncodingFixed = 1;
inline constexpr uint32_t kEncodingVbr = 2;
inline constexpr uint32_t kEncodingArray = 3;
inline constexpr uint32_t kEncodingChar6 = 4;
inline constexpr uint32_t kEncodingBlob = 5;
// No field holds more than 64 bits.
inline constexpr uint64_t kMaxFieldWidth = 64;

// The top-level blocks. A SYMTAB and a STRTAB block hold one blob record each; a STRTAB
// serves the SYMTABs before it.
inline constexpr uint32_t BLOCKINFO_BLOCK_ID = 0;
inline constexpr uint32_t MODULE_BLOCK_ID = 8;
inline constexpr uint32_t IDENTIFICATION_BLOCK_ID = 13;
inline constexpr uint32_t STRTAB_BLOCK_ID = 23;
inline constexpr uint32_t SYMTAB_BLOCK_ID = 25;
inline constexpr uint32_t SYMTAB_BLOB = 1;
inline constexpr uint32_t STRTAB_BLOB = 1;

// The IR symbol table. "Str" and "Range" are {offset u32, size u32}: a string of the string
// table, and a count of records at an offset of the symbol table.
inline constexpr size_t kStrOffset = 0;
inline constexpr size_t kStrSize = 4;
inline constexpr size_t kStrFieldSize = 8;

inline constexpr size_t kHeaderVersion = 0;
inline constexpr size_t kHeaderProducer = 4;
inline constexpr size_t kHeaderModules = 12;
inline constexpr size_t kHeaderComdats = 20;
inline constexpr size_t kHeaderSymbols = 28;
inline constexpr size_t kHeaderUncommons = 36;
inline constexpr size_t kHeaderTargetTriple = 44;
inline constexpr size_t kHeaderSourceFileName = 52;
inline constexpr size_t kHeaderCoffLinkerOpts = 60;
inline constexpr size_t kHeaderDependentLibraries = 68;
inline constexpr size_t kHeaderSize = 76;
static_assert(kHeaderDependentLibraries + kStrFieldSize == kHeaderSize);

// The table versions read: 3 with a u32 CommonSize, 4 with a u64 one.
inline constexpr uint32_t kVersionCommonSize32 = 3;
inline constexpr uint32_t kVersionCommonSize64 = 4;

inline constexpr size_t kSymbolName = 0;    // Str: the mangled name
inline constexpr size_t kSymbolIrName = 8;  // Str
inline constexpr size_t kSymbolComdatIndex = 16;
inline constexpr size_t kSymbolFlags = 20;
inline constexpr size_t kSymbolSize = 24;
static_assert(kSymbolFlags + 4 == kSymbolSize);

// Symbol flags (bits 0 and 1 are the visibility).
inline constexpr uint32_t FB_has_uncommon = 1u << 2;
inline constexpr uint32_t FB_undefined = 1u << 3;
inline constexpr uint32_t FB_weak = 1u << 4;
inline constexpr uint32_t FB_common = 1u << 5;
inline constexpr uint32_t FB_indirect = 1u << 6;
inline constexpr uint32_t FB_used = 1u << 7;
inline constexpr uint32_t FB_tls = 1u << 8;
inline constexpr uint32_t FB_may_omit = 1u << 9;
inline constexpr uint32_t FB_global = 1u << 10;
inline constexpr uint32_t FB_format_specific = 1u << 11;
inline constexpr uint32_t FB_unnamed_addr = 1u << 12;
inline constexpr uint32_t FB_executable = 1u << 13;

// The "uncommon" record that each symbol with FB_has_uncommon takes, in symbol order:
// CommonSize, CommonAlign, then two Str (a COFF weak external's fallback, a section name).
inline constexpr size_t kUncommonCommonSize = 0;
inline constexpr size_t kUncommonCommonAlign3 = 4;
inline constexpr size_t kUncommonSize3 = 24;
static_assert(kUncommonCommonAlign3 + 4 + 2 * kStrFieldSize == kUncommonSize3);
inline constexpr size_t kUncommonCommonAlign4 = 8;
inline constexpr size_t kUncommonSize4 = 28;
static_assert(kUncommonCommonAlign4 + 4 + 2 * kStrFieldSize == kUncommonSize4);

}  // namespace drelk::bitcode
