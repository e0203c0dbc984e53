// The object reader: tells objects from libraries and executables, walks library
// members, reads and checks each object's headers and tables, checks the layout of its
// sections in the file, and scans its symbol table into the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/input_stream.h"
#include "registry/registry.h"

namespace drelk {

// The tables of the object being read, set up afresh for each object.
struct ObjectTables {
  uint16_t machine = 0;
  uint16_t number_of_sections = 0;
  uint32_t time_date_stamp = 0;
  uint32_t pointer_to_symbol_table = 0;
  uint32_t number_of_symbols = 0;
  uint16_t size_of_optional_header = 0;
  // NumberOfSections + 1 section header slots; slot 0 stays empty so that a section's
  // slot is its section number.
  std::vector<uint8_t> section_table;
  std::vector<uint8_t> string_text;  // the string table after its size field
  std::vector<uint8_t> symbols;      // NumberOfSymbols records of 18 bytes
};

// Run-wide state the reader works on; one per analysis, so that tests and the fuzz target
// can run many independent analyses in one process.
struct Analysis {
  Diagnostics& diagnostics;
  Registry& registry;
  const ObjectEntry* current_object = nullptr;
  ObjectTables tables;
};

// Result of the analysers: kAnalysisFailed ends a library walk.
inline constexpr int kAnalysisOk = 0;
inline constexpr int kAnalysisFailed = 1;

// Reads `count` bytes in one request. Returns `count`, or 0 after reporting a failed read
// ("fread failed in <label>") or a short one ("fread returned N bytes (M expected)").
size_t read_checked(Analysis& analysis, InputStream& stream, size_t count, void* destination,
                    const char* label);

// The same read, reporting the same diagnostics, but returning the bytes that came back.
size_t read_counted(Analysis& analysis, InputStream& stream, size_t count, void* destination,
                    const char* label);

// Absolute seek; false when the position cannot be held by the stream.
bool seek_to(InputStream& stream, uint32_t offset);

uint32_t swap_bytes32(uint32_t value);

// Classifies an opened input and analyses it: executables are refused, archives walked,
// anything else read as a COFF object. Returns kAnalysisFailed or kAnalysisOk.
int analyze_file(Analysis& analysis, InputStream& stream, const ObjectEntry& entry);

// Reads one COFF object starting at the stream's position, `base` in the file.
int analyze_object(Analysis& analysis, InputStream& stream, const ObjectEntry& entry,
                   uint32_t base);

// File header and optional header readers at the stream's position. Both return 0 when
// the header is unusable, non-zero otherwise.
int process_file_header(Analysis& analysis, InputStream& stream);
int process_opt_header(Analysis& analysis, InputStream& stream);

// Section layout checks.
int ranges_overlap(uint32_t start1, uint32_t length1, uint32_t start2, uint32_t length2);
void check_section_overlaps(Analysis& analysis, uint32_t i, uint32_t j);
// Runs check_section_overlaps over every pair i < j of the current object's sections,
// with the same diagnostics in the same order, in time that grows with the overlaps found
// rather than with the square of the section count.
void check_all_section_overlaps(Analysis& analysis);

// Scans the current object's symbol table into the registry. Returns kAnalysisFailed or
// kAnalysisOk.
int process_symbol_table(Analysis& analysis);

}  // namespace drelk
