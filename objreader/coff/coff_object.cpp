// Object headers and tables: the file header, the optional header, the section table,
// the string table and the symbol table of one COFF object.
#include <algorithm>
#include <new>
#include <string>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/messages.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";

bool is_valid_subsystem(uint16_t subsystem) {
  switch (subsystem) {
    case coff::IMAGE_SUBSYSTEM_UNKNOWN:
    case coff::IMAGE_SUBSYSTEM_NATIVE:
    case coff::IMAGE_SUBSYSTEM_WINDOWS_GUI:
    case coff::IMAGE_SUBSYSTEM_WINDOWS_CUI:
    case coff::IMAGE_SUBSYSTEM_OS2_CUI:
    case coff::IMAGE_SUBSYSTEM_POSIX_CUI:
      return true;
    default:
      return false;
  }
}

// Where an archive member's object ends, when the file goes on after it: a table that
// reaches past that end would be read from the members after it, and many members could
// name one large table. Such a table is reported and not read.
struct MemberEnd {
  uint64_t end = 0;
  bool bounds = false;  // false for an object that the file's end bounds

  bool holds(uint64_t start, uint64_t bytes) const {
    return !bounds || (start <= end && bytes <= end - start);
  }
};

void report_table_outside(ObjectReader& reader, const char* table) {
  report_error(reader.diagnostics, strprintf(message::kTableOutsideObject, table));
}

void read_string_table(ObjectReader& reader, InputStream& stream, uint32_t base,
                       const MemberEnd& member) {
  CoffTables& tables = coff_tables(reader);
  const uint32_t position = base + tables.pointer_to_symbol_table +
                            static_cast<uint32_t>(coff::kSymbolSize) * tables.number_of_symbols;
  if (!member.holds(position, coff::kStringTableSizeField)) {
    report_table_outside(reader, "string table");
    return;
  }
  if (!seek_to(stream, position)) {
    report_error(
        reader.diagnostics,
        strprintf("Error seeking to start of string table at file address %x\n", position));
    return;
  }
  uint8_t field[coff::kStringTableSizeField] = {};
  if (read_checked(reader, stream, sizeof field, field, kLabel) == 0) {
    report_error(reader.diagnostics, "Error reading string table size\n");
    return;
  }
  const uint32_t size = load_u32(field);
  if (size == 0) return;
  if (size < coff::kStringTableSizeField) {
    report_error(reader.diagnostics, "Bad string table size\n");
    return;
  }
  const uint32_t text_length = size - coff::kStringTableSizeField;
  if (text_length == 0) return;
  if (!member.holds(uint64_t{position} + coff::kStringTableSizeField, text_length)) {
    report_table_outside(reader, "string table");
    return;
  }
  check_string_table_read(reader,
                          read_table(reader, stream, text_length, tables.string_text, kLabel),
                          tables.string_text);
}

// Reads the object's linker directives, for the alignments that its COMMON declarations
// ask for. A .drectve section whose data lies outside the object is passed over: COFF's
// layout checks do not look at where data lies, and the directives only add alignments.
Outcome read_directives(ObjectReader& reader, InputStream& stream, uint32_t base,
                        const MemberEnd& member) {
  CoffTables& tables = coff_tables(reader);
  for (uint32_t i = 1; i <= tables.number_of_sections; ++i) {
    const uint8_t* header = tables.section_table.data() + size_t{i} * coff::kSectionHeaderSize;
    if (std::string_view(reinterpret_cast<const char*>(header), coff::kSymbolNameLength) !=
        coff::kDirectiveSectionName) {
      continue;
    }
    const uint32_t size = load_u32(header + coff::kSectionSizeOfRawData);
    const uint64_t start = uint64_t{base} + load_u32(header + coff::kSectionPointerToRawData);
    if (size == 0 || !member.holds(start, size) || start > stream.size ||
        size > stream.size - start || !seek_to(stream, static_cast<uint32_t>(start))) {
      return Outcome::kOk;
    }
    const Outcome read = read_table(reader, stream, size, tables.directives, kLabel);
    if (read != Outcome::kOk) return read;
    apply_alignment_directives(
        reader, std::string_view(reinterpret_cast<const char*>(tables.directives.data()),
                                 tables.directives.size()));
    return Outcome::kOk;
  }
  return Outcome::kOk;
}

}  // namespace

