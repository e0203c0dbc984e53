#include "platform/input_stream.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

#if defined(_WIN32)
#include <io.h>
#include <stdio.h>
#else
#include <unistd.h>
#endif

namespace drelk {
namespace {

constexpr size_t kCacheSize = 64 * 1024;

// Reads up to `count` bytes at `offset` of an open file: the count read (short only at the
// end of the file), or -1 after a failure.
int64_t read_at(int descriptor, uint64_t offset, uint8_t* destination, size_t count) {
  if (offset > uint64_t{INT64_MAX}) return -1;
#if defined(_WIN32)
  if (_lseeki64(descriptor, static_cast<__int64>(offset), SEEK_SET) < 0) return -1;
#endif
  size_t done = 0;
  while (done < count) {
#if defined(_WIN32)
    const int got = _read(descriptor, destination + done,
                          static_cast<unsigned>(std::min<size_t>(count - done, INT_MAX)));
#else
    const ssize_t got =
        pread(descriptor, destination + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
#endif
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

uint64_t readable_end(const InputStream& stream) {
  // Nothing can be read at or beyond the largest position the stream can hold.
  return std::min<uint64_t>(stream.size, stream.position_limit);
}

// Fills the cache with the data at `start`. False when the underlying read failed.
bool fill_cache(InputStream& stream, uint64_t start) {
  // No more than the file holds: a small object costs one read of its own size, and no
  // bytes of the cache are cleared only to be overwritten.
  const size_t wanted = static_cast<size_t>(
      std::min<uint64_t>(kCacheSize, stream.size > start ? stream.size - start : 0));
  stream.cache.resize(wanted);
  stream.cache_start = start;
  const int64_t got =
      wanted == 0 ? 0 : read_at(stream.descriptor, start, stream.cache.data(), wanted);
  stream.cache.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return got >= 0;
}

size_t read_file(InputStream& stream, uint8_t* destination, size_t count) {
  size_t done = 0;
  while (done < count) {
    const uint64_t at = stream.position + done;
    const bool cached = at >= stream.cache_start && at < stream.cache_start + stream.cache.size();
    if (!cached) {
      if (count - done >= kCacheSize) {
        // Large reads (symbol and string tables) go straight to the destination.
        const int64_t got = read_at(stream.descriptor, at, destination + done, count - done);
        if (got < 0) {
          stream.error = true;
        } else {
          done += static_cast<size_t>(got);
        }
        break;
      }
      if (!fill_cache(stream, at)) stream.error = true;
      if (stream.cache.empty()) break;
      continue;
    }
    const size_t offset = static_cast<size_t>(at - stream.cache_start);
    const size_t n = std::min(count - done, stream.cache.size() - offset);
    std::memcpy(destination + done, stream.cache.data() + offset, n);
    done += n;
  }
  return done;
}

}  // namespace

InputStream memory_input_stream(const uint8_t* data, size_t size) {
  InputStream stream;
  stream.memory = data;
  stream.size = size;
  return stream;
}

void use_file(InputStream& stream, int descriptor, uint64_t size) {
  ReadBuffer cache = std::move(stream.cache);
  cache.clear();
  stream = InputStream();
  stream.descriptor = descriptor;
  stream.size = size;
  stream.cache = std::move(cache);
}

bool prime_input_stream(InputStream& stream) {
  if (stream.descriptor < 0) return true;
  try {
    if (!fill_cache(stream, 0)) stream.cache.clear();
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

void close_input_stream(InputStream& stream) {
  if (stream.descriptor >= 0) {
#if defined(_WIN32)
    _close(stream.descriptor);
#else
    close(stream.descriptor);
#endif
  }
  stream.descriptor = -1;
  stream.memory = nullptr;
  stream.cache.clear();
}

size_t stream_read(InputStream& stream, void* destination, size_t count) {
  if (count == 0) return 0;
  const uint64_t end = readable_end(stream);
  const uint64_t available = stream.position < end ? end - stream.position : 0;
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(count, available));
  auto* out = static_cast<uint8_t*>(destination);
  size_t got = 0;
  if (wanted > 0) {
    if (stream.memory != nullptr) {
      std::memcpy(out, stream.memory + stream.position, wanted);
      got = wanted;
    } else if (stream.descriptor >= 0) {
      got = read_file(stream, out, wanted);
    }
  }
  stream.position += got;
  if (got < count) stream.end_of_file = true;
  return got;
}

uint32_t stream_skip_strings(InputStream& stream, uint32_t count) {
  uint32_t passed = 0;
  while (passed < count && !stream.error) {
    const uint64_t end = readable_end(stream);
    if (stream.position >= end) break;
    const uint8_t* data = nullptr;
    uint64_t available = 0;
    if (stream.memory != nullptr) {
      data = stream.memory + stream.position;
      available = end - stream.position;
    } else if (stream.descriptor >= 0) {
      const bool cached = stream.position >= stream.cache_start &&
                          stream.position < stream.cache_start + stream.cache.size();
      // The cache is filled where a byte read would fill it, so that a failing read fails
      // at the same place.
      if (!cached && !fill_cache(stream, stream.position)) stream.error = true;
      if (stream.cache.empty() || stream.position < stream.cache_start) break;
      data = stream.cache.data() + (stream.position - stream.cache_start);
      available = std::min(stream.cache_start + stream.cache.size(), end) - stream.position;
    } else {
      break;
    }
    const uint8_t* at = data;
    const uint8_t* stop = data + available;
    while (passed < count) {
      const void* nul = std::memchr(at, 0, static_cast<size_t>(stop - at));
      if (nul == nullptr) {
        at = stop;
        break;
      }
      at = static_cast<const uint8_t*>(nul) + 1;
      ++passed;
    }
    stream.position += static_cast<uint64_t>(at - data);
  }
  return passed;
}

bool stream_seek(InputStream& stream, int64_t offset) {
  if (offset < 0 || static_cast<uint64_t>(offset) > stream.position_limit) return false;
  stream.position = static_cast<uint64_t>(offset);
  stream.end_of_file = false;
  return true;
}

bool stream_skip(InputStream& stream, int64_t amount) {
  const uint64_t target = stream.position + static_cast<uint64_t>(amount);
  // A move below the start, or one that wraps, is no position at all.
  if (amount < 0 ? target > stream.position : target < stream.position) return false;
  return target <= uint64_t{INT64_MAX} && stream_seek(stream, static_cast<int64_t>(target));
}

uint64_t stream_remaining(const InputStream& stream) {
  const uint64_t end = readable_end(stream);
  return stream.position < end ? end - stream.position : 0;
}

}  // namespace drelk
