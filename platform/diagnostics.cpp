#include "platform/diagnostics.h"

#include <algorithm>
#include <initializer_list>
#include <new>
#include <string>

#include "platform/strprintf.h"

namespace drelk {
namespace {

// Writes "Drelk: ", the parts and a line feed; in one write when they fit a buffer on the
// stack, since standard error is unbuffered and a run may write a hundred thousand lines.
void write_line(TextStream& stream, std::initializer_list<std::string_view> parts) {
  constexpr std::string_view kPrefix = "Drelk: ";
  char line[1024];
  size_t length = kPrefix.size() + 1;
  for (const std::string_view part : parts) length += part.size();
  if (length > sizeof line) {
    write_text(stream, kPrefix);
    for (const std::string_view part : parts) write_text(stream, part);
    write_text(stream, "\n");
    return;
  }
  char* end = std::copy(kPrefix.begin(), kPrefix.end(), line);
  for (const std::string_view part : parts) end = std::copy(part.begin(), part.end(), end);
  *end++ = '\n';
  write_text(stream, std::string_view(line, length));
}

// Keeps a diagnostic in the capture, in order.
void capture_parts(Diagnostics& diagnostics, std::initializer_list<std::string_view> parts,
                   std::optional<uint64_t> offset, bool out_of_memory) {
  try {
    CapturedDiagnostic captured;
    for (const std::string_view part : parts) captured.text.append(part);
    captured.subject = diagnostics.subject;
    captured.offset = offset;
    captured.out_of_memory = out_of_memory;
    diagnostics.capture->push_back(std::move(captured));
  } catch (const std::bad_alloc&) {
    diagnostics.capture_failed = true;
  }
}

// Writes one diagnostic from its parts and counts it. Nothing here allocates unless the
// diagnostic is also kept as a record: a diagnostic must get out when memory has run out.
void report_parts(Diagnostics& diagnostics, std::initializer_list<std::string_view> parts,
                  std::optional<uint64_t> offset) {
  if (!is_listing(diagnostics)) {
    count_unlisted(diagnostics);
    return;
  }
  if (diagnostics.capture != nullptr) {
    ++diagnostics.error_count;
    capture_parts(diagnostics, parts, offset, false);
    return;
  }
  write_line(diagnostics.error_stream, parts);
  ++diagnostics.error_count;
  if (!diagnostics.keep_records) return;
  try {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    diagnostics.records.push_back(
        DiagnosticRecord{std::move(text), std::string(diagnostics.subject), offset});
  } catch (const std::bad_alloc&) {
    // The diagnostic was written; only its record is lost.
  }
}

void report(Diagnostics& diagnostics, std::string_view message, std::optional<uint64_t> offset) {
  report_parts(diagnostics, {message}, offset);
}

}  // namespace

void report_error(Diagnostics& diagnostics, std::string_view message) {
  report(diagnostics, message, std::nullopt);
}

void report_error_at(Diagnostics& diagnostics, std::string_view message, uint64_t offset) {
  report(diagnostics, message, offset);
}

void list_unlisted(Diagnostics& diagnostics) {
  diagnostics.listing_limit = UINT64_MAX;
  if (diagnostics.unlisted == 0) return;
  std::string line = strprintf("further diagnostics not listed: %llu more",
                               static_cast<unsigned long long>(diagnostics.unlisted));
  write_line(diagnostics.error_stream, {line});
  diagnostics.unlisted = 0;
  if (!diagnostics.keep_records) return;
  try {
    diagnostics.records.push_back(DiagnosticRecord{std::move(line), {}, std::nullopt});
  } catch (const std::bad_alloc&) {
    // The line was written; only its record is lost.
  }
}

void report_out_of_memory(Diagnostics& diagnostics, std::string_view object) {
  diagnostics.out_of_memory = true;
  diagnostics.stop_reading = true;
  if (diagnostics.capture != nullptr) {
    if (!is_listing(diagnostics)) {
      count_unlisted(diagnostics);
      return;
    }
    ++diagnostics.error_count;
    capture_parts(diagnostics, {object}, std::nullopt, true);
    return;
  }
  if (object.empty()) {
    report_parts(diagnostics, {"Error: Out of memory\n"}, std::nullopt);
  } else {
    report_parts(diagnostics, {"Error: Out of memory while analysing ", object, "\n"},
                 std::nullopt);
  }
}

void replay_diagnostic(Diagnostics& diagnostics, const CapturedDiagnostic& captured) {
  const std::string_view subject = diagnostics.subject;
  diagnostics.subject = captured.subject;
  if (captured.out_of_memory) {
    report_out_of_memory(diagnostics, captured.text);
  } else {
    report(diagnostics, captured.text, captured.offset);
  }
  diagnostics.subject = subject;
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
