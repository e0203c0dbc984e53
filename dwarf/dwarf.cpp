// The DWARF reader's entry: units of .debug_info (versions 2 to 5, 32-bit DWARF) with their
// abbreviation tables, the strings of .debug_str, .debug_line_str and .debug_str_offsets,
// the addresses of .debug_addr, and the file names of the line table header, as far as the
// COMMON block layouts need them. Every read is bounded by its section, and every length,
// offset, form and count is checked before it is used: what fails stops the reading of the
// object's debug information, and the damage says where and why.
#include "dwarf/dwarf.h"

#include <algorithm>
#include <new>

#include "dwarf/units.h"
#include "dwarf/walk.h"

namespace drelk {
namespace {

constexpr const char* kSectionNames[kDebugSectionCount] = {
    ".debug_info", ".debug_abbrev",      ".debug_str",  ".debug_line_str",
    ".debug_line", ".debug_str_offsets", ".debug_addr",
};

// Reads the units with the storage kept from the previous object.
bool read_with_storage(const DebugInput& input, DwarfStorage& storage, LayoutOutput& output,
                       DwarfDamage& damage) {
  // An abbreviation table read from the same bytes is the same table: objects of one
  // compiler share a few.
  const std::span<const uint8_t> abbreviations = input.sections[kDebugAbbrev];
  if (!std::equal(abbreviations.begin(), abbreviations.end(), storage.abbreviation_bytes.begin(),
                  storage.abbreviation_bytes.end())) {
    storage.abbreviations.clear();
    storage.abbreviation_records = 0;
    storage.abbreviation_bytes.assign(abbreviations.begin(), abbreviations.end());
  }
  // Line tables are another object's.
  storage.line_files.clear();
  storage.line_records = 0;
  dwarf::Walk walk(input, output, storage);
  const bool read = dwarf::read_units(walk);
  damage = walk.damage;
  return read;
}

}  // namespace

void DwarfStorageDelete::operator()(DwarfStorage* storage) const {
  delete storage;
}

DebugSection debug_section_named(std::string_view name) {
  // Mach-O writes "__debug_info" where ELF and COFF write ".debug_info", in at most 16
  // characters: "__debug_str_offs".
  if (name == "__debug_str_offs") return kDebugStrOffsets;
  if (name.substr(0, 2) == "__") {
    name.remove_prefix(2);
  } else if (!name.empty() && name[0] == '.') {
    name.remove_prefix(1);
  } else {
    return kDebugSectionCount;
  }
  if (name.substr(0, 6) != "debug_") return kDebugSectionCount;  // most sections of an object
  for (size_t i = 0; i < kDebugSectionCount; ++i) {
    if (name == std::string_view(kSectionNames[i]).substr(1)) return static_cast<DebugSection>(i);
  }
  return kDebugSectionCount;
}

const char* debug_section_name(DebugSection section) {
  return kSectionNames[section];
}

Outcome read_debug_layouts(const DebugInput& input, DwarfStorageHandle& storage,
                           LayoutOutput& output, DwarfDamage& damage) {
  bool read = false;
  try {
    if (!storage) storage.reset(new DwarfStorage());
    read = read_with_storage(input, *storage, output, damage);
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
  // The routines in the order of their files and lines: gfortran describes a file's
  // routines last first.
  std::stable_sort(output.layouts.begin(), output.layouts.end(),
                   [](const CommonLayout& a, const CommonLayout& b) {
                     return a.file != b.file ? a.file < b.file : a.line < b.line;
                   });
  return read ? Outcome::kOk : Outcome::kFailed;
}

}  // namespace drelk
