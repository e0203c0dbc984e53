#include "platform/diagnostics.h"

#include <string>

#include "platform/strprintf.h"

namespace drelk {
namespace {

void report(Diagnostics& diagnostics, std::string_view message, std::optional<uint64_t> offset) {
  std::string line;
  line.reserve(message.size() + 8);
  line.append("Drelk: ").append(message).push_back('\n');
  write_text(diagnostics.error_stream, line);
  ++diagnostics.error_count;
  if (diagnostics.keep_records) {
    diagnostics.records.push_back(
        DiagnosticRecord{std::string(message), std::string(diagnostics.subject), offset});
  }
}

}  // namespace

void report_error(Diagnostics& diagnostics, std::string_view message) {
  report(diagnostics, message, std::nullopt);
}

void report_error_at(Diagnostics& diagnostics, std::string_view message, uint64_t offset) {
  report(diagnostics, message, offset);
}

void report_short_read(Diagnostics& diagnostics, bool failed, uint64_t got, uint64_t expected,
                       const char* label) {
  if (failed) {
    report_error(diagnostics, strprintf("DRELK Internal: fread failed in %s", label));
  } else {
    report_error(diagnostics,
                 strprintf("DRELK Internal: fread returned %llu bytes (%llu expected). [%s]",
                           static_cast<unsigned long long>(got),
                           static_cast<unsigned long long>(expected), label));
  }
}

}  // namespace drelk
