// The primitives every reader uses to read its input: bounded reads of headers and tables
// with their diagnostics, the reads that identification peeks with, and the checks that one
// object may use up.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "objreader/messages.h"
#include "objreader/reader.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";

}  // namespace

size_t read_counted(ObjectReader& reader, InputStream& stream, size_t count, void* destination,
                    const char* label) {
  const size_t got = stream.error ? 0 : stream_read(stream, destination, count);
  if (stream.error || got < count) {
    report_short_read(reader.diagnostics, stream.error, got, count, label);
  }
  return got;
}

size_t read_checked(ObjectReader& reader, InputStream& stream, size_t count, void* destination,
                    const char* label) {
  const size_t got = read_counted(reader, stream, count, destination, label);
  return got == count && !stream.error ? count : 0;
}

Outcome read_table(ObjectReader& reader, InputStream& stream, uint64_t count,
                   std::vector<uint8_t>& buffer, const char* label) {
  buffer.clear();
  if (stream.error) {
    report_short_read(reader.diagnostics, true, 0, count, label);
    return Outcome::kFailed;
  }
  // A table that the rest of the file cannot hold is the short read it would be, found
  // without allocating or reading it: a damaged header may claim gigabytes.
  const uint64_t available = stream_remaining(stream);
  if (count > available) {
    stream_seek(stream, static_cast<int64_t>(stream.position + available));
    stream.end_of_file = true;
    report_short_read(reader.diagnostics, false, available, count, label);
    return Outcome::kFailed;
  }
  if (count > buffer.max_size()) return Outcome::kNoMemory;
  try {
    buffer.resize(static_cast<size_t>(count));
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
  const size_t got = stream_read(stream, buffer.data(), buffer.size());
  if (stream.error || got < count) {
    report_short_read(reader.diagnostics, stream.error, got, count, label);
    return Outcome::kFailed;
  }
  return Outcome::kOk;
}

bool read_file_header(ObjectReader& reader, InputStream& stream, uint64_t base, size_t count,
                      uint8_t* destination) {
  if (!stream_seek(stream, static_cast<int64_t>(base))) {
    report_short_read(reader.diagnostics, stream.error, 0, count, kLabel);
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return false;
  }
  if (read_checked(reader, stream, count, destination, kLabel) == 0) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return false;
  }
  return true;
}

void begin_object(ObjectReader& reader, std::string_view path) {
  reader.declarations.items.clear();
  reader.declarations.layouts.clear();
  reader.declarations.members.clear();
  reader.declarations.refused = false;
  reader.declarations.library = false;
  reader.declarations.program = false;
  reader.declarations.versions.clear();
  reader.object_path = path;
  reader.overlaps_listed = 0;
  reader.overlaps_capped = false;
}

Outcome read_table_at(ObjectReader& reader, InputStream& stream, uint64_t base, uint64_t offset,
                      uint64_t size, std::vector<uint8_t>& buffer) {
  const uint64_t position = saturating_add(base, offset);
  if (position > uint64_t{INT64_MAX} || !stream_seek(stream, static_cast<int64_t>(position))) {
    buffer.clear();
    report_short_read(reader.diagnostics, stream.error, 0, size, kLabel);
    return Outcome::kFailed;
  }
  return read_table(reader, stream, size, buffer, kLabel);
}

bool table_was_read(ObjectReader& reader, Outcome result) {
  if (result == Outcome::kNoMemory) report_out_of_memory(reader.diagnostics, reader.object_path);
  return result == Outcome::kOk;
}

bool symbol_table_was_read(ObjectReader& reader, Outcome result, uint64_t bytes) {
  switch (result) {
    case Outcome::kOk:
      return true;
    case Outcome::kNoMemory:
      report_error(reader.diagnostics, strprintf(message::kSymbolTableNoMemory,
                                                 static_cast<unsigned long long>(bytes)));
      return false;
    case Outcome::kFailed:
      report_error(reader.diagnostics, message::kSymbolTableUnreadable);
      return false;
  }
  return false;
}

void check_string_table_read(ObjectReader& reader, Outcome result, std::vector<uint8_t>& table) {
  switch (result) {
    case Outcome::kOk:
      return;
    case Outcome::kNoMemory:
      report_error(reader.diagnostics, message::kStringTableNoMemory);
      break;
    case Outcome::kFailed:
      report_error(reader.diagnostics, message::kStringTableUnreadable);
      break;
  }
  table.clear();
  table.shrink_to_fit();
}

bool name_in_string_table(ObjectReader& reader, const std::vector<uint8_t>& strings,
                          uint32_t offset, uint64_t record_offset, std::string_view& name) {
  const StringTable table(strings);
  if (!table.holds(offset)) {
    report_error_at(reader.diagnostics, strprintf(message::kNameOutsideStringTable, offset),
                    record_offset);
    return false;
  }
  name = table.name_at(offset);
  return true;
}

void report_unsupported_header(ObjectReader& reader, const char* format, std::string_view path) {
  report_error(reader.diagnostics,
               strprintf(message::kUnsupportedHeader, format, std::string(path).c_str()));
}

bool may_list_overlap(ObjectReader& reader) {
  if (reader.overlaps_capped) return false;
  if (reader.overlaps_listed == kMaxOverlapsListed) {
    reader.overlaps_capped = true;
    report_error(reader.diagnostics, strprintf(message::kFurtherOverlapsNotListed,
                                               std::string(reader.object_path).c_str()));
    return false;
  }
  ++reader.overlaps_listed;
  return true;
}

void report_overlap(ObjectReader& reader, const char* format, unsigned i, unsigned j) {
  if (!is_listing(reader.diagnostics)) {
    count_unlisted(reader.diagnostics);
    return;
  }
  report_error(reader.diagnostics, strprintf(format, i, j));
}

size_t peek_bytes(InputStream& stream, uint64_t offset, void* destination, size_t count) {
  if (stream.error) return 0;
  const uint64_t start = stream.position;
  const bool end_of_file = stream.end_of_file;
  size_t got = 0;
  if (stream_seek(stream, static_cast<int64_t>(offset)))
    got = stream_read(stream, destination, count);
  stream_seek(stream, static_cast<int64_t>(start));
  stream.end_of_file = end_of_file;
  return got;
}

}  // namespace drelk
