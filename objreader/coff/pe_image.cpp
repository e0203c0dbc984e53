// A PE image (Microsoft's "PE Format"): a DLL's export table (the .edata section), the
// names it exports, of which those whose address lies in a section of data are the data it
// defines; and, under -m, the COMMON block layouts of a program's or DLL's DWARF debug
// information (mingw-w64 -g), placed by the image's COFF symbol table. The format records no
// sizes. Every table is read within the file, however large the counts it claims.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/compressed_section.h"
#include "objreader/debug_layouts.h"
#include "objreader/identify.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr char kPeHeaderDamaged[] = "Error - damaged PE header in %s\n";
constexpr char kExportsDamaged[] = "Error - export table of %s %s\n";

struct PeSection {
  uint32_t address = 0;  // RVA
  uint32_t size = 0;     // the larger of VirtualSize and SizeOfRawData
  uint32_t raw_size = 0;
  uint32_t raw_offset = 0;
  uint32_t characteristics = 0;
  uint32_t virtual_size = 0;
  uint8_t name[coff::kSymbolNameLength] = {};  // as the header holds it: "/4" for a long one
};

struct PeImage {
  uint64_t base = 0;        // where the image starts in the stream
  uint64_t image_base = 0;  // ImageBase: the address the image is linked at
  uint16_t machine = 0;
  uint32_t symbol_table = 0;  // PointerToSymbolTable: 0 in a stripped image
  uint32_t symbol_count = 0;
  std::vector<PeSection> sections;
  uint32_t export_rva = 0;
  uint32_t export_size = 0;
};

// The section that holds `rva`, or nullptr.
const PeSection* section_of(const PeImage& image, uint32_t rva) {
  for (const PeSection& section : image.sections) {
    if (rva >= section.address && rva - section.address < section.size) return &section;
  }
  return nullptr;
}

bool is_code(const PeSection& section) {
  return (section.characteristics & (coff::IMAGE_SCN_CNT_CODE | coff::IMAGE_SCN_MEM_EXECUTE)) != 0;
}

// Reads the headers: the COFF file header after the signature, the optional header's
// export directory, the section table. False after a diagnostic.
bool read_headers(ObjectReader& reader, InputStream& stream, std::string_view path,
                  PeImage& image) {
  std::vector<uint8_t> bytes;
  const auto damaged = [&] {
    report_error(reader.diagnostics, strprintf(kPeHeaderDamaged, std::string(path).c_str()));
    return false;
  };
  if (read_table_at(reader, stream, image.base, 0, coff::kDosLfanew + 4, bytes) != Outcome::kOk) {
    return damaged();
  }
  const uint32_t lfanew = load_u32(bytes.data() + coff::kDosLfanew);
  if (read_table_at(reader, stream, image.base, lfanew,
                    coff::kPeSignatureSize + coff::kFileHeaderSize, bytes) != Outcome::kOk) {
    return damaged();
  }
  const uint8_t* header = bytes.data() + coff::kPeSignatureSize;
  image.machine = load_u16(header + coff::kFileHeaderMachine);
  image.symbol_table = load_u32(header + coff::kFileHeaderPointerToSymbolTable);
  image.symbol_count = load_u32(header + coff::kFileHeaderNumberOfSymbols);
  const uint16_t section_count = load_u16(header + coff::kFileHeaderNumberOfSections);
  const uint16_t optional_size = load_u16(header + coff::kFileHeaderSizeOfOptionalHeader);
  const uint64_t optional_at = uint64_t{lfanew} + coff::kPeSignatureSize + coff::kFileHeaderSize;
  std::vector<uint8_t> optional;
  if (read_table_at(reader, stream, image.base, optional_at, optional_size, optional) !=
      Outcome::kOk) {
    return damaged();
  }
  const uint16_t magic = optional.size() >= 2 ? load_u16(optional.data()) : 0;
  const size_t directories_at =
      magic == coff::IMAGE_NT_OPTIONAL_HDR32_MAGIC   ? coff::kPe32NumberOfRvaAndSizes
      : magic == coff::IMAGE_NT_OPTIONAL_HDR64_MAGIC ? coff::kPe64NumberOfRvaAndSizes
                                                     : 0;
  if (directories_at == 0 || optional.size() < directories_at + 4) return damaged();
  image.image_base = magic == coff::IMAGE_NT_OPTIONAL_HDR32_MAGIC
                         ? load_u32(optional.data() + coff::kPe32ImageBase)
                         : load_u64(optional.data() + coff::kPe64ImageBase, false);
  const uint32_t directories = load_u32(optional.data() + directories_at);
  const size_t export_at =
      directories_at + 4 + coff::IMAGE_DIRECTORY_ENTRY_EXPORT * coff::kDataDirectorySize;
  if (directories > coff::IMAGE_DIRECTORY_ENTRY_EXPORT &&
      optional.size() >= export_at + coff::kDataDirectorySize) {
    image.export_rva = load_u32(optional.data() + export_at);
    image.export_size = load_u32(optional.data() + export_at + 4);
  }
  std::vector<uint8_t> table;
  if (read_table_at(reader, stream, image.base, optional_at + optional_size,
                    uint64_t{section_count} * coff::kSectionHeaderSize, table) != Outcome::kOk) {
    return damaged();
  }
  for (uint16_t i = 0; i < section_count; ++i) {
    const uint8_t* record = table.data() + size_t{i} * coff::kSectionHeaderSize;
    PeSection section;
    section.address = load_u32(record + coff::kSectionVirtualAddress);
    section.raw_size = load_u32(record + coff::kSectionSizeOfRawData);
    section.virtual_size = load_u32(record + coff::kSectionVirtualSize);
    section.size = std::max(section.virtual_size, section.raw_size);
    std::memcpy(section.name, record, sizeof section.name);
    section.raw_offset = load_u32(record + coff::kSectionPointerToRawData);
    section.characteristics = load_u32(record + coff::kSectionCharacteristics);
    image.sections.push_back(section);
  }
  return true;
}

