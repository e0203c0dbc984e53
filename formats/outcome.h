// The outcome of an operation that reads what a file holds, the same few values everywhere:
// done; failed (after its diagnostic, or with the damage it returns); or not done for want
// of memory, which the caller reports in its own words.
#pragma once

#include <cstdint>

namespace drelk {

enum class Outcome : uint8_t { kOk, kFailed, kNoMemory };

}  // namespace drelk
