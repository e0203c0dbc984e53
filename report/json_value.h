// Reading JSON documents: drelk's own reports read back as baselines. A small document
// model and a strict parser (RFC 8259) that bounds what a hostile file can cost: nesting
// deeper than kMaxJsonDepth is an error, and the model takes a small constant times the
// bytes of the text.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace drelk {

constexpr int kMaxJsonDepth = 64;

struct JsonValue {
  enum class Kind { kNull, kBoolean, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's value (UTF-8), or a number as written
  std::vector<JsonValue> items;
  // An object's members in document order: their names, and their values at the same places
  // (a vector of pairs would need the value type complete here).
  std::vector<std::string> names;
  std::vector<JsonValue> values;

  bool is(Kind k) const { return kind == k; }
  // The member named `key` of an object (the first, where a name repeats), or null.
  const JsonValue* find(std::string_view key) const;
  // The member's string, or nullopt where it is missing or not a string.
  std::optional<std::string_view> string_at(std::string_view key) const;
  // A number that is a non-negative integer of at most 64 bits, or nullopt.
  std::optional<uint64_t> unsigned_integer() const;
};

struct JsonError {
  std::string message;  // what is wrong, without the position
  uint64_t line = 1;    // where, counted from 1
  uint64_t column = 1;  // in bytes, counted from 1
};

// Which members of the document's top-level object to keep; the others are checked and
// dropped, so that a reader of a few members does not pay for the rest.
using KeepMember = std::function<bool(std::string_view name)>;

// Parses the whole of `text` into `out`. Returns false and fills `error` where the text is
// not one well-formed JSON value (trailing text, a string that is not valid UTF-8 or
// escapes an unpaired surrogate, nesting deeper than kMaxJsonDepth). With `keep`, only the
// top-level members it names are kept.
bool parse_json(std::string_view text, JsonValue& out, JsonError& error,
                const KeepMember& keep = {});

}  // namespace drelk
