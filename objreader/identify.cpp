// Identification of inputs by their first bytes, and the classification reads of a file.
#include "objreader/identify.h"

#include <cstring>

#include "formats/archive.h"
#include "formats/bitcode.h"
#include "formats/coff.h"
#include "formats/elf.h"
#include "formats/macho.h"
#include "formats/xcoff.h"
#include "objreader/messages.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";
constexpr const char* kSignatureReadFailed = "Error reading file signature\n";

bool is_elf(const uint8_t* bytes, size_t count) {
  return count >= elf::SELFMAG && std::memcmp(bytes, elf::ELFMAG, elf::SELFMAG) == 0;
}

bool is_macho(const uint8_t* bytes, size_t count) {
  if (count < macho::kMagicSize) return false;
  const uint32_t magic = load_u32(bytes, true);
  return magic == macho::MH_MAGIC || magic == macho::MH_MAGIC_64 || magic == macho::MH_CIGAM ||
         magic == macho::MH_CIGAM_64;
}

// A universal file's header, not a Java class file's, which starts with the same magic but
// whose second word, its version, is far above any count of slices.
bool is_universal(const uint8_t* bytes, size_t count) {
  if (count < macho::kFatHeaderSize) return false;
  const uint32_t magic = load_u32(bytes, true);
  return (magic == macho::FAT_MAGIC || magic == macho::FAT_MAGIC_64) &&
         load_u32(bytes + macho::kFatHeaderNumberOfArchitectures, true) <
             macho::kFirstClassFileVersion;
}

bool is_xcoff(const uint8_t* bytes, size_t count) {
  if (count < 2) return false;
  const uint16_t magic = load_u16(bytes, true);
  return magic == xcoff::kMagic32 || magic == xcoff::kMagic64;
}

bool is_executable_signature(uint32_t word) {
  return word == coff::kDosSignature || word == coff::kNeSignature || word == coff::kLeSignature;
}

// An import object header or an extended ("bigobj") object header starts with
// Sig1 = IMAGE_FILE_MACHINE_UNKNOWN, Sig2 = 0xFFFF and a u16 version.
FileKind identify_coff(const uint8_t* bytes, size_t count) {
  if (count < coff::kImportObjectVersion + 2 ||
      load_u16(bytes) != coff::IMAGE_FILE_MACHINE_UNKNOWN ||
      load_u16(bytes + 2) != coff::kImportObjectSig2) {
    return FileKind::kCoffObject;
  }
  const uint16_t version = load_u16(bytes + coff::kImportObjectVersion);
  if (version == 0) return FileKind::kCoffImport;
  if (version >= coff::kBigObjectMinimumVersion) return FileKind::kCoffBigObject;
  return FileKind::kCoffObject;
}

// A COFF file header of an object: a processor drelk knows (not the unknown one, which
// any file of two zero bytes would claim) and no optional header, or one of the two
// sizes an object may carry.
bool is_coff_object_header(const uint8_t* bytes, size_t count) {
  if (count < coff::kFileHeaderSize) return false;
  const uint16_t machine = load_u16(bytes + coff::kFileHeaderMachine);
  const uint16_t optional = load_u16(bytes + coff::kFileHeaderSizeOfOptionalHeader);
  return machine != coff::IMAGE_FILE_MACHINE_UNKNOWN && coff::is_valid_machine(machine) &&
         (optional == 0 || optional == coff::kOptionalHeaderSizeSmall ||
          optional == coff::kOptionalHeaderSizePe32);
}

// LLVM bitcode: the raw form ("BC" 0xC0DE) or the wrapper that Darwin tools put around it.
bool is_llvm_bitcode(const uint8_t* bytes, size_t count) {
  return count >= bitcode::kRawMagicSize &&
         (std::memcmp(bytes, bitcode::kRawMagic, bitcode::kRawMagicSize) == 0 ||
          load_u32(bytes) == bitcode::kWrapperMagic);
}

// Text: printable ASCII, blanks and line ends, and UTF-8 sequences, with no NUL; a
// sequence cut off by the end of the bytes looked at counts as text.
bool is_text(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    if (b == '\t' || b == '\n' || b == '\r' || b == '\f' || (b >= 0x20 && b < 0x7F)) continue;
    const size_t trail = b >= 0xC2 && b <= 0xDF   ? 1
                         : b >= 0xE0 && b <= 0xEF ? 2
                         : b >= 0xF0 && b <= 0xF4 ? 3
                                                  : 0;
    if (trail == 0) return false;
    for (size_t k = 1; k <= trail && i + k < count; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) return false;
    }
    i += trail;
  }
  return count > 0;
}

}  // namespace

