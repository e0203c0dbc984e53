#include "platform/input_stream.h"

#include <algorithm>
#include <cstring>

namespace drelk {
namespace {

constexpr size_t kCacheSize = 64 * 1024;

// An absolute seek of the underlying file, with the platform's 64-bit offsets.
bool seek_file(std::FILE* file, uint64_t offset) {
  if (offset > uint64_t{INT64_MAX}) return false;
#if defined(_WIN32)
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
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
  if (start != stream.file_position) {
    if (!seek_file(stream.file, start)) {
      stream.cache.clear();
      stream.file_position = kUnknownFilePosition;
      return false;
    }
  }
  const size_t got = wanted == 0 ? 0 : std::fread(stream.cache.data(), 1, wanted, stream.file);
  stream.file_position = std::ferror(stream.file) ? kUnknownFilePosition : start + got;
  stream.cache.resize(got);
  return !std::ferror(stream.file);
}

size_t read_file(InputStream& stream, uint8_t* destination, size_t count) {
  size_t done = 0;
  while (done < count) {
    const uint64_t at = stream.position + done;
    const bool cached = at >= stream.cache_start && at < stream.cache_start + stream.cache.size();
    if (!cached) {
      if (count - done >= kCacheSize) {
        // Large reads (symbol and string tables) go straight to the destination.
        if (at != stream.file_position &&
            !seek_file(stream.file, at)) {
          stream.file_position = kUnknownFilePosition;
          stream.error = true;
          break;
        }
        const size_t got = std::fread(destination + done, 1, count - done, stream.file);
        stream.file_position = std::ferror(stream.file) ? kUnknownFilePosition : at + got;
        done += got;
        if (std::ferror(stream.file)) stream.error = true;
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

InputStream file_input_stream(std::FILE* file, uint64_t size) {
  InputStream stream;
  stream.file = file;
  stream.size = size;
  stream.file_position = kUnknownFilePosition;  // the first read seeks
  return stream;
}

void close_input_stream(InputStream& stream) {
  if (stream.file != nullptr) std::fclose(stream.file);
  stream.file = nullptr;
  stream.memory = nullptr;
  stream.cache.clear();
  stream.cache.shrink_to_fit();
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
    } else if (stream.file != nullptr) {
      got = read_file(stream, out, wanted);
    }
  }
  stream.position += got;
  if (got < count) stream.end_of_file = true;
  return got;
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
