#include "tests/support/xcoff_builder.h"

#include <cstdio>
#include <cstring>

namespace drelk::test {
namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& out, size_t at, uint64_t value, size_t size) {
  if (out.size() < at + size) out.resize(at + size);
  for (size_t i = 0; i < size; ++i)
    out[at + i] = static_cast<uint8_t>(value >> (8 * (size - 1 - i)));
}

void put_text(Bytes& out, size_t at, const std::string& text, size_t width) {
  if (out.size() < at + width) out.resize(at + width);
  std::memcpy(out.data() + at, text.data(), std::min(text.size(), width));
}

// A decimal field of a big archive header, blank-padded.
void put_decimal(Bytes& out, size_t at, uint64_t value, size_t width) {
  std::string text = std::to_string(value);
  text.resize(width, ' ');
  put_text(out, at, text, width);
}

size_t align4(size_t n) {
  return (n + 3) & ~size_t{3};
}

}  // namespace

XcoffObject& XcoffObject::is64(bool value) {
  is64_ = value;
  return *this;
}

XcoffObject& XcoffObject::section(const std::string& name, uint64_t size, uint32_t flags,
                                  uint32_t relocations) {
  Section s;
  s.name = name;
  s.size = size;
  s.flags = flags;
  s.relocations = relocations;
  sections_.push_back(s);
  return *this;
}

XcoffObject& XcoffObject::common(const std::string& name, uint64_t size) {
  XcoffSymbolSpec s;
  s.name = name;
  s.length = size;
  return symbol(s);
}

XcoffObject& XcoffObject::descriptor(const std::string& name, int16_t section) {
  XcoffSymbolSpec s;
  s.name = name;
  s.section = section;
  s.symbol_type = xcoffv::XTY_SD;
  s.mapping_class = xcoffv::XMC_DS;
  s.length = is64_ ? 24 : 12;
  return symbol(s);
}

XcoffObject& XcoffObject::data(const std::string& name, uint64_t length, int16_t section) {
  XcoffSymbolSpec s;
  s.name = name;
  s.section = section;
  s.symbol_type = xcoffv::XTY_SD;
  s.length = length;
  return symbol(s);
}

XcoffObject& XcoffObject::symbol(const XcoffSymbolSpec& symbol) {
  symbols_.push_back(symbol);
  return *this;
}

XcoffObject& XcoffObject::flags(uint16_t value) {
  flags_ = value;
  return *this;
}
XcoffObject& XcoffObject::section_count(uint16_t value) {
  section_count_ = value;
  return *this;
}
XcoffObject& XcoffObject::symbol_offset(uint64_t value) {
  symbol_offset_ = value;
  return *this;
}
XcoffObject& XcoffObject::symbol_count(uint32_t value) {
  symbol_count_ = value;
  return *this;
}
XcoffObject& XcoffObject::string_table_size(uint32_t value) {
  string_table_size_ = value;
  return *this;
}
XcoffObject& XcoffObject::name_offset(size_t index, uint32_t value) {
  name_offsets_[index] = value;
  return *this;
}
XcoffObject& XcoffObject::section_data(size_t number, uint64_t offset) {
  sections_.at(number - 1).data_offset = offset;
  return *this;
}
XcoffObject& XcoffObject::section_relocations(size_t number, uint64_t offset, uint32_t count) {
  sections_.at(number - 1).relocation_offset = offset;
  sections_.at(number - 1).relocations = count;
  return *this;
}
XcoffObject& XcoffObject::section_line_numbers(size_t number, uint64_t offset, uint32_t count) {
  sections_.at(number - 1).line_number_offset = offset;
  sections_.at(number - 1).line_numbers = count;
  return *this;
}
XcoffObject& XcoffObject::overflowing_relocations(size_t number, uint32_t count) {
  sections_.at(number - 1).relocations = count;
  Section overflow;
  overflow.name = ".ovrflo";
  overflow.flags = xcoffv::STYP_OVRFLO;
  overflow.overflow_of = number;
  sections_.push_back(overflow);
  return *this;
}

