#include "tests/support/coff_builder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace drelk::test {

namespace {

// IMAGE_FILE_HEADER field offsets.
constexpr size_t kMachineAt = 0;
constexpr size_t kNumberOfSectionsAt = 2;
constexpr size_t kTimeDateStampAt = 4;
constexpr size_t kPointerToSymbolTableAt = 8;
constexpr size_t kNumberOfSymbolsAt = 12;
constexpr size_t kSizeOfOptionalHeaderAt = 16;
constexpr size_t kCharacteristicsAt = 18;

// Subsystem is a u16 at this offset of the optional header.
constexpr size_t kSubsystemAt = 68;

// IMAGE_SECTION_HEADER field offsets.
constexpr size_t kSectionNameAt = 0;
constexpr size_t kVirtualSizeAt = 8;
constexpr size_t kVirtualAddressAt = 12;
constexpr size_t kSizeOfRawDataAt = 16;
constexpr size_t kPointerToRawDataAt = 20;
constexpr size_t kPointerToRelocationsAt = 24;
constexpr size_t kPointerToLinenumbersAt = 28;
constexpr size_t kNumberOfRelocationsAt = 32;
constexpr size_t kNumberOfLinenumbersAt = 34;
constexpr size_t kSectionCharacteristicsAt = 36;

// IMAGE_SYMBOL field offsets.
constexpr size_t kSymbolNameAt = 0;
constexpr size_t kSymbolNameOffsetAt = 4;  // of the long form, after four zero bytes
constexpr size_t kValueAt = 8;
constexpr size_t kSectionNumberAt = 12;
constexpr size_t kTypeAt = 14;
constexpr size_t kStorageClassAt = 16;
constexpr size_t kNumberOfAuxSymbolsAt = 17;

constexpr size_t kShortNameSize = 8;

void store_u8(std::vector<uint8_t>& out, size_t at, uint8_t value) {
  out.at(at) = value;
}

void store_u16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
  out.at(at) = static_cast<uint8_t>(value);
  out.at(at + 1) = static_cast<uint8_t>(value >> 8);
}

void store_u32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) out.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

// An 8-byte name field: the bytes, NUL-padded, no terminator when the name fills it.
void store_short_name(std::vector<uint8_t>& out, size_t at, const std::string& name) {
  if (name.size() > kShortNameSize) throw std::length_error("name field overflow: " + name);
  std::copy(name.begin(), name.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
}

uint32_t to_u32(size_t value) {
  if (value > UINT32_MAX) throw std::length_error("COFF object larger than 4 GiB");
  return static_cast<uint32_t>(value);
}

bool has_long_name(const Symbol& s) {
  return s.name_offset || s.name.size() > kShortNameSize;
}

size_t aux_records_written(const Symbol& s) {
  return std::max<size_t>(s.aux_count, s.aux.size());
}

}  // namespace

CoffObject& CoffObject::machine(uint16_t value) {
  machine_ = value;
  return *this;
}

CoffObject& CoffObject::time_stamp(uint32_t value) {
  time_stamp_ = value;
  return *this;
}

CoffObject& CoffObject::characteristics(uint16_t value) {
  characteristics_ = value;
  return *this;
}

CoffObject& CoffObject::optional_header(uint16_t size, uint16_t subsystem) {
  optional_header_size_ = size;
  subsystem_ = subsystem;
  return *this;
}

CoffObject& CoffObject::section(std::string name, uint32_t raw_size, uint16_t relocations,
                                uint16_t line_numbers, uint32_t characteristics) {
  SectionHeader h;
  h.name = std::move(name);
  h.size_of_raw_data = raw_size;
  h.number_of_relocations = relocations;
  h.number_of_linenumbers = line_numbers;
  h.characteristics = characteristics;
  sections_.push_back({std::move(h), true});
  return *this;
}

CoffObject& CoffObject::section_header(SectionHeader header) {
  if (header.name.size() > kShortNameSize)
    throw std::invalid_argument("section_header name longer than 8 bytes: " + header.name);
  sections_.push_back({std::move(header), false});
  return *this;
}

CoffObject& CoffObject::common(std::string name, uint32_t size) {
  return symbol(std::move(name), size, pe::IMAGE_SYM_UNDEFINED);
}

CoffObject& CoffObject::function(std::string name, int16_t section, uint8_t storage_class) {
  return symbol(std::move(name), 0, section, pe::IMAGE_SYM_TYPE_FUNCTION, storage_class);
}

CoffObject& CoffObject::data(std::string name, int16_t section, uint32_t value) {
  return symbol(std::move(name), value, section);
}

CoffObject& CoffObject::symbol(Symbol s) {
  symbols_.push_back(std::move(s));
  return *this;
}

