// Declarations compared by storage: which types read a byte alike, and where two layouts
// first read their common bytes differently.
#include "report/storage.h"

#include <gtest/gtest.h>

namespace drelk {
namespace {

TEST(TypeEquivalence, WhichBytesAreReadAlike) {
  const struct {
    const char* type_a;
    uint64_t element_a;
    uint64_t at_a;
    const char* type_b;
    uint64_t element_b;
    uint64_t at_b;
    bool alike;
  } cases[] = {
      {"INTEGER*4", 4, 0, "INTEGER*4", 4, 0, true},
      {"INTEGER*4", 4, 0, "INTEGER*4", 4, 2, false},  // another place in the element
      {"INTEGER*4", 4, 0, "REAL*4", 4, 0, false},
      {"INTEGER*4", 4, 0, "INTEGER*8", 8, 0, false},
      {"INTEGER*2", 2, 0, "INTEGER*4", 4, 0, false},
      {"LOGICAL*4", 4, 1, "INTEGER*4", 4, 1, true},
      {"LOGICAL*1", 1, 0, "INTEGER*4", 4, 0, false},
      {"REAL*8", 8, 0, "REAL*8", 8, 4, false},
      // A complex is a pair of reals of half its size.
      {"COMPLEX*16", 16, 8, "REAL*8", 8, 0, true},
      {"COMPLEX*16", 16, 12, "REAL*8", 8, 4, true},
      {"COMPLEX*16", 16, 8, "REAL*8", 8, 4, false},
      {"COMPLEX*8", 8, 4, "REAL*4", 4, 0, true},
      {"COMPLEX*8", 8, 0, "REAL*8", 8, 0, false},
      // Characters compare byte by byte, whatever their lengths.
      {"CHARACTER*8", 8, 5, "CHARACTER*2", 2, 1, true},
      {"CHARACTER*(*)", 3, 0, "CHARACTER*1", 1, 0, true},
      {"CHARACTER*1", 1, 0, "INTEGER*1", 1, 0, false},
      // Other types agree with themselves at the same place only.
      {"TYPE(point)", 16, 4, "TYPE(point)", 16, 4, true},
      {"TYPE(point)", 16, 4, "TYPE(point)", 16, 8, false},
      {"TYPE(point)", 16, 0, "TYPE(pair)", 16, 0, false},
      {"TYPE(point)", 16, 0, "REAL*8", 8, 0, false},
      {"POINTER", 8, 0, "INTEGER*8", 8, 0, false},
      // A type the debug information does not tell agrees with everything, as padding does.
      {"?", 0, 0, "REAL*8", 8, 0, true},
      {"INTEGER*4", 4, 0, "", 0, 0, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(types_agree_at(c.type_a, c.element_a, c.at_a, c.type_b, c.element_b, c.at_b), c.alike)
        << c.type_a << " at " << c.at_a << " against " << c.type_b << " at " << c.at_b;
    EXPECT_EQ(types_agree_at(c.type_b, c.element_b, c.at_b, c.type_a, c.element_a, c.at_a), c.alike)
        << "the other way round: " << c.type_b << " against " << c.type_a;
  }
}

LayoutMember member(uint64_t offset, uint64_t size, const char* type, const char* name,
                    const char* dimensions = "") {
  return LayoutMember{offset, size, name, type, dimensions};
}

std::string conflict_of(const LayoutShape& a, const LayoutShape& b) {
  const StorageConflict found = first_conflict(a, b);
  if (!found.found) return "none";
  return std::to_string(found.first) + "-" + std::to_string(found.last) + " " +
         element_name(*found.member_a, found.first) + " " +
         element_name(*found.member_b, found.first);
}

TEST(StorageComparison, FirstConflictingBytes) {
  const LayoutShape iq{{member(0, 40, "INTEGER*4", "iq", "(10)")}};
  // NW shares the storage of IQ(2): a view of the same bytes.
  const LayoutShape equivalenced{
      {member(0, 40, "INTEGER*4", "iq", "(10)"), member(4, 4, "INTEGER*4", "nw")}};
  const LayoutShape x{{member(0, 40, "REAL*4", "x", "(10)")}};
  EXPECT_EQ(conflict_of(iq, equivalenced), "none");
  EXPECT_EQ(conflict_of(iq, x), "0-3 iq(1) x(1)");
  EXPECT_EQ(conflict_of(x, iq), "0-3 x(1) iq(1)");
  // Of several views of a byte, one that reads it alike is enough; none is a conflict.
  const LayoutShape then_real{{member(0, 4, "INTEGER*4", "k"), member(4, 4, "REAL*4", "r")}};
  EXPECT_EQ(conflict_of(equivalenced, then_real), "4-7 iq(2) r");
  const LayoutShape real_and_int{{member(0, 8, "REAL*8", "d"), member(0, 4, "INTEGER*4", "i")}};
  EXPECT_EQ(conflict_of(real_and_int, LayoutShape{{member(0, 4, "INTEGER*4", "k")}}), "none");

  // One REAL*8 against two INTEGERs: the first INTEGER's bytes.
  const LayoutShape d{{member(0, 8, "REAL*8", "d")}};
  const LayoutShape ij{{member(0, 4, "INTEGER*4", "i"), member(4, 4, "INTEGER*4", "j")}};
  EXPECT_EQ(conflict_of(d, ij), "0-3 d i");

  // Padding agrees with anything; a conflict after it is still found.
  const LayoutShape gap{{member(0, 4, "INTEGER*4", "n"), member(8, 8, "REAL*8", "w")}};
  const LayoutShape filled{{member(0, 4, "INTEGER*4", "n"), member(4, 4, "INTEGER*4", "m"),
                            member(8, 4, "INTEGER*4", "k")}};
  EXPECT_EQ(conflict_of(gap, filled), "8-11 w k");

  // An array against as many scalars of its type, and a COMPLEX array against its reals.
  const LayoutShape super{{member(0, 24, "REAL*8", "super", "(3)")}};
  const LayoutShape scalars{
      {member(0, 8, "REAL*8", "a"), member(8, 8, "REAL*8", "b"), member(16, 8, "REAL*8", "c")}};
  EXPECT_EQ(conflict_of(super, scalars), "none");
  const LayoutShape z{{member(0, 32, "COMPLEX*16", "z", "(2)")}};
  const LayoutShape reals{{member(0, 32, "REAL*8", "r", "(4)")}};
  const LayoutShape shifted{{member(4, 24, "REAL*8", "r", "(3)")}};
  EXPECT_EQ(conflict_of(z, reals), "none");
  EXPECT_EQ(conflict_of(z, shifted), "4-11 z(1) r(1)");

  // A conflict in the middle of an array names its element, in every dimension.
  const LayoutShape grid{{member(0, 60, "REAL*4", "f", "(-2:2,3)")}};
  const LayoutShape tail{{member(0, 28, "REAL*4", "g", "(7)"), member(28, 4, "INTEGER*4", "n")}};
  EXPECT_EQ(conflict_of(grid, tail), "28-31 f(0,2) n");

  // Strings of other lengths over the same bytes.
  const LayoutShape name8{{member(0, 8, "CHARACTER*8", "name")}};
  const LayoutShape names4{{member(0, 8, "CHARACTER*4", "t", "(2)")}};
  EXPECT_EQ(conflict_of(name8, names4), "none");
}

}  // namespace
}  // namespace drelk
