#include "tests/support/elf_builder.h"

#include <stdexcept>
#include <utility>

namespace drelk::test {

namespace {

// e_ident
constexpr size_t kClassAt = 4, kDataAt = 5, kIdentVersionAt = 6;
constexpr uint8_t kClass32 = 1, kClass64 = 2, kDataLsb = 1, kDataMsb = 2;

// Field offsets of each class: header, section header, symbol.
struct Offsets {
  size_t header_size, type, machine, version, shoff, ehsize, shentsize, shnum, shstrndx;
  size_t section_header_size, sh_name, sh_type, sh_flags, sh_offset, sh_size, sh_link, sh_info,
      sh_addralign, sh_entsize;
  size_t symbol_size, st_name, st_value, st_size, st_info, st_shndx;
  size_t word;
};
constexpr Offsets kOffsets32{52, 16, 18, 20, 32, 40, 46, 48, 50, 40, 0,  4,  8,
                             16, 20, 24, 28, 32, 36, 16, 0,  4,  8,  12, 14, 4};
constexpr Offsets kOffsets64{64, 16, 18, 20, 40, 52, 58, 60, 62, 64, 0, 4, 8,
                             24, 32, 40, 44, 48, 56, 24, 0,  8,  16, 4, 6, 8};

class Writer {
 public:
  Writer(std::vector<uint8_t>& out, bool big_endian) : out_(out), big_(big_endian) {}
  void store(size_t at, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
      const size_t shift = 8 * (big_ ? width - 1 - i : i);
      out_.at(at + i) = static_cast<uint8_t>(value >> shift);
    }
  }

 private:
  std::vector<uint8_t>& out_;
  bool big_;
};

void append_string(std::vector<uint8_t>& table, const std::string& s) {
  table.insert(table.end(), s.begin(), s.end());
  table.push_back(0);
}

size_t align8(size_t value) {
  return (value + 7) & ~size_t{7};
}

}  // namespace

struct ElfObject::Plan {
  std::vector<Section> sections;  // index 0 is the null section
  std::vector<uint8_t> string_table;
  std::vector<uint32_t> name_offsets;          // per symbol record, the null symbol included
  std::vector<uint32_t> section_name_offsets;  // per section, into .shstrtab
  ElfLayout layout;
};

ElfObject& ElfObject::elf32() {
  is64_ = false;
  if (machine_ == elfv::EM_X86_64) machine_ = elfv::EM_386;
  return *this;
}

ElfObject& ElfObject::big_endian() {
  big_endian_ = true;
  return *this;
}

ElfObject& ElfObject::machine(uint16_t value) {
  machine_ = value;
  return *this;
}

ElfObject& ElfObject::type(uint16_t value) {
  type_ = value;
  return *this;
}

ElfObject& ElfObject::section(std::string name, uint64_t size, uint32_t type) {
  Section s;
  s.name = std::move(name);
  s.type = type;
  s.size = size;
  sections_.push_back(std::move(s));
  return *this;
}

ElfObject& ElfObject::section_bytes(std::string name, std::vector<uint8_t> contents,
                                    uint32_t type) {
  Section s;
  s.name = std::move(name);
  s.type = type;
  s.size = contents.size();
  s.contents = std::move(contents);
  sections_.push_back(std::move(s));
  return *this;
}

ElfObject& ElfObject::common(std::string name, uint64_t size, uint64_t alignment) {
  ElfSymbol s;
  s.name = std::move(name);
  s.value = alignment;
  s.size = size;
  s.info = elf_info(elfv::STB_GLOBAL, elfv::STT_OBJECT);
  s.shndx = elfv::SHN_COMMON;
  return symbol(std::move(s));
}

ElfObject& ElfObject::function(std::string name, uint16_t section, uint8_t binding) {
  ElfSymbol s;
  s.name = std::move(name);
  s.size = 16;
  s.info = elf_info(binding, elfv::STT_FUNC);
  s.shndx = section;
  return symbol(std::move(s));
}