CoffObject& CoffObject::symbol(std::string name, uint32_t value, int16_t section, uint16_t type,
                               uint8_t storage_class, uint8_t aux_count) {
  Symbol s;
  s.name = std::move(name);
  s.value = value;
  s.section = section;
  s.type = type;
  s.storage_class = storage_class;
  s.aux_count = aux_count;
  return symbol(std::move(s));
}

Symbol& CoffObject::last_symbol(const char* modifier) {
  if (symbols_.empty()) throw std::logic_error(std::string(modifier) + "() before any symbol");
  return symbols_.back();
}

CoffObject& CoffObject::aux(AuxRecord record) {
  Symbol& last = last_symbol("aux");
  last.aux.push_back(record);
  if (last.aux.size() > last.aux_count) {
    if (last.aux.size() > UINT8_MAX) throw std::length_error("more than 255 aux records");
    last.aux_count = static_cast<uint8_t>(last.aux.size());
  }
  return *this;
}

CoffObject& CoffObject::aux_count(uint8_t count) {
  last_symbol("aux_count").aux_count = count;
  return *this;
}

CoffObject& CoffObject::name_offset(uint32_t offset) {
  last_symbol("name_offset").name_offset = offset;
  return *this;
}

CoffObject& CoffObject::section_count(uint16_t value) {
  section_count_ = value;
  return *this;
}

CoffObject& CoffObject::symbol_table_pointer(uint32_t value) {
  symbol_table_pointer_ = value;
  return *this;
}

CoffObject& CoffObject::symbol_count(uint32_t value) {
  symbol_count_ = value;
  return *this;
}

CoffObject& CoffObject::optional_header_size_field(uint16_t value) {
  optional_header_size_field_ = value;
  return *this;
}

CoffObject& CoffObject::string_table_size(uint32_t value) {
  string_table_size_ = value;
  return *this;
}

CoffObject& CoffObject::string_text(std::string raw) {
  string_text_ += raw;
  string_text_given_ = true;
  return *this;
}

CoffObject& CoffObject::no_string_table() {
  no_string_table_ = true;
  return *this;
}

CoffLayout CoffObject::plan(std::string& text) const {
  CoffLayout l;
  text.clear();
  // Long names are stored in this order: sections' names, then symbols' names, then any raw
  // text; each NUL-terminated, addressed from the start of the table (size field included).
  auto add_long_name = [&text](const std::string& name) {
    uint32_t offset = to_u32(kStringTableSizeFieldSize + text.size());
    text += name;
    text += '\0';
    return offset;
  };

  l.optional_header_offset = kFileHeaderSize;
  l.optional_header_size = optional_header_size_;
  l.section_headers_offset = l.optional_header_offset + l.optional_header_size;
  size_t at = l.section_headers_offset + sections_.size() * kSectionHeaderSize;

  bool any_long_name = false;
  for (size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    const SectionHeader& h = s.header;
    l.section_header_offsets.push_back(l.section_headers_offset + i * kSectionHeaderSize);
    if (!s.laid_out) {
      l.raw_data_pointers.push_back(h.pointer_to_raw_data);
      l.relocation_pointers.push_back(h.pointer_to_relocations);
      l.line_number_pointers.push_back(h.pointer_to_linenumbers);
      l.section_name_offsets.push_back(std::nullopt);
      continue;
    }
    auto stretch = [&at](size_t length) {
      uint32_t start = length == 0 ? 0 : to_u32(at);
      at += length;
      return start;
    };
    l.raw_data_pointers.push_back(stretch(h.size_of_raw_data));
    l.relocation_pointers.push_back(stretch(h.number_of_relocations * kRelocationSize));
    l.line_number_pointers.push_back(stretch(h.number_of_linenumbers * kLineNumberSize));
    if (h.name.size() > kShortNameSize) {
      l.section_name_offsets.push_back(add_long_name(h.name));
      any_long_name = true;
    } else {
      l.section_name_offsets.push_back(std::nullopt);
    }
  }

  l.symbol_table_offset = at;
  uint32_t index = 0;
  for (const Symbol& s : symbols_) {
    l.symbol_offsets.push_back(at);
    l.symbol_indices.push_back(index);
    if (s.name_offset) {
      l.symbol_name_offsets.push_back(*s.name_offset);
    } else if (has_long_name(s)) {
      l.symbol_name_offsets.push_back(add_long_name(s.name));
      any_long_name = true;
    } else {
      l.symbol_name_offsets.push_back(std::nullopt);
    }
    size_t records = 1 + aux_records_written(s);
    at += records * kSymbolSize;
    index += to_u32(records);
  }

  text += string_text_;
  l.string_table_offset = at;
  l.has_string_table = !no_string_table_ && (!symbols_.empty() || symbol_count_ || any_long_name ||
                                             string_table_size_ || string_text_given_);
  if (l.has_string_table) {
    l.string_table_size =
        string_table_size_.value_or(to_u32(kStringTableSizeFieldSize + text.size()));
    at += kStringTableSizeFieldSize + text.size();
  }
  l.size = at;
  return l;
}

