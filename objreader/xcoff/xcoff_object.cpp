// The XCOFF reader: the file header, the section headers, the layout of the sections in the
// file, the symbol and string tables and the scan of the symbols. A symbol's meaning is in
// its csect auxiliary entry, the last auxiliary entry of a C_EXT, C_WEAKEXT or C_HIDEXT
// symbol: a COMMON block is an external XTY_CM csect whose length is the block's size; a
// procedure is known by its function descriptor (XMC_DS), whose name is the one a block can
// clash with, not by its code csect ".name"; initialised data is an external XTY_SD csect of
// read-write data with its length.
#include <algorithm>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/xcoff.h"
#include "objreader/identify.h"
#include "objreader/messages.h"
#include "objreader/stretch_index.h"
#include "objreader/string_table.h"
#include "objreader/xcoff/xcoff_reader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";

constexpr char kLineNumbersOutsideObject[] =
    "Object Format Error: Section %x line numbers lie outside the object\n";
constexpr char kNoCsectEntry[] = "Object Format Error: Symbol %llu has no csect auxiliary entry\n";

// How the object at hand is read: its class and where it lies in the stream.
struct XcoffObject {
  bool is64 = false;
  uint64_t base = 0;
  uint64_t extent = 0;
  const xcoff::SectionLayout* section = &xcoff::kSection32;
  uint32_t section_count = 0;
  uint64_t symbol_offset = 0;
  uint32_t symbol_count = 0;
};

uint64_t load_field(const uint8_t* p, size_t size) {
  return size == 8 ? load_u64(p, true) : size == 4 ? load_u32(p, true) : load_u16(p, true);
}