ElfObject& ElfObject::data(std::string name, uint16_t section, uint64_t size, uint8_t binding,
                           uint8_t type) {
  ElfSymbol s;
  s.name = std::move(name);
  s.size = size;
  s.info = elf_info(binding, type);
  s.shndx = section;
  return symbol(std::move(s));
}

ElfObject& ElfObject::undefined(std::string name) {
  ElfSymbol s;
  s.name = std::move(name);
  return symbol(std::move(s));
}

ElfObject& ElfObject::symbol(ElfSymbol s) {
  symbols_.push_back(std::move(s));
  return *this;
}

ElfObject& ElfObject::lto_symbols(std::vector<LtoSymbol> symbols, std::string id, bool extension) {
  // Records: name, comdat name, kind, visibility, u64 size and u32 slot, little-endian.
  std::vector<uint8_t> table;
  std::vector<uint8_t> kinds{1};
  uint32_t slot = 0;
  for (const LtoSymbol& s : symbols) {
    append_string(table, s.name);
    append_string(table, "");
    table.push_back(s.kind);
    table.push_back(0);
    for (int i = 0; i < 8; ++i) table.push_back(static_cast<uint8_t>(s.size >> (8 * i)));
    for (int i = 0; i < 4; ++i) table.push_back(static_cast<uint8_t>(slot >> (8 * i)));
    ++slot;
    kinds.push_back(s.type);
    kinds.push_back(0);
  }
  const std::string suffix = id.empty() ? "" : "." + id;
  section_bytes(".gnu.lto_.symtab" + suffix, std::move(table));
  if (extension) section_bytes(".gnu.lto_.ext_symtab" + suffix, std::move(kinds));
  return common("__gnu_lto_slim", 1, 1);
}

ElfObject& ElfObject::ident_byte(size_t index, uint8_t value) {
  ident_bytes_[index] = value;
  return *this;
}

ElfObject& ElfObject::version(uint32_t value) {
  version_ = value;
  return *this;
}

ElfObject& ElfObject::section_headers_offset(uint64_t value) {
  section_headers_offset_ = value;
  return *this;
}

ElfObject& ElfObject::section_header_size(uint16_t value) {
  section_header_size_ = value;
  return *this;
}

ElfObject& ElfObject::section_count(uint16_t value) {
  section_count_ = value;
  return *this;
}

ElfObject& ElfObject::section_names_index(uint16_t value) {
  section_names_index_ = value;
  return *this;
}

ElfObject& ElfObject::extended_numbering() {
  extended_numbering_ = true;
  return *this;
}

ElfObject& ElfObject::symbol_entry_size(uint64_t value) {
  symbol_entry_size_ = value;
  return *this;
}

ElfObject& ElfObject::symbol_table_link(uint32_t value) {
  symbol_table_link_ = value;
  return *this;
}

ElfObject& ElfObject::section_offset(const std::string& name, uint64_t value) {
  section_offsets_[name] = value;
  return *this;
}

ElfObject& ElfObject::section_size(const std::string& name, uint64_t value) {
  section_sizes_[name] = value;
  return *this;
}

ElfObject& ElfObject::section_info(const std::string& name, uint32_t value) {
  for (Section& s : sections_) {
    if (s.name == name) s.info = value;
  }
  return *this;
}

ElfObject& ElfObject::section_link(const std::string& name, uint32_t value) {
  for (Section& s : sections_) {
    if (s.name == name) s.link = value;
  }
  return *this;
}

ElfObject& ElfObject::section_flags(const std::string& name, uint64_t value) {
  for (Section& s : sections_) {
    if (s.name == name) s.flags = value;
  }
  return *this;
}

ElfObject& ElfObject::section_alignment(const std::string& name, uint64_t value) {
  for (Section& s : sections_) {
    if (s.name == name) s.alignment = value;
  }
  return *this;
}

