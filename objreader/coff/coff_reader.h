// The COFF reader: one object's headers and tables, the layout of its sections in the
// file, and its symbol table, as the PE/COFF format documentation lays them out.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "formats/coff.h"
#include "objreader/identify.h"
#include "objreader/reader.h"

namespace drelk {

// The COFF tables of the object being read, set up afresh for each object.
struct CoffTables {
  uint16_t machine = 0;
  uint16_t number_of_sections = 0;
  uint32_t time_date_stamp = 0;
  uint32_t pointer_to_symbol_table = 0;
  uint32_t number_of_symbols = 0;
  uint16_t size_of_optional_header = 0;
  // NumberOfSections + 1 section header slots; slot 0 stays empty so that a section's
  // slot is its section number.
  std::vector<uint8_t> section_table;
  std::vector<uint8_t> string_text;      // the string table after its size field
  std::vector<uint8_t> symbols;          // NumberOfSymbols records of 18 bytes
  std::vector<uint8_t> directives;       // the .drectve section's text
  uint64_t symbol_table_offset = 0;      // where the symbol table starts in the file
  std::deque<std::string> export_names;  // a DLL's data exports, as objects name them
};

// The reader's COFF tables.
inline CoffTables& coff_tables(ObjectReader& reader) {
  return room_tables<CoffTables>(reader.coff);
}

// Clears the tables for the next object, keeping the storage of their buffers.
void reset_tables(CoffTables& tables);

// Applies COFF's position rule to the stream: signed 32-bit positions.
void use_coff_positions(InputStream& stream);

// Absolute seek under that rule; false when the position cannot be held.
bool seek_to(InputStream& stream, uint32_t offset);

// Reads the PE image at `base` in the stream. A DLL: the data its export table names, as
// definitions without sizes. A program (an .exe, `dll` false) is no object file, except
// under -m, where each routine's layout of a block in its DWARF debug information (mingw-w64
// writes it) is a declaration of its own; a DLL read under -m declares them too. Returns
// Outcome::kFailed or Outcome::kOk.
Outcome read_pe_image(ObjectReader& reader, InputStream& stream, std::string_view path,
                      uint64_t base, uint64_t extent, bool dll);

// Reads the COFF object of `kind` (an object, an import member or a bigobj object)
// starting at the stream's position, `base` in the file and `extent` bytes long (the file,
// or the archive member); `path` names it in diagnostics. Fills the reader's declarations;
// returns Outcome::kFailed or Outcome::kOk.
Outcome read_coff_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                         uint64_t base, uint64_t extent, FileKind kind);

// File header and optional header readers at the stream's position. Both return kFailed when
// the header is unusable, kOk otherwise.
Outcome process_file_header(ObjectReader& reader, InputStream& stream);
Outcome process_opt_header(ObjectReader& reader, InputStream& stream);

// Section layout checks.
int ranges_overlap(uint32_t start1, uint32_t length1, uint32_t start2, uint32_t length2);
void check_section_overlaps(ObjectReader& reader, uint32_t i, uint32_t j);
// Runs check_section_overlaps over every pair i < j of the current object's sections,
// with the same diagnostics in the same order, in time that grows with the overlaps found
// rather than with the square of the section count.
void check_all_section_overlaps(ObjectReader& reader);

// Scans the current object's symbol table into the reader's declarations. Returns
// Outcome::kFailed or Outcome::kOk.
Outcome process_symbol_table(ObjectReader& reader);

// A section's name: the header's eight bytes, or, for a long name ("/4"), the name at that
// offset of the string table (`string_text`, after its size field); empty where the offset
// is not one.
std::string_view coff_section_name(const std::vector<uint8_t>& string_text, const uint8_t* header);

// Gives the COMMON declarations of the reader the alignments that the object's linker
// directives (`text`, its .drectve section) ask for with mingw-w64's -aligncomm:.
void apply_alignment_directives(ObjectReader& reader, std::string_view text);

// Locates and reads the debug sections of the COFF object at `base`, and reads the COMMON
// block layouts they describe into the reader's declarations.
void read_coff_layouts(ObjectReader& reader, InputStream& stream, uint32_t base);

}  // namespace drelk