// The sections' data, each read when first needed: names and tables may lie in any.
class ImageBytes {
 public:
  ImageBytes(ObjectReader& reader, InputStream& stream, const PeImage& image)
      : reader_(reader),
        stream_(stream),
        image_(image),
        data_(image.sections.size()),
        read_(image.sections.size(), false) {}

  // `count` bytes at `rva`, within one section's data in the file; nullptr where they are
  // not there.
  const uint8_t* at(uint32_t rva, uint64_t count) {
    const PeSection* section = section_of(image_, rva);
    if (section == nullptr) return nullptr;
    const size_t index = static_cast<size_t>(section - image_.sections.data());
    if (!read_[index]) {
      read_[index] = true;
      if (read_table_at(reader_, stream_, image_.base, section->raw_offset, section->raw_size,
                        data_[index]) != Outcome::kOk) {
        data_[index].clear();
      }
    }
    const uint64_t offset = rva - section->address;
    const std::vector<uint8_t>& data = data_[index];
    if (offset > data.size() || count > data.size() - offset) return nullptr;
    return data.data() + offset;
  }

  // The NUL-terminated name at `rva`, or nothing where it runs past its section.
  bool name(uint32_t rva, std::string_view& text) {
    const uint8_t* start = at(rva, 1);
    if (start == nullptr) return false;
    const PeSection* section = section_of(image_, rva);
    const std::vector<uint8_t>& data = data_[static_cast<size_t>(section - image_.sections.data())];
    const size_t room = static_cast<size_t>(data.data() + data.size() - start);
    const std::string_view all(reinterpret_cast<const char*>(start), room);
    const size_t end = all.find('\0');
    if (end == std::string_view::npos) return false;
    text = all.substr(0, end);
    return true;
  }

 private:
  ObjectReader& reader_;
  InputStream& stream_;
  const PeImage& image_;
  std::vector<std::vector<uint8_t>> data_;
  std::vector<bool> read_;
};

