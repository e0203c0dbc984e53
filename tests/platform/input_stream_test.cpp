#include "platform/input_stream.h"

#include <gtest/gtest.h>

namespace drelk {
namespace {

TEST(InputStream, SeekBeyondSignedRangeFailsAndKeepsPosition) {
  const uint8_t data[4] = {1, 2, 3, 4};
  InputStream s = memory_input_stream(data, sizeof data);
  ASSERT_TRUE(stream_seek(s, 2));
  EXPECT_FALSE(stream_seek(s, 0x80000000LL));
  EXPECT_EQ(s.position, 2u);
}

}  // namespace
}  // namespace drelk
