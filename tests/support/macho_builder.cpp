#include "tests/support/macho_builder.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace drelk::test {

namespace {

constexpr uint32_t kMagic32 = 0xFEEDFACE;
constexpr uint32_t kMagic64 = 0xFEEDFACF;
constexpr uint32_t kFatMagic = 0xCAFEBABE;
constexpr uint32_t kFatMagic64 = 0xCAFEBABF;
constexpr uint32_t kLcSegment = 0x1;
constexpr uint32_t kLcSymtab = 0x2;
constexpr uint32_t kLcSegment64 = 0x19;
constexpr size_t kSymtabCommandSize = 24;
constexpr size_t kRelocationSize = 8;

// Field offsets of each class: header, segment command, section record, nlist record.
struct Offsets {
  size_t header_size;
  size_t segment_size, segment_nsects;
  size_t section_size, sect_addr, sect_size, sect_offset, sect_align, sect_reloff, sect_nreloc,
      sect_flags;
  size_t nlist_size;
  size_t word;  // addresses and sizes in segment and section records, n_value
};
constexpr Offsets kOffsets32{28, 56, 48, 68, 32, 36, 40, 44, 48, 52, 56, 12, 4};
constexpr Offsets kOffsets64{32, 72, 64, 80, 32, 40, 48, 52, 56, 60, 64, 16, 8};

class Writer {
 public:
  Writer(std::vector<uint8_t>& out, bool big_endian) : out_(out), big_(big_endian) {}
  void store(size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
      const size_t shift = 8 * (big_ ? width - 1 - i : i);
      out_.at(at + i) = static_cast<uint8_t>(value >> shift);
    }
  }
  void name(size_t at, const std::string& text) {
    for (size_t i = 0; i < text.size() && i < 16; ++i)
      out_.at(at + i) = static_cast<uint8_t>(text[i]);
  }

 private:
  std::vector<uint8_t>& out_;
  bool big_;
};

size_t align8(size_t value) {
  return (value + 7) & ~size_t{7};
}

bool is_zero_fill(uint32_t flags) {
  return (flags & 0xFF) == machov::S_ZEROFILL;
}

}  // namespace

MachOObject& MachOObject::bits32() {
  is64_ = false;
  if (cpu_type_ == machov::CPU_TYPE_X86_64) cpu_type_ = machov::CPU_TYPE_X86;
  return *this;
}

MachOObject& MachOObject::big_endian() {
  big_endian_ = true;
  return *this;
}

MachOObject& MachOObject::cpu(uint32_t type, uint32_t subtype) {
  cpu_type_ = type;
  cpu_subtype_ = subtype;
  return *this;
}

MachOObject& MachOObject::file_type(uint32_t value) {
  file_type_ = value;
  return *this;
}

MachOObject& MachOObject::section(std::string segment, std::string name, uint64_t size,
                                  uint32_t flags, uint32_t relocations) {
  sections_.push_back(Section{std::move(segment), std::move(name), size, flags, relocations});
  return *this;
}

MachOObject& MachOObject::common(std::string name, uint64_t size, uint8_t align_power) {
  MachSymbol s;
  s.name = std::move(name);
  s.description = static_cast<uint16_t>(align_power << 8);
  s.value = size;
  return symbol(std::move(s));
}

MachOObject& MachOObject::defined(std::string name, uint8_t section, bool external) {
  MachSymbol s;
  s.name = std::move(name);
  s.type = static_cast<uint8_t>(machov::N_SECT | (external ? machov::N_EXT : 0));
  s.section = section;
  return symbol(std::move(s));
}

MachOObject& MachOObject::undefined(std::string name) {
  MachSymbol s;
  s.name = std::move(name);
  return symbol(std::move(s));
}

MachOObject& MachOObject::symbol(MachSymbol s) {
  symbols_.push_back(std::move(s));
  return *this;
}

