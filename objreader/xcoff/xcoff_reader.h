// The XCOFF reader (AIX objects of both classes): the file header, the section headers, the
// layout of the sections in the file, the symbol and string tables and the scan of the
// symbols by their csect auxiliary entries.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "objreader/reader.h"

namespace drelk {

// An XCOFF section as the layout checks need it, its counts taken from an overflow section
// where the 32-bit header's own ones overflowed.
struct XcoffSection {
  uint64_t data_offset = 0;
  uint64_t size = 0;
  uint64_t relocations_offset = 0;
  uint64_t relocation_count = 0;
  uint64_t line_numbers_offset = 0;
  uint64_t line_number_count = 0;
  uint32_t flags = 0;
  uint64_t record_offset = 0;  // where its header stands in the stream
};

// The XCOFF tables of the object being read, their buffers kept from one object to the next.
struct XcoffTables {
  std::vector<uint8_t> section_headers;
  std::vector<XcoffSection> sections;  // numbered from 1 as n_scnum numbers them
  std::vector<uint8_t> symbols;
  std::vector<uint8_t> string_table;  // from its length field: offsets count from there
};

inline XcoffTables& xcoff_tables(ObjectReader& reader) {
  return room_tables<XcoffTables>(reader.xcoff);
}

// Reads the XCOFF file that starts at `base` in the stream and is `extent` bytes long (the
// file or the archive member); `path` names it in diagnostics. Objects are read into the
// reader's declarations; executables and shared objects are refused as no object files.
// Returns Outcome::kFailed or Outcome::kOk.
Outcome read_xcoff_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                          uint64_t base, uint64_t extent);

}  // namespace drelk
