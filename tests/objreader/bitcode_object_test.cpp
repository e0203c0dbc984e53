// The bitcode reader on bitcode built from descriptions: the two layouts of the IR symbol
// table, what each kind of symbol declares, the bitstream items a reader must skip, and the
// diagnostics of damaged bitcode (the real objects of flang and clang are in the e2e tests).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/bitcode.h"
#include "tests/support/bitcode_builder.h"
#include "tests/support/in_memory_run.h"

namespace drelk::test {
namespace {

using bitcode::FB_executable;
using bitcode::FB_global;
using bitcode::FB_tls;
using bitcode::FB_weak;

// Version 3 holds a 32-bit CommonSize, version 4 a 64-bit one; in both, a symbol with an
// uncommon record that is no COMMON (a section name) still takes its record.
TEST(BitcodeSymbolTable, BothVersionsGiveEachCommonItsOwnSize) {
  for (const uint32_t version : {3u, 4u}) {
    const uint64_t large = version == 4 ? 0x140000000ull : 0x40000000ull;
    InMemoryRun run;
    const BitcodeObject object = BitcodeObject()
                                     .version(version)
                                     .symbol("placed_", FB_global, 0)
                                     .common("big_", large, 16)
                                     .function("sa_")
                                     .common("blk_", 400, 4);
    EXPECT_EQ(run.analyze(object.bytes(), "a.o"), Outcome::kOk) << version;
    EXPECT_EQ(run.diagnostics(), "") << version;
    EXPECT_EQ(run.blocks(),
              (std::vector<std::string>{"big_ " + std::to_string(large) + "@a.o", "blk_ 400@a.o"}))
        << version;
  }
}

TEST(BitcodeSymbolTable, WhatEachSymbolDeclares) {
  InMemoryRun run;
  const BitcodeObject object = BitcodeObject()
                                   .common("blk_", 400, 4)
                                   .data("blk_")  // initialises the block it declares
                                   .function("sa_")
                                   .symbol("weak_sub_", FB_global | FB_weak | FB_executable)
                                   .undefined("sb_")
                                   .symbol("local_sub_", FB_executable)
                                   .symbol("inline_var_", FB_global | FB_weak)
                                   .symbol("thread_", FB_global | FB_tls)
                                   .symbol("llvm.used", FB_global | bitcode::FB_format_specific);
  EXPECT_EQ(run.analyze(object.bytes(), "a.o"), Outcome::kOk);
  EXPECT_EQ(run.blocks(), std::vector<std::string>{"blk_ 400I@a.o"});
  EXPECT_EQ(run.procedures(), (std::vector<std::string>{"sa_@a.o", "weak_sub_@a.o"}));
}

// The wrapper of Darwin's tools names where the bitcode lies; what follows it is padding.
TEST(BitcodeSymbolTable, WrappedBitcodeReadsAsRaw) {
  const BitcodeObject object = BitcodeObject().common("_blk_", 400, 4).function("_sa_");
  InMemoryRun raw;
  InMemoryRun wrapped;
  std::vector<uint8_t> padded = object.bytes();
  padded.resize(padded.size() + 8);  // Darwin's ar
  EXPECT_EQ(raw.analyze(padded, "a.o"), Outcome::kOk);
  EXPECT_EQ(wrapped.analyze(BitcodeObject(object).wrapped().bytes(), "a.o"), Outcome::kOk);
  EXPECT_EQ(raw.diagnostics() + wrapped.diagnostics(), "");
  EXPECT_EQ(raw.blocks(), std::vector<std::string>{"_blk_ 400@a.o"});
  EXPECT_EQ(wrapped.blocks(), raw.blocks());
  EXPECT_EQ(wrapped.procedures(), raw.procedures());
}

// Before its blob a SYMTAB block may hold unabbreviated records, nested blocks and other
// abbreviations (arrays, char6, VBR fields): all are read past, none is taken for the table.
TEST(BitcodeSymbolTable, ItemsBeforeTheBlobAreSkipped) {
  const BitcodeObject object = BitcodeObject().common("blk_", 400, 4);
  BitWriter writer;
  constexpr unsigned kWidth = 4;
  const size_t block =
      writer.enter_block(bitcode::SYMTAB_BLOCK_ID, kWidth, bitcode::kTopLevelAbbrevWidth);
  writer.fixed(bitcode::UNABBREV_RECORD, kWidth).vbr(7, 6).vbr(2, 6).vbr(1000, 6).vbr(3, 6);
  const size_t nested = writer.enter_block(99, 2, kWidth);
  writer.fixed(bitcode::UNABBREV_RECORD, 2).vbr(1, 6).vbr(0, 6);
  writer.end_block(nested, 2);
  // [fixed 7, vbr 4, array of char6], then a record of it with code 1 and no blob.
  writer.fixed(bitcode::DEFINE_ABBREV, kWidth).vbr(4, 5);
  writer.fixed(0, 1).fixed(bitcode::kEncodingFixed, 3).vbr(7, 5);
  writer.fixed(0, 1).fixed(bitcode::kEncodingVbr, 3).vbr(4, 5);
  writer.fixed(0, 1).fixed(bitcode::kEncodingArray, 3);
  writer.fixed(0, 1).fixed(bitcode::kEncodingChar6, 3);
  writer.fixed(4, kWidth).fixed(1, 7).vbr(300, 4).vbr(3, 6).fixed(1, 6).fixed(2, 6).fixed(3, 6);
  writer.blob_record(bitcode::SYMTAB_BLOB, object.symbol_table(), kWidth, 5);
  writer.end_block(block, kWidth);
  write_blob_block(writer, bitcode::STRTAB_BLOCK_ID, object.string_table());
  InMemoryRun run;
  EXPECT_EQ(run.analyze(bitcode_file(writer), "a.o"), Outcome::kOk);
  EXPECT_EQ(run.diagnostics(), "");
  EXPECT_EQ(run.blocks(), std::vector<std::string>{"blk_ 400@a.o"});
}

// A file of the given top-level blocks.
std::vector<uint8_t> with_blocks(const std::vector<uint8_t>& symbols,
                                 const std::vector<uint8_t>& strings) {
  BitWriter writer;
  if (!symbols.empty()) write_blob_block(writer, bitcode::SYMTAB_BLOCK_ID, symbols);
  if (!strings.empty()) write_blob_block(writer, bitcode::STRTAB_BLOCK_ID, strings);
  return bitcode_file(writer);
}

// A SYMTAB block whose items after ENTER_SUBBLOCK are written by `items`, its length word
// set to `words` (or to what it holds).
template <typename Items>
std::vector<uint8_t> symtab_block_of(Items&& items, std::optional<uint32_t> words = {}) {
  BitWriter writer;
  const size_t block =
      writer.enter_block(bitcode::SYMTAB_BLOCK_ID, 3, bitcode::kTopLevelAbbrevWidth);
  items(writer);
  writer.align32();
  std::vector<uint8_t> file = bitcode_file(writer);
  const uint32_t length = words.value_or(static_cast<uint32_t>((writer.size() - block - 4) / 4));
  for (int i = 0; i < 4; ++i) file[4 + block + i] = static_cast<uint8_t>(length >> (8 * i));
  return file;
}

TEST(BitcodeDiagnostics, DamagedBitcodeIsNamedAndNothingIsGuessed) {
  const BitcodeObject sound = BitcodeObject().common("blk_", 400, 4).function("sa_");
  const std::string unreadable = "Drelk: Error - unreadable LLVM bitcode in a.o: ";
  const std::string table = "Drelk: Error - unreadable LLVM bitcode symbol table in a.o: ";
  std::vector<uint8_t> cut = sound.bytes();
  cut.resize(cut.size() - 8);
  const std::vector<uint8_t> wrapped = BitcodeObject(sound).wrapped().bytes();
  std::vector<uint8_t> wrapper = wrapped;
  wrapper[bitcode::kWrapperSize + 1] = 0x40;
  std::vector<uint8_t> unwrapped = wrapped;
  unwrapped[bitcode::kWrapperOffset] = 0;
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::string expected;
  } cases[] = {
      {"version 5", BitcodeObject(sound).version(5).bytes(),
       "Drelk: Error - LLVM bitcode file a.o has a symbol table of version 5, which is not read "
       "(versions 3 and 4 are)\n\n"},
      {"no symbol table", with_blocks({}, sound.string_table()),
       "Drelk: Error - LLVM bitcode file a.o has no symbol table; its symbols are not read\n\n"},
      {"no string table after it", with_blocks(sound.symbol_table(), {}),
       unreadable + "a symbol table has no string table after it\n\n"},
      {"symbols outside the table", BitcodeObject(sound).symbols_range(0xFFFFFFF0, 2).bytes(),
       table + "a range of its records lies outside it\n\n"},
      {"2^32 - 1 uncommons", BitcodeObject(sound).uncommons_range(76, 0xFFFFFFFF).bytes(),
       table + "a range of its records lies outside it\n\n"},
      {"fewer uncommons than symbols take", BitcodeObject(sound).uncommons_range(76, 0).bytes(),
       table + "a symbol's uncommon record lies outside their range\n\n"},
      {"a COMMON without its size",
       BitcodeObject().symbol("blk_", FB_global | bitcode::FB_common).bytes(),
       table + "a COMMON symbol has no size\n\n"},
      {"a name outside the string table",
       with_blocks(sound.symbol_table(), std::vector<uint8_t>{'b', 'l'}),
       table + "a name lies outside the string table\n\n"},
      {"a table of 3 bytes", with_blocks({3, 0, 0}, sound.string_table()),
       table + "its header is cut short\n\n"},
      {"a block past the end", cut,
       unreadable + "a block, field or blob runs past the end of the bitcode\n\n"},
      {"the wrapper's bitcode outside the file", wrapper,
       unreadable + "the wrapper's bitcode lies outside the file\n\n"},
      {"no magic where the wrapper points", unwrapped,
       unreadable + "the bitcode magic is missing\n\n"},
      {"a block without END_BLOCK", symtab_block_of([](BitWriter& w) {
         // Two records fill 30 bits: the 2 left cannot hold an abbreviation id.
         w.fixed(bitcode::UNABBREV_RECORD, 3).vbr(1, 6).vbr(0, 6);
         w.fixed(bitcode::UNABBREV_RECORD, 3).vbr(1, 6).vbr(0, 6);
         w.fixed(3, 2);
       }),
       unreadable + "a block ends without its END_BLOCK\n\n"},
      {"a nested block past its parent", symtab_block_of([](BitWriter& w) {
         w.fixed(bitcode::ENTER_SUBBLOCK, 3).vbr(5, 8).vbr(3, 4).align32().fixed(1000, 32);
       }),
       unreadable + "a block, field or blob runs past the end of the bitcode\n\n"},
      {"an abbreviation 65 bits wide", symtab_block_of([](BitWriter& w) {
         w.fixed(bitcode::DEFINE_ABBREV, 3).vbr(1, 5).fixed(0, 1).fixed(1, 3).vbr(65, 5);
       }),
       unreadable + "a field is wider than 64 bits\n\n"},
      {"a blob longer than the file", symtab_block_of([](BitWriter& w) {
         w.fixed(bitcode::DEFINE_ABBREV, 3).vbr(2, 5).fixed(1, 1).vbr(1, 8).fixed(0, 1).fixed(5, 3);
         w.fixed(4, 3).vbr(0xFFFFFFFFFull, 6);
       }),
       unreadable + "a block, field or blob runs past the end of the bitcode\n\n"},
      {"a record of an undefined abbreviation",
       symtab_block_of([](BitWriter& w) { w.fixed(5, 3); }),
       unreadable + "a record uses an abbreviation that is not defined\n\n"},
      {"an array that ends no abbreviation", symtab_block_of([](BitWriter& w) {
         w.fixed(bitcode::DEFINE_ABBREV, 3).vbr(3, 5).fixed(1, 1).vbr(1, 8);
         w.fixed(0, 1).fixed(3, 3).fixed(0, 1).fixed(5, 3);
       }),
       unreadable + "an abbreviation that no record can be read with\n\n"},
      {"a record at the top level", bitcode_file(BitWriter().fixed(3, 2).align32()),
       unreadable + "an item other than a block at the top level\n\n"},
  };
  for (const auto& c : cases) {
    InMemoryRun run;
    EXPECT_EQ(run.analyze(c.bytes, "a.o"), Outcome::kFailed) << c.what;
    EXPECT_EQ(run.diagnostics(), c.expected) << c.what;
    EXPECT_EQ(run.blocks(), std::vector<std::string>{}) << c.what;
  }
}

}  // namespace
}  // namespace drelk::test
