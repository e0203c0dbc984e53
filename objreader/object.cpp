// Object headers and tables: the file header, the optional header, the section table,
// the string table and the symbol table of one COFF object.
#include <algorithm>
#include <new>

#include "objreader/coff.h"
#include "objreader/objreader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

using coff::load_u16;
using coff::load_u32;

constexpr const char* kLabel = "analyze";

bool is_valid_machine(uint16_t machine) {
  switch (machine) {
    case coff::IMAGE_FILE_MACHINE_UNKNOWN:
    case coff::IMAGE_FILE_MACHINE_I386:
    case coff::IMAGE_FILE_MACHINE_R3000:
    case coff::IMAGE_FILE_MACHINE_R4000:
    case coff::IMAGE_FILE_MACHINE_R10000:
    case coff::IMAGE_FILE_MACHINE_ALPHA_OLD:
    case coff::IMAGE_FILE_MACHINE_ALPHA:
    case coff::IMAGE_FILE_MACHINE_POWERPC:
    // Today's 64-bit and ARM tool chains.
    case coff::IMAGE_FILE_MACHINE_AMD64:
    case coff::IMAGE_FILE_MACHINE_ARM64:
    case coff::IMAGE_FILE_MACHINE_ARMNT:
    case coff::IMAGE_FILE_MACHINE_ARM64EC:
      return true;
    default:
      return false;
  }
}

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

// Import members of import libraries and extended ("bigobj") objects do not start with
// an IMAGE_FILE_HEADER but with Sig1 = 0, Sig2 = 0xFFFF and a version.
enum class HeaderKind { kCoff, kShortImport, kBigObject };

HeaderKind peek_header_kind(InputStream& stream) {
  uint8_t bytes[6] = {};
  const uint32_t start = stream.position;
  const bool error = stream.error;
  const size_t got = error ? 0 : stream_read(stream, bytes, sizeof bytes);
  stream_seek(stream, start);
  if (got < sizeof bytes || load_u16(bytes) != coff::IMAGE_FILE_MACHINE_UNKNOWN ||
      load_u16(bytes + 2) != coff::kImportObjectSig2) {
    return HeaderKind::kCoff;
  }
  const uint16_t version = load_u16(bytes + coff::kImportObjectVersion);
  if (version == 0) return HeaderKind::kShortImport;
  if (version >= coff::kBigObjectMinimumVersion) return HeaderKind::kBigObject;
  return HeaderKind::kCoff;
}

// Reads `count` bytes into `buffer`, never allocating more than the stream can still
// return: a damaged header may claim gigabytes that the file does not hold. A short read
// reports what a read of the full count would.
enum class TableRead { kOk, kNoMemory, kFailed };

TableRead read_table(Analysis& analysis, InputStream& stream, uint64_t count,
                     std::vector<uint8_t>& buffer) {
  const uint64_t available = std::min<uint64_t>(count, stream_remaining(stream));
  try {
    buffer.assign(static_cast<size_t>(available), 0);
  } catch (const std::bad_alloc&) {
    return TableRead::kNoMemory;
  }
  const size_t got = stream.error ? 0 : stream_read(stream, buffer.data(), buffer.size());
  if (stream.error) {
    report_error(analysis.diagnostics, strprintf("DRELK Internal: fread failed in %s", kLabel));
    return TableRead::kFailed;
  }
  if (got < count) {
    report_error(analysis.diagnostics,
                 strprintf("DRELK Internal: fread returned %zu bytes (%llu expected). [%s]", got,
                           static_cast<unsigned long long>(count), kLabel));
    return TableRead::kFailed;
  }
  return TableRead::kOk;
}

void read_string_table(Analysis& analysis, InputStream& stream, uint32_t base) {
  ObjectTables& tables = analysis.tables;
  const uint32_t position = base + tables.pointer_to_symbol_table +
                            static_cast<uint32_t>(coff::kSymbolSize) * tables.number_of_symbols;
  if (!seek_to(stream, position)) {
    report_error(
        analysis.diagnostics,
        strprintf("Error seeking to start of string table at file address %x\n", position));
    return;
  }
  uint8_t field[coff::kStringTableSizeField] = {};
  if (read_checked(analysis, stream, sizeof field, field, kLabel) == 0) {
    report_error(analysis.diagnostics, "Error reading string table size\n");
    return;
  }
  const uint32_t size = load_u32(field);
  if (size == 0) return;
  if (size < coff::kStringTableSizeField) {
    report_error(analysis.diagnostics, "Bad string table size\n");
    return;
  }
  const uint32_t text_length = size - coff::kStringTableSizeField;
  if (text_length == 0) return;
  switch (read_table(analysis, stream, text_length, tables.string_text)) {
    case TableRead::kOk:
      return;
    case TableRead::kNoMemory:
      report_error(analysis.diagnostics, "Malloc of buffer for string table failed\n");
      break;
    case TableRead::kFailed:
      report_error(analysis.diagnostics, "Read of string table failed\n");
      break;
  }
  tables.string_text.clear();
  tables.string_text.shrink_to_fit();
}

}  // namespace

