// LLVM bitcode objects. The bitstream after the "BC" 0xC0DE magic is a sequence of
// top-level blocks, each entered with its length in 32-bit words: the module's own blocks
// are skipped by that length, and only the SYMTAB block (the IR symbol table, a blob) and
// the STRTAB block after it (the names, a blob) are decoded. The symbol table says what
// a linker needs: each symbol's name and flags, and a COMMON symbol's size and alignment
// in its "uncommon" record.
#include <algorithm>
#include <string>

#include "formats/bitcode.h"
#include "objreader/bitcode/bitcode_reader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr char kUnreadableBitcode[] = "Error - unreadable LLVM bitcode in %s: %s\n";
constexpr char kUnreadableSymbolTable[] =
    "Error - unreadable LLVM bitcode symbol table in %s: %s\n";
constexpr char kNoSymbolTable[] =
    "Error - LLVM bitcode file %s has no symbol table; its symbols are not read\n";
constexpr char kUnknownVersion[] =
    "Error - LLVM bitcode file %s has a symbol table of version %u, which is not read "
    "(versions 3 and 4 are)\n";

// The longest top-level block header decoded: an abbreviation id, a block id and a width
// as LLVM writes them, the alignment and the length word fit in 8 bytes; a hostile one
// whose numbers run on past 16 is damage.
constexpr size_t kBlockHeaderBytes = 16;
// Darwin's ar may leave up to 8 bytes of zeros after the last block.
constexpr uint64_t kTrailingPadding = 8;

const char* damage_text(BitstreamDamage damage) {
  switch (damage) {
    case BitstreamDamage::kNone:
      break;
    case BitstreamDamage::kPastEnd:
      return "a block, field or blob runs past the end of the bitcode";
    case BitstreamDamage::kBlockWithoutEnd:
      return "a block ends without its END_BLOCK";
    case BitstreamDamage::kAbbrevTooWide:
      return "a field is wider than 64 bits";
    case BitstreamDamage::kBadAbbreviation:
      return "an abbreviation that no record can be read with";
    case BitstreamDamage::kUndefinedAbbrev:
      return "a record uses an abbreviation that is not defined";
    case BitstreamDamage::kTooManyAbbrevs:
      return "a block defines more abbreviations than are read";
    case BitstreamDamage::kValueTooWide:
      return "a value is wider than 64 bits";
  }
  return "damaged";
}

Outcome report_unreadable(ObjectReader& reader, std::string_view path, const char* why) {
  report_error(reader.diagnostics, strprintf(kUnreadableBitcode, std::string(path).c_str(), why));
  return Outcome::kFailed;
}

Outcome report_unreadable_table(ObjectReader& reader, std::string_view path, const char* why) {
  report_error(reader.diagnostics,
               strprintf(kUnreadableSymbolTable, std::string(path).c_str(), why));
  return Outcome::kFailed;
}

// The next buffer of a pool whose buffers are kept from one object to the next.
std::vector<uint8_t>& next_buffer(std::vector<std::vector<uint8_t>>& pool, size_t& used) {
  if (used == pool.size()) pool.emplace_back();
  return pool[used++];
}

// A {offset, size} pair of the symbol table's header or records.
struct Stretch {
  uint32_t offset = 0;
  uint32_t size = 0;
};

Stretch load_stretch(const uint8_t* p) {
  return Stretch{load_u32(p + bitcode::kStrOffset), load_u32(p + bitcode::kStrSize)};
}

// Whether `count` records of `record_size` bytes at `range.offset` lie inside `bytes` bytes.
bool range_inside(Stretch range, size_t record_size, uint64_t bytes) {
  return range.offset <= bytes && uint64_t{range.size} * record_size <= bytes - range.offset;
}

bool is_common_symbol(uint32_t flags) {
  return (flags & bitcode::FB_common) != 0;
}

// A definition the object makes visible to others: not a reference, not an intrinsic or
// other name that only LLVM knows, not local to the object.
bool is_external_definition(uint32_t flags) {
  return (flags & (bitcode::FB_undefined | bitcode::FB_format_specific)) == 0 &&
         (flags & bitcode::FB_global) != 0;
}

bool is_procedure(uint32_t flags) {
  return is_external_definition(flags) && (flags & bitcode::FB_executable) != 0;
}

