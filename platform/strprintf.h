// Formatting helpers that measure before they write: a message is composed whole,
// however long the path or name it carries, and never cut by a fixed buffer.
#pragma once

#include <cstdint>
#include <string>

namespace drelk {

#if defined(__MINGW32__)
// libstdc++ on mingw-w64 selects mingw-w64's C99 printf family (__USE_MINGW_ANSI_STDIO),
// which takes %zu and %llu; plain "printf" would check against msvcrt's.
#define DRELK_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__)
#define DRELK_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define DRELK_PRINTF(fmt, args)
#endif

// Returns the text printf would write for `format` and its arguments.
std::string strprintf(const char* format, ...) DRELK_PRINTF(1, 2);

// A 64-bit count or size as %llu takes it.
inline unsigned long long llu(uint64_t value) {
  return static_cast<unsigned long long>(value);
}

}  // namespace drelk