// The data that a DLL's export table names, as definitions without sizes.
Outcome read_exports(ObjectReader& reader, InputStream& stream, std::string_view path,
                     const PeImage& image) {
  if (image.export_rva == 0) return Outcome::kOk;  // a DLL that exports nothing
  ImageBytes bytes(reader, stream, image);
  const auto damaged = [&](const char* what) {
    report_error(reader.diagnostics, strprintf(kExportsDamaged, std::string(path).c_str(), what));
    return Outcome::kFailed;
  };
  const uint8_t* directory = bytes.at(image.export_rva, coff::kExportDirectorySize);
  if (directory == nullptr) return damaged("lies outside the file");
  const uint32_t functions = load_u32(directory + coff::kExportNumberOfFunctions);
  const uint32_t names = load_u32(directory + coff::kExportNumberOfNames);
  // The tables must lie whole within a section: counts of 2^32 - 1 are not believed.
  const uint8_t* addresses =
      bytes.at(load_u32(directory + coff::kExportAddressOfFunctions), uint64_t{functions} * 4);
  const uint8_t* name_table =
      bytes.at(load_u32(directory + coff::kExportAddressOfNames), uint64_t{names} * 4);
  const uint8_t* ordinals =
      bytes.at(load_u32(directory + coff::kExportAddressOfNameOrdinals), uint64_t{names} * 2);
  if ((functions != 0 && addresses == nullptr) ||
      (names != 0 && (name_table == nullptr || ordinals == nullptr))) {
    return damaged("has tables outside its sections");
  }
  // i386 objects name their symbols with a leading '_', which the export table leaves out.
  const bool prefixed = image.machine == coff::IMAGE_FILE_MACHINE_I386;
  std::deque<std::string>& texts = coff_tables(reader).export_names;
  texts.clear();
  Outcome result = Outcome::kOk;
  for (uint32_t i = 0; i < names; ++i) {
    const uint16_t ordinal = load_u16(ordinals + size_t{i} * 2);
    std::string_view name;
    if (ordinal >= functions || !bytes.name(load_u32(name_table + size_t{i} * 4), name)) {
      result = damaged("names an export it does not hold");
      break;
    }
    const uint32_t rva = load_u32(addresses + size_t{ordinal} * 4);
    // A forwarder's address lies in the export table itself: it names another DLL's export.
    const bool forwarder = rva >= image.export_rva && rva - image.export_rva < image.export_size;
    const PeSection* section = section_of(image, rva);
    if (forwarder || section == nullptr || is_code(*section)) continue;
    texts.push_back(prefixed ? "_" + std::string(name) : std::string(name));
    if (!declare(reader,
                 Declaration{Declaration::kInitializedData, true, texts.back(), 0, 0, false})) {
      report_out_of_memory(reader.diagnostics, reader.object_path);
      return Outcome::kFailed;
    }
  }
  return result;
}

// The image's COFF symbol table and the string table after it, into `symbols` and
// `strings` (after its size field): mingw-w64's linker keeps both in a program built with
// -g, and the debug sections' long names are in the string table. A stripped image has
// neither. False, after a diagnostic, when they cannot be read.
bool read_image_symbols(ObjectReader& reader, InputStream& stream, const PeImage& image,
                        std::vector<uint8_t>& symbols, std::vector<uint8_t>& strings) {
  symbols.clear();
  strings.clear();
  if (image.symbol_table == 0) return true;
  const uint64_t table_size = uint64_t{image.symbol_count} * coff::kSymbolSize;
  if (!symbol_table_was_read(
          reader,
          read_table_at(reader, stream, image.base, image.symbol_table, table_size, symbols),
          table_size)) {
    return false;
  }
  // Without its string table the debug sections have no names: there are no layouts.
  const uint64_t strings_at = image.symbol_table + table_size;
  std::vector<uint8_t> size_field;
  Outcome result = read_table_at(reader, stream, image.base, strings_at,
                                 coff::kStringTableSizeField, size_field);
  if (result == Outcome::kOk) {
    const uint32_t size = load_u32(size_field.data());
    if (size <= coff::kStringTableSizeField) return true;
    result = read_table_at(reader, stream, image.base, strings_at + coff::kStringTableSizeField,
                           size - coff::kStringTableSizeField, strings);
  }
  check_string_table_read(reader, result, strings);
  return result == Outcome::kOk;
}

// Reads the image's debug sections, named as in objects ("/4" for ".debug_info"), into the
// reader's DwarfTables. False when there are none, or reading must stop after a diagnostic.
bool read_image_debug_sections(ObjectReader& reader, InputStream& stream, const PeImage& image,
                               const std::vector<uint8_t>& strings) {
  DwarfTables& dwarf = reader.dwarf;
  bool any = false;
  std::vector<uint8_t> stored;
  for (const PeSection& section : image.sections) {
    const std::string_view name = coff_section_name(strings, section.name);
    // GNU as writes the debug sections of -gz as ".zdebug_" sections.
    const std::string expanded_name = gnu_compressed_section_name(name);
    const bool compressed = !expanded_name.empty();
    const DebugSection found = debug_section_named(compressed ? expanded_name : name);
    if (found == kDebugSectionCount || dwarf.sections[found].present) continue;
    // The file pads a section's data to the image's file alignment; the section itself
    // holds VirtualSize bytes.
    const uint32_t size = section.virtual_size != 0
                              ? std::min(section.virtual_size, section.raw_size)
                              : section.raw_size;
    if (size == 0 || section.raw_offset == 0) continue;
    std::vector<uint8_t>& bytes = dwarf.sections[found].bytes;
    const Outcome read = read_table_at(reader, stream, image.base, section.raw_offset, size,
                                       compressed ? stored : bytes);
    if (read == Outcome::kFailed) {
      report_unreadable_debug_section(reader, name, "its data runs past the end of the file");
      return false;
    }
    if (!table_was_read(reader, read)) return false;
    if (compressed) {
      if (const char* why = expand_gnu_compressed(stored, bytes)) {
        report_unreadable_debug_section(reader, name, why);
        return false;
      }
    }
    dwarf.sections[found].present = true;
    any = true;
  }
  return any;
}

