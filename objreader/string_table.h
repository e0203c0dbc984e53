// Names as the formats store them: NUL-terminated in a string table, or NUL-padded in a
// fixed-size field that a name of the full size fills without a NUL.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace drelk {

// The name at `text`: up to its NUL, or all `room` bytes where none ends it.
inline std::string_view terminated_name(const uint8_t* text, size_t room) {
  const auto* chars = reinterpret_cast<const char*>(text);
  const void* nul = std::memchr(chars, 0, room);
  return std::string_view(chars,
                          nul ? static_cast<size_t>(static_cast<const char*>(nul) - chars) : room);
}

// A string table of NUL-terminated names, each found by its offset; the last may run to the
// table's end.
struct StringTable {
  explicit StringTable(const std::vector<uint8_t>& bytes)
      : data(bytes.data()), size(bytes.size()) {}
  bool holds(uint64_t offset) const { return offset < size; }
  // The name at `offset`, or nothing when the offset lies outside the table.
  std::string_view name_at(uint64_t offset) const {
    return holds(offset) ? terminated_name(data + offset, size - static_cast<size_t>(offset))
                         : std::string_view();
  }
  const uint8_t* data;
  size_t size;
};

}  // namespace drelk