bool is_object_or_library(const uint8_t* bytes, size_t count) {
  switch (identify_format(bytes, count)) {
    case FileKind::kArchive:
    case FileKind::kThinArchive:
    case FileKind::kBigArchive:
    case FileKind::kUniversal:
    case FileKind::kCoffBigObject:
    case FileKind::kLlvmBitcode:
      return true;
    case FileKind::kElfObject: {
      // e_type follows e_ident in either class.
      if (count < elf::EI_NIDENT + 2) return false;
      const bool big_endian = bytes[elf::EI_DATA] == elf::ELFDATA2MSB;
      return load_u16(bytes + elf::EI_NIDENT, big_endian) == elf::ET_REL;
    }
    case FileKind::kMachObject: {
      if (count < macho::kHeaderFileType + 4) return false;
      const uint32_t magic = load_u32(bytes, true);
      const bool big_endian = magic == macho::MH_MAGIC || magic == macho::MH_MAGIC_64;
      return load_u32(bytes + macho::kHeaderFileType, big_endian) == macho::MH_OBJECT;
    }
    case FileKind::kXcoffObject:
      // f_flags stands at the same offset in both classes.
      return count >= xcoff::kFileHeaderFlags + 2 &&
             (load_u16(bytes + xcoff::kFileHeaderFlags, true) &
              (xcoff::F_EXEC | xcoff::F_SHROBJ)) == 0;
    case FileKind::kCoffObject:
      return is_coff_object_header(bytes, count);
    default:
      return false;
  }
}

namespace {

// The characteristics of the PE file header where e_lfanew says, of the file in `stream`,
// which starts with the MS-DOS signature. False where no PE signature stands there.
bool pe_characteristics(InputStream& stream, uint16_t& characteristics) {
  uint8_t dos[coff::kDosLfanew + 4] = {};
  if (peek_bytes(stream, 0, dos, sizeof dos) != sizeof dos) return false;
  uint8_t header[coff::kPeSignatureSize + coff::kFileHeaderSize] = {};
  const uint32_t lfanew = load_u32(dos + coff::kDosLfanew);
  if (peek_bytes(stream, lfanew, header, sizeof header) != sizeof header) return false;
  characteristics = load_u16(header + coff::kPeSignatureSize + coff::kFileHeaderCharacteristics);
  return load_u32(header) == coff::kPeSignature;
}

}  // namespace

bool is_pe_dll(InputStream& stream) {
  uint16_t characteristics = 0;
  return pe_characteristics(stream, characteristics) &&
         (characteristics & coff::IMAGE_FILE_DLL) != 0;
}

bool is_pe_image(InputStream& stream) {
  uint16_t characteristics = 0;
  return pe_characteristics(stream, characteristics);
}

bool is_shared_library(InputStream& stream) {
  uint8_t header[elf::kElf64.header_size] = {};
  const size_t got = peek_bytes(stream, 0, header, sizeof header);
  switch (identify_format(header, got)) {
    case FileKind::kExecutable:
      return is_pe_dll(stream);
    case FileKind::kMachObject: {
      if (got < macho::kHeaderFileType + 4) return false;
      const uint32_t magic = load_u32(header, true);
      const bool big = magic == macho::MH_MAGIC || magic == macho::MH_MAGIC_64;
      const uint32_t type = load_u32(header + macho::kHeaderFileType, big);
      return type == macho::MH_DYLIB || type == macho::MH_BUNDLE;
    }
    case FileKind::kElfObject:
      break;
    default:
      return false;
  }
  // An ET_DYN file that asks for a program interpreter is a position-independent program.
  const elf::Encoding encoding{header[elf::EI_CLASS] == elf::ELFCLASS64,
                               header[elf::EI_DATA] == elf::ELFDATA2MSB};
  const elf::ClassLayout& layout = elf::layout_of(encoding);
  if (got < layout.header_size ||
      load_u16(header + layout.e_type, encoding.big_endian) != elf::ET_DYN) {
    return false;
  }
  const size_t phentsize = encoding.is64 ? elf::kPhentsize64 : elf::kPhentsize32;
  const uint64_t table =
      elf::load_word(header + (encoding.is64 ? elf::kPhoff64 : elf::kPhoff32), encoding);
  const uint16_t entry_size = load_u16(header + phentsize, encoding.big_endian);
  const uint16_t count =
      load_u16(header + phentsize + elf::kPhnumAfterPhentsize, encoding.big_endian);
  if (entry_size < 4) return false;
  uint8_t type[4] = {};
  for (uint16_t i = 0; i < count && i < elf::kProgramHeadersLooked; ++i) {
    if (peek_bytes(stream, saturating_add(table, uint64_t{i} * entry_size), type, 4) != 4) {
      return false;
    }
    if (load_u32(type, encoding.big_endian) == elf::PT_INTERP) return false;
  }
  return true;
}

bool is_debug_companion(InputStream& stream) {
  uint8_t header[macho::kHeaderFileType + 4] = {};
  if (peek_bytes(stream, 0, header, sizeof header) != sizeof header ||
      !is_macho(header, sizeof header)) {
    return false;
  }
  const uint32_t magic = load_u32(header, true);
  const bool big = magic == macho::MH_MAGIC || magic == macho::MH_MAGIC_64;
  return load_u32(header + macho::kHeaderFileType, big) == macho::MH_DSYM;
}

