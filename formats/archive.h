// Archive layouts: the "!<arch>\n" libraries of ar, lib.exe and llvm-lib, and GNU ar's thin
// archives ("!<thin>\n"), whose members name files instead of holding them. A member header
// is 60 bytes of text fields.
#pragma once

#include <cstddef>

namespace drelk::archive {

inline constexpr char kMagic[] = "!<arch>\n";
inline constexpr char kThinMagic[] = "!<thin>\n";
inline constexpr size_t kMagicSize = 8;
static_assert(sizeof kMagic - 1 == kMagicSize && sizeof kThinMagic - 1 == kMagicSize);

inline constexpr size_t kMemberHeaderSize = 60;
inline constexpr size_t kMemberName = 0;
inline constexpr size_t kMemberNameSize = 16;
inline constexpr size_t kMemberSize = 48;
inline constexpr size_t kMemberSizeSize = 10;
static_assert(kMemberSize + kMemberSizeSize + 2 == kMemberHeaderSize);

}  // namespace drelk::archive