XcoffObject& XcoffObject::without_string_table() {
  string_table_ = false;
  return *this;
}

std::vector<uint8_t> XcoffObject::bytes() const {
  const size_t header_size = is64_ ? 24 : 20;
  const size_t section_size = is64_ ? 72 : 40;
  const size_t relocation_size = is64_ ? 14 : 10;
  const size_t field = is64_ ? 8 : 4;
  const size_t count_size = is64_ ? 4 : 2;
  Bytes out(header_size + section_size * sections_.size(), 0);

  // Section data and relocations after the headers.
  std::vector<uint64_t> data_at(sections_.size()), relocations_at(sections_.size());
  size_t at = out.size();
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    if (s.flags & (xcoffv::STYP_BSS | xcoffv::STYP_OVRFLO)) continue;
    data_at[i] = at;
    at = align4(at + s.size);
  }
  for (size_t i = 0; i < sections_.size(); ++i) {
    if (sections_[i].relocations == 0 || sections_[i].relocation_offset) continue;
    relocations_at[i] = at;
    at += sections_[i].relocations * relocation_size;
  }
  out.resize(at, 0);
  const size_t symbols_at = out.size();

  // The string table: its length, then the names that do not fit an entry.
  Bytes strings(4, 0);
  std::vector<uint32_t> name_at(symbols_.size(), 0);
  for (size_t i = 0; i < symbols_.size(); ++i) {
    const std::string& name = symbols_[i].name;
    if (name.empty() || (!is64_ && name.size() <= 8)) continue;
    name_at[i] = static_cast<uint32_t>(strings.size());
    strings.insert(strings.end(), name.begin(), name.end());
    strings.push_back(0);
  }
  put(strings, 0, string_table_size_.value_or(static_cast<uint32_t>(strings.size())), 4);

  uint32_t entries = 0;
  for (size_t i = 0; i < symbols_.size(); ++i) {
    const XcoffSymbolSpec& s = symbols_[i];
    const size_t record = symbols_at + entries * 18;
    out.resize(record + 18 * (1 + s.aux_count), 0);
    const uint32_t offset = name_offsets_.count(i) ? name_offsets_.at(i) : name_at[i];
    if (is64_) {
      put(out, record, s.value, 8);
      put(out, record + 8, offset, 4);
    } else {
      put(out, record + 8, s.value, 4);
      if (name_at[i] == 0 && !name_offsets_.count(i)) {
        put_text(out, record, s.name, 8);
      } else {
        put(out, record + 4, offset, 4);
      }
    }
    put(out, record + 12, static_cast<uint16_t>(s.section), 2);
    out[record + 16] = s.storage_class;
    out[record + 17] = s.aux_count;
    if (s.aux_count > 0) {
      const size_t aux = record + 18 * s.aux_count;
      put(out, aux, s.length & 0xFFFFFFFF, 4);
      out[aux + 10] = static_cast<uint8_t>(s.symbol_type | (s.alignment_log2 << 3));
      out[aux + 11] = s.mapping_class;
      if (is64_) {
        put(out, aux + 12, s.length >> 32, 4);
        out[aux + 17] = 251;  // AUX_CSECT
      }
    }
    entries += 1 + s.aux_count;
  }
  if (string_table_) out.insert(out.end(), strings.begin(), strings.end());

  put(out, 0, is64_ ? 0x01F7 : 0x01DF, 2);
  put(out, 2, section_count_.value_or(static_cast<uint16_t>(sections_.size())), 2);
  put(out, 8, symbol_offset_.value_or(entries ? symbols_at : 0), field);
  put(out, is64_ ? 20 : 12, symbol_count_.value_or(entries), 4);
  put(out, 18, flags_.value_or(0), 2);
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    const size_t h = header_size + i * section_size;
    put_text(out, h, s.name, 8);
    put(out, h + (is64_ ? 24 : 16), s.size, field);
    put(out, h + (is64_ ? 32 : 20), s.data_offset.value_or(data_at[i]), field);
    put(out, h + (is64_ ? 40 : 24), s.relocation_offset.value_or(relocations_at[i]), field);
    put(out, h + (is64_ ? 48 : 28), s.line_number_offset.value_or(0), field);
    if (s.overflow_of) {
      // s_nreloc and s_nlnno name the owner; s_paddr holds its relocation count, and the
      // pointers are the owner's.
      const Section& owner = sections_.at(*s.overflow_of - 1);
      put(out, h + 8, owner.relocations, 4);
      put(out, h + 24, owner.relocation_offset.value_or(relocations_at[*s.overflow_of - 1]), 4);
      put(out, h + 32, *s.overflow_of, 2);
      put(out, h + 34, *s.overflow_of, 2);
      put(out, h + 36, s.flags, 4);
      continue;
    }
    const bool overflows = !is64_ && s.relocations >= 0xFFFF;
    put(out, h + (is64_ ? 56 : 32), overflows ? 0xFFFF : s.relocations, count_size);
    put(out, h + (is64_ ? 60 : 34), s.line_numbers, count_size);
    put(out, h + (is64_ ? 64 : 36), s.flags, 4);
  }
  return out;
}