void report_not_an_object(ObjectReader& reader, const char* path) {
  report_error(reader.diagnostics, strprintf(message::kNotAnObject, path));
}

FileKind identify_format(const uint8_t* bytes, size_t count) {
  if (count >= 2 && is_executable_signature(load_u16(bytes))) return FileKind::kExecutable;
  if (count >= 4 && load_u32(bytes) == coff::kPeSignature) return FileKind::kPeImage;
  if (count >= archive::kMagicSize &&
      std::memcmp(bytes, archive::kMagic, archive::kMagicSize) == 0) {
    return FileKind::kArchive;
  }
  if (count >= archive::kMagicSize &&
      std::memcmp(bytes, archive::kThinMagic, archive::kMagicSize) == 0) {
    return FileKind::kThinArchive;
  }
  if (count >= xcoff::kBigArchiveMagicSize &&
      std::memcmp(bytes, xcoff::kBigArchiveMagic, xcoff::kBigArchiveMagicSize) == 0) {
    return FileKind::kBigArchive;
  }
  return identify_member(bytes, count);
}

FileKind identify_member(const uint8_t* bytes, size_t count) {
  if (is_elf(bytes, count)) return FileKind::kElfObject;
  if (is_macho(bytes, count)) return FileKind::kMachObject;
  if (is_universal(bytes, count)) return FileKind::kUniversal;
  if (is_llvm_bitcode(bytes, count)) return FileKind::kLlvmBitcode;
  if (is_xcoff(bytes, count)) return FileKind::kXcoffObject;
  return identify_coff(bytes, count);
}

const char* unreadable_file_kind(const uint8_t* bytes, size_t count, uint64_t size) {
  if (size == 0) return "empty";
  const FileKind kind = identify_format(bytes, count);
  // Executables keep their own diagnostic; archives begin with printable text.
  if (kind != FileKind::kCoffObject) return nullptr;
  if (is_text(bytes, count)) return "a text file";
  return nullptr;
}

void report_not_an_object(ObjectReader& reader, const char* path, const char* what) {
  report_error(reader.diagnostics, strprintf(message::kNotAnObjectBecause, path, what));
}

bool reported_unreadable_file(ObjectReader& reader, InputStream& stream, const char* path) {
  uint8_t head[kNamingBytes] = {};
  const size_t held = peek_bytes(stream, 0, head, sizeof head);
  const char* what = unreadable_file_kind(head, held, stream.size);
  if (what != nullptr) report_not_an_object(reader, path, what);
  return what != nullptr;
}

bool classify_file(ObjectReader& reader, InputStream& stream, const char* name, const char* path,
                   FileKind& kind, Outcome& result) {
  if (reported_unreadable_file(reader, stream, path)) {
    result = Outcome::kFailed;
    return false;
  }
  // The signatures are read as the format's first readers read them: two bytes, then
  // four, then eight, each failure with its own diagnostics.
  uint8_t bytes[kIdentifyBytes] = {};
  result = Outcome::kOk;
  if (read_checked(reader, stream, 2, bytes, name) == 0) {
    report_error(reader.diagnostics, kSignatureReadFailed);
    return false;
  }
  if (identify_format(bytes, 2) == FileKind::kExecutable) {
    // A DLL is read for the data it exports; other executables are no objects, except
    // that under -m a PE program's debug information may declare its blocks.
    if (is_pe_dll(stream) && stream_seek(stream, 0)) {
      kind = FileKind::kPeDll;
      return true;
    }
    if (reader.read_layouts && is_pe_image(stream) && stream_seek(stream, 0)) {
      kind = FileKind::kPeProgram;
      return true;
    }
    report_not_an_object(reader, path);
    return false;
  }
  result = Outcome::kFailed;
  if (!stream_seek(stream, 0)) {
    report_error(reader.diagnostics, "Error seeking to start of file\n");
    return false;
  }
  if (read_checked(reader, stream, 4, bytes, kLabel) == 0) {
    report_error(reader.diagnostics, kSignatureReadFailed);
    return false;
  }
  if (identify_format(bytes, 4) == FileKind::kPeImage) {
    report_not_an_object(reader, path);
    return false;
  }
  constexpr const char* kHeaderSeekFailed = "Error seeking to start of file header\n";
  if (!stream_seek(stream, 0)) {
    report_error(reader.diagnostics, kHeaderSeekFailed);
    return false;
  }
  if (read_checked(reader, stream, kIdentifyBytes, bytes, kLabel) == 0) {
    report_error(reader.diagnostics, kSignatureReadFailed);
    return false;
  }
  kind = identify_format(bytes, kIdentifyBytes);
  if (kind == FileKind::kArchive || kind == FileKind::kThinArchive ||
      kind == FileKind::kBigArchive) {
    return true;
  }
  if (!stream_seek(stream, 0)) {
    report_error(reader.diagnostics, kHeaderSeekFailed);
    return false;
  }
  return true;
}

}  // namespace drelk