// Initialised data: a weak definition (an inline variable, a template's) or a thread's own
// data is no block's initialisation.
bool is_initialized_data(uint32_t flags) {
  return is_external_definition(flags) &&
         (flags & (bitcode::FB_executable | bitcode::FB_weak | bitcode::FB_tls)) == 0;
}

}  // namespace

Outcome scan_symbol_table(ObjectReader& reader, std::span<const uint8_t> table,
                          std::span<const uint8_t> strings, std::string_view path) {
  if (table.size() < 4) return report_unreadable_table(reader, path, "its header is cut short");
  const uint32_t version = load_u32(table.data() + bitcode::kHeaderVersion);
  if (version != bitcode::kVersionCommonSize32 && version != bitcode::kVersionCommonSize64) {
    report_error(reader.diagnostics,
                 strprintf(kUnknownVersion, std::string(path).c_str(), version));
    return Outcome::kFailed;
  }
  if (table.size() < bitcode::kHeaderSize) {
    return report_unreadable_table(reader, path, "its header is cut short");
  }
  const bool wide = version == bitcode::kVersionCommonSize64;
  const size_t uncommon_size = wide ? bitcode::kUncommonSize4 : bitcode::kUncommonSize3;
  const Stretch symbols = load_stretch(table.data() + bitcode::kHeaderSymbols);
  const Stretch uncommons = load_stretch(table.data() + bitcode::kHeaderUncommons);
  if (!range_inside(symbols, bitcode::kSymbolSize, table.size()) ||
      !range_inside(uncommons, uncommon_size, table.size())) {
    return report_unreadable_table(reader, path, "a range of its records lies outside it");
  }
  // Each symbol with an uncommon record takes the next one, in symbol order.
  uint32_t next_uncommon = 0;
  for (uint32_t i = 0; i < symbols.size; ++i) {
    const uint8_t* symbol =
        table.data() + symbols.offset + static_cast<size_t>(i) * bitcode::kSymbolSize;
    const uint32_t flags = load_u32(symbol + bitcode::kSymbolFlags);
    const uint8_t* uncommon = nullptr;
    if ((flags & bitcode::FB_has_uncommon) != 0) {
      if (next_uncommon >= uncommons.size) {
        return report_unreadable_table(reader, path,
                                       "a symbol's uncommon record lies outside their range");
      }
      uncommon =
          table.data() + uncommons.offset + static_cast<size_t>(next_uncommon) * uncommon_size;
      ++next_uncommon;
    }
    Declaration declaration;
    if (is_common_symbol(flags)) {
      if (uncommon == nullptr) {
        return report_unreadable_table(reader, path, "a COMMON symbol has no size");
      }
      declaration.kind = Declaration::kCommon;
      declaration.size = wide ? load_u64(uncommon + bitcode::kUncommonCommonSize, false)
                              : load_u32(uncommon + bitcode::kUncommonCommonSize);
      declaration.alignment = load_u32(
          uncommon + (wide ? bitcode::kUncommonCommonAlign4 : bitcode::kUncommonCommonAlign3));
    } else if (is_procedure(flags)) {
      declaration.kind = Declaration::kProcedure;
    } else if (is_initialized_data(flags)) {
      declaration.kind = Declaration::kInitializedData;
    } else {
      continue;
    }
    const Stretch name = load_stretch(symbol + bitcode::kSymbolName);
    if (!range_inside(name, 1, strings.size())) {
      return report_unreadable_table(reader, path, "a name lies outside the string table");
    }
    declaration.name =
        std::string_view(reinterpret_cast<const char*>(strings.data()) + name.offset, name.size);
    if (!declare(reader, declaration)) return Outcome::kNoMemory;
  }
  return Outcome::kOk;
}