Outcome process_file_header(ObjectReader& reader, InputStream& stream) {
  uint8_t header[coff::kFileHeaderSize] = {};
  if (read_checked(reader, stream, sizeof header, header, "process_file_header") == 0) {
    return Outcome::kFailed;
  }
  CoffTables& tables = coff_tables(reader);
  tables.machine = load_u16(header + coff::kFileHeaderMachine);
  tables.number_of_sections = load_u16(header + coff::kFileHeaderNumberOfSections);
  tables.time_date_stamp = load_u32(header + coff::kFileHeaderTimeDateStamp);
  tables.pointer_to_symbol_table = load_u32(header + coff::kFileHeaderPointerToSymbolTable);
  tables.number_of_symbols = load_u32(header + coff::kFileHeaderNumberOfSymbols);
  tables.size_of_optional_header = load_u16(header + coff::kFileHeaderSizeOfOptionalHeader);

  // A stamp that the signed 32-bit time of the runtime cannot hold is bad; the value that
  // cross-compilers write in place of a time is not a time at all.
  if (tables.time_date_stamp != coff::kReproducibleTimeStamp &&
      tables.time_date_stamp >= 0x80000000u) {
    report_error(reader.diagnostics, "Error - bad file header time stamp\n");
  }
  if (!coff::is_valid_machine(tables.machine)) {
    report_error(reader.diagnostics, "Error - bad file header machine value\n");
  }
  return Outcome::kOk;
}

Outcome process_opt_header(ObjectReader& reader, InputStream& stream) {
  const uint16_t size = coff_tables(reader).size_of_optional_header;
  if (size != coff::kOptionalHeaderSizeSmall && size != coff::kOptionalHeaderSizePe32) {
    report_error(reader.diagnostics,
                 strprintf("DRELK Internal: bad optional header size of %d (expecting %d or %d)\n",
                           size, coff::kOptionalHeaderSizeSmall, coff::kOptionalHeaderSizePe32));
    return Outcome::kFailed;
  }
  uint8_t header[coff::kOptionalHeaderSizePe32] = {};
  if (read_checked(reader, stream, size, header, "process_opt_header") == 0) {
    report_error(reader.diagnostics, "DRELK Internal:  error reading optional header\n");
    return Outcome::kFailed;
  }
  if (size > coff::kOptionalHeaderSizeSmall &&
      !is_valid_subsystem(load_u16(header + coff::kOptionalHeaderSubsystem))) {
    report_error(reader.diagnostics, "DRELK Internal: bad optional header subsystem value\n");
  }
  return Outcome::kOk;
}

void reset_tables(CoffTables& tables) {
  // Buffers up to this size are kept from object to object; a larger one, from a rare
  // large object, goes back at once.
  constexpr size_t kKeptBufferSize = 1 << 20;
  const auto reuse = [](std::vector<uint8_t>& buffer) {
    if (buffer.capacity() > kKeptBufferSize) {
      std::vector<uint8_t>().swap(buffer);
    } else {
      buffer.clear();
    }
  };
  std::vector<uint8_t> section_table = std::move(tables.section_table);
  std::vector<uint8_t> string_text = std::move(tables.string_text);
  std::vector<uint8_t> symbols = std::move(tables.symbols);
  std::vector<uint8_t> directives = std::move(tables.directives);
  tables = CoffTables();
  reuse(section_table);
  reuse(string_text);
  reuse(symbols);
  reuse(directives);
  tables.directives = std::move(directives);
  tables.section_table = std::move(section_table);
  tables.string_text = std::move(string_text);
  tables.symbols = std::move(symbols);
}

void use_coff_positions(InputStream& stream) {
  stream.position_limit = coff::kMaxStreamPosition;
}

bool seek_to(InputStream& stream, uint32_t offset) {
  return stream_seek(stream, offset);
}

namespace {

// A short import member declares no COMMON block; one of IMPORT_OBJECT_DATA says that its
// DLL defines data of the symbol's name, as the DLL's export table would.
Outcome read_import_member(ObjectReader& reader, InputStream& stream, uint64_t base,
                           uint64_t extent) {
  std::vector<uint8_t>& header = coff_tables(reader).string_text;
  if (read_table_at(reader, stream, base, 0, extent, header) != Outcome::kOk ||
      header.size() < coff::kImportObjectHeaderSize) {
    return Outcome::kFailed;
  }
  const uint16_t type = load_u16(header.data() + coff::kImportObjectType);
  if ((type & coff::IMPORT_OBJECT_TYPE_MASK) != coff::IMPORT_OBJECT_DATA) return Outcome::kOk;
  const std::string_view names(
      reinterpret_cast<const char*>(header.data()) + coff::kImportObjectHeaderSize,
      header.size() - coff::kImportObjectHeaderSize);
  const size_t end = names.find('\0');
  if (end == std::string_view::npos || end == 0) return Outcome::kOk;
  reader.declarations.library = true;
  if (!declare(reader, Declaration{Declaration::kInitializedData, true, names.substr(0, end), 0, 0,
                                   false})) {
    report_out_of_memory(reader.diagnostics, reader.object_path);
    return Outcome::kFailed;
  }
  return Outcome::kOk;
}

// GNU dlltool's import library member of an export marked DATA defines `__nm_<name>`
// (and `__imp_<name>`) but no thunk of the name: it says that its DLL defines data of that
// name, as a short import member of IMPORT_OBJECT_DATA does.
void note_gnu_data_imports(ObjectReader& reader) {
  constexpr std::string_view kDataImportPrefix = "__nm_";
  for (Declaration& declaration : reader.declarations.items) {
    if (declaration.kind != Declaration::kInitializedData ||
        !declaration.name.starts_with(kDataImportPrefix) ||
        declaration.name.size() == kDataImportPrefix.size()) {
      continue;
    }
    declaration.name.remove_prefix(kDataImportPrefix.size());
    // The import stub's place says nothing of the DLL's data: no size, no alignment.
    declaration.has_size = true;
    declaration.size = 0;
    declaration.bounded = false;
    declaration.alignment = 0;
    reader.declarations.library = true;
  }
}

}  // namespace

