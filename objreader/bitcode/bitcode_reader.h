// The LLVM bitcode reader: the IR symbol table that LLVM writes into every bitcode file
// (flang's and clang's -flto objects), found by walking the top-level blocks of the
// bitstream by their length words. Only the SYMTAB and STRTAB blocks are read; the module
// itself is skipped unread.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "objreader/bitcode/bitstream.h"
#include "objreader/reader.h"

namespace drelk {

// The bitcode tables of the object being read, their buffers kept from one object to the
// next. The declarations' names point into the string tables until the next object.
struct BitcodeTables {
  std::vector<std::vector<uint8_t>> symbol_blocks;  // SYMTAB blocks awaiting their STRTAB
  std::vector<std::vector<uint8_t>> string_blocks;
  size_t symbol_blocks_used = 0;
  size_t string_blocks_used = 0;
  // Where each waiting SYMTAB block's blob lies in it.
  std::vector<std::pair<uint64_t, uint64_t>> symbol_blobs;
  Abbreviations abbreviations;
};

inline BitcodeTables& bitcode_tables(ObjectReader& reader) {
  return room_tables<BitcodeTables>(reader.bitcode);
}

// Reads the bitcode file (raw, or inside its wrapper) that starts at `base` in the stream
// and is `extent` bytes long into the reader's declarations; `path` names it in
// diagnostics.
Outcome read_bitcode_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                            uint64_t base, uint64_t extent);

// Adds what one IR symbol table declares to the reader's declarations: its COMMON symbols
// with their sizes and alignments, its defined functions as procedures and its other
// defined data as initialised data without a size. Names are taken from `strings`, which
// must outlive the declarations. kFailed after the diagnostic of a table it cannot read,
// or of a version it does not know.
Outcome scan_symbol_table(ObjectReader& reader, std::span<const uint8_t> table,
                          std::span<const uint8_t> strings, std::string_view path);

}  // namespace drelk