// The blocks' addresses from the image's symbol table: an external symbol's address is
// ImageBase + its section's RVA + its value. COFF records no size: a block's size is bounded
// by the next symbol of its section, or by the section's end.
void place_blocks(const PeImage& image, const std::vector<uint8_t>& symbols,
                  const std::vector<uint8_t>& strings, LinkedBlocks& blocks) {
  // Each symbol's address is its value, its offset in its section.
  std::vector<SectionSymbol> placed;
  std::vector<std::pair<LinkedBlock*, SectionSymbol>> found;
  const size_t count = symbols.size() / coff::kSymbolSize;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* record = symbols.data() + i * coff::kSymbolSize;
    const int16_t section = load_i16(record + coff::kSymbolSectionNumber);
    const uint32_t value = load_u32(record + coff::kSymbolValue);
    const uint8_t storage_class = record[coff::kSymbolStorageClass];
    i += record[coff::kSymbolNumberOfAuxSymbols];
    if (section < 1 || static_cast<size_t>(section) > image.sections.size()) continue;
    const SectionSymbol at{static_cast<uint32_t>(section), value};
    placed.push_back(at);
    if (storage_class != coff::IMAGE_SYM_CLASS_EXTERNAL) continue;
    // A long name is an offset into the string table, which counts its size field.
    const uint32_t offset = load_u32(record + coff::kSymbolNameOffset);
    const std::string_view name =
        load_u32(record) != 0 ? terminated_name(record, coff::kSymbolNameLength)
        : offset >= coff::kStringTableSizeField
            ? StringTable(strings).name_at(offset - coff::kStringTableSizeField)
            : std::string_view();
    const auto wanted = blocks.find(name);
    if (wanted != blocks.end()) found.emplace_back(&wanted->second, at);
  }
  std::sort(placed.begin(), placed.end());
  for (const auto& [block, at] : found) {
    const PeSection& section = image.sections[at.section - 1];
    block->initialised = (section.characteristics & coff::IMAGE_SCN_CNT_UNINITIALIZED_DATA) == 0 &&
                         section.raw_size != 0;
    bound_linked_block(*block, placed, at,
                       section.virtual_size != 0 ? section.virtual_size : section.raw_size);
    // The address the DWARF holds: the image's, not the offset in the section.
    block->address = image.image_base + section.address + at.address;
  }
}

// The COMMON block layouts of the image's DWARF debug information (-m), each a declaration
// of its own, placed by the image's symbol table.
void read_image_layouts(ObjectReader& reader, InputStream& stream, const PeImage& image) {
  CoffTables& tables = coff_tables(reader);
  reset_debug_sections(reader.dwarf);
  // i386 symbols carry a leading underscore that the linkage names do not.
  if (image.machine == coff::IMAGE_FILE_MACHINE_I386) reader.dwarf.symbol_prefix = "_";
  if (!read_image_symbols(reader, stream, image, tables.symbols, tables.string_text) ||
      !read_image_debug_sections(reader, stream, image, tables.string_text)) {
    return;
  }
  read_common_layouts(reader);
  ObjectDeclarations& declarations = reader.declarations;
  if (declarations.layouts.empty()) return;
  try {
    LinkedBlocks blocks = blocks_of_layouts(declarations);
    place_blocks(image, tables.symbols, tables.string_text, blocks);
    place_linked_layouts(reader, blocks);
  } catch (const std::bad_alloc&) {
    report_out_of_memory(reader.diagnostics, reader.object_path);
    declarations.layouts.clear();
    declarations.members.clear();
  }
}

}  // namespace

Outcome read_pe_image(ObjectReader& reader, InputStream& stream, std::string_view path,
                      uint64_t base, uint64_t, bool dll) {
  begin_object(reader, path);
  reader.declarations.library = dll;
  PeImage image;
  image.base = base;
  if (!read_headers(reader, stream, path, image)) return Outcome::kFailed;
  const Outcome result = dll ? read_exports(reader, stream, path, image) : Outcome::kOk;
  if (reader.read_layouts) read_image_layouts(reader, stream, image);
  // A program without layouts is no object file.
  if (!dll && !reader.declarations.program) {
    report_not_an_object(reader, std::string(path).c_str());
    reader.declarations.refused = true;
  }
  return result;
}

}  // namespace drelk