Outcome read_bitcode_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                            uint64_t base, uint64_t extent) {
  begin_object(reader, path);
  BitcodeTables& tables = bitcode_tables(reader);
  tables.symbol_blocks_used = 0;
  tables.string_blocks_used = 0;
  tables.symbol_blobs.clear();

  // The bitcode itself: the whole object, or the stretch that its wrapper names.
  uint64_t start = 0;
  uint64_t end = extent;
  uint8_t head[bitcode::kWrapperHeaderSize] = {};
  const size_t held = peek_bytes(stream, base, head, std::min<uint64_t>(sizeof head, extent));
  if (held >= 4 && load_u32(head) == bitcode::kWrapperMagic) {
    if (held < bitcode::kWrapperHeaderSize) {
      return report_unreadable(reader, path, "the wrapper header is cut short");
    }
    const uint32_t offset = load_u32(head + bitcode::kWrapperOffset);
    const uint32_t size = load_u32(head + bitcode::kWrapperSize);
    if (offset > extent || size > extent - offset) {
      return report_unreadable(reader, path, "the wrapper's bitcode lies outside the file");
    }
    start = offset;
    end = uint64_t{offset} + size;
  }
  uint8_t magic[bitcode::kRawMagicSize] = {};
  if (end - start < sizeof magic ||
      peek_bytes(stream, base + start, magic, sizeof magic) != sizeof magic ||
      !std::equal(magic, magic + sizeof magic, bitcode::kRawMagic)) {
    return report_unreadable(reader, path, "the bitcode magic is missing");
  }

  bool any_symbol_table = false;
  bool declared_all = true;
  uint64_t position = start + sizeof magic;
  while (end - position >= 4) {
    uint8_t header[kBlockHeaderBytes] = {};
    const size_t got = peek_bytes(stream, base + position, header,
                                  std::min<uint64_t>(sizeof header, end - position));
    if (end - position <= kTrailingPadding &&
        std::all_of(header, header + got, [](uint8_t b) { return b == 0; })) {
      break;
    }
    Bitstream bits = make_bitstream(std::span<const uint8_t>(header, got));
    if (bits.fixed(bitcode::kTopLevelAbbrevWidth) != bitcode::ENTER_SUBBLOCK) {
      return report_unreadable(reader, path, "an item other than a block at the top level");
    }
    const BlockHeader block = read_block_header(bits, end - position);
    if (bits.failed()) return report_unreadable(reader, path, damage_text(bits.damage));
    const uint64_t body = position + block.body;
    position = body + block.body_size;
    const bool symbols = block.block_id == bitcode::SYMTAB_BLOCK_ID;
    if (!symbols && block.block_id != bitcode::STRTAB_BLOCK_ID) continue;

    std::vector<uint8_t>& bytes =
        symbols ? next_buffer(tables.symbol_blocks, tables.symbol_blocks_used)
                : next_buffer(tables.string_blocks, tables.string_blocks_used);
    if (!table_was_read(reader,
                        read_table_at(reader, stream, base, body, block.body_size, bytes))) {
      return Outcome::kFailed;
    }
    Bitstream contents = make_bitstream(bytes);
    const BlockHeader whole{block.block_id, block.abbrev_width, 0, bytes.size()};
    bool found = false;
    std::pair<uint64_t, uint64_t> blob;
    read_block_records(contents, whole, tables.abbreviations, [&](const RecordFields& record) {
      if (found || !record.has_blob || record.code != bitcode::SYMTAB_BLOB) return;
      found = true;
      blob = {record.blob_offset, record.blob_size};
    });
    if (contents.failed()) return report_unreadable(reader, path, damage_text(contents.damage));
    if (!found) {
      return report_unreadable(reader, path,
                               symbols ? "a symbol table block holds no table"
                                       : "a string table block holds no strings");
    }
    if (symbols) {
      any_symbol_table = true;
      tables.symbol_blobs.push_back(blob);
      continue;
    }
    // A string table serves the symbol tables before it.
    const std::span<const uint8_t> strings(bytes.data() + blob.first, blob.second);
    const size_t waiting = tables.symbol_blobs.size();
    for (size_t i = 0; i < waiting; ++i) {
      const std::vector<uint8_t>& table =
          tables.symbol_blocks[tables.symbol_blocks_used - waiting + i];
      const auto [offset, size] = tables.symbol_blobs[i];
      switch (scan_symbol_table(reader, std::span<const uint8_t>(table.data() + offset, size),
                                strings, path)) {
        case Outcome::kOk:
          break;
        case Outcome::kFailed:
          return Outcome::kFailed;
        case Outcome::kNoMemory:
          declared_all = false;
          break;
      }
    }
    tables.symbol_blobs.clear();
  }
  if (!any_symbol_table) {
    report_error(reader.diagnostics, strprintf(kNoSymbolTable, std::string(path).c_str()));
    return Outcome::kFailed;
  }
  if (!tables.symbol_blobs.empty()) {
    return report_unreadable(reader, path, "a symbol table has no string table after it");
  }
  if (!declared_all) {
    report_out_of_memory(reader.diagnostics, path);
    return Outcome::kFailed;
  }
  return Outcome::kOk;
}

}  // namespace drelk
