// Declarations of a block compared by the storage they describe rather than by their
// member lists: two declarations disagree only where some byte is read as different
// types by the two of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "registry/registry.h"

namespace drelk {

// How a byte of a member's element is read. Bytes read alike are those of one `kind`
// and `unit` whose places within a unit are equal; `any` is a type the debug information
// does not tell, which agrees with everything, as padding does.
struct StorageUnit {
  std::string_view kind;  // "INTEGER", "REAL", "CHARACTER", or the type itself
  uint64_t unit = 0;      // bytes: a REAL*8 of a COMPLEX*16, a byte of CHARACTER
  bool any = false;
};

// What a type's bytes are for the comparison. `element_size` is the size of one element
// of the member (the type's own size where its name does not give one: TYPE(point)).
//
// The choices, and why:
// - CHARACTER*n compares byte by byte whatever n is: a string of 8 and two of 4 hold the
//   same bytes, and Fortran code splits and joins strings across declarations freely.
// - COMPLEX*2k is a pair of REAL*k (the standard's storage association of a complex
//   with two reals); COMPLEX*16 against two REAL*8 is a view, not a difference.
// - LOGICAL*k is read as INTEGER*k: compilers hold a logical as an integer of its size
//   (gfortran 0 and 1), and legacy code stores flags through INTEGER views routinely.
// - Any other type (TYPE(name), POINTER) agrees only with itself at the same place in
//   an element of the same size.
// - INTEGER*1 and CHARACTER stay different, as do numeric types of different sizes: the
//   bytes mean different things.
StorageUnit storage_unit(std::string_view type, uint64_t element_size);

// The one test of type equivalence: whether byte `at_a` of an element of `type_a` and
// byte `at_b` of an element of `type_b` are read alike.
bool types_agree_at(std::string_view type_a, uint64_t element_a, uint64_t at_a,
                    std::string_view type_b, uint64_t element_b, uint64_t at_b);

// The size of one element of a member: the size its type names (INTEGER*4), or the
// member's size over its number of elements (TYPE(point) arrays); the member's whole size
// where neither is known.
uint64_t element_size(const LayoutMember& member);

// The first byte range where two layouts read their common bytes as different types,
// with a member of each that covers it.
struct StorageConflict {
  bool found = false;
  uint64_t first = 0;  // the conflicting bytes [first, last]
  uint64_t last = 0;
  const LayoutMember* member_a = nullptr;
  const LayoutMember* member_b = nullptr;
};

// Compares two layouts byte range by byte range; a byte that either does not cover
// (padding, or past its end) agrees with anything. Stops at `stop`: a conflict that starts
// there or later is not looked for.
StorageConflict first_conflict(const LayoutShape& a, const LayoutShape& b,
                               uint64_t stop = UINT64_MAX);

// The element of `member` that covers byte `offset` of the block, named as Fortran names
// it: "iq(2)", "f(-2,1)"; the member's name alone for a scalar, or where its bounds are
// not known.
std::string element_name(const LayoutMember& member, uint64_t offset);

}  // namespace drelk