// Decodes the section headers. A 32-bit section whose relocation or line-number count reads
// 65535 takes its counts from the overflow section that names it; overflow sections own no
// stretch of the file themselves.
bool decode_sections(ObjectReader& reader, const XcoffObject& object, uint64_t headers_at) {
  XcoffTables& tables = xcoff_tables(reader);
  const xcoff::SectionLayout& layout = *object.section;
  const size_t field = object.is64 ? 8 : 4;
  try {
    tables.sections.resize(object.section_count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (uint32_t i = 0; i < object.section_count; ++i) {
    const uint8_t* header = tables.section_headers.data() + uint64_t{i} * layout.record_size;
    XcoffSection& section = tables.sections[i];
    section.size = load_field(header + layout.size, field);
    section.data_offset = load_field(header + layout.data_pointer, field);
    section.relocations_offset = load_field(header + layout.relocation_ptr, field);
    section.line_numbers_offset = load_field(header + layout.line_number_ptr, field);
    section.relocation_count = load_field(header + layout.relocation_count, layout.count_size);
    section.line_number_count = load_field(header + layout.line_number_count, layout.count_size);
    section.flags = load_u32(header + layout.flags, true);
    section.record_offset = headers_at + uint64_t{i} * layout.record_size;
  }
  if (object.is64) return true;
  for (uint32_t i = 0; i < object.section_count; ++i) {
    const uint8_t* header = tables.section_headers.data() + uint64_t{i} * layout.record_size;
    if ((load_u32(header + layout.flags, true) & xcoff::STYP_OVRFLO) == 0) continue;
    const uint16_t owner = load_u16(header + layout.relocation_count, true);
    if (owner == 0 || owner > object.section_count) continue;
    XcoffSection& primary = tables.sections[owner - 1];
    if (primary.relocation_count == xcoff::kCountOverflow) {
      primary.relocation_count = load_u32(header + xcoff::kSectionPhysicalAddress, true);
    }
    if (primary.line_number_count == xcoff::kCountOverflow) {
      primary.line_number_count = load_u32(header + xcoff::kSectionVirtualAddress32, true);
    }
  }
  return true;
}

enum StretchKind { kData = 0, kRelocations = 1, kLineNumbers = 2 };

struct SectionStretches {
  uint64_t start[3] = {0, 0, 0};
  uint64_t end[3] = {0, 0, 0};
  bool present[3] = {false, false, false};
};

SectionStretches stretches_of(const XcoffSection& section, const XcoffObject& object) {
  SectionStretches s;
  const uint32_t type = section.flags & xcoff::kSectionTypeMask;
  if (type & xcoff::STYP_OVRFLO) return s;
  s.present[kData] = (type & (xcoff::STYP_BSS | xcoff::STYP_TBSS)) == 0 && section.size != 0;
  s.start[kData] = section.data_offset;
  s.end[kData] = saturating_add(section.data_offset, section.size);
  const uint64_t relocations =
      saturating_multiply(section.relocation_count, object.section->relocation_entry_size);
  s.present[kRelocations] = relocations != 0;
  s.start[kRelocations] = section.relocations_offset;
  s.end[kRelocations] = saturating_add(section.relocations_offset, relocations);
  const uint64_t lines =
      saturating_multiply(section.line_number_count, object.section->line_number_entry_size);
  s.present[kLineNumbers] = lines != 0;
  s.start[kLineNumbers] = section.line_numbers_offset;
  s.end[kLineNumbers] = saturating_add(section.line_numbers_offset, lines);
  return s;
}

constexpr const char* kOutsideMessages[3] = {message::kSectionDataOutsideObject,
                                             message::kRelocationsOutsideObject,
                                             kLineNumbersOutsideObject};

// No section's stretches may lie beyond the object, and no two sections' stretches may
// share a byte; overlaps are reported pair by pair, sections i < j numbered from 1, up to
// the number a hostile section table is allowed to cost.
void check_section_layout(ObjectReader& reader, const XcoffObject& object) {
  const std::vector<XcoffSection>& sections = xcoff_tables(reader).sections;
  std::vector<FileStretch> stretches;
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionStretches s = stretches_of(sections[i], object);
    const uint64_t number = i + 1;
    for (const int kind : {kData, kRelocations, kLineNumbers}) {
      if (!s.present[kind]) continue;
      if (s.start[kind] > object.extent || s.end[kind] > object.extent) {
        report_error_at(reader.diagnostics,
                        strprintf(kOutsideMessages[kind], static_cast<unsigned>(number)),
                        sections[i].record_offset);
      }
      stretches.push_back(FileStretch{s.start[kind], s.end[kind], number});
    }
  }
  for_each_overlapping_pair(stretches, [&](uint64_t i, uint64_t j) {
    const SectionStretches mine = stretches_of(sections[i - 1], object);
    const SectionStretches theirs = stretches_of(sections[j - 1], object);
    for (const int a : {kData, kRelocations, kLineNumbers}) {
      for (const int b : {kData, kRelocations, kLineNumbers}) {
        if (!mine.present[a] || !theirs.present[b] ||
            !stretches_meet(mine.start[a], mine.end[a], theirs.start[b], theirs.end[b])) {
          continue;
        }
        if (!may_list_overlap(reader)) return false;
        report_overlap(reader, message::kOverlapMessages[a][b], static_cast<unsigned>(i),
                       static_cast<unsigned>(j));
      }
    }
    return true;
  });
}

// Reads the symbol table and the string table after it. False after a diagnostic when the
// symbols cannot be read; without its string table the object is still scanned, and every
// long name is then reported as outside it. A table that reaches past the object is not
// read from the members after it.
bool read_symbol_table(ObjectReader& reader, InputStream& stream, const XcoffObject& object) {
  XcoffTables& tables = xcoff_tables(reader);
  const uint64_t bytes = uint64_t{object.symbol_count} * xcoff::kSymbolSize;
  if (object.symbol_offset > object.extent || bytes > object.extent - object.symbol_offset) {
    report_error(reader.diagnostics, strprintf(message::kTableOutsideObject, "symbol table"));
    return false;
  }
  if (!symbol_table_was_read(
          reader,
          read_table_at(reader, stream, object.base, object.symbol_offset, bytes, tables.symbols),
          bytes)) {
    return false;
  }
  // An object without long names may end with its symbol table.
  const uint64_t strings_at = object.symbol_offset + bytes;
  if (strings_at == object.extent) return true;
  if (object.extent - strings_at < xcoff::kStringTableLengthSize) {
    report_error(reader.diagnostics, strprintf(message::kTableOutsideObject, "string table"));
    return true;
  }
  uint8_t length_field[xcoff::kStringTableLengthSize] = {};
  if (peek_bytes(stream, object.base + strings_at, length_field, sizeof length_field) !=
      sizeof length_field) {
    check_string_table_read(reader, Outcome::kFailed, tables.string_table);
    return true;
  }
  const uint64_t length =
      std::max<uint64_t>(load_u32(length_field, true), xcoff::kStringTableLengthSize);
  if (length > object.extent - strings_at) {
    report_error(reader.diagnostics, strprintf(message::kTableOutsideObject, "string table"));
    return true;
  }
  check_string_table_read(
      reader, read_table_at(reader, stream, object.base, strings_at, length, tables.string_table),
      tables.string_table);
  return true;
}

// A symbol of the table with its csect auxiliary entry, decoded.
struct XcoffSymbol {
  bool inline_name = false;  // 32-bit: the name in the entry's first 8 bytes
  uint32_t name_offset = 0;  // else its offset in the string table
  int16_t section_number = 0;
  uint8_t storage_class = 0;
  uint8_t aux_count = 0;
  bool has_csect = false;
  uint8_t symbol_type = 0;  // x_smtyp's low 3 bits
  uint8_t alignment_log2 = 0;
  uint8_t mapping_class = 0;  // x_smclas
  uint64_t length = 0;        // x_scnlen
};

bool has_csect_entry(uint8_t storage_class) {
  return storage_class == xcoff::C_EXT || storage_class == xcoff::C_WEAKEXT ||
         storage_class == xcoff::C_HIDEXT;
}

XcoffSymbol decode_symbol(const uint8_t* record, const XcoffObject& object) {
  XcoffSymbol symbol;
  if (object.is64) {
    symbol.name_offset = load_u32(record + xcoff::kSymbolNameOffset64, true);
  } else {
    symbol.inline_name = load_u32(record + xcoff::kSymbolName32, true) != 0;
    symbol.name_offset = load_u32(record + xcoff::kSymbolNameOffset32, true);
  }
  symbol.section_number =
      static_cast<int16_t>(load_u16(record + xcoff::kSymbolSectionNumber, true));
  symbol.storage_class = record[xcoff::kSymbolStorageClass];
  symbol.aux_count = record[xcoff::kSymbolNumberOfAux];
  return symbol;
}

// Takes the csect entry from the last auxiliary entry at `aux`; in 64-bit it says its type.
void decode_csect(const uint8_t* aux, const XcoffObject& object, XcoffSymbol& symbol) {
  if (object.is64 && aux[xcoff::kAuxType64] != xcoff::AUX_CSECT) return;
  symbol.has_csect = true;
  const uint8_t type = aux[xcoff::kCsectSymbolType];
  symbol.symbol_type = type & xcoff::kSymbolTypeMask;
  symbol.alignment_log2 = type >> xcoff::kAlignmentShift;
  symbol.mapping_class = aux[xcoff::kCsectStorageClass];
  symbol.length = load_u32(aux + xcoff::kCsectLength, true);
  if (object.is64) {
    symbol.length |= uint64_t{load_u32(aux + xcoff::kCsectLengthHigh64, true)} << 32;
  }
}

bool is_external(const XcoffSymbol& symbol) {
  return symbol.storage_class == xcoff::C_EXT || symbol.storage_class == xcoff::C_WEAKEXT;
}

// A COMMON declaration: an external common csect, the block's size its length. A hidden
// one is local storage (.lcomm), no block.
bool is_common_declaration(const XcoffSymbol& symbol) {
  return is_external(symbol) && symbol.symbol_type == xcoff::XTY_CM;
}

// A procedure's function descriptor, external or not, as a static function counts too; the
// code csect ".name" and the TOC entries are not procedures a block can clash with.
bool is_function_descriptor(const XcoffSymbol& symbol) {
  return symbol.mapping_class == xcoff::XMC_DS &&
         (symbol.symbol_type == xcoff::XTY_SD || symbol.symbol_type == xcoff::XTY_LD);
}

bool is_read_write_data(const XcoffSymbol& symbol) {
  return symbol.mapping_class == xcoff::XMC_RW || symbol.mapping_class == xcoff::XMC_TD;
}

// Initialised data: an external csect of read-write data, with its length; a label inside
// such a csect is initialised data whose size is not recorded.
bool is_initialized_data(const XcoffSymbol& symbol) {
  return is_external(symbol) && is_read_write_data(symbol) &&
         (symbol.symbol_type == xcoff::XTY_SD || symbol.symbol_type == xcoff::XTY_LD);
}

uint64_t symbol_value(const uint8_t* record, const XcoffObject& object) {
  return object.is64 ? load_u64(record + xcoff::kSymbolValue64, true)
                     : load_u32(record + xcoff::kSymbolValue32, true);
}

// The declaration of initialised data. A csect records its length; a label inside one (as
// flang puts BLOCK DATA in its .data csect, one label a block) is bounded by the next label
// of the csect when that follows it in the table, else by the end of its containing csect,
// whose index the label's x_scnlen holds: padding may follow its data.
Declaration initialized_data(const std::vector<uint8_t>& table, const XcoffObject& object,
                             uint32_t index, const XcoffSymbol& symbol, std::string_view name) {
  const uint8_t* record = table.data() + uint64_t{index} * xcoff::kSymbolSize;
  if (symbol.symbol_type == xcoff::XTY_SD) {
    return Declaration{Declaration::kInitializedData, true, name, symbol.length,
                       uint64_t{1} << symbol.alignment_log2};
  }
  Declaration unsized{Declaration::kInitializedData, false, name, 0, 0};
  if (symbol.length >= object.symbol_count) return unsized;
  const uint8_t* csect_record = table.data() + symbol.length * xcoff::kSymbolSize;
  XcoffSymbol csect = decode_symbol(csect_record, object);
  if (!has_csect_entry(csect.storage_class) || csect.aux_count == 0 ||
      symbol.length + csect.aux_count >= object.symbol_count) {
    return unsized;
  }
  decode_csect(csect_record + uint64_t{csect.aux_count} * xcoff::kSymbolSize, object, csect);
  const uint64_t start = symbol_value(csect_record, object);
  const uint64_t end = saturating_add(start, csect.length);
  const uint64_t at = symbol_value(record, object);
  if (!csect.has_csect || csect.symbol_type != xcoff::XTY_SD || at < start || at > end) {
    return unsized;
  }
  uint64_t bound = end;
  const uint64_t next = uint64_t{index} + 1 + symbol.aux_count;
  if (next < object.symbol_count) {
    const uint8_t* next_record = table.data() + next * xcoff::kSymbolSize;
    XcoffSymbol label = decode_symbol(next_record, object);
    if (has_csect_entry(label.storage_class) && label.aux_count > 0 &&
        next + label.aux_count < object.symbol_count) {
      decode_csect(next_record + uint64_t{label.aux_count} * xcoff::kSymbolSize, object, label);
      const uint64_t label_at = symbol_value(next_record, object);
      if (label.has_csect && label.symbol_type == xcoff::XTY_LD && label.length == symbol.length &&
          label_at > at && label_at < bound) {
        bound = label_at;
      }
    }
  }
  // Its offset within what its csect is aligned to.
  Declaration bounded{Declaration::kInitializedData, true, name, bound - at,
                      placed_alignment(at - start, uint64_t{1} << csect.alignment_log2)};
  bounded.bounded = true;
  return bounded;
}

bool is_out_of_range(const XcoffSymbol& symbol, uint32_t section_count) {
  return symbol.section_number < xcoff::N_DEBUG ||
         (symbol.section_number > 0 &&
          static_cast<uint32_t>(symbol.section_number) > section_count);
}

// The name of a symbol: inline in a 32-bit entry, else at its offset in the string table,
// whose first four bytes are the table's length and hold no name. False after the
// diagnostic of a name outside the table.
bool symbol_name(ObjectReader& reader, const uint8_t* record, const XcoffSymbol& symbol,
                 uint64_t record_offset, std::string_view& name) {
  if (symbol.inline_name) {
    name = terminated_name(record + xcoff::kSymbolName32, xcoff::kSymbolNameSize);
    return true;
  }
  name = {};
  if (symbol.name_offset == 0) return true;
  const std::vector<uint8_t>& strings = xcoff_tables(reader).string_table;
  if (symbol.name_offset < xcoff::kStringTableLengthSize) {
    report_error_at(reader.diagnostics,
                    strprintf(message::kNameOutsideStringTable, symbol.name_offset), record_offset);
    return false;
  }
  return name_in_string_table(reader, strings, symbol.name_offset, record_offset, name);
}

// Scans the symbols into the reader's declarations, checking each one's section number and
// auxiliary count.
Outcome scan_symbols(ObjectReader& reader, const XcoffObject& object) {
  Outcome failed = Outcome::kOk;
  bool out_of_memory = false;
  const std::vector<uint8_t>& table = xcoff_tables(reader).symbols;
  const uint64_t table_at = saturating_add(object.base, object.symbol_offset);
  const uint32_t count = object.symbol_count;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = table.data() + uint64_t{i} * xcoff::kSymbolSize;
    const uint64_t record_offset = table_at + uint64_t{i} * xcoff::kSymbolSize;
    XcoffSymbol symbol = decode_symbol(record, object);
    const bool aux_overflows = uint64_t{i} + symbol.aux_count >= count;
    if (has_csect_entry(symbol.storage_class)) {
      std::string_view name;
      const bool named = symbol_name(reader, record, symbol, record_offset, name);
      if (!named) failed = Outcome::kFailed;
      if (symbol.aux_count > 0 && !aux_overflows) {
        decode_csect(record + uint64_t{symbol.aux_count} * xcoff::kSymbolSize, object, symbol);
      }
      if (!symbol.has_csect && !aux_overflows) {
        report_error_at(reader.diagnostics,
                        strprintf(kNoCsectEntry, static_cast<unsigned long long>(i)),
                        record_offset);
        failed = Outcome::kFailed;
      }
      if (named && symbol.has_csect && !name.empty()) {
        bool declared = true;
        if (is_common_declaration(symbol)) {
          declared = declare(reader, Declaration{Declaration::kCommon, false, name, symbol.length,
                                                 uint64_t{1} << symbol.alignment_log2});
        } else if (is_function_descriptor(symbol)) {
          declared = declare(reader, Declaration{Declaration::kProcedure, false, name, 0, 0});
        } else if (is_initialized_data(symbol)) {
          declared = declare(reader, initialized_data(table, object, i, symbol, name));
        }
        if (!declared) {
          // A declaration that cannot be held fails the object, once said.
          if (!out_of_memory) report_out_of_memory(reader.diagnostics, reader.object_path);
          out_of_memory = true;
          failed = Outcome::kFailed;
        }
      }
    }
    if (is_out_of_range(symbol, object.section_count)) {
      report_error_at(reader.diagnostics, message::kSectionNumberOutOfRange, record_offset);
      failed = Outcome::kFailed;
    }
    if (aux_overflows && symbol.aux_count > 0) {
      report_error_at(reader.diagnostics, message::kAuxCountOverflows, record_offset);
      failed = Outcome::kFailed;
    } else {
      i += symbol.aux_count;
    }
  }
  return failed;
}

}  // namespace

