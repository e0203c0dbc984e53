// Test-side builder of LLVM bitcode files as LLVM writes them for -flto objects:
//
//   BitcodeObject().common("blk_", 400, 4).function("sa_").data("init_").bytes()
//
// Layout: "BC" 0xC0DE, a MODULE block (an unabbreviated record and a nested block, which a
// reader skips by their lengths), a SYMTAB block and a STRTAB block, each holding one blob
// record written with an abbreviation [literal 1, blob]; with wrapped(), the wrapper header
// of Darwin's tools before it all. The symbol table is LLVM's IR symbol table of the chosen
// version (3: u32 CommonSize; 4: u64), one module, its strings in the string table.
// Overrides named after a field change that field only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

// Writes a bitstream: fields LSB-first, blocks with their length words filled in at their end.
class BitWriter {
 public:
  BitWriter& fixed(uint64_t value, unsigned width);
  BitWriter& vbr(uint64_t value, unsigned width);
  BitWriter& align32();
  // ENTER_SUBBLOCK under abbreviation ids of `outer_width` bits; returns what end_block needs.
  size_t enter_block(uint32_t block_id, unsigned width, unsigned outer_width);
  // END_BLOCK under the block's width, and the block's length word set.
  BitWriter& end_block(size_t entered, unsigned width);
  // The DEFINE_ABBREV [literal code, blob] and one record of it holding `blob`; `id` is the
  // id the abbreviation gets, 4 for a block's first.
  BitWriter& blob_record(uint32_t code, const std::vector<uint8_t>& blob, unsigned width,
                         uint32_t id = 4);
  std::vector<uint8_t> bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
  uint64_t bits_ = 0;
};

// A bitcode file of the given top-level blocks, written by `blocks` after the magic.
std::vector<uint8_t> bitcode_file(const BitWriter& blocks);

// A top-level SYMTAB (25) or STRTAB (23) block holding `blob`.
void write_blob_block(BitWriter& writer, uint32_t block_id, const std::vector<uint8_t>& blob);

class BitcodeObject {
 public:
  BitcodeObject& version(uint32_t value);
  BitcodeObject& common(const std::string& name, uint64_t size, uint32_t alignment);
  BitcodeObject& function(const std::string& name);
  BitcodeObject& data(const std::string& name);
  BitcodeObject& undefined(const std::string& name);
  // A symbol of any flags; with an uncommon record when `size` is given.
  BitcodeObject& symbol(const std::string& name, uint32_t flags,
                        std::optional<uint64_t> size = std::nullopt, uint32_t alignment = 0);
  BitcodeObject& wrapped(bool value = true);
  // Words of records in the module block, standing for its code: a reader skips them.
  BitcodeObject& module_words(uint32_t words);
  // Overrides of the header's ranges {offset, count}.
  BitcodeObject& symbols_range(uint32_t offset, uint32_t count);
  BitcodeObject& uncommons_range(uint32_t offset, uint32_t count);

  std::vector<uint8_t> symbol_table() const;
  std::vector<uint8_t> string_table() const;
  std::vector<uint8_t> bytes() const;

 private:
  struct Symbol {
    std::string name;
    uint32_t flags = 0;
    bool has_uncommon = false;
    uint64_t size = 0;
    uint32_t alignment = 0;
  };
  uint32_t version_ = 3;
  std::vector<Symbol> symbols_;
  bool wrapped_ = false;
  uint32_t module_words_ = 0;
  std::optional<std::pair<uint32_t, uint32_t>> symbols_range_;
  std::optional<std::pair<uint32_t, uint32_t>> uncommons_range_;
};

}  // namespace drelk::test
