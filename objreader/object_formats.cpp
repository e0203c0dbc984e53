// The table of the kinds of input: one row a kind. Adding a format is a room of its own
// (its reader and its layouts) and one row here.
#include "objreader/object_formats.h"

#include <iterator>

#include "objreader/bitcode/bitcode_reader.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/xcoff/xcoff_reader.h"

namespace drelk {
namespace {

constexpr PositionRule kSigned32 = PositionRule::kSigned32;
constexpr PositionRule kUnbounded = PositionRule::kUnbounded;

Outcome read_coff(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                  uint64_t extent, FileKind kind) {
  return read_coff_object(reader, stream, path, base, extent, kind);
}

Outcome read_dll(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                 uint64_t extent, FileKind) {
  return read_pe_image(reader, stream, path, base, extent, true);
}

Outcome read_exe(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                 uint64_t extent, FileKind) {
  return read_pe_image(reader, stream, path, base, extent, false);
}

Outcome read_elf(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                 uint64_t extent, FileKind) {
  return read_elf_object(reader, stream, path, base, extent);
}

Outcome read_macho(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                   uint64_t extent, FileKind) {
  return read_macho_object(reader, stream, path, base, extent);
}

Outcome read_bitcode(ObjectReader& reader, InputStream& stream, std::string_view path,
                     uint64_t base, uint64_t extent, FileKind) {
  return read_bitcode_object(reader, stream, path, base, extent);
}

Outcome read_xcoff(ObjectReader& reader, InputStream& stream, std::string_view path, uint64_t base,
                   uint64_t extent, FileKind) {
  return read_xcoff_object(reader, stream, path, base, extent);
}

// Anything not recognised otherwise is read as COFF, with COFF's positions.
constexpr ObjectFormat kFormats[] = {
    {FileKind::kCoffObject, "coff", kSigned32, read_coff, nullptr, false, false},
    {FileKind::kCoffImport, "coff-import", kSigned32, read_coff, nullptr, false, false},
    {FileKind::kCoffBigObject, "coff-bigobj", kSigned32, read_coff, nullptr, false, false},
    {FileKind::kArchive, "archive", kSigned32, read_coff, nullptr, true, false},
    {FileKind::kThinArchive, "thin-archive", kSigned32, read_coff, nullptr, true, false},
    {FileKind::kElfObject, "elf", kUnbounded, read_elf, nullptr, false, false},
    {FileKind::kMachObject, "macho", kUnbounded, read_macho, nullptr, false, true},
    {FileKind::kUniversal, "universal", kUnbounded, read_coff, read_universal_slices, false, false},
    {FileKind::kLlvmBitcode, "llvm-bitcode", kUnbounded, read_bitcode, nullptr, false, true},
    {FileKind::kXcoffObject, "xcoff", kUnbounded, read_xcoff, nullptr, false, false},
    {FileKind::kBigArchive, "big-archive", kUnbounded, read_coff, nullptr, true, false},
    {FileKind::kExecutable, {}, kSigned32, read_coff, nullptr, false, false},
    {FileKind::kPeImage, {}, kSigned32, read_coff, nullptr, false, false},
    {FileKind::kPeDll, "pe-dll", kSigned32, read_dll, nullptr, false, false},
    {FileKind::kPeProgram, "pe-exe", kSigned32, read_exe, nullptr, false, false},
};

}  // namespace

const ObjectFormat& object_format(FileKind kind) {
  for (const ObjectFormat& format : kFormats) {
    if (format.kind == kind) return format;
  }
  return kFormats[0];
}

void use_classification_positions(InputStream& stream) {
  use_coff_positions(stream);
}

void use_positions_of(InputStream& stream, FileKind kind) {
  if (object_format(kind).positions == PositionRule::kSigned32) {
    use_coff_positions(stream);
  } else {
    stream.position_limit = kNoPositionLimit;
  }
}

}  // namespace drelk