int process_file_header(Analysis& analysis, InputStream& stream) {
  uint8_t header[coff::kFileHeaderSize] = {};
  if (read_checked(analysis, stream, sizeof header, header, "process_file_header") == 0) {
    return 0;
  }
  ObjectTables& tables = analysis.tables;
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
    report_error(analysis.diagnostics, "Error - bad file header time stamp\n");
  }
  if (!is_valid_machine(tables.machine)) {
    report_error(analysis.diagnostics, "Error - bad file header machine value\n");
  }
  return 1;
}

int process_opt_header(Analysis& analysis, InputStream& stream) {
  const uint16_t size = analysis.tables.size_of_optional_header;
  if (size != coff::kOptionalHeaderSizeSmall && size != coff::kOptionalHeaderSizePe32) {
    report_error(analysis.diagnostics,
                 strprintf("DRELK Internal: bad optional header size of %d (expecting %d or %d)\n",
                           size, coff::kOptionalHeaderSizeSmall, coff::kOptionalHeaderSizePe32));
    return 0;
  }
  uint8_t header[coff::kOptionalHeaderSizePe32] = {};
  if (read_checked(analysis, stream, size, header, "process_opt_header") == 0) {
    report_error(analysis.diagnostics, "DRELK Internal:  error reading optional header\n");
    return 0;
  }
  if (size > coff::kOptionalHeaderSizeSmall &&
      !is_valid_subsystem(load_u16(header + coff::kOptionalHeaderSubsystem))) {
    report_error(analysis.diagnostics, "DRELK Internal: bad optional header subsystem value\n");
  }
  return 1;
}

int analyze_object(Analysis& analysis, InputStream& stream, const ObjectEntry& entry,
                   uint32_t base) {
  // Nothing of the previous object's tables is used, and their memory goes back now.
  analysis.tables = ObjectTables();
  ObjectTables& tables = analysis.tables;

  switch (peek_header_kind(stream)) {
    case HeaderKind::kShortImport:
      return kAnalysisOk;  // an import member declares no COMMON block
    case HeaderKind::kBigObject:
      report_error(analysis.diagnostics,
                   strprintf("Error - unsupported big object format in %s\n", entry.path.c_str()));
      return kAnalysisFailed;
    case HeaderKind::kCoff:
      break;
  }

  if (process_file_header(analysis, stream) == 0) {
    report_error(analysis.diagnostics, "Error reading file header\n");
    return kAnalysisFailed;
  }
  if (tables.size_of_optional_header != 0 && process_opt_header(analysis, stream) == 0) {
    report_error(analysis.diagnostics,
                 strprintf("Could not process optional header (file %s)", entry.path.c_str()));
    return kAnalysisFailed;
  }

  if (tables.number_of_sections != 0) {
    const uint64_t bytes = uint64_t{tables.number_of_sections} * coff::kSectionHeaderSize;
    std::vector<uint8_t> headers;
    switch (read_table(analysis, stream, bytes, headers)) {
      case TableRead::kOk:
        break;
      case TableRead::kNoMemory:
        report_error(analysis.diagnostics,
                     strprintf("DRELK Internal: calloc failed for %d section headers\n",
                               tables.number_of_sections));
        return kAnalysisFailed;
      case TableRead::kFailed:
        report_error(analysis.diagnostics, "Error reading section headers\n");
        return kAnalysisFailed;
    }
    try {
      tables.section_table.assign(coff::kSectionHeaderSize, 0);
      tables.section_table.insert(tables.section_table.end(), headers.begin(), headers.end());
    } catch (const std::bad_alloc&) {
      report_error(analysis.diagnostics,
                   strprintf("DRELK Internal: calloc failed for %d section headers\n",
                             tables.number_of_sections));
      return kAnalysisFailed;
    }
  }

  if (tables.pointer_to_symbol_table != 0) read_string_table(analysis, stream, base);

  check_all_section_overlaps(analysis);

  if (tables.number_of_symbols != 0 && tables.pointer_to_symbol_table != 0) {
    const uint64_t bytes = uint64_t{tables.number_of_symbols} * coff::kSymbolSize;
    if (!seek_to(stream, base + tables.pointer_to_symbol_table)) {
      report_error(analysis.diagnostics, "Error seeking to symbol table\n");
      return kAnalysisFailed;
    }
    switch (read_table(analysis, stream, bytes, tables.symbols)) {
      case TableRead::kOk:
        break;
      case TableRead::kNoMemory:
        report_error(
            analysis.diagnostics,
            strprintf("\nError: Unable to allocate %llu byte buffer to hold symbol table\n",
                      static_cast<unsigned long long>(bytes)));
        return kAnalysisFailed;
      case TableRead::kFailed:
        report_error(analysis.diagnostics, "Error reading symbol table\n");
        return kAnalysisFailed;
    }
  } else {
    tables.number_of_symbols = 0;
  }

  analysis.current_object = &entry;
  return process_symbol_table(analysis);
}

}  // namespace drelk
