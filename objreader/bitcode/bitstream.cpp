// The bitstream cursor: fields, blocks and abbreviations, every read bounded by the bytes
// the cursor holds.
#include "objreader/bitcode/bitstream.h"

#include <algorithm>

namespace drelk {

uint64_t Bitstream::fixed(unsigned width) {
  if (failed()) return 0;
  if (width > bitcode::kMaxFieldWidth) {
    fail(BitstreamDamage::kAbbrevTooWide);
    return 0;
  }
  if (width > bits_left()) {
    fail(BitstreamDamage::kPastEnd);
    return 0;
  }
  uint64_t value = 0;
  unsigned got = 0;
  while (got < width) {
    const uint64_t byte = data[bit / 8];
    const unsigned skip = static_cast<unsigned>(bit % 8);
    const unsigned take = std::min(8 - skip, width - got);
    const uint64_t piece = (byte >> skip) & ((1u << take) - 1);
    value |= piece << got;
    got += take;
    bit += take;
  }
  return value;
}

uint64_t Bitstream::vbr(unsigned width) {
  if (width < 2 || width > bitcode::kMaxFieldWidth) {
    fail(width < 2 ? BitstreamDamage::kBadAbbreviation : BitstreamDamage::kAbbrevTooWide);
    return 0;
  }
  const uint64_t continuation = uint64_t{1} << (width - 1);
  uint64_t value = 0;
  for (unsigned shift = 0; !failed(); shift += width - 1) {
    const uint64_t chunk = fixed(width);
    const uint64_t payload = chunk & (continuation - 1);
    if (shift >= 64 && payload != 0) {
      fail(BitstreamDamage::kValueTooWide);
      return 0;
    }
    if (shift < 64) {
      if (shift > 0 && (payload >> (64 - shift)) != 0) {
        fail(BitstreamDamage::kValueTooWide);
        return 0;
      }
      value |= payload << shift;
    }
    if ((chunk & continuation) == 0) return value;
  }
  return 0;
}

void Bitstream::skip_bits(uint64_t count) {
  if (failed()) return;
  if (count > bits_left()) {
    fail(BitstreamDamage::kPastEnd);
    return;
  }
  bit += count;
}

void Bitstream::align32() {
  const uint64_t aligned = (bit + 31) / 32 * 32;
  skip_bits(aligned - bit);
}

BlockHeader read_block_header(Bitstream& bits, uint64_t limit) {
  BlockHeader block;
  block.block_id = static_cast<uint32_t>(bits.vbr(bitcode::kBlockIdWidth));
  const uint64_t width = bits.vbr(bitcode::kNewAbbrevWidthWidth);
  bits.align32();
  const uint64_t words = bits.fixed(bitcode::kBlockLengthWidth);
  if (bits.failed()) return block;
  // Abbreviation ids are 32-bit numbers.
  if (width > 32) {
    bits.fail(BitstreamDamage::kAbbrevTooWide);
    return block;
  }
  block.abbrev_width = static_cast<unsigned>(width);
  block.body = bits.bit / 8;
  block.body_size = words * 4;
  if (block.body > limit || block.body_size > limit - block.body)
    bits.fail(BitstreamDamage::kPastEnd);
  return block;
}

bool define_abbreviation(Bitstream& bits, Abbreviations& abbreviations) {
  const uint64_t count = bits.vbr(bitcode::kAbbrevOperandCountWidth);
  if (bits.failed()) return false;
  // Each operand takes at least four bits: a count beyond that is damage, not a table to hold.
  if (count > bits.bits_left() / 4 || count > kMaxAbbrevOperands - abbreviations.operands.size()) {
    bits.fail(count > bits.bits_left() / 4 ? BitstreamDamage::kPastEnd
                                           : BitstreamDamage::kTooManyAbbrevs);
    return false;
  }
  const auto first = static_cast<uint32_t>(abbreviations.operands.size());
  for (uint64_t i = 0; i < count && !bits.failed(); ++i) {
    AbbrevOperand operand;
    if (bits.fixed(1) == 1) {
      operand.value = bits.vbr(bitcode::kLiteralValueWidth);
    } else {
      operand.encoding = static_cast<uint8_t>(bits.fixed(bitcode::kEncodingWidth));
      switch (operand.encoding) {
        case bitcode::kEncodingFixed:
        case bitcode::kEncodingVbr:
          operand.value = bits.vbr(bitcode::kEncodingValueWidth);
          if (operand.value > bitcode::kMaxFieldWidth) bits.fail(BitstreamDamage::kAbbrevTooWide);
          if (operand.encoding == bitcode::kEncodingVbr && operand.value == 1) {
            bits.fail(BitstreamDamage::kBadAbbreviation);
          }
          // A field of no bits is the literal zero.
          if (operand.value == 0) operand.encoding = 0;
          break;
        case bitcode::kEncodingArray:
        case bitcode::kEncodingChar6:
        case bitcode::kEncodingBlob:
          break;
        default:
          bits.fail(BitstreamDamage::kBadAbbreviation);
          break;
      }
    }
    abbreviations.operands.push_back(operand);
  }
  if (bits.failed()) {
    abbreviations.operands.resize(first);
    return false;
  }
  // The record's code comes first and is a scalar; an array is followed by its element, an
  // encoding of a scalar, and ends the abbreviation, as a blob does.
  const AbbrevOperand* operands = abbreviations.operands.data() + first;
  bool sound = count > 0 && operands[0].encoding != bitcode::kEncodingArray &&
               operands[0].encoding != bitcode::kEncodingBlob;
  for (uint64_t i = 1; sound && i < count; ++i) {
    if (operands[i].encoding == bitcode::kEncodingBlob) {
      sound = i + 1 == count;
    } else if (operands[i].encoding == bitcode::kEncodingArray) {
      const uint8_t element = i + 2 == count ? operands[i + 1].encoding : 0;
      sound = element == bitcode::kEncodingFixed || element == bitcode::kEncodingVbr ||
              element == bitcode::kEncodingChar6;
      ++i;
    }
  }
  if (!sound) {
    abbreviations.operands.resize(first);
    bits.fail(BitstreamDamage::kBadAbbreviation);
    return false;
  }
  abbreviations.defined.push_back({first, static_cast<uint32_t>(count)});
  return true;
}

namespace {

// The value of one scalar operand.
uint64_t read_scalar(Bitstream& bits, const AbbrevOperand& operand) {
  switch (operand.encoding) {
    case 0:
      return operand.value;
    case bitcode::kEncodingFixed:
      return bits.fixed(static_cast<unsigned>(operand.value));
    case bitcode::kEncodingVbr:
      return bits.vbr(static_cast<unsigned>(operand.value));
    default:  // Char6
      return bits.fixed(bitcode::kChar6Width);
  }
}

// Skips an array of `count` elements of `element`'s encoding.
void skip_array(Bitstream& bits, const AbbrevOperand& element, uint64_t count) {
  if (element.encoding == bitcode::kEncodingVbr) {
    // Each element takes at least one chunk.
    if (count > bits.bits_left() / element.value) {
      bits.fail(BitstreamDamage::kPastEnd);
      return;
    }
    for (uint64_t i = 0; i < count && !bits.failed(); ++i) {
      bits.vbr(static_cast<unsigned>(element.value));
    }
    return;
  }
  const uint64_t width =
      element.encoding == bitcode::kEncodingChar6 ? bitcode::kChar6Width : element.value;
  if (count > bits.bits_left() / width) {
    bits.fail(BitstreamDamage::kPastEnd);
    return;
  }
  bits.skip_bits(count * width);
}

}  // namespace

bool read_abbreviated_record(Bitstream& bits, const Abbreviations& abbreviations, uint32_t id,
                             RecordFields& record) {
  const uint32_t index = id - bitcode::kFirstApplicationAbbrev;
  if (index >= abbreviations.defined.size()) {
    bits.fail(BitstreamDamage::kUndefinedAbbrev);
    return false;
  }
  const Abbreviations::Span span = abbreviations.defined[index];
  const AbbrevOperand* operands = abbreviations.operands.data() + span.first;
  record.code = read_scalar(bits, operands[0]);
  for (uint32_t i = 1; i < span.count && !bits.failed(); ++i) {
    const AbbrevOperand& operand = operands[i];
    if (operand.encoding == bitcode::kEncodingArray) {
      skip_array(bits, operands[i + 1], bits.vbr(bitcode::kArrayLengthWidth));
      ++i;
    } else if (operand.encoding == bitcode::kEncodingBlob) {
      const uint64_t size = bits.vbr(bitcode::kBlobLengthWidth);
      bits.align32();
      if (bits.failed()) break;
      if (size > bits.bits_left() / 8) {
        bits.fail(BitstreamDamage::kPastEnd);
        break;
      }
      record.has_blob = true;
      record.blob_offset = bits.bit / 8;
      record.blob_size = size;
      bits.skip_bits(size * 8);
      bits.align32();
    } else {
      read_scalar(bits, operand);
    }
  }
  return !bits.failed();
}

void skip_unabbreviated_record(Bitstream& bits) {
  bits.vbr(bitcode::kRecordCodeWidth);
  const uint64_t count = bits.vbr(bitcode::kRecordOperandCountWidth);
  // Each operand takes at least one six-bit chunk.
  if (count > bits.bits_left() / bitcode::kRecordOperandWidth) {
    bits.fail(BitstreamDamage::kPastEnd);
    return;
  }
  for (uint64_t i = 0; i < count && !bits.failed(); ++i) bits.vbr(bitcode::kRecordOperandWidth);
}

}  // namespace drelk
