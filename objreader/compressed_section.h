// Debug sections stored compressed (gcc -gz, objcopy --compress-debug-sections): ELF's
// SHF_COMPRESSED sections, whose data begins with an Elf32_Chdr or Elf64_Chdr naming zlib
// or zstd, and the older GNU form, a ".zdebug_" section of "ZLIB", the size as 8 bytes
// big-endian and a zlib stream, which GNU as writes for ELF and for mingw-w64's COFF. zlib
// and zstd are optional at build time; a section that this build cannot expand is said so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace drelk {

// No expanded section may be larger than this: the size comes from the file.
inline constexpr uint64_t kMaxExpandedSectionSize = uint64_t{1} << 30;

// Expands the data of an SHF_COMPRESSED section into `expanded`. Returns nullptr, or why
// the section cannot be read.
const char* expand_elf_compressed(const std::vector<uint8_t>& stored, bool is64, bool big_endian,
                                  std::vector<uint8_t>& expanded);

// The name of the debug section that a GNU ".zdebug_" section holds compressed
// (".zdebug_info" holds ".debug_info"), or empty for any other name.
std::string gnu_compressed_section_name(std::string_view name);

// Expands the data of a ".zdebug_" section into `expanded`. Returns nullptr, or why the
// section cannot be read.
const char* expand_gnu_compressed(const std::vector<uint8_t>& stored,
                                  std::vector<uint8_t>& expanded);

}  // namespace drelk
