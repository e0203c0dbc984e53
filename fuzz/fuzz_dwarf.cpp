// libFuzzer target over the DWARF reader alone: the debug sections of one object, as a
// container would hand them over, read for their COMMON block layouts. The input is a byte
// of flags (bit 0: big-endian), then each section in the order of DebugSection as a
// little-endian u32 length and that many bytes (what the input lacks is empty). Fields that
// a relocation may apply to are read as they stand, or, with bit 1, moved by their offset so
// that the relocation callback's values are fuzzed too. One storage is kept across inputs,
// as a run keeps it across objects. The seeds (corpus/dwarf) are the debug sections of real
// gfortran -g objects, made by fuzz/dwarf_seeds.sh.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "dwarf/dwarf.h"
#include "formats/bytes.h"

namespace {

uint64_t moved_by_offset(void*, drelk::DebugSection, uint64_t offset, uint64_t stored) {
  return stored + offset;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace drelk;
  static DwarfStorageHandle storage;
  if (size == 0) return 0;
  DebugInput input;
  input.big_endian = (data[0] & 1) != 0;
  if (data[0] & 2) input.relocate = moved_by_offset;
  size_t at = 1;
  for (size_t s = 0; s < kDebugSectionCount && size - at >= 4; ++s) {
    const uint32_t length = load_u32(data + at);
    at += 4;
    const size_t taken = length < size - at ? length : size - at;
    input.sections[s] = std::span<const uint8_t>(data + at, taken);
    at += taken;
  }
  std::vector<CommonLayout> layouts;
  std::vector<MemberLayout> members;
  std::deque<std::string> texts;
  LayoutOutput output{layouts, members, texts};
  DwarfDamage damage;
  read_debug_layouts(input, storage, output, damage);
  return 0;
}
