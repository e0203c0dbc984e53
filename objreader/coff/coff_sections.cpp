// Section layout checks: no two of the stretches of the file that sections own (raw
// data, relocations, line numbers) may share a byte.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/messages.h"
#include "objreader/stretch_index.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

enum StretchKind { kRawData = 0, kRelocations = 1, kLineNumbers = 2 };

// Up to this many sections, the exhaustive walk over all pairs is the cheaper one.
constexpr uint32_t kFewSections = 4;

struct Stretch {
  uint32_t start = 0;
  uint32_t length = 0;
};

Stretch section_stretch(const CoffTables& tables, uint32_t section, int kind) {
  const uint8_t* header = tables.section_table.data() + section * coff::kSectionHeaderSize;
  switch (kind) {
    case kRawData:
      return {load_u32(header + coff::kSectionPointerToRawData),
              load_u32(header + coff::kSectionSizeOfRawData)};
    case kRelocations:
      return {load_u32(header + coff::kSectionPointerToRelocations),
              load_u16(header + coff::kSectionNumberOfRelocations) * coff::kRelocationEntrySize};
    default:
      return {load_u32(header + coff::kSectionPointerToLinenumbers),
              load_u16(header + coff::kSectionNumberOfLinenumbers) * coff::kLineNumberEntrySize};
  }
}

bool takes_part(const Stretch& s) {
  return s.start != 0 && s.length != 0;
}

// The last byte of a stretch, wrapping at the top of the 32-bit range as offsets do.
uint32_t stretch_end(const Stretch& s) {
  return s.start + s.length - 1;
}

bool wraps(const Stretch& s) {
  return stretch_end(s) < s.start;
}

struct Indexed {
  uint32_t start;
  uint32_t end;
  uint32_t section;
  int kind;
};

using CoffStretchIndex = StretchIndex<Indexed, uint32_t>;

// Calls visit for every stretch [s, e] with s <= query_end and e >= query_start: the
// stretches that share a byte with the query, when neither wraps.
template <typename Visit>
void find_meeting(const CoffStretchIndex& index, uint32_t query_start, uint32_t query_end,
                  Visit visit) {
  index.visit(
      0, index.first_starting_after(query_end),
      [&](uint32_t max_end, uint32_t) { return max_end >= query_start; }, visit);
}

// Calls visit for every stretch [s, e] with s >= query_start and e <= query_end: the only
// way a wrapping stretch meets another under the overlap rules.
template <typename Visit>
void find_within(const CoffStretchIndex& index, uint32_t query_start, uint32_t query_end,
                 Visit visit) {
  index.visit(
      index.first_starting_at(query_start), index.size(),
      [&](uint32_t, uint32_t min_end) { return min_end <= query_end; }, visit);
}

}  // namespace

int ranges_overlap(uint32_t start1, uint32_t length1, uint32_t start2, uint32_t length2) {
  if (start1 == 0 || length1 == 0 || start2 == 0 || length2 == 0) return 0;
  const uint32_t end1 = start1 + length1 - 1;
  const uint32_t end2 = start2 + length2 - 1;
  if (start2 <= start1 && start1 <= end2) return 1;
  if (start2 <= end1 && end1 <= end2) return 1;
  if (start1 <= start2 && end2 <= end1) return 1;
  return 0;
}

// The nine tests of sections i and j, given their stretches.
void check_stretch_overlaps(ObjectReader& reader, uint32_t i, const Stretch (&a)[3], uint32_t j,
                            const Stretch (&b)[3]) {
  for (int kind_i = 0; kind_i < 3; ++kind_i) {
    for (int kind_j = 0; kind_j < 3; ++kind_j) {
      if (!ranges_overlap(a[kind_i].start, a[kind_i].length, b[kind_j].start, b[kind_j].length)) {
        continue;
      }
      if (!may_list_overlap(reader)) return;
      report_overlap(reader, message::kOverlapMessages[kind_i][kind_j], i, j);
    }
  }
}

void section_stretches(const CoffTables& tables, uint32_t section, Stretch (&stretches)[3]) {
  for (int kind = 0; kind < 3; ++kind) stretches[kind] = section_stretch(tables, section, kind);
}

