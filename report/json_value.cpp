// A recursive-descent JSON parser over a byte view, with a depth bound and positions for
// its errors.
#include "report/json_value.h"

#include "report/json_writer.h"

namespace drelk {

const JsonValue* JsonValue::find(std::string_view key) const {
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i] == key) return &values[i];
  }
  return nullptr;
}

std::optional<std::string_view> JsonValue::string_at(std::string_view key) const {
  const JsonValue* value = find(key);
  if (value == nullptr || !value->is(Kind::kString)) return std::nullopt;
  return value->text;
}

std::optional<uint64_t> JsonValue::unsigned_integer() const {
  if (kind != Kind::kNumber || text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

namespace {

class Parser {
 public:
  Parser(std::string_view text, JsonError& error, const KeepMember& keep)
      : text_(text), error_(error), keep_(keep) {}

  bool document(JsonValue& out) {
    skip_blanks();
    if (!value(out, 0)) return false;
    skip_blanks();
    if (at_ < text_.size()) return fail("text after the end of the document");
    return true;
  }

 private:
  bool fail(const char* message) {
    error_.message = message;
    error_.line = 1;
    error_.column = 1;
    for (size_t i = 0; i < at_ && i < text_.size(); ++i) {
      if (text_[i] == '\n') {
        ++error_.line;
        error_.column = 1;
      } else {
        ++error_.column;
      }
    }
    return false;
  }

  void skip_blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return fail("not a JSON value");
    at_ += word.size();
    return true;
  }

  bool value(JsonValue& out, int depth) {
    if (at_ == text_.size()) return fail("the document ends where a value was expected");
    switch (text_[at_]) {
      case '{':
        return object(out, depth);
      case '[':
        return array(out, depth);
      case '"':
        out.kind = JsonValue::Kind::kString;
        return string(out.text);
      case 't':
        out.kind = JsonValue::Kind::kBoolean;
        out.boolean = true;
        return literal("true");
      case 'f':
        out.kind = JsonValue::Kind::kBoolean;
        return literal("false");
      case 'n':
        out.kind = JsonValue::Kind::kNull;
        return literal("null");
      default:
        return number(out);
    }
  }

  bool digits() {
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool number(JsonValue& out) {
    const size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      at_ = start;
      return fail("not a JSON value");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return fail("a number without digits after its point");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return fail("a number without digits in its exponent");
    }
    out.kind = JsonValue::Kind::kNumber;
    out.text.assign(text_.substr(start, at_ - start));
    return true;
  }

  bool hex4(uint32_t& unit) {
    if (text_.size() - at_ < 4) return fail("an escape \\u without four hexadecimal digits");
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_ + static_cast<size_t>(i)];
      uint32_t digit = 0;
      if (c >= '0' && c <= '9') {
        digit = static_cast<uint32_t>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        digit = static_cast<uint32_t>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        digit = static_cast<uint32_t>(c - 'A' + 10);
      } else {
        return fail("an escape \\u without four hexadecimal digits");
      }
      unit = unit << 4 | digit;
    }
    at_ += 4;
    return true;
  }

  static void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | code >> 6);
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | code >> 12);
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | code >> 18);
      out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool unicode_escape(std::string& out) {
    uint32_t unit = 0;
    if (!hex4(unit)) return false;
    if (unit >= 0xDC00 && unit <= 0xDFFF) return fail("an escape of an unpaired surrogate");
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      uint32_t low = 0;
      if (text_.substr(at_, 2) != "\\u") return fail("an escape of an unpaired surrogate");
      at_ += 2;
      if (!hex4(low)) return false;
      if (low < 0xDC00 || low > 0xDFFF) return fail("an escape of an unpaired surrogate");
      unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    append_utf8(out, unit);
    return true;
  }

  bool escape(std::string& out) {
    if (at_ == text_.size()) return fail("a string that does not end");
    const char c = text_[at_++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        return true;
      case 'b':
        out += '\b';
        return true;
      case 'f':
        out += '\f';
        return true;
      case 'n':
        out += '\n';
        return true;
      case 'r':
        out += '\r';
        return true;
      case 't':
        out += '\t';
        return true;
      case 'u':
        return unicode_escape(out);
      default:
        --at_;
        return fail("an unknown escape in a string");
    }
  }

  bool string(std::string& out) {
    ++at_;  // the opening quote
    const size_t start = at_;
    out.clear();
    while (true) {
      if (at_ == text_.size()) return fail("a string that does not end");
      const char c = text_[at_];
      if (c == '"') break;
      if (static_cast<unsigned char>(c) < 0x20) return fail("a control character in a string");
      ++at_;
      if (c == '\\') {
        if (!escape(out)) return false;
      } else {
        out += c;
      }
    }
    if (!is_valid_utf8(out)) {
      at_ = start;
      return fail("a string that is not valid UTF-8");
    }
    ++at_;  // the closing quote
    return true;
  }

  bool array(JsonValue& out, int depth) {
    if (depth >= kMaxJsonDepth) return fail("nesting too deep");
    out.kind = JsonValue::Kind::kArray;
    ++at_;
    skip_blanks();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    while (true) {
      skip_blanks();
      // A value passed over is checked in a scratch value that is then dropped, so that
      // its cost ends with it.
      JsonValue scratch;
      JsonValue& item = skipping_ ? scratch : out.items.emplace_back();
      if (!value(item, depth + 1)) return false;
      skip_blanks();
      if (at_ == text_.size()) return fail("an array that does not end");
      const char c = text_[at_++];
      if (c == ']') return true;
      if (c != ',') {
        --at_;
        return fail("an array whose items are not separated by commas");
      }
    }
  }

  bool object(JsonValue& out, int depth) {
    if (depth >= kMaxJsonDepth) return fail("nesting too deep");
    out.kind = JsonValue::Kind::kObject;
    ++at_;
    skip_blanks();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    while (true) {
      skip_blanks();
      if (at_ == text_.size() || text_[at_] != '"') return fail("an object member without a name");
      std::string name;
      if (!string(name)) return false;
      skip_blanks();
      if (at_ == text_.size() || text_[at_] != ':') return fail("an object member without ':'");
      ++at_;
      skip_blanks();
      const bool was_skipping = skipping_;
      if (depth == 0 && keep_ && !keep_(name)) skipping_ = true;
      JsonValue scratch;
      if (!skipping_) out.names.push_back(std::move(name));
      JsonValue& member = skipping_ ? scratch : out.values.emplace_back();
      if (!value(member, depth + 1)) return false;
      skipping_ = was_skipping;
      skip_blanks();
      if (at_ == text_.size()) return fail("an object that does not end");
      const char c = text_[at_++];
      if (c == '}') return true;
      if (c != ',') {
        --at_;
        return fail("an object whose members are not separated by commas");
      }
    }
  }

  std::string_view text_;
  JsonError& error_;
  const KeepMember& keep_;
  size_t at_ = 0;
  bool skipping_ = false;  // checking a value that the caller does not keep
};

}  // namespace

bool parse_json(std::string_view text, JsonValue& out, JsonError& error, const KeepMember& keep) {
  out = JsonValue();
  return Parser(text, error, keep).document(out);
}

}  // namespace drelk