MachOObject& MachOObject::magic(uint32_t value) {
  magic_ = value;
  return *this;
}
MachOObject& MachOObject::command_count(uint32_t value) {
  command_count_ = value;
  return *this;
}
MachOObject& MachOObject::commands_size(uint32_t value) {
  commands_size_ = value;
  return *this;
}
MachOObject& MachOObject::command_size(size_t index, uint32_t value) {
  command_sizes_[index] = value;
  return *this;
}
MachOObject& MachOObject::section_count(uint32_t value) {
  section_count_ = value;
  return *this;
}
MachOObject& MachOObject::symbol_offset(uint32_t value) {
  symbol_offset_ = value;
  return *this;
}
MachOObject& MachOObject::symbol_count(uint32_t value) {
  symbol_count_ = value;
  return *this;
}
MachOObject& MachOObject::string_offset(uint32_t value) {
  string_offset_ = value;
  return *this;
}
MachOObject& MachOObject::string_size(uint32_t value) {
  string_size_ = value;
  return *this;
}
MachOObject& MachOObject::section_offset(size_t number, uint32_t value) {
  section_offsets_[number] = value;
  return *this;
}
MachOObject& MachOObject::relocations_offset(size_t number, uint32_t value) {
  relocations_offsets_[number] = value;
  return *this;
}

std::vector<uint8_t> MachOObject::build(MachOLayout& l) const {
  const Offsets& o = is64_ ? kOffsets64 : kOffsets32;
  l = MachOLayout();
  l.header_size = o.header_size;
  l.segment_command_offset = o.header_size;
  const size_t segment_command_size = o.segment_size + sections_.size() * o.section_size;
  l.symtab_command_offset = l.segment_command_offset + segment_command_size;
  l.commands_size = segment_command_size + kSymtabCommandSize;
  size_t at = align8(o.header_size + l.commands_size);
  for (size_t i = 0; i < sections_.size(); ++i) {
    l.section_record_offsets.push_back(l.segment_command_offset + o.segment_size +
                                       i * o.section_size);
    if (is_zero_fill(sections_[i].flags)) {
      l.section_offsets.push_back(0);
      continue;
    }
    l.section_offsets.push_back(at);
    at = align8(at + static_cast<size_t>(sections_[i].size));
  }
  std::vector<size_t> relocation_offsets;
  for (const Section& s : sections_) {
    relocation_offsets.push_back(s.relocations != 0 ? at : 0);
    at += s.relocations * kRelocationSize;
  }
  // The string table: an empty name at 0, then every name.
  std::vector<uint8_t> strings(1, 0);
  std::vector<uint32_t> name_offsets;
  for (const MachSymbol& s : symbols_) {
    name_offsets.push_back(s.name.empty() ? 0 : static_cast<uint32_t>(strings.size()));
    if (s.name.empty()) continue;
    strings.insert(strings.end(), s.name.begin(), s.name.end());
    strings.push_back(0);
  }
  l.symbol_size = o.nlist_size;
  l.symbol_offset = at;
  at += symbols_.size() * o.nlist_size;
  l.string_offset = at;
  l.string_size = strings.size();
  at += strings.size();
  l.size = at;

  std::vector<uint8_t> out(l.size, 0);
  Writer w(out, big_endian_);
  w.store(0, magic_.value_or(is64_ ? kMagic64 : kMagic32), 4);
  w.store(4, cpu_type_, 4);
  w.store(8, cpu_subtype_, 4);
  w.store(12, file_type_, 4);
  w.store(16, command_count_.value_or(2), 4);
  w.store(20, commands_size_.value_or(static_cast<uint32_t>(l.commands_size)), 4);

  const auto command_size = [&](size_t index, size_t size) {
    const auto it = command_sizes_.find(index);
    return it != command_sizes_.end() ? it->second : static_cast<uint32_t>(size);
  };
  size_t seg = l.segment_command_offset;
  w.store(seg, is64_ ? kLcSegment64 : kLcSegment, 4);
  w.store(seg + 4, command_size(0, segment_command_size), 4);
  w.store(seg + o.segment_nsects, section_count_.value_or(static_cast<uint32_t>(sections_.size())),
          4);
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    const size_t r = l.section_record_offsets[i];
    w.name(r, s.name);
    w.name(r + 16, s.segment);
    w.store(r + o.sect_size, s.size, o.word);
    const auto offset = section_offsets_.find(i + 1);
    w.store(r + o.sect_offset,
            offset != section_offsets_.end() ? offset->second : l.section_offsets[i], 4);
    w.store(r + o.sect_align, 3, 4);
    const auto reloff = relocations_offsets_.find(i + 1);
    w.store(r + o.sect_reloff,
            reloff != relocations_offsets_.end() ? reloff->second : relocation_offsets[i], 4);
    w.store(r + o.sect_nreloc, s.relocations, 4);
    w.store(r + o.sect_flags, s.flags, 4);
  }
  const size_t sym = l.symtab_command_offset;
  w.store(sym, kLcSymtab, 4);
  w.store(sym + 4, command_size(1, kSymtabCommandSize), 4);
  w.store(sym + 8, symbol_offset_.value_or(static_cast<uint32_t>(l.symbol_offset)), 4);
  w.store(sym + 12, symbol_count_.value_or(static_cast<uint32_t>(symbols_.size())), 4);
  w.store(sym + 16, string_offset_.value_or(static_cast<uint32_t>(l.string_offset)), 4);
  w.store(sym + 20, string_size_.value_or(static_cast<uint32_t>(strings.size())), 4);

  for (size_t i = 0; i < symbols_.size(); ++i) {
    const MachSymbol& s = symbols_[i];
    const size_t r = l.symbol_offset + i * o.nlist_size;
    w.store(r, s.name_offset.value_or(name_offsets[i]), 4);
    out.at(r + 4) = s.type;
    out.at(r + 5) = s.section;
    w.store(r + 6, s.description, 2);
    w.store(r + 8, s.value, o.word);
  }
  std::copy(strings.begin(), strings.end(), out.begin() + static_cast<long>(l.string_offset));
  return out;
}

