// A PE DLL's export table (Microsoft's "PE Format", the .edata section): the names it
// exports, of which those whose address lies in a section of data are the data it defines.
// The format records no sizes. Every table is read within the file, however large the
// counts it claims.
#include <algorithm>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
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
};

struct PeImage {
  uint64_t base = 0;
  uint16_t machine = 0;
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
    section.size = std::max(load_u32(record + coff::kSectionVirtualSize), section.raw_size);
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

}  // namespace

Outcome read_pe_dll(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                    uint64_t) {
  begin_object(reader, path);
  reader.declarations.library = true;
  PeImage image;
  image.base = base;
  if (!read_headers(reader, stream, path, image)) return Outcome::kFailed;
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

}  // namespace drelk
