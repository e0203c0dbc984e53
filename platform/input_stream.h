// The binary input stream that every object and archive reader uses.
//
// Its position rules are those of a C runtime with a signed 32-bit stream position,
// emulated here explicitly so that every host behaves the same:
// - a position of 0x80000000 or more cannot be reached: such a seek fails and leaves the
//   position where it was;
// - a seek past the end of the data succeeds, and the next read comes back short;
// - a failed read of the underlying file sets an error indicator that stays set;
// - reaching the end of the data sets an end-of-file condition that every seek clears.
// The stream reads either an open file or bytes in memory (the fuzz target and the
// unit tests run from memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace drelk {

inline constexpr uint32_t kMaxStreamPosition = 0x7FFFFFFF;

struct InputStream {
  std::FILE* file = nullptr;        // file backing, owned
  const uint8_t* memory = nullptr;  // or memory backing, not owned
  uint64_t size = 0;                // bytes available when the stream was opened
  uint32_t position = 0;            // always <= kMaxStreamPosition
  bool error = false;               // sticky error indicator
  bool end_of_file = false;         // cleared by every seek
  std::vector<uint8_t> cache;       // read cache of the file backing
  uint64_t cache_start = 0;
  uint64_t file_position = 0;  // where the file backing's next read starts
};

inline constexpr uint64_t kUnknownFilePosition = ~uint64_t{0};

InputStream memory_input_stream(const uint8_t* data, size_t size);

// Takes ownership of `file`, an open binary stream of `size` bytes.
InputStream file_input_stream(std::FILE* file, uint64_t size);

void close_input_stream(InputStream& stream);

// Reads up to `count` bytes at the position and advances it; returns the bytes read.
size_t stream_read(InputStream& stream, void* destination, size_t count);

// Positions the stream at an absolute offset; false (position unchanged) when the offset
// is negative or 0x80000000 or more as a signed 32-bit stream position.
bool stream_seek(InputStream& stream, int64_t offset);

// Moves the position by a signed 32-bit amount, as a relative seek would.
bool stream_skip(InputStream& stream, int32_t amount);

// Bytes between the position and the end of the data that a read could still return.
uint64_t stream_remaining(const InputStream& stream);

}  // namespace drelk
