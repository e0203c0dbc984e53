// The binary input stream's position rules: a position limit, a sticky error
// indicator, an end-of-file condition that seeks clear, seeks past the end.
#include "platform/input_stream.h"

#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/file_system.h"
#include "tests/support/temp_dir.h"

namespace drelk {
namespace {

// COFF's rule, signed 32-bit stream positions, as its reader sets it.
TEST(InputStream, SeekBeyondThePositionLimitFailsAndKeepsThePosition) {
  const uint8_t data[4] = {1, 2, 3, 4};
  InputStream s = memory_input_stream(data, sizeof data);
  s.position_limit = 0x7FFFFFFF;
  ASSERT_TRUE(stream_seek(s, 2));
  EXPECT_FALSE(stream_seek(s, 0x80000000LL));
  EXPECT_FALSE(stream_seek(s, 0xFFFFFFFFLL));
  EXPECT_FALSE(stream_seek(s, -1));
  EXPECT_EQ(s.position, 2u);
  EXPECT_TRUE(stream_seek(s, 0x7FFFFFFF));
}

TEST(InputStream, RelativeSkipIsASignedAmount) {
  const uint8_t data[4] = {};
  InputStream s = memory_input_stream(data, sizeof data);
  s.position_limit = 0x7FFFFFFF;
  ASSERT_TRUE(stream_seek(s, 100));
  // 4 x 0x20000000 computed in 32 bits is 0x80000000, a negative amount.
  EXPECT_FALSE(stream_skip(s, static_cast<int32_t>(0x80000000u)));
  EXPECT_EQ(s.position, 100u);
  EXPECT_TRUE(stream_skip(s, -50));
  EXPECT_EQ(s.position, 50u);
}

TEST(InputStream, SeekPastTheEndSucceedsAndTheNextReadIsShort) {
  const uint8_t data[4] = {1, 2, 3, 4};
  InputStream s = memory_input_stream(data, sizeof data);
  ASSERT_TRUE(stream_seek(s, 1000));
  uint8_t out[4];
  EXPECT_EQ(stream_read(s, out, 4), 0u);
  EXPECT_TRUE(s.end_of_file);
  EXPECT_FALSE(s.error);
  EXPECT_EQ(stream_remaining(s), 0u);
}

TEST(InputStream, ShortReadAtTheEndThenASeekReadsAsUsual) {
  const uint8_t data[4] = {1, 2, 3, 4};
  InputStream s = memory_input_stream(data, sizeof data);
  ASSERT_TRUE(stream_seek(s, 2));
  uint8_t out[4] = {};
  EXPECT_EQ(stream_read(s, out, 4), 2u);
  EXPECT_TRUE(s.end_of_file);
  ASSERT_TRUE(stream_seek(s, 0));
  EXPECT_FALSE(s.end_of_file);
  EXPECT_EQ(stream_read(s, out, 4), 4u);
  EXPECT_EQ(out[3], 4);
}

TEST(InputStream, FileBackingReadsAcrossItsCache) {
  test::TempDir dir;
  std::vector<uint8_t> bytes(200000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  dir.write("data.bin", bytes);
  InputStream s;
  ASSERT_TRUE(open_input_file((dir.path() / "data.bin").string(), s));
  ASSERT_EQ(s.size, bytes.size());
  std::vector<uint8_t> out(70000);
  ASSERT_TRUE(stream_seek(s, 65530));
  ASSERT_EQ(stream_read(s, out.data(), 10), 10u);
  EXPECT_EQ(out[0], bytes[65530]);
  EXPECT_EQ(out[9], bytes[65539]);
  ASSERT_EQ(stream_read(s, out.data(), out.size()), out.size());
  EXPECT_EQ(out.back(), bytes[65540 + out.size() - 1]);
  ASSERT_TRUE(stream_seek(s, 3));
  uint8_t one = 0;
  ASSERT_EQ(stream_read(s, &one, 1), 1u);
  EXPECT_EQ(one, bytes[3]);
  ASSERT_TRUE(stream_seek(s, bytes.size() - 5));
  EXPECT_EQ(stream_read(s, out.data(), 10), 5u);
  close_input_stream(s);
}

TEST(InputStream, SkippedStringsEndAfterTheirNulAcrossTheCache) {
  // Strings of 1000 'x' and a NUL, so that some straddle the 64 KiB read cache's end.
  std::vector<uint8_t> bytes;
  for (int i = 0; i < 100; ++i) {
    bytes.insert(bytes.end(), 1000, 'x');
    bytes.push_back(0);
  }
  test::TempDir dir;
  dir.write("names.bin", bytes);
  InputStream file;
  ASSERT_TRUE(open_input_file((dir.path() / "names.bin").string(), file));
  InputStream memory = memory_input_stream(bytes.data(), bytes.size());
  for (InputStream* s : {&file, &memory}) {
    ASSERT_TRUE(stream_seek(*s, 500));
    EXPECT_EQ(stream_skip_strings(*s, 70), 70u);
    EXPECT_EQ(s->position, 70u * 1001);
    // Past the last NUL the data ends: fewer strings, the position at the end.
    EXPECT_EQ(stream_skip_strings(*s, 50), 30u);
    EXPECT_EQ(s->position, bytes.size());
    EXPECT_FALSE(s->error);
  }
  close_input_stream(file);
}

#if !defined(_WIN32)
TEST(InputStream, FailedReadSetsAStickyErrorIndicator) {
  // Reading a directory fails with an error, not with end of file.
  test::TempDir dir;
  const int descriptor = open(dir.str().c_str(), O_RDONLY);
  ASSERT_GE(descriptor, 0);
  InputStream s;
  use_file(s, descriptor, 100);
  uint8_t out[4];
  EXPECT_EQ(stream_read(s, out, 4), 0u);
  EXPECT_TRUE(s.error);
  ASSERT_TRUE(stream_seek(s, 0));
  EXPECT_TRUE(s.error);  // no seek clears it
  close_input_stream(s);
}
#endif

}  // namespace
}  // namespace drelk