ElfObject::Plan ElfObject::plan() const {
  const Offsets& o = is64_ ? kOffsets64 : kOffsets32;
  Plan p;
  Section null;
  null.type = 0;  // SHT_NULL
  p.sections.push_back(null);
  for (const Section& s : sections_) p.sections.push_back(s);

  // The string table and the symbols' name offsets.
  p.string_table.push_back(0);
  p.name_offsets.push_back(0);
  size_t locals = 1;
  bool extended = false;
  for (const ElfSymbol& s : symbols_) {
    uint32_t offset = 0;
    if (!s.name.empty()) {
      offset = static_cast<uint32_t>(p.string_table.size());
      append_string(p.string_table, s.name);
    }
    p.name_offsets.push_back(s.name_offset.value_or(offset));
    if (locals == p.name_offsets.size() - 1 && (s.info >> 4) == elfv::STB_LOCAL) ++locals;
    if (s.extended_index) extended = true;
  }

  ElfLayout& l = p.layout;
  l.header_size = o.header_size;
  l.symbol_size = o.symbol_size;
  Section symtab;
  symtab.name = ".symtab";
  symtab.type = elfv::SHT_SYMTAB;
  symtab.size = (symbols_.size() + 1) * o.symbol_size;
  symtab.info = static_cast<uint32_t>(locals);
  symtab.entry_size = o.symbol_size;
  symtab.alignment = 8;
  l.symtab_index = p.sections.size();
  l.strtab_index = l.symtab_index + 1;
  symtab.link = static_cast<uint32_t>(l.strtab_index);
  p.sections.push_back(symtab);
  Section strtab;
  strtab.name = ".strtab";
  strtab.type = elfv::SHT_STRTAB;
  strtab.contents = p.string_table;
  strtab.size = strtab.contents.size();
  p.sections.push_back(strtab);
  if (extended) {
    Section shndx;
    shndx.name = ".symtab_shndx";
    shndx.type = elfv::SHT_SYMTAB_SHNDX;
    shndx.size = (symbols_.size() + 1) * 4;
    shndx.link = static_cast<uint32_t>(l.symtab_index);
    shndx.entry_size = 4;
    p.sections.push_back(shndx);
  }
  Section names;
  names.name = ".shstrtab";
  names.type = elfv::SHT_STRTAB;
  p.sections.push_back(names);

  // Section names: known now that every section is.
  std::vector<uint8_t> name_table{0};
  p.section_name_offsets.push_back(0);
  for (size_t i = 1; i < p.sections.size(); ++i) {
    p.section_name_offsets.push_back(static_cast<uint32_t>(name_table.size()));
    append_string(name_table, p.sections[i].name);
  }
  p.sections.back().contents = name_table;
  p.sections.back().size = name_table.size();

  size_t at = o.header_size;
  l.section_names.push_back("");
  l.section_offsets.push_back(0);
  l.section_sizes.push_back(0);
  for (size_t i = 1; i < p.sections.size(); ++i) {
    const Section& s = p.sections[i];
    at = align8(at);
    l.section_names.push_back(s.name);
    l.section_offsets.push_back(at);
    l.section_sizes.push_back(static_cast<size_t>(s.size));
    if (s.type != elfv::SHT_NOBITS) at += static_cast<size_t>(s.size);
  }
  l.section_headers_offset = align8(at);
  l.section_header_size = o.section_header_size;
  l.section_count = p.sections.size();
  l.size = l.section_headers_offset + l.section_count * o.section_header_size;
  return p;
}