void check_section_overlaps(ObjectReader& reader, uint32_t i, uint32_t j) {
  Stretch a[3];
  Stretch b[3];
  section_stretches(coff_tables(reader), i, a);
  section_stretches(coff_tables(reader), j, b);
  check_stretch_overlaps(reader, i, a, j, b);
}

namespace {

// A compiler's object holds a few sections: every pair is tested directly, without the
// memory of the index.
void check_few_section_overlaps(ObjectReader& reader, uint32_t sections) {
  // Only sections with a stretch that takes part can overlap another.
  Stretch stretches[kFewSections + 1][3];
  uint32_t taking_part[kFewSections];
  uint32_t count = 0;
  for (uint32_t i = 1; i <= sections; ++i) {
    section_stretches(coff_tables(reader), i, stretches[i]);
    if (takes_part(stretches[i][0]) || takes_part(stretches[i][1]) || takes_part(stretches[i][2])) {
      taking_part[count++] = i;
    }
  }
  for (uint32_t a = 0; a + 1 < count; ++a) {
    for (uint32_t b = a + 1; b < count; ++b) {
      const uint32_t i = taking_part[a];
      const uint32_t j = taking_part[b];
      check_stretch_overlaps(reader, i, stretches[i], j, stretches[j]);
    }
  }
}

}  // namespace

void check_all_section_overlaps(ObjectReader& reader) {
  const uint32_t sections = coff_tables(reader).number_of_sections;
  if (sections < 2) return;
  if (sections <= kFewSections) {
    check_few_section_overlaps(reader, sections);
    return;
  }
  // For stretches that do not wrap, the three overlap rules say exactly that the two
  // stretches share a byte, which the index answers. With a wrapping stretch, the first two
  // rules hold only for a plain stretch holding its start or end, and the third only for a
  // wrapping stretch inside its bounds; the second index answers that.
  std::vector<Indexed> plain;
  std::vector<Indexed> wrapping;
  for (uint32_t section = 1; section <= sections; ++section) {
    for (int kind = 0; kind < 3; ++kind) {
      const Stretch s = section_stretch(coff_tables(reader), section, kind);
      if (!takes_part(s)) continue;
      (wraps(s) ? wrapping : plain).push_back(Indexed{s.start, stretch_end(s), section, kind});
    }
  }
  if (plain.size() + wrapping.size() < 2) return;
  const CoffStretchIndex index(plain);
  const CoffStretchIndex wrapping_index(wrapping);

  // Sections with a stretch of their own are visited in order; for each, the sections
  // after it that share a byte with it are tested pair by pair, in the order an
  // exhaustive walk over all pairs would report them.
  std::vector<uint32_t> partners;
  std::vector<Indexed> by_section = plain;
  by_section.insert(by_section.end(), wrapping.begin(), wrapping.end());
  std::stable_sort(by_section.begin(), by_section.end(),
                   [](const Indexed& a, const Indexed& b) { return a.section < b.section; });
  for (size_t at = 0; at < by_section.size();) {
    const uint32_t i = by_section[at].section;
    partners.clear();
    for (; at < by_section.size() && by_section[at].section == i; ++at) {
      const Indexed& mine = by_section[at];
      const auto later = [&](const Indexed& other) {
        if (other.section > i) partners.push_back(other.section);
      };
      if (mine.end < mine.start) {
        // A wrapping stretch meets a plain one that holds its start or its end.
        find_meeting(index, mine.start, mine.start, later);
        find_meeting(index, mine.end, mine.end, later);
      } else {
        find_meeting(index, mine.start, mine.end, later);
      }
      // Any stretch meets a wrapping one that starts at or after its start and ends at or
      // before its end, and no other.
      find_within(wrapping_index, mine.start, mine.end, later);
    }
    std::sort(partners.begin(), partners.end());
    partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
    for (const uint32_t j : partners) {
      check_section_overlaps(reader, i, j);
      if (reader.overlaps_capped) return;
    }
  }
}

}  // namespace drelk
