// Writing JSON documents (the JSON report and SARIF): strings escaped from the bytes that
// names and paths are in files, numbers, and a buffer that writes in large pieces.
//
// Names and paths are bytes, not text: a byte that is not part of valid UTF-8 is written
// as U+FFFD, so that every string is valid Unicode and the damage is visible; where a
// string needed that, string_field adds the exact bytes in a second field, "<key>_bytes",
// as lower-case hexadecimal pairs. Control characters are escaped (\n, \t, \r, \b, \f,
// else \u00XX, DEL included), and so are '"' and '\'.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/text_stream.h"

namespace drelk {

// True when `bytes` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above
// U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// Appends `bytes` as the contents of a JSON string (without the quotes). Returns false
// when some byte was not part of valid UTF-8 (and so was written as U+FFFD).
bool append_json_escaped(std::string& out, std::string_view bytes);

// The text of a diagnostic without the line feeds that end it in the error stream, as
// both documents carry it.
inline std::string_view without_line_ends(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

// Collects a document and writes it to the stream in large pieces: a code base's
// document runs to millions of lines.
class JsonWriter {
 public:
  explicit JsonWriter(TextStream& output);
  ~JsonWriter();
  JsonWriter(const JsonWriter&) = delete;
  JsonWriter& operator=(const JsonWriter&) = delete;

  // Text written as it is: punctuation, keys and values that are plain ASCII.
  JsonWriter& raw(std::string_view text) {
    text_.append(text);
    if (text_.size() >= kFlushSize) flush();
    return *this;
  }
  // A quoted, escaped string.
  JsonWriter& string(std::string_view bytes);
  JsonWriter& number(uint64_t value);
  JsonWriter& signed_number(int64_t value);
  JsonWriter& boolean(bool value) { return raw(value ? "true" : "false"); }

  // `"key": "bytes"`, and when the bytes are not valid UTF-8 also `, "key_bytes": "hex"`.
  JsonWriter& string_field(std::string_view key, std::string_view bytes);

  // The items of an array, one a line: item() before each item, with `first` true before
  // the first; close_items() after the last closes the array, the bracket indented by
  // `indent` on a line of its own when there were items.
  JsonWriter& item(bool& first) {
    raw(first ? "\n" : ",\n");
    first = false;
    return *this;
  }
  JsonWriter& close_items(bool first, std::string_view indent) {
    if (first) return raw("]");
    return raw("\n").raw(indent).raw("]");
  }

  void flush();

 private:
  static constexpr size_t kFlushSize = 64 * 1024;
  TextStream& output_;
  std::string text_;
};

}  // namespace drelk