CoffLayout CoffObject::layout() const {
  std::string text;
  return plan(text);
}

size_t CoffObject::symbol_table_offset() const {
  return layout().symbol_table_offset;
}

std::vector<uint8_t> CoffObject::bytes() const {
  std::string text;
  const CoffLayout l = plan(text);
  std::vector<uint8_t> out(l.size, 0);

  uint32_t record_count = 0;
  for (const Symbol& s : symbols_) record_count += to_u32(1 + aux_records_written(s));
  const bool has_symbol_table = !symbols_.empty() || l.has_string_table;

  store_u16(out, kMachineAt, machine_);
  store_u16(out, kNumberOfSectionsAt,
            section_count_.value_or(static_cast<uint16_t>(sections_.size())));
  store_u32(out, kTimeDateStampAt, time_stamp_);
  store_u32(out, kPointerToSymbolTableAt,
            symbol_table_pointer_.value_or(has_symbol_table ? to_u32(l.symbol_table_offset) : 0));
  store_u32(out, kNumberOfSymbolsAt, symbol_count_.value_or(record_count));
  store_u16(out, kSizeOfOptionalHeaderAt,
            optional_header_size_field_.value_or(optional_header_size_));
  store_u16(out, kCharacteristicsAt, characteristics_);

  if (optional_header_size_ >= kSubsystemAt + 2)
    store_u16(out, l.optional_header_offset + kSubsystemAt, subsystem_);

  for (size_t i = 0; i < sections_.size(); ++i) {
    const SectionHeader& h = sections_[i].header;
    const size_t at = l.section_header_offsets[i];
    if (l.section_name_offsets[i])
      store_short_name(out, at + kSectionNameAt, "/" + std::to_string(*l.section_name_offsets[i]));
    else
      store_short_name(out, at + kSectionNameAt, h.name);
    store_u32(out, at + kVirtualSizeAt, h.virtual_size);
    store_u32(out, at + kVirtualAddressAt, h.virtual_address);
    store_u32(out, at + kSizeOfRawDataAt, h.size_of_raw_data);
    store_u32(out, at + kPointerToRawDataAt, l.raw_data_pointers[i]);
    store_u32(out, at + kPointerToRelocationsAt, l.relocation_pointers[i]);
    store_u32(out, at + kPointerToLinenumbersAt, l.line_number_pointers[i]);
    store_u16(out, at + kNumberOfRelocationsAt, h.number_of_relocations);
    store_u16(out, at + kNumberOfLinenumbersAt, h.number_of_linenumbers);
    store_u32(out, at + kSectionCharacteristicsAt, h.characteristics);
  }

  for (size_t i = 0; i < symbols_.size(); ++i) {
    const Symbol& s = symbols_[i];
    const size_t at = l.symbol_offsets[i];
    if (l.symbol_name_offsets[i])
      store_u32(out, at + kSymbolNameOffsetAt, *l.symbol_name_offsets[i]);  // after 4 zeros
    else
      store_short_name(out, at + kSymbolNameAt, s.name);
    store_u32(out, at + kValueAt, s.value);
    store_u16(out, at + kSectionNumberAt, static_cast<uint16_t>(s.section));
    store_u16(out, at + kTypeAt, s.type);
    store_u8(out, at + kStorageClassAt, s.storage_class);
    store_u8(out, at + kNumberOfAuxSymbolsAt, s.aux_count);
    for (size_t a = 0; a < s.aux.size(); ++a) {
      const size_t aux_at = at + (1 + a) * kSymbolSize;
      std::copy(s.aux[a].begin(), s.aux[a].end(),
                out.begin() + static_cast<std::ptrdiff_t>(aux_at));
    }
  }

  if (l.has_string_table) {
    store_u32(out, l.string_table_offset, l.string_table_size);
    std::copy(text.begin(), text.end(),
              out.begin() +
                  static_cast<std::ptrdiff_t>(l.string_table_offset + kStringTableSizeFieldSize));
  }
  return out;
}

std::vector<uint8_t> CoffObject::truncated(size_t n) const {
  std::vector<uint8_t> all = bytes();
  if (n > all.size())
    throw std::out_of_range("truncated(" + std::to_string(n) + ") of a " +
                            std::to_string(all.size()) + "-byte object");
  all.resize(n);
  return all;
}

CoffObject sections_in_one_place(uint32_t count) {
  CoffObject object;
  for (uint32_t i = 0; i < count; ++i) {
    SectionHeader header;
    header.name = ".data";
    header.pointer_to_raw_data = 0x1000;
    header.size_of_raw_data = 64;
    header.pointer_to_relocations = 0x1000;
    header.number_of_relocations = 4;
    header.pointer_to_linenumbers = 0x1000;
    header.number_of_linenumbers = 4;
    object.section_header(header);
  }
  return object;
}

}  // namespace drelk::test
