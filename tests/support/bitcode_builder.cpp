#include "tests/support/bitcode_builder.h"

#include "formats/bitcode.h"

namespace drelk::test {
namespace {

void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
  out.resize(out.size() + 4);
  put_u32(out, out.size() - 4, value);
}

void append_u64(std::vector<uint8_t>& out, uint64_t value) {
  append_u32(out, static_cast<uint32_t>(value));
  append_u32(out, static_cast<uint32_t>(value >> 32));
}

}  // namespace

BitWriter& BitWriter::fixed(uint64_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i, ++bits_) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bits_ % 8));
  }
  return *this;
}

BitWriter& BitWriter::vbr(uint64_t value, unsigned width) {
  const uint64_t continuation = uint64_t{1} << (width - 1);
  while (value >= continuation) {
    fixed((value & (continuation - 1)) | continuation, width);
    value >>= width - 1;
  }
  return fixed(value, width);
}

BitWriter& BitWriter::align32() {
  while (bits_ % 32 != 0) fixed(0, 1);
  return *this;
}

size_t BitWriter::enter_block(uint32_t block_id, unsigned width, unsigned outer_width) {
  fixed(bitcode::ENTER_SUBBLOCK, outer_width);
  vbr(block_id, bitcode::kBlockIdWidth);
  vbr(width, bitcode::kNewAbbrevWidthWidth);
  align32();
  const size_t length_word = bytes_.size();
  fixed(0, bitcode::kBlockLengthWidth);
  return length_word;
}

BitWriter& BitWriter::end_block(size_t entered, unsigned width) {
  fixed(bitcode::END_BLOCK, width);
  align32();
  put_u32(bytes_, entered, static_cast<uint32_t>((bytes_.size() - entered - 4) / 4));
  return *this;
}

BitWriter& BitWriter::blob_record(uint32_t code, const std::vector<uint8_t>& blob, unsigned width,
                                  uint32_t id) {
  fixed(bitcode::DEFINE_ABBREV, width);
  vbr(2, bitcode::kAbbrevOperandCountWidth);
  fixed(1, 1).vbr(code, bitcode::kLiteralValueWidth);
  fixed(0, 1).fixed(bitcode::kEncodingBlob, bitcode::kEncodingWidth);
  fixed(id, width);
  vbr(blob.size(), bitcode::kBlobLengthWidth);
  align32();
  for (const uint8_t byte : blob) fixed(byte, 8);
  return align32();
}

std::vector<uint8_t> bitcode_file(const BitWriter& blocks) {
  std::vector<uint8_t> file(bitcode::kRawMagic, bitcode::kRawMagic + bitcode::kRawMagicSize);
  const std::vector<uint8_t> bytes = blocks.bytes();
  file.insert(file.end(), bytes.begin(), bytes.end());
  return file;
}

void write_blob_block(BitWriter& writer, uint32_t block_id, const std::vector<uint8_t>& blob) {
  constexpr unsigned kWidth = 3;  // as LLVM writes both blocks
  const size_t block = writer.enter_block(block_id, kWidth, bitcode::kTopLevelAbbrevWidth);
  writer.blob_record(bitcode::SYMTAB_BLOB, blob, kWidth);
  writer.end_block(block, kWidth);
}

BitcodeObject& BitcodeObject::version(uint32_t value) {
  version_ = value;
  return *this;
}

BitcodeObject& BitcodeObject::common(const std::string& name, uint64_t size, uint32_t alignment) {
  return symbol(name, bitcode::FB_global | bitcode::FB_common, size, alignment);
}

BitcodeObject& BitcodeObject::function(const std::string& name) {
  return symbol(name, bitcode::FB_global | bitcode::FB_executable);
}

BitcodeObject& BitcodeObject::data(const std::string& name) {
  return symbol(name, bitcode::FB_global);
}

BitcodeObject& BitcodeObject::undefined(const std::string& name) {
  return symbol(name, bitcode::FB_global | bitcode::FB_undefined);
}

BitcodeObject& BitcodeObject::symbol(const std::string& name, uint32_t flags,
                                     std::optional<uint64_t> size, uint32_t alignment) {
  Symbol symbol{name, flags, size.has_value(), size.value_or(0), alignment};
  if (symbol.has_uncommon) symbol.flags |= bitcode::FB_has_uncommon;
  symbols_.push_back(symbol);
  return *this;
}

BitcodeObject& BitcodeObject::wrapped(bool value) {
  wrapped_ = value;
  return *this;
}

BitcodeObject& BitcodeObject::module_words(uint32_t words) {
  module_words_ = words;
  return *this;
}

BitcodeObject& BitcodeObject::symbols_range(uint32_t offset, uint32_t count) {
  symbols_range_ = {offset, count};
  return *this;
}

BitcodeObject& BitcodeObject::uncommons_range(uint32_t offset, uint32_t count) {
  uncommons_range_ = {offset, count};
  return *this;
}