Outcome read_xcoff_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                          uint64_t base, uint64_t extent) {
  begin_object(reader, path);
  XcoffTables& tables = xcoff_tables(reader);
  tables.sections.clear();
  tables.symbols.clear();
  tables.string_table.clear();
  XcoffObject object;
  object.base = base;
  object.extent = extent;

  uint8_t header[xcoff::kFileHeaderSize64] = {};
  if (!read_file_header(reader, stream, base, xcoff::kFileHeaderSize32, header)) {
    return Outcome::kFailed;
  }
  const uint16_t magic = load_u16(header + xcoff::kFileHeaderMagic, true);
  if (magic != xcoff::kMagic32 && magic != xcoff::kMagic64) {
    report_unsupported_header(reader, "XCOFF", path);
    return Outcome::kFailed;
  }
  object.is64 = magic == xcoff::kMagic64;
  size_t header_size = xcoff::kFileHeaderSize32;
  if (object.is64) {
    header_size = xcoff::kFileHeaderSize64;
    object.section = &xcoff::kSection64;
    if (read_checked(reader, stream, header_size - xcoff::kFileHeaderSize32,
                     header + xcoff::kFileHeaderSize32, kLabel) == 0) {
      report_error(reader.diagnostics, message::kFileHeaderUnreadable);
      return Outcome::kFailed;
    }
  }
  const uint16_t flags = load_u16(header + xcoff::kFileHeaderFlags, true);
  if (flags & (xcoff::F_EXEC | xcoff::F_SHROBJ)) {
    report_not_an_object(reader, std::string(path).c_str());
    reader.declarations.refused = true;
    return Outcome::kOk;
  }
  object.section_count = load_u16(header + xcoff::kFileHeaderNumberOfSections, true);
  if (object.is64) {
    object.symbol_offset = load_u64(header + xcoff::kFileHeaderSymbolTablePointer, true);
    object.symbol_count = load_u32(header + xcoff::kFileHeaderNumberOfSymbols64, true);
  } else {
    object.symbol_offset = load_u32(header + xcoff::kFileHeaderSymbolTablePointer, true);
    object.symbol_count = load_u32(header + xcoff::kFileHeaderNumberOfSymbols32, true);
  }
  const uint64_t headers_offset =
      header_size + load_u16(header + xcoff::kFileHeaderOptionalHeaderSize, true);
  const uint64_t headers_size = uint64_t{object.section_count} * object.section->record_size;
  const Outcome headers =
      read_table_at(reader, stream, base, headers_offset, headers_size, tables.section_headers);
  if (headers == Outcome::kNoMemory) report_out_of_memory(reader.diagnostics, reader.object_path);
  if (headers != Outcome::kOk) {
    report_error(reader.diagnostics, message::kSectionHeadersUnreadable);
    return Outcome::kFailed;
  }
  if (!decode_sections(reader, object, base + headers_offset)) {
    report_out_of_memory(reader.diagnostics, reader.object_path);
    return Outcome::kFailed;
  }
  check_section_layout(reader, object);
  if (object.symbol_count == 0) return Outcome::kOk;
  if (!read_symbol_table(reader, stream, object)) return Outcome::kFailed;
  return scan_symbols(reader, object);
}

}  // namespace drelk