Outcome read_coff_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                         uint64_t base_offset, uint64_t extent, FileKind kind) {
  // Nothing of the previous object's tables is used; their buffers are kept for the next
  // object unless they grew large.
  reset_tables(coff_tables(reader));
  begin_object(reader, path);
  CoffTables& tables = coff_tables(reader);
  // Offsets computed from the headers are 32-bit and wrap.
  const auto base = static_cast<uint32_t>(base_offset);
  const auto path_text = [&] { return std::string(path); };
  MemberEnd member;
  member.end = base_offset + extent;
  member.bounds = member.end < stream.size;

  switch (kind) {
    case FileKind::kCoffImport:
      return read_import_member(reader, stream, base_offset, extent);
    case FileKind::kCoffBigObject:
      report_error(reader.diagnostics,
                   strprintf("Error - unsupported big object format in %s\n", path_text().c_str()));
      return Outcome::kFailed;
    default:
      break;
  }

  if (process_file_header(reader, stream) != Outcome::kOk) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return Outcome::kFailed;
  }
  if (tables.size_of_optional_header != 0 && process_opt_header(reader, stream) != Outcome::kOk) {
    report_error(reader.diagnostics,
                 strprintf("Could not process optional header (file %s)", path_text().c_str()));
    return Outcome::kFailed;
  }

  if (tables.number_of_sections != 0) {
    const auto no_memory = [&] {
      report_error(reader.diagnostics,
                   strprintf("DRELK Internal: calloc failed for %d section headers\n",
                             tables.number_of_sections));
      return Outcome::kFailed;
    };
    const uint64_t bytes = uint64_t{tables.number_of_sections} * coff::kSectionHeaderSize;
    if (!member.holds(stream.position, bytes)) {
      report_table_outside(reader, "section table");
      return Outcome::kFailed;
    }
    switch (read_table(reader, stream, bytes, tables.section_table, kLabel)) {
      case Outcome::kOk:
        break;
      case Outcome::kNoMemory:
        return no_memory();
      case Outcome::kFailed:
        report_error(reader.diagnostics, message::kSectionHeadersUnreadable);
        return Outcome::kFailed;
    }
    try {
      tables.section_table.insert(tables.section_table.begin(), coff::kSectionHeaderSize, 0);
    } catch (const std::bad_alloc&) {
      return no_memory();
    }
  }

  if (tables.pointer_to_symbol_table != 0) read_string_table(reader, stream, base, member);

  check_all_section_overlaps(reader);

  if (tables.number_of_symbols != 0 && tables.pointer_to_symbol_table != 0) {
    const uint64_t bytes = uint64_t{tables.number_of_symbols} * coff::kSymbolSize;
    tables.symbol_table_offset = uint32_t{base + tables.pointer_to_symbol_table};
    if (!member.holds(tables.symbol_table_offset, bytes)) {
      report_table_outside(reader, "symbol table");
      return Outcome::kFailed;
    }
    if (!seek_to(stream, base + tables.pointer_to_symbol_table)) {
      report_error(reader.diagnostics, "Error seeking to symbol table\n");
      return Outcome::kFailed;
    }
    if (!symbol_table_was_read(reader, read_table(reader, stream, bytes, tables.symbols, kLabel),
                               bytes)) {
      return Outcome::kFailed;
    }
  } else {
    tables.number_of_symbols = 0;
  }

  Outcome result = process_symbol_table(reader);
  note_gnu_data_imports(reader);
  // The alignments that the COMMON declarations found ask for.
  if (tables.number_of_symbols != 0) {
    const Outcome directives = read_directives(reader, stream, base, member);
    if (directives == Outcome::kNoMemory) report_out_of_memory(reader.diagnostics, path);
    if (directives != Outcome::kOk) result = Outcome::kFailed;
  }
  // The layouts of the debug information never change the result of the symbol scan.
  if (reader.read_layouts) read_coff_layouts(reader, stream, base);
  return result;
}

}  // namespace drelk
