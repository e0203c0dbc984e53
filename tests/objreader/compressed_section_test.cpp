// Expanding compressed debug sections: both headers, both methods, and the damage and
// hostile sizes a file may carry.
#include "objreader/compressed_section.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#if defined(DRELK_HAVE_ZLIB)
#include <zlib.h>
#endif
#if defined(DRELK_HAVE_ZSTD)
#include <zstd.h>
#endif

namespace drelk {
namespace {

const std::vector<uint8_t> kText = [] {
  std::vector<uint8_t> text;
  for (int i = 0; i < 1000; ++i) text.push_back(static_cast<uint8_t>("debug_info"[i % 10]));
  return text;
}();

void put_u32(std::vector<uint8_t>& out, uint32_t value, bool big_endian) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<uint8_t>(value >> (big_endian ? 24 - 8 * i : 8 * i)));
  }
}

void put_u64(std::vector<uint8_t>& out, uint64_t value, bool big_endian) {
  put_u32(out, static_cast<uint32_t>(big_endian ? value >> 32 : value), big_endian);
  put_u32(out, static_cast<uint32_t>(big_endian ? value : value >> 32), big_endian);
}

// An Elf64_Chdr (or Elf32_Chdr) followed by `data`.
std::vector<uint8_t> elf_compressed(uint32_t type, uint64_t size, const std::vector<uint8_t>& data,
                                    bool is64 = true, bool big_endian = false) {
  std::vector<uint8_t> out;
  put_u32(out, type, big_endian);
  if (is64) {
    put_u32(out, 0, big_endian);
    put_u64(out, size, big_endian);
    put_u64(out, 1, big_endian);
  } else {
    put_u32(out, static_cast<uint32_t>(size), big_endian);
    put_u32(out, 1, big_endian);
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

std::vector<uint8_t> gnu_compressed(uint64_t size, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out = {'Z', 'L', 'I', 'B'};
  put_u64(out, size, true);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

TEST(CompressedSection, GnuNamesMapToTheirDebugSections) {
  EXPECT_EQ(gnu_compressed_section_name(".zdebug_info"), ".debug_info");
  EXPECT_EQ(gnu_compressed_section_name(".zdebug_str_offsets"), ".debug_str_offsets");
  EXPECT_EQ(gnu_compressed_section_name(".debug_info"), "");
  EXPECT_EQ(gnu_compressed_section_name(".zdebu"), "");
}

TEST(CompressedSection, HostileHeadersAreRefusedBeforeAnyAllocation) {
  std::vector<uint8_t> out;
  EXPECT_STREQ(expand_elf_compressed({1, 0, 0}, true, false, out),
               "its compression header is cut short");
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(3, 10, {}), true, false, out),
               "it is compressed by a method drelk does not know");
  // A size from the file beyond the bound: nothing is allocated for it.
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(1, uint64_t{1} << 40, {}), true, false, out),
               "it would expand to more than 1 GiB");
  EXPECT_STREQ(expand_gnu_compressed(gnu_compressed(UINT64_MAX, {}), out),
               "it would expand to more than 1 GiB");
  EXPECT_STREQ(expand_gnu_compressed({'Z', 'L', 'I', 'X', 0, 0, 0, 0, 0, 0, 0, 1}, out),
               "its compression header is damaged");
  EXPECT_TRUE(out.empty());
}

#if defined(DRELK_HAVE_ZLIB)
std::vector<uint8_t> deflated(const std::vector<uint8_t>& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(compress(out.data(), &size, text.data(), static_cast<uLong>(text.size())), Z_OK);
  out.resize(size);
  return out;
}

TEST(CompressedSection, ZlibInEitherHeaderClassAndByteOrder) {
  const std::vector<uint8_t> data = deflated(kText);
  std::vector<uint8_t> out;
  for (const bool is64 : {true, false}) {
    for (const bool big_endian : {false, true}) {
      EXPECT_EQ(expand_elf_compressed(elf_compressed(1, kText.size(), data, is64, big_endian), is64,
                                      big_endian, out),
                nullptr);
      EXPECT_EQ(out, kText);
    }
  }
  EXPECT_EQ(expand_gnu_compressed(gnu_compressed(kText.size(), data), out), nullptr);
  EXPECT_EQ(out, kText);
}

TEST(CompressedSection, ZlibStreamsThatDisagreeWithTheirSizeAreDamage) {
  const std::vector<uint8_t> data = deflated(kText);
  const std::vector<uint8_t> cut(data.begin(), data.begin() + data.size() / 2);
  std::vector<uint8_t> flipped = data;
  flipped[data.size() / 2] ^= 0xFF;
  std::vector<uint8_t> out;
  for (const auto& [stored, size] : std::vector<std::pair<std::vector<uint8_t>, uint64_t>>{
           {cut, kText.size()},       // the stream ends early
           {flipped, kText.size()},   // its bytes or its check sum are wrong
           {data, kText.size() - 1},  // it holds more than the header says
           {data, kText.size() + 1},  // or less
       }) {
    EXPECT_STREQ(expand_elf_compressed(elf_compressed(1, size, stored), true, false, out),
                 "its compressed data is damaged");
    EXPECT_STREQ(expand_gnu_compressed(gnu_compressed(size, stored), out),
                 "its compressed data is damaged");
  }
}
#else
TEST(CompressedSection, ZlibSectionsSayThisBuildLacksZlib) {
  std::vector<uint8_t> out;
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(1, 10, {1, 2}), true, false, out),
               "it is compressed with zlib, which this drelk was built without");
}
#endif

#if defined(DRELK_HAVE_ZSTD)
TEST(CompressedSection, ZstdAndItsDamage) {
  std::vector<uint8_t> data(ZSTD_compressBound(kText.size()));
  data.resize(ZSTD_compress(data.data(), data.size(), kText.data(), kText.size(), 3));
  std::vector<uint8_t> out;
  EXPECT_EQ(expand_elf_compressed(elf_compressed(2, kText.size(), data), true, false, out),
            nullptr);
  EXPECT_EQ(out, kText);
  const std::vector<uint8_t> cut(data.begin(), data.end() - 3);
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(2, kText.size(), cut), true, false, out),
               "its compressed data is damaged");
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(2, kText.size() + 5, data), true, false, out),
               "its compressed data is damaged");
}
#else
TEST(CompressedSection, ZstdSectionsSayThisBuildLacksZstd) {
  std::vector<uint8_t> out;
  EXPECT_STREQ(expand_elf_compressed(elf_compressed(2, 10, {1, 2}), true, false, out),
               "it is compressed with zstd, which this drelk was built without");
}
#endif

}  // namespace
}  // namespace drelk
