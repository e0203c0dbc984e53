// Byte loaders and saturating arithmetic for every format: fields are decoded from bytes with
// explicit loads in the file's byte order, never by casting a buffer, and sizes and offsets
// from a damaged header are added and multiplied without wrapping.
#pragma once

#include <cstdint>

namespace drelk {

// Little-endian loads, the only byte order of COFF and of archive headers' binary fields.
inline uint16_t load_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_u32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline int16_t load_i16(const uint8_t* p) {
  return static_cast<int16_t>(load_u16(p));
}

// Loads in the byte order a file declares (ELF, Mach-O, DWARF).
inline uint16_t load_u16(const uint8_t* p, bool big_endian) {
  return big_endian ? static_cast<uint16_t>((p[0] << 8) | p[1])
                    : static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t load_u32(const uint8_t* p, bool big_endian) {
  if (big_endian) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
  }
  return load_u32(p);
}
inline uint64_t load_u64(const uint8_t* p, bool big_endian) {
  const uint64_t first = load_u32(p, big_endian);
  const uint64_t second = load_u32(p + 4, big_endian);
  return big_endian ? (first << 32) | second : (second << 32) | first;
}

inline uint32_t swap_bytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

// a + b, or the largest value where the sum does not fit: offsets of a damaged header
// added up never wrap to a place inside the file.
inline uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// a * b, or the largest value where the product does not fit.
inline uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

}  // namespace drelk
