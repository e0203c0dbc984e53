#include "platform/diagnostics.h"

#include <string>

namespace drelk {

void report_error(Diagnostics& diagnostics, std::string_view message) {
  std::string line;
  line.reserve(message.size() + 8);
  line.append("Drelk: ").append(message).push_back('\n');
  write_text(diagnostics.error_stream, line);
  ++diagnostics.error_count;
}

}  // namespace drelk
