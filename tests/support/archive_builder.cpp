#include "tests/support/archive_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace drelk::test {

namespace {

// Member header fields: offset and width. Text fields are ASCII, blank-padded on the right.
constexpr size_t kNameAt = 0, kNameWidth = 16;
constexpr size_t kDateAt = 16, kDateWidth = 12;
constexpr size_t kUserIdAt = 28, kUserIdWidth = 6;
constexpr size_t kGroupIdAt = 34, kGroupIdWidth = 6;
constexpr size_t kModeAt = 40, kModeWidth = 8;
constexpr size_t kSizeAt = 48, kSizeWidth = 10;
constexpr size_t kEndAt = 58;
static_assert(kEndAt + 2 == kMemberHeaderSize);

constexpr char kLinkerMemberName[] = "/";
constexpr char kLongNamesMemberName[] = "//";

void append_u16_le(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void append_u32_le(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// The first linker member's counts and offsets are big-endian.
void append_u32_be(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void append_c_string(std::vector<uint8_t>& out, const std::string& s) {
  out.insert(out.end(), s.begin(), s.end());
  out.push_back(0);
}

uint32_t to_u32(size_t value) {
  if (value > UINT32_MAX) throw std::length_error("archive larger than 4 GiB");
  return static_cast<uint32_t>(value);
}

std::string blank_padded(const std::string& text, size_t width) {
  if (text.size() > width)
    throw std::length_error("archive header field of " + std::to_string(width) +
                            " bytes cannot hold \"" + text + "\"");
  return text + std::string(width - text.size(), ' ');
}

void append_header(std::vector<uint8_t>& out, const std::string& name_field, size_t size) {
  std::string header(kMemberHeaderSize, ' ');
  header.replace(kNameAt, kNameWidth, name_field);
  header.replace(kDateAt, kDateWidth, blank_padded("0", kDateWidth));
  header.replace(kUserIdAt, kUserIdWidth, blank_padded("0", kUserIdWidth));
  header.replace(kGroupIdAt, kGroupIdWidth, blank_padded("0", kGroupIdWidth));
  header.replace(kModeAt, kModeWidth, blank_padded("644", kModeWidth));
  header.replace(kSizeAt, kSizeWidth, blank_padded(std::to_string(size), kSizeWidth));
  header.replace(kEndAt, 2, "`\n");
  out.insert(out.end(), header.begin(), header.end());
}

size_t padded(size_t size) {
  return size + (size & 1);
}

}  // namespace

struct Archive::Plan {
  struct Part {
    std::string name_field;  // 16 bytes
    std::vector<uint8_t> data;
    bool header_only = false;  // a thin archive's member: the size field, but no data
  };
  std::vector<Part> parts;
  ArchiveLayout layout;
};

Archive& Archive::style(ArchiveStyle value) {
  style_ = value;
  return *this;
}

Archive& Archive::member(std::string name, std::vector<uint8_t> data) {
  members_.push_back({std::move(name), std::move(data)});
  return *this;
}

Archive& Archive::symbol(std::string name, size_t member_index) {
  symbols_.push_back({std::move(name), member_index});
  return *this;
}

Archive& Archive::first_linker_symbol_count(uint32_t value) {
  first_linker_symbol_count_ = value;
  return *this;
}

Archive& Archive::first_linker_offsets(std::vector<uint32_t> offsets) {
  first_linker_offsets_ = std::move(offsets);
  return *this;
}

Archive& Archive::member_count(uint32_t value) {
  member_count_ = value;
  return *this;
}

Archive& Archive::member_offsets(std::vector<uint32_t> offsets) {
  member_offsets_ = std::move(offsets);
  return *this;
}

Archive& Archive::second_linker_symbol_count(uint32_t value) {
  second_linker_symbol_count_ = value;
  return *this;
}

Archive& Archive::raw_member_name(size_t index, std::string exact16) {
  raw_member_names_[index] = blank_padded(exact16, kNameWidth);
  return *this;
}

Archive::Plan Archive::plan() const {
  for (const LinkerSymbol& s : symbols_)
    if (s.member_index >= members_.size())
      throw std::out_of_range("symbol " + s.name + " names member " +
                              std::to_string(s.member_index) + " of " +
                              std::to_string(members_.size()));
  if (!raw_member_names_.empty() && raw_member_names_.rbegin()->first >= members_.size())
    throw std::out_of_range("raw_member_name for a member that does not exist");

  const bool bsd = style_ == ArchiveStyle::Bsd;
  const bool thin = style_ == ArchiveStyle::Thin;
  const bool first_linker = style_ != ArchiveStyle::NoLinkerMembers && !bsd;
  const bool second_linker = style_ == ArchiveStyle::Microsoft;
  const bool nul_terminated_long_names = style_ == ArchiveStyle::Microsoft;

  Plan p;
  ArchiveLayout& l = p.layout;

  // Long names do not depend on any offset: settle them first.
  std::vector<uint8_t> long_names;
  std::vector<std::string> name_fields;
  std::vector<std::vector<uint8_t>> bsd_names;  // the name bytes that lead a member's data
  for (const Member& m : members_) {
    if (bsd) {
      // The name, NUL-padded to a multiple of four bytes, as LLVM's ar writes it.
      l.long_name_offsets.push_back(std::nullopt);
      std::vector<uint8_t> name(m.name.begin(), m.name.end());
      name.resize((name.size() + 4) & ~size_t{3}, 0);
      name_fields.push_back(blank_padded("#1/" + std::to_string(name.size()), kNameWidth));
      bsd_names.push_back(std::move(name));
      continue;
    }
    bsd_names.emplace_back();
    if (m.name.size() <= kMaxShortMemberName && !thin) {
      l.long_name_offsets.push_back(std::nullopt);
      name_fields.push_back(blank_padded(m.name + "/", kNameWidth));
      continue;
    }
    l.long_name_offsets.push_back(long_names.size());
    name_fields.push_back(blank_padded("/" + std::to_string(long_names.size()), kNameWidth));
    long_names.insert(long_names.end(), m.name.begin(), m.name.end());
    if (nul_terminated_long_names) {
      long_names.push_back(0);
    } else {
      long_names.push_back('/');
      long_names.push_back('\n');
    }
  }
  for (const auto& [index, field] : raw_member_names_) name_fields[index] = field;

  // The second linker member lists its symbols in lexical order.
  std::vector<LinkerSymbol> sorted = symbols_;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const LinkerSymbol& a, const LinkerSymbol& b) { return a.name < b.name; });

  // Sizes of the linker members do not depend on the offsets they hold.
  size_t names_size = 0;
  for (const LinkerSymbol& s : symbols_) names_size += s.name.size() + 1;
  const size_t first_offset_count =
      first_linker_offsets_ ? first_linker_offsets_->size() : symbols_.size();
  const size_t first_size = 4 + 4 * first_offset_count + names_size;
  const size_t member_offset_count = member_offsets_ ? member_offsets_->size() : members_.size();
  const size_t second_size = 4 + 4 * member_offset_count + 4 + 2 * symbols_.size() + names_size;

  // BSD's index: "__.SYMDEF" as a "#1/12" name, then an empty ranlib table and string
  // table (a u32 size of 0 each).
  std::vector<uint8_t> symdef{'_', '_', '.', 'S', 'Y', 'M', 'D', 'E', 'F', 0, 0, 0};
  const size_t symdef_name_size = symdef.size();
  symdef.resize(symdef.size() + 8, 0);

  size_t at = kArchiveSignatureSize;
  auto place = [&at](size_t data_size) {
    size_t header_at = at;
    at += kMemberHeaderSize + padded(data_size);
    return header_at;
  };
  if (first_linker) l.first_linker_offset = place(first_size);
  if (second_linker) l.second_linker_offset = place(second_size);
  if (bsd) l.first_linker_offset = place(symdef.size());
  if (!long_names.empty()) l.long_names_offset = place(long_names.size());
  for (size_t i = 0; i < members_.size(); ++i) {
    // A thin archive's member headers are followed by the next header, not by data.
    l.member_header_offsets.push_back(thin ? std::exchange(at, at + kMemberHeaderSize)
                                           : place(bsd_names[i].size() + members_[i].data.size()));
  }
  l.size = at;

  const std::string linker_name_field = blank_padded(kLinkerMemberName, kNameWidth);
  if (first_linker) {
    std::vector<uint8_t> d;
    append_u32_be(d, first_linker_symbol_count_.value_or(to_u32(symbols_.size())));
    if (first_linker_offsets_) {
      for (uint32_t offset : *first_linker_offsets_) append_u32_be(d, offset);
    } else {
      for (const LinkerSymbol& s : symbols_)
        append_u32_be(d, to_u32(l.member_header_offsets[s.member_index]));
    }
    for (const LinkerSymbol& s : symbols_) append_c_string(d, s.name);
    p.parts.push_back({linker_name_field, std::move(d)});
  }
  if (second_linker) {
    std::vector<uint8_t> d;
    append_u32_le(d, member_count_.value_or(to_u32(member_offset_count)));
    if (member_offsets_) {
      for (uint32_t offset : *member_offsets_) append_u32_le(d, offset);
    } else {
      for (size_t offset : l.member_header_offsets) append_u32_le(d, to_u32(offset));
    }
    append_u32_le(d, second_linker_symbol_count_.value_or(to_u32(symbols_.size())));
    for (const LinkerSymbol& s : sorted) {
      // Indices into the offsets array are 1-based.
      if (s.member_index + 1 > UINT16_MAX)
        throw std::length_error("second linker member index beyond 65535");
      append_u16_le(d, static_cast<uint16_t>(s.member_index + 1));
    }
    for (const LinkerSymbol& s : sorted) append_c_string(d, s.name);
    p.parts.push_back({linker_name_field, std::move(d)});
  }
  if (bsd) {
    p.parts.push_back(
        {blank_padded("#1/" + std::to_string(symdef_name_size), kNameWidth), std::move(symdef)});
  }
  if (!long_names.empty())
    p.parts.push_back({blank_padded(kLongNamesMemberName, kNameWidth), std::move(long_names)});
  for (size_t i = 0; i < members_.size(); ++i) {
    std::vector<uint8_t> data = bsd_names[i];
    data.insert(data.end(), members_[i].data.begin(), members_[i].data.end());
    p.parts.push_back({name_fields[i], std::move(data), thin});
  }
  return p;
}

std::vector<uint8_t> Archive::bytes() const {
  const Plan p = plan();
  const char* signature = style_ == ArchiveStyle::Thin ? kThinArchiveSignature : kArchiveSignature;
  std::vector<uint8_t> out(signature, signature + kArchiveSignatureSize);
  out.reserve(p.layout.size);
  for (const Plan::Part& part : p.parts) {
    append_header(out, part.name_field, part.data.size());
    if (part.header_only) continue;
    out.insert(out.end(), part.data.begin(), part.data.end());
    if (part.data.size() & 1) out.push_back('\n');
  }
  if (out.size() != p.layout.size) throw std::logic_error("archive layout and bytes disagree");
  return out;
}

std::vector<uint8_t> Archive::truncated(size_t n) const {
  std::vector<uint8_t> all = bytes();
  if (n > all.size())
    throw std::out_of_range("truncated(" + std::to_string(n) + ") of a " +
                            std::to_string(all.size()) + "-byte archive");
  all.resize(n);
  return all;
}

ArchiveLayout Archive::layout() const {
  return plan().layout;
}

size_t Archive::member_header_offset(size_t index) const {
  return layout().member_header_offsets.at(index);
}

}  // namespace drelk::test
