// A bounded cursor over LLVM's bitstream: bits LSB-first in little-endian 32-bit words,
// fixed and variable-width (VBR) fields, blocks entered and skipped by their length words,
// and the abbreviations that records of a block are written with. A read past the bytes
// held fails and stays failed (as formats/cursor.h's Cursor does); what failed is kept as a
// reason for the diagnostic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "formats/bitcode.h"

namespace drelk {

// Why a bitstream could not be read, in the words of the diagnostic.
enum class BitstreamDamage : uint8_t {
  kNone,
  kPastEnd,          // a field, block or blob runs past the bytes
  kBlockWithoutEnd,  // a block's bytes end before its END_BLOCK
  kAbbrevTooWide,    // a field width over 64 bits, or an abbreviation id over 32
  kBadAbbreviation,  // an abbreviation that no record can be read with
  kUndefinedAbbrev,  // a record written with an abbreviation not defined
  kTooManyAbbrevs,   // more abbreviation operands than a block is allowed to hold
  kValueTooWide,     // a VBR value of more than 64 bits
};

// One operand of an abbreviation: a literal value, or an encoding with its width.
struct AbbrevOperand {
  uint64_t value = 0;    // the literal, or the width of Fixed and VBR
  uint8_t encoding = 0;  // 0 for a literal, else bitcode::kEncoding*
};

// The abbreviations defined in the block being read: each a stretch of `operands`.
struct Abbreviations {
  struct Span {
    uint32_t first = 0;
    uint32_t count = 0;
  };
  std::vector<AbbrevOperand> operands;
  std::vector<Span> defined;
  void clear() {
    operands.clear();
    defined.clear();
  }
};

// Operands one block may define in all: no real block comes near, a hostile one could
// claim a million.
inline constexpr size_t kMaxAbbrevOperands = 1u << 16;

// The header of a block being entered: its id, the width of its abbreviation ids and
// where its bytes lie (after the length word, in bytes from the start of the cursor).
struct BlockHeader {
  uint32_t block_id = 0;
  unsigned abbrev_width = 0;
  uint64_t body = 0;       // byte offset of the block's first word
  uint64_t body_size = 0;  // in bytes
};

// What an abbreviated or unabbreviated record held that a reader of the symbol and string
// table blocks looks at: its code and its blob, if any.
struct RecordFields {
  uint64_t code = 0;
  bool has_blob = false;
  uint64_t blob_offset = 0;  // in bytes from the start of the cursor
  uint64_t blob_size = 0;
};

struct Bitstream {
  const uint8_t* data = nullptr;
  uint64_t size = 0;  // bytes
  uint64_t bit = 0;   // the next bit to read
  BitstreamDamage damage = BitstreamDamage::kNone;

  bool failed() const { return damage != BitstreamDamage::kNone; }
  void fail(BitstreamDamage why) {
    if (damage == BitstreamDamage::kNone) damage = why;
  }
  uint64_t bits_left() const { return size * 8 - bit; }
  // A field of `width` bits (0 to 64).
  uint64_t fixed(unsigned width);
  // A VBR field of `width`-bit chunks (2 to 64).
  uint64_t vbr(unsigned width);
  void skip_bits(uint64_t count);
  // Moves to the next 32-bit boundary.
  void align32();
};

inline Bitstream make_bitstream(std::span<const uint8_t> bytes) {
  return Bitstream{bytes.data(), bytes.size(), 0, BitstreamDamage::kNone};
}

// Reads the rest of an ENTER_SUBBLOCK whose abbreviation id has been read: block id, width,
// alignment and length word. A block whose bytes run past `limit` bytes from the cursor's
// start fails kPastEnd.
BlockHeader read_block_header(Bitstream& bits, uint64_t limit);

// Reads the items of the block whose header is `block` up to its END_BLOCK, skipping nested
// blocks by their length words (never entering them: however deep a hostile file nests its
// blocks, one level below the top is read) and unabbreviated records unread, and defining what each
// DEFINE_ABBREV says in `abbreviations`. Calls `on_record` for each abbreviated record with
// what it holds. False, with the cursor's damage, when the block cannot be read.
template <typename OnRecord>
bool read_block_records(Bitstream& bits, const BlockHeader& block, Abbreviations& abbreviations,
                        OnRecord&& on_record);

// The steps of read_block_records, each on the block's cursor.
bool define_abbreviation(Bitstream& bits, Abbreviations& abbreviations);
bool read_abbreviated_record(Bitstream& bits, const Abbreviations& abbreviations, uint32_t id,
                             RecordFields& record);
void skip_unabbreviated_record(Bitstream& bits);

template <typename OnRecord>
bool read_block_records(Bitstream& bits, const BlockHeader& block, Abbreviations& abbreviations,
                        OnRecord&& on_record) {
  abbreviations.clear();
  // The block's items are read in a cursor of its own bytes: nothing in it reaches past them.
  Bitstream inner{bits.data + block.body, block.body_size, 0, BitstreamDamage::kNone};
  while (!inner.failed()) {
    if (inner.bits_left() < block.abbrev_width) {
      inner.fail(BitstreamDamage::kBlockWithoutEnd);
      break;
    }
    const auto id = static_cast<uint32_t>(inner.fixed(block.abbrev_width));
    if (id == bitcode::END_BLOCK) {
      inner.align32();
      break;
    }
    if (id == bitcode::ENTER_SUBBLOCK) {
      const BlockHeader nested = read_block_header(inner, inner.size);
      if (!inner.failed()) inner.bit = (nested.body + nested.body_size) * 8;
    } else if (id == bitcode::DEFINE_ABBREV) {
      define_abbreviation(inner, abbreviations);
    } else if (id == bitcode::UNABBREV_RECORD) {
      skip_unabbreviated_record(inner);
    } else {
      RecordFields record;
      if (read_abbreviated_record(inner, abbreviations, id, record)) {
        if (record.has_blob) record.blob_offset += block.body;
        on_record(record);
      }
    }
  }
  if (inner.failed()) bits.fail(inner.damage);
  return !inner.failed();
}

}  // namespace drelk
