// A bounded reader over a table's bytes (a debug section, an LTO symbol table): a read past
// the end yields zeros and sets `failed`, which stays set and which the caller checks once
// per record (as Go's debug/dwarf buf does).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "formats/bytes.h"

namespace drelk {

struct Cursor {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;
  bool big_endian = false;
  bool failed = false;

  bool has(size_t n) const { return !failed && at <= size && n <= size - at; }
  uint64_t fixed(size_t n) {
    if (!has(n)) {
      failed = true;
      return 0;
    }
    const uint8_t* p = data + at;
    at += n;
    // The sizes that forms and headers use, each loaded in one step.
    switch (n) {
      case 1:
        return p[0];
      case 2:
        return load_u16(p, big_endian);
      case 4:
        return load_u32(p, big_endian);
      case 8:
        return load_u64(p, big_endian);
      default:
        break;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t byte = p[i];
      value |= big_endian ? byte << (8 * (n - 1 - i)) : byte << (8 * i);
    }
    return value;
  }
  uint8_t u8() { return static_cast<uint8_t>(fixed(1)); }
  uint64_t uleb() {
    // Codes, attributes, forms and most numbers take one byte.
    if (at < size && !failed && (data[at] & 0x80) == 0) return data[at++];
    uint64_t value = 0;
    for (unsigned shift = 0;; shift += 7) {
      if (!has(1)) {
        failed = true;
        return 0;
      }
      const uint8_t byte = data[at++];
      if (shift < 64) value |= uint64_t{byte & 0x7fu} << shift;
      if ((byte & 0x80) == 0) return value;
    }
  }
  int64_t sleb() {
    uint64_t value = 0;
    unsigned shift = 0;
    uint8_t byte = 0;
    do {
      if (!has(1)) {
        failed = true;
        return 0;
      }
      byte = data[at++];
      if (shift < 64) value |= uint64_t{byte & 0x7fu} << shift;
      shift += 7;
    } while (byte & 0x80);
    if (shift < 64 && (byte & 0x40)) value |= ~uint64_t{0} << shift;
    return static_cast<int64_t>(value);
  }
  void skip(uint64_t n) {
    if (!has(n)) {
      failed = true;
      return;
    }
    at += n;
  }
  // A NUL-terminated string at the cursor; fails when the section ends first.
  std::string_view string() {
    if (failed || at >= size) {
      failed = true;
      return {};
    }
    const auto* text = reinterpret_cast<const char*>(data + at);
    const auto* end = static_cast<const char*>(std::memchr(text, 0, size - at));
    if (end == nullptr) {
      failed = true;
      return {};
    }
    at += static_cast<size_t>(end - text) + 1;
    return std::string_view(text, static_cast<size_t>(end - text));
  }
};

inline Cursor make_cursor(std::span<const uint8_t> bytes, bool big_endian) {
  return Cursor{bytes.data(), bytes.size(), 0, big_endian, false};
}

}  // namespace drelk
