// The binary input stream that every object and archive reader uses: an open file or
// bytes in memory (the fuzz target and the unit tests run from memory), with 64-bit
// positions.
//
// Its rules are those of a C runtime's stream:
// - a seek past the end of the data succeeds, and the next read comes back short;
// - a failed read of the underlying file sets an error indicator that stays set;
// - reaching the end of the data sets an end-of-file condition that every seek clears.
// A reader whose format lives under a narrower position rule sets `position_limit`: no
// seek reaches beyond it (such a seek fails and leaves the position where it was) and
// no read returns bytes at or beyond it. COFF, read by a runtime with signed 32-bit
// stream positions, sets it to 0x7FFFFFFF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace drelk {

// An allocator whose elements start uninitialised when a vector grows: a read buffer is
// filled by the read that follows, so clearing it first is work thrown away (for a run
// over thousands of objects, more than a quarter of its instructions).
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  using value_type = T;
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
  template <typename U>
  void construct(U* place) noexcept {
    ::new (static_cast<void*>(place)) U;
  }
};

// Bytes read from a file, not cleared before the read that fills them.
using ReadBuffer = std::vector<uint8_t, UninitializedAllocator<uint8_t>>;

inline constexpr uint64_t kNoPositionLimit = ~uint64_t{0};

struct InputStream {
  int descriptor = -1;              // file backing, owned: an open file descriptor
  const uint8_t* memory = nullptr;  // or memory backing, not owned
  uint64_t size = 0;                // bytes available when the stream was opened
  uint64_t position = 0;            // always <= position_limit
  uint64_t position_limit = kNoPositionLimit;
  bool error = false;        // sticky error indicator
  bool end_of_file = false;  // cleared by every seek
  ReadBuffer cache;          // read cache of the file backing
  uint64_t cache_start = 0;
  // The file's identity (device and inode, or volume and file index), where the open
  // learnt it: no second look at the file for it.
  bool identity_known = false;
  uint64_t device = 0;
  uint64_t inode = 0;
};

InputStream memory_input_stream(const uint8_t* data, size_t size);

// Makes `stream` read `descriptor`, an open file of `size` bytes, which the stream then
// owns. Everything of an earlier file is forgotten, but the storage of the read cache is
// kept: a run of thousands of files reuses one stream without an allocation per file.
void use_file(InputStream& stream, int descriptor, uint64_t size);

// Reads the first bytes of the file into the read cache, as the first read would: what a
// file opened ahead of its reading brings along. A failed read leaves the cache empty, so
// that the reading fails where it would have. False when the cache cannot be allocated.
bool prime_input_stream(InputStream& stream);

// Closes the file backing, if any. The read cache keeps its storage (at most 64 KiB).
void close_input_stream(InputStream& stream);

// Reads up to `count` bytes at the position and advances it; returns the bytes read.
size_t stream_read(InputStream& stream, void* destination, size_t count);

// Positions the stream at an absolute offset; false (position unchanged) when the offset
// is negative or beyond the position limit.
bool stream_seek(InputStream& stream, int64_t offset);

// Moves the position by a signed amount, as a relative seek would.
bool stream_skip(InputStream& stream, int64_t amount);

// Moves the position past up to `count` NUL-terminated strings, as reading a byte at a
// time up to each NUL would, but a buffer at a time. Returns the strings passed; fewer
// than `count` when the data ends or a read fails first (the stream then stands where
// the next byte read would report that).
uint32_t stream_skip_strings(InputStream& stream, uint32_t count);

// Bytes between the position and the end of the data that a read could still return.
uint64_t stream_remaining(const InputStream& stream);

}  // namespace drelk
