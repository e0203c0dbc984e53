// The diagnostic channel: every format problem and operating failure is one message,
// written behind the "Drelk: " prefix to the error stream and counted.
#pragma once

#include <string_view>

#include "platform/text_stream.h"

namespace drelk {

struct Diagnostics {
  TextStream error_stream;  // standard error until an -e file is open
  int error_count = 0;
};

// Writes "Drelk: <message>\n" to the error stream and counts it. The message is
// finished text with its own trailing line feeds, if any.
void report_error(Diagnostics& diagnostics, std::string_view message);

}  // namespace drelk