std::vector<uint8_t> MachOObject::bytes() const {
  MachOLayout layout;
  return build(layout);
}

std::vector<uint8_t> MachOObject::truncated(size_t n) const {
  std::vector<uint8_t> all = bytes();
  if (n > all.size()) {
    throw std::out_of_range("truncated(" + std::to_string(n) + ") of a " +
                            std::to_string(all.size()) + "-byte object");
  }
  all.resize(n);
  return all;
}

MachOLayout MachOObject::layout() const {
  MachOLayout layout;
  build(layout);
  return layout;
}

UniversalFile& UniversalFile::slice(uint32_t cpu_type, uint32_t cpu_subtype,
                                    std::vector<uint8_t> bytes, uint32_t align) {
  slices_.push_back(Slice{cpu_type, cpu_subtype, std::move(bytes), align});
  return *this;
}

UniversalFile& UniversalFile::fat64() {
  fat64_ = true;
  return *this;
}

UniversalFile& UniversalFile::slice_count(uint32_t value) {
  slice_count_ = value;
  return *this;
}

UniversalFile& UniversalFile::slice_offset(size_t index, uint64_t value) {
  slice_offsets_[index] = value;
  return *this;
}

UniversalFile& UniversalFile::slice_size(size_t index, uint64_t value) {
  slice_sizes_[index] = value;
  return *this;
}

std::vector<uint8_t> UniversalFile::bytes() const {
  const size_t record_size = fat64_ ? 32 : 20;
  std::vector<uint8_t> out(8 + slices_.size() * record_size, 0);
  Writer w(out, true);
  w.store(0, fat64_ ? kFatMagic64 : kFatMagic, 4);
  w.store(4, slice_count_.value_or(static_cast<uint32_t>(slices_.size())), 4);
  for (size_t i = 0; i < slices_.size(); ++i) {
    const Slice& s = slices_[i];
    const size_t alignment = size_t{1} << s.align;
    const size_t offset = (out.size() + alignment - 1) / alignment * alignment;
    out.resize(offset, 0);
    out.insert(out.end(), s.bytes.begin(), s.bytes.end());
    const size_t r = 8 + i * record_size;
    const auto at = slice_offsets_.find(i);
    const auto size = slice_sizes_.find(i);
    const uint64_t written_offset = at != slice_offsets_.end() ? at->second : offset;
    const uint64_t written_size = size != slice_sizes_.end() ? size->second : s.bytes.size();
    w.store(r, s.cpu_type, 4);
    w.store(r + 4, s.cpu_subtype, 4);
    if (fat64_) {
      w.store(r + 8, written_offset, 8);
      w.store(r + 16, written_size, 8);
      w.store(r + 24, s.align, 4);
    } else {
      w.store(r + 8, written_offset, 4);
      w.store(r + 12, written_size, 4);
      w.store(r + 16, s.align, 4);
    }
  }
  return out;
}

}  // namespace drelk::test