std::vector<uint8_t> ElfObject::bytes() const {
  const Offsets& o = is64_ ? kOffsets64 : kOffsets32;
  const Plan p = plan();
  const ElfLayout& l = p.layout;
  std::vector<uint8_t> out(l.size, 0);
  Writer w(out, big_endian_);

  // ELF header.
  out[0] = 0x7F;
  out[1] = 'E';
  out[2] = 'L';
  out[3] = 'F';
  out[kClassAt] = is64_ ? kClass64 : kClass32;
  out[kDataAt] = big_endian_ ? kDataMsb : kDataLsb;
  out[kIdentVersionAt] = 1;
  for (const auto& [index, value] : ident_bytes_) out.at(index) = value;
  const size_t names_index = p.sections.size() - 1;
  w.store(o.type, type_, 2);
  w.store(o.machine, machine_, 2);
  w.store(o.version, version_.value_or(1), 4);
  w.store(o.shoff, section_headers_offset_.value_or(l.section_headers_offset), o.word);
  w.store(o.ehsize, o.header_size, 2);
  w.store(o.shentsize, section_header_size_.value_or(static_cast<uint16_t>(o.section_header_size)),
          2);
  w.store(o.shnum,
          section_count_.value_or(extended_numbering_ ? 0 : static_cast<uint16_t>(l.section_count)),
          2);
  w.store(o.shstrndx,
          section_names_index_.value_or(extended_numbering_ ? elfv::SHN_XINDEX
                                                            : static_cast<uint16_t>(names_index)),
          2);

  // Section contents.
  for (size_t i = 1; i < p.sections.size(); ++i) {
    const Section& s = p.sections[i];
    if (s.type == elfv::SHT_NOBITS || s.contents.empty()) continue;
    std::copy(s.contents.begin(), s.contents.end(),
              out.begin() + static_cast<std::ptrdiff_t>(l.section_offsets[i]));
  }
  // Symbols.
  const size_t table = l.section_offsets[l.symtab_index];
  for (size_t i = 1; i <= symbols_.size(); ++i) {
    const ElfSymbol& s = symbols_[i - 1];
    const size_t at = table + i * o.symbol_size;
    w.store(at + o.st_name, p.name_offsets[i], 4);
    w.store(at + o.st_value, s.value, o.word);
    w.store(at + o.st_size, s.size, o.word);
    out[at + o.st_info] = s.info;
    w.store(at + o.st_shndx, s.shndx, 2);
  }
  if (p.sections[l.strtab_index + 1].type == elfv::SHT_SYMTAB_SHNDX) {
    const size_t shndx = l.section_offsets[l.strtab_index + 1];
    for (size_t i = 1; i <= symbols_.size(); ++i) {
      w.store(shndx + 4 * i, symbols_[i - 1].extended_index.value_or(0), 4);
    }
  }

  // Section headers.
  for (size_t i = 0; i < p.sections.size(); ++i) {
    const Section& s = p.sections[i];
    const size_t at = l.section_headers_offset + i * o.section_header_size;
    w.store(at + o.sh_name, p.section_name_offsets[i], 4);
    w.store(at + o.sh_type, s.type, 4);
    uint64_t offset = i == 0 ? 0 : l.section_offsets[i];
    uint64_t size = s.size;
    uint32_t link = s.link;
    uint64_t entry_size = s.entry_size;
    if (i == 0 && extended_numbering_) {
      size = l.section_count;
      link = static_cast<uint32_t>(names_index);
    }
    if (i == l.symtab_index) {
      entry_size = symbol_entry_size_.value_or(entry_size);
      link = symbol_table_link_.value_or(link);
    }
    if (const auto found = section_offsets_.find(s.name); found != section_offsets_.end()) {
      offset = found->second;
    }
    if (const auto found = section_sizes_.find(s.name); found != section_sizes_.end()) {
      size = found->second;
    }
    w.store(at + o.sh_offset, offset, o.word);
    w.store(at + o.sh_size, size, o.word);
    w.store(at + o.sh_link, link, 4);
    w.store(at + o.sh_info, s.info, 4);
    w.store(at + o.sh_flags, s.flags, o.word);
    w.store(at + o.sh_addralign, s.alignment, o.word);
    w.store(at + o.sh_entsize, entry_size, o.word);
  }
  return out;
}

std::vector<uint8_t> ElfObject::truncated(size_t n) const {
  std::vector<uint8_t> all = bytes();
  if (n > all.size()) throw std::out_of_range("truncated beyond the object's end");
  all.resize(n);
  return all;
}

ElfLayout ElfObject::layout() const {
  return plan().layout;
}

}  // namespace drelk::test
