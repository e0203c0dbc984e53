#include "report/json_writer.h"

namespace drelk {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

bool is_continuation(uint8_t byte) {
  return (byte & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0 when the byte
// there starts none. The ranges of the second byte keep out overlong forms (E0, F0),
// surrogates (ED) and code points above U+10FFFF (F4).
size_t utf8_sequence_length(std::string_view bytes, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[at + i]); };
  const uint8_t lead = byte(0);
  size_t length = 0;
  uint8_t second_low = 0x80;
  uint8_t second_high = 0xBF;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() - at < length) return 0;
  if (byte(1) < second_low || byte(1) > second_high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!is_continuation(byte(i))) return 0;
  }
  return length;
}

bool needs_care(uint8_t byte) {
  return byte < 0x20 || byte == '"' || byte == '\\' || byte >= 0x7F;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = utf8_sequence_length(bytes, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

bool append_json_escaped(std::string& out, std::string_view bytes) {
  bool valid = true;
  size_t at = 0;
  while (at < bytes.size()) {
    // Plain characters go in runs.
    size_t run = at;
    while (run < bytes.size() && !needs_care(static_cast<uint8_t>(bytes[run]))) ++run;
    out.append(bytes.data() + at, run - at);
    at = run;
    if (at == bytes.size()) break;

    const auto byte = static_cast<uint8_t>(bytes[at]);
    if (byte >= 0x80) {
      const size_t length = utf8_sequence_length(bytes, at);
      if (length == 0) {
        out.append(kReplacementCharacter);
        valid = false;
        ++at;
      } else {
        out.append(bytes.data() + at, length);
        at += length;
      }
      continue;
    }
    ++at;
    switch (byte) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\t':
        out.append("\\t");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\b':
        out.append("\\b");
        break;
      case '\f':
        out.append("\\f");
        break;
      default:  // the other control characters and DEL
        out.append("\\u00");
        out.push_back(kHexDigits[byte >> 4]);
        out.push_back(kHexDigits[byte & 0xF]);
        break;
    }
  }
  return valid;
}

// No buffer is reserved up front: a run over one small input (the fuzz targets make
// thousands a second) should not pay for a large one.
JsonWriter::JsonWriter(TextStream& output) : output_(output) {}

JsonWriter::~JsonWriter() {
  flush();
}

JsonWriter& JsonWriter::string(std::string_view bytes) {
  text_.push_back('"');
  append_json_escaped(text_, bytes);
  text_.push_back('"');
  if (text_.size() >= kFlushSize) flush();
  return *this;
}

JsonWriter& JsonWriter::number(uint64_t value) {
  char digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) text_.push_back(digits[--n]);
  return *this;
}

JsonWriter& JsonWriter::signed_number(int64_t value) {
  if (value >= 0) return number(static_cast<uint64_t>(value));
  text_.push_back('-');
  return number(0 - static_cast<uint64_t>(value));
}

JsonWriter& JsonWriter::string_field(std::string_view key, std::string_view bytes) {
  raw("\"").raw(key).raw("\": \"");
  const bool valid = append_json_escaped(text_, bytes);
  raw("\"");
  if (valid) return *this;
  raw(", \"").raw(key).raw("_bytes\": \"");
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    text_.push_back(kHexDigits[byte >> 4]);
    text_.push_back(kHexDigits[byte & 0xF]);
  }
  return raw("\"");
}

void JsonWriter::flush() {
  write_text(output_, text_);
  text_.clear();
}

}  // namespace drelk
