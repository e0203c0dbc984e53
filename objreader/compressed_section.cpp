// Expanding compressed debug sections with zlib and zstd, where this build has them.
#include "objreader/compressed_section.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "formats/bytes.h"
#include "formats/elf.h"

#if defined(DRELK_HAVE_ZLIB)
#include <zlib.h>
#endif
#if defined(DRELK_HAVE_ZSTD)
#include <zstd.h>
#endif

namespace drelk {
namespace {

constexpr char kGnuMagic[] = "ZLIB";
constexpr size_t kGnuMagicSize = 4;
constexpr size_t kGnuHeaderSize = kGnuMagicSize + 8;  // the size, big-endian
constexpr std::string_view kGnuPrefix = ".zdebug_";

const char* const kTooLarge = "it would expand to more than 1 GiB";
// Unused where the build has neither zlib nor zstd.
[[maybe_unused]] const char* const kDamaged = "its compressed data is damaged";

// Inflates `size` bytes at `data`, a zlib stream, into exactly `expanded.size()` bytes.
const char* inflate_zlib(const uint8_t* data, size_t size, std::vector<uint8_t>& expanded) {
#if defined(DRELK_HAVE_ZLIB)
  // zlib counts in uInt; the expanded size is bounded below that already.
  if (size > UINT32_MAX) return kTooLarge;
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return kDamaged;
  stream.next_in = const_cast<Bytef*>(data);
  stream.avail_in = static_cast<uInt>(size);
  stream.next_out = expanded.data();
  stream.avail_out = static_cast<uInt>(expanded.size());
  // All of it at once: anything but the stream's end, exactly where the output is full,
  // is damage (a stream cut short, or one that would expand to more than it says).
  const int status = inflate(&stream, Z_FINISH);
  const bool whole = status == Z_STREAM_END && stream.total_out == expanded.size();
  inflateEnd(&stream);
  return whole ? nullptr : kDamaged;
#else
  (void)data, (void)size, (void)expanded;
  return "it is compressed with zlib, which this drelk was built without";
#endif
}

const char* decompress_zstd(const uint8_t* data, size_t size, std::vector<uint8_t>& expanded) {
#if defined(DRELK_HAVE_ZSTD)
  const size_t got = ZSTD_decompress(expanded.data(), expanded.size(), data, size);
  return !ZSTD_isError(got) && got == expanded.size() ? nullptr : kDamaged;
#else
  (void)data, (void)size, (void)expanded;
  return "it is compressed with zstd, which this drelk was built without";
#endif
}

bool size_allowed(uint64_t size) {
  return size <= kMaxExpandedSectionSize;
}

}  // namespace

const char* expand_elf_compressed(const std::vector<uint8_t>& stored, bool is64, bool big_endian,
                                  std::vector<uint8_t>& expanded) {
  expanded.clear();
  const size_t header = is64 ? elf::kChdrHeaderSize64 : elf::kChdrHeaderSize32;
  if (stored.size() < header) return "its compression header is cut short";
  const uint32_t type = load_u32(stored.data() + elf::kChdrType, big_endian);
  const uint64_t size = is64 ? load_u64(stored.data() + elf::kChdrSize64, big_endian)
                             : load_u32(stored.data() + elf::kChdrSize32, big_endian);
  if (type != elf::ELFCOMPRESS_ZLIB && type != elf::ELFCOMPRESS_ZSTD) {
    return "it is compressed by a method drelk does not know";
  }
  if (!size_allowed(size)) return kTooLarge;
  expanded.resize(static_cast<size_t>(size));
  const uint8_t* data = stored.data() + header;
  const size_t data_size = stored.size() - header;
  return type == elf::ELFCOMPRESS_ZLIB ? inflate_zlib(data, data_size, expanded)
                                       : decompress_zstd(data, data_size, expanded);
}

std::string gnu_compressed_section_name(std::string_view name) {
  if (name.substr(0, kGnuPrefix.size()) != kGnuPrefix) return {};
  return "." + std::string(name.substr(2));
}

const char* expand_gnu_compressed(const std::vector<uint8_t>& stored,
                                  std::vector<uint8_t>& expanded) {
  expanded.clear();
  if (stored.size() < kGnuHeaderSize || std::memcmp(stored.data(), kGnuMagic, kGnuMagicSize) != 0) {
    return "its compression header is damaged";
  }
  const uint64_t size = load_u64(stored.data() + kGnuMagicSize, true);
  if (!size_allowed(size)) return kTooLarge;
  expanded.resize(static_cast<size_t>(size));
  return inflate_zlib(stored.data() + kGnuHeaderSize, stored.size() - kGnuHeaderSize, expanded);
}

}  // namespace drelk