BigArchive& BigArchive::member(const std::string& name, const std::vector<uint8_t>& data) {
  members_.push_back(Member{name, data});
  return *this;
}
BigArchive& BigArchive::first_member(uint64_t offset) {
  first_member_ = offset;
  return *this;
}
BigArchive& BigArchive::next_member(size_t index, uint64_t offset) {
  next_members_[index] = offset;
  return *this;
}

uint64_t BigArchive::member_offset(size_t index) const {
  uint64_t at = 128;
  for (size_t i = 0; i < index; ++i) {
    const Member& m = members_[i];
    at += 112 + m.name.size() + (m.name.size() & 1) + 2 + m.data.size() + (m.data.size() & 1);
  }
  return at;
}

std::vector<uint8_t> BigArchive::bytes() const {
  Bytes out(128, ' ');
  put_text(out, 0, "<bigaf>\n", 8);
  put_decimal(out, 8, 0, 20);   // no member table
  put_decimal(out, 28, 0, 20);  // no symbol tables
  put_decimal(out, 48, 0, 20);
  put_decimal(out, 68, first_member_.value_or(members_.empty() ? 0 : 128), 20);
  put_decimal(out, 88, members_.empty() ? 0 : member_offset(members_.size() - 1), 20);
  put_decimal(out, 108, 0, 20);
  for (size_t i = 0; i < members_.size(); ++i) {
    const Member& m = members_[i];
    const size_t h = out.size();
    out.resize(h + 112, ' ');
    put_decimal(out, h, m.data.size(), 20);
    const uint64_t next = i + 1 < members_.size() ? member_offset(i + 1) : 0;
    put_decimal(out, h + 20, next_members_.count(i) ? next_members_.at(i) : next, 20);
    put_decimal(out, h + 40, i == 0 ? 0 : member_offset(i - 1), 20);
    put_decimal(out, h + 60, 0, 12);
    put_decimal(out, h + 72, 0, 12);
    put_decimal(out, h + 84, 0, 12);
    put_decimal(out, h + 96, 644, 12);
    put_decimal(out, h + 108, m.name.size(), 4);
    out.insert(out.end(), m.name.begin(), m.name.end());
    if (m.name.size() & 1) out.push_back(0);
    out.push_back('`');
    out.push_back('\n');
    out.insert(out.end(), m.data.begin(), m.data.end());
    if (m.data.size() & 1) out.push_back(0);
  }
  return out;
}

}  // namespace drelk::test
