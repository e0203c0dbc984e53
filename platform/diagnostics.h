// The diagnostic channel: every format problem and operating failure is one message,
// written behind the "Drelk: " prefix to the error stream and counted. Where a run writes
// a document for programs, each diagnostic is also kept as a record: its text, the object
// it is about and the file offset it concerns, where there are such.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_stream.h"

namespace drelk {

struct DiagnosticRecord {
  std::string text;                // the message as written, without prefix
  std::string object;              // the object being read, as the report shows it; or empty
  std::optional<uint64_t> offset;  // the file offset concerned, where one is known
};

// No run lists more diagnostics than this: a hostile input can claim billions of them, which
// would be gigabytes of text. Every diagnostic is still counted.
inline constexpr uint64_t kMaxDiagnosticsListed = 100000;

// A diagnostic kept in order instead of being written: what a file read ahead of its turn
// reports, until the run reaches it (see Diagnostics::capture).
struct CapturedDiagnostic {
  std::string text;                // the message; for kOutOfMemory the object named, if any
  std::string subject;             // the subject when it was reported
  std::optional<uint64_t> offset;  // as for DiagnosticRecord
  bool out_of_memory = false;      // reported by report_out_of_memory
};

struct Diagnostics {
  TextStream error_stream;  // standard error until an -e file is open
  // Every diagnostic reported, listed or not: 64 bits, so that no input can wrap it.
  uint64_t error_count = 0;
  // Those neither written nor kept, beyond kMaxDiagnosticsListed (see list_unlisted).
  uint64_t unlisted = 0;
  uint64_t listing_limit = kMaxDiagnosticsListed;
  // The object whose reading the next diagnostics are about (empty between objects); set
  // by whoever hands an object to a reader.
  std::string_view subject;
  bool keep_records = false;
  std::vector<DiagnosticRecord> records;
  bool out_of_memory = false;  // memory ran out once
  // The run reads no further input: memory ran out, or an input is one of the run's own
  // output files.
  bool stop_reading = false;
  // Where set, every listed diagnostic is appended here, in order, and neither written nor
  // kept as a record: replay_diagnostic reports it in its turn. Counting is as usual.
  std::vector<CapturedDiagnostic>* capture = nullptr;
  // Set when a diagnostic could not be captured for want of memory.
  bool capture_failed = false;
};

// True while a further diagnostic would still be written: a reader that finds thousands of
// problems of one kind may count them (count_unlisted) without composing their text.
inline bool is_listing(const Diagnostics& diagnostics) {
  return diagnostics.error_count < diagnostics.listing_limit;
}

// Counts one diagnostic that is not listed.
inline void count_unlisted(Diagnostics& diagnostics) {
  ++diagnostics.error_count;
  ++diagnostics.unlisted;
}

// Writes, when diagnostics went unlisted, the line that counts them ("further diagnostics
// not listed: N more"), and lists every later diagnostic: the end of the run says whatever
// became of its streams.
void list_unlisted(Diagnostics& diagnostics);

// Writes "Drelk: <message>\n" to the error stream and counts it. The message is
// finished text with its own trailing line feeds, if any.
void report_error(Diagnostics& diagnostics, std::string_view message);

// The same, for a message about the byte at `offset` of the file being read.
void report_error_at(Diagnostics& diagnostics, std::string_view message, uint64_t offset);

// Reports that memory ran out: "Error: Out of memory while analysing <object>\n", or
// "Error: Out of memory\n" when no object is being read. Writes without allocating.
void report_out_of_memory(Diagnostics& diagnostics, std::string_view object);

// Reports a captured diagnostic, with its subject, as it was reported where it was captured.
void replay_diagnostic(Diagnostics& diagnostics, const CapturedDiagnostic& captured);

// Reports a read that returned fewer bytes than asked for, or failed: the one wording
// every reader uses ("fread failed in <label>" or "fread returned N bytes (M expected)").
// `failed` is the stream's error indicator.
void report_short_read(Diagnostics& diagnostics, bool failed, uint64_t got, uint64_t expected,
                       const char* label);

}  // namespace drelk