std::vector<uint8_t> BitcodeObject::string_table() const {
  std::string strings;
  for (const Symbol& symbol : symbols_) strings += symbol.name;
  strings += "19.1.7";
  return std::vector<uint8_t>(strings.begin(), strings.end());
}

std::vector<uint8_t> BitcodeObject::symbol_table() const {
  const bool wide = version_ >= bitcode::kVersionCommonSize64;
  const uint32_t modules = bitcode::kHeaderSize;
  const uint32_t symbols = modules + 12;
  const auto symbol_count = static_cast<uint32_t>(symbols_.size());
  const uint32_t uncommons = symbols + symbol_count * bitcode::kSymbolSize;
  uint32_t uncommon_count = 0;
  for (const Symbol& symbol : symbols_) uncommon_count += symbol.has_uncommon ? 1 : 0;
  uint32_t names_size = 0;
  for (const Symbol& symbol : symbols_) names_size += static_cast<uint32_t>(symbol.name.size());

  std::vector<uint8_t> table;
  append_u32(table, version_);
  append_u32(table, names_size);  // Producer: "19.1.7" after the names
  append_u32(table, 6);
  append_u32(table, modules);
  append_u32(table, 1);
  append_u32(table, symbols);  // Comdats: none
  append_u32(table, 0);
  const auto [symbols_at, symbols_count] =
      symbols_range_.value_or(std::pair<uint32_t, uint32_t>{symbols, symbol_count});
  append_u32(table, symbols_at);
  append_u32(table, symbols_count);
  const auto [uncommons_at, uncommons_count] =
      uncommons_range_.value_or(std::pair<uint32_t, uint32_t>{uncommons, uncommon_count});
  append_u32(table, uncommons_at);
  append_u32(table, uncommons_count);
  for (int i = 0; i < 8; ++i) append_u32(table, 0);  // triple, source, linker opts, libraries
  append_u32(table, 0);  // the module: its symbols and its first uncommon
  append_u32(table, symbol_count);
  append_u32(table, 0);
  uint32_t name = 0;
  for (const Symbol& symbol : symbols_) {
    append_u32(table, name);
    append_u32(table, static_cast<uint32_t>(symbol.name.size()));
    append_u32(table, 0);  // IRName
    append_u32(table, 0);
    append_u32(table, 0xFFFFFFFF);  // no comdat
    append_u32(table, symbol.flags);
    name += static_cast<uint32_t>(symbol.name.size());
  }
  for (const Symbol& symbol : symbols_) {
    if (!symbol.has_uncommon) continue;
    if (wide) {
      append_u64(table, symbol.size);
    } else {
      append_u32(table, static_cast<uint32_t>(symbol.size));
    }
    append_u32(table, symbol.alignment);
    for (int i = 0; i < 4; ++i) append_u32(table, 0);
  }
  return table;
}

std::vector<uint8_t> BitcodeObject::bytes() const {
  BitWriter writer;
  // A module of one unabbreviated record and one nested block with a record of its own.
  constexpr unsigned kModuleWidth = 3;
  const size_t module =
      writer.enter_block(bitcode::MODULE_BLOCK_ID, kModuleWidth, bitcode::kTopLevelAbbrevWidth);
  writer.fixed(bitcode::UNABBREV_RECORD, kModuleWidth).vbr(1, 6).vbr(1, 6).vbr(2, 6);
  // Records of 33 bits, about a word each.
  for (uint32_t i = 0; i < module_words_; ++i) {
    writer.fixed(bitcode::UNABBREV_RECORD, kModuleWidth).vbr(7, 6).vbr(3, 6);
    writer.vbr(i % 31, 6).vbr(5, 6).vbr(9, 6);
  }
  const size_t nested = writer.enter_block(17, 4, kModuleWidth);
  writer.fixed(bitcode::UNABBREV_RECORD, 4).vbr(21, 6).vbr(0, 6);
  writer.end_block(nested, 4);
  writer.end_block(module, kModuleWidth);
  write_blob_block(writer, bitcode::SYMTAB_BLOCK_ID, symbol_table());
  write_blob_block(writer, bitcode::STRTAB_BLOCK_ID, string_table());
  std::vector<uint8_t> file = bitcode_file(writer);
  if (!wrapped_) return file;
  std::vector<uint8_t> wrapper;
  append_u32(wrapper, bitcode::kWrapperMagic);
  append_u32(wrapper, 0);
  append_u32(wrapper, bitcode::kWrapperHeaderSize);
  append_u32(wrapper, static_cast<uint32_t>(file.size()));
  append_u32(wrapper, 0x01000007);  // x86_64
  wrapper.insert(wrapper.end(), file.begin(), file.end());
  wrapper.resize(wrapper.size() + 12);  // the padding Darwin's tools leave
  return wrapper;
}

}  // namespace drelk::test
