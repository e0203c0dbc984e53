// The diagnostics that more than one format reader reports, each text once: an ELF object
// whose symbol table cannot be read says so in the words a COFF object does.
#pragma once

namespace drelk::message {

inline constexpr char kNotAnObject[] = "The file %s is not an object file.";
// The same, with what the file is instead ("empty", "a text file").
inline constexpr char kNotAnObjectBecause[] = "The file %s is %s, not an object file.";
inline constexpr char kFileHeaderUnreadable[] = "Error reading file header\n";
inline constexpr char kUnsupportedHeader[] = "Error - unsupported %s header in %s\n";
inline constexpr char kSectionHeadersUnreadable[] = "Error reading section headers\n";
inline constexpr char kStringTableNoMemory[] = "Malloc of buffer for string table failed\n";
inline constexpr char kStringTableUnreadable[] = "Read of string table failed\n";
inline constexpr char kSymbolTableNoMemory[] =
    "\nError: Unable to allocate %llu byte buffer to hold symbol table\n";
inline constexpr char kSymbolTableUnreadable[] = "Error reading symbol table\n";
inline constexpr char kNameOutsideStringTable[] =
    "DRELK Internal: name offset %8x is outside string table";
inline constexpr char kSectionNumberOutOfRange[] = "Error: Section number is out of range\n";
inline constexpr char kRawDataOverlap[] =
    "Object Format Error: Raw data overlap between sections %x and %x\n";
inline constexpr char kRawDataOverlapsRelocations[] =
    "Object Format Error: Section %x raw data overlaps section %x relocations\n";
inline constexpr char kRelocationsOverlapRawData[] =
    "Object Format Error: Section %x relocations overlap section %x raw data\n";
inline constexpr char kRelocationsOverlap[] =
    "Object Format Error: Relocations overlap for sections %x and %x\n";
inline constexpr char kRawDataOverlapsLineNumbers[] =
    "Object Format Error: Section %x raw data overlaps section %x line numbers\n";
inline constexpr char kRelocationsOverlapLineNumbers[] =
    "Object Format Error: Section %x relocations overlap section %x line numbers\n";
inline constexpr char kLineNumbersOverlapRawData[] =
    "Object Format Error: Section %x line numbers overlap section %x raw data\n";
inline constexpr char kLineNumbersOverlapRelocations[] =
    "Object Format Error: Section %x line numbers overlap section %x relocations\n";
inline constexpr char kLineNumbersOverlap[] =
    "Object Format Error: Line numbers overlap for sections %x and %x\n";
// The nine overlap tests of two sections' stretches in COFF's order, indexed [stretch of
// section i][stretch of section j]: raw data, relocations, line numbers.
inline constexpr const char* kOverlapMessages[3][3] = {
    {kRawDataOverlap, kRawDataOverlapsRelocations, kRawDataOverlapsLineNumbers},
    {kRelocationsOverlapRawData, kRelocationsOverlap, kRelocationsOverlapLineNumbers},
    {kLineNumbersOverlapRawData, kLineNumbersOverlapRelocations, kLineNumbersOverlap},
};
inline constexpr char kSectionDataOutsideObject[] =
    "Object Format Error: Section %x data lies outside the object\n";
inline constexpr char kRelocationsOutsideObject[] =
    "Object Format Error: Section %x relocations lie outside the object\n";
// An object's symbol or string table that reaches past the object's end ("symbol table").
inline constexpr char kTableOutsideObject[] =
    "Object Format Error: The %s lies outside the object\n";
inline constexpr char kAuxCountOverflows[] = "Error:  Aux symbol count overflows symbol table\n";
inline constexpr char kFurtherOverlapsNotListed[] =
    "Object Format Error: further section overlaps in %s not listed\n";

}  // namespace drelk::message
