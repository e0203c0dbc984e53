// Type DIEs described as Fortran declares them: base types by their encoding and size,
// strings, derived types, pointers, and arrays with their bounds; typedefs and qualifiers
// are looked through.
#include "dwarf/fortran_types.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <utility>

#include "formats/bytes.h"
#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

// Limits that no compiler's output comes near, and that keep hostile input cheap.
constexpr int kMaxTypeChain = 16;      // typedefs, qualifiers, arrays of arrays
constexpr size_t kMaxDimensions = 31;  // Fortran allows 15

// Appends a decimal number: a layout's types and bounds are composed for every array.
void append_number(std::string& text, int64_t value) {
  char digits[24];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value);
  text.append(digits, end);
}

std::string sized(const char* kind, uint64_t size) {
  std::string text(kind);
  text += '*';
  append_number(text, static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX)));
  return text;
}

bool describe_type(Walk& walk, uint64_t reference, int depth, MemberType& shown);

// The offset of the type DIE that an attribute refers to; `described` is false for an
// absent or unusable reference, whose type is shown as "?". False after damage.
bool type_offset(Walk& walk, const Value& type, uint64_t& offset, bool& described) {
  described = false;
  if (is_unit_reference(type.form)) {
    offset = walk.unit.start + type.number;
    if (type.number >= walk.unit.end - walk.unit.start) {
      return fail(walk, kDebugInfo, "type reference beyond its unit");
    }
  } else if (type.form == DW_FORM_ref_addr) {
    // Another unit's entries are read with that unit's abbreviations: only this unit's
    // are described.
    offset = type.number;
    if (offset < walk.unit.start || offset >= walk.unit.end) return true;
  } else {
    return true;
  }
  described = type.present;
  return true;
}

// Appends one subrange's bounds to `dimensions`, as "10", "-2:2" or "*" where a bound is
// not a constant (then `known` is false), and gives its count of elements.
void append_subrange(const Walk& walk, const Die& die, std::string& dimensions, uint64_t& count,
                     bool& known) {
  int64_t lower = walk.unit.lower_bound_zero ? 0 : 1;
  int64_t upper = 0;
  count = 0;
  if (die[kLowerBound].present && !signed_constant(die[kLowerBound], lower)) known = false;
  const bool has_lower = die[kLowerBound].present;
  // Bounds and counts are taken modulo 2^64: hostile ones may hold no signed result.
  if (die[kCount].present && constant(die[kCount], count)) {
    upper = static_cast<int64_t>(static_cast<uint64_t>(lower) + count - 1);
  } else if (die[kUpperBound].present && signed_constant(die[kUpperBound], upper)) {
    count = upper >= lower ? static_cast<uint64_t>(upper) - static_cast<uint64_t>(lower) + 1 : 0;
  } else {
    known = false;
  }
  const int64_t natural = walk.unit.lower_bound_zero ? 0 : 1;
  if (!known) {
    dimensions += '*';
  } else if (has_lower && lower != natural) {
    append_number(dimensions, lower);
    dimensions += ':';
    append_number(dimensions, upper);
  } else {
    append_number(dimensions, static_cast<int64_t>(static_cast<uint64_t>(upper) -
                                                   static_cast<uint64_t>(natural) + 1));
  }
}

// The dimensions of an array type from its DW_TAG_subrange_type children at the cursor,
// and the number of elements; false after damage. `known` is false where a bound is not
// a constant.
bool read_dimensions(Walk& walk, Cursor& cursor, std::string& dimensions, uint64_t& elements,
                     bool& known) {
  elements = 1;
  known = true;
  size_t rank = 0;
  size_t depth = 0;  // children of the subranges, which the layouts do not need
  Die die;
  while (true) {
    if (!read_die(walk, cursor, die)) return false;
    if (die.tag == 0) {
      if (depth == 0) break;
      --depth;
      continue;
    }
    if (die.has_children) {
      if (++depth > kMaxDepth) return fail(walk, kDebugInfo, "entries nested too deeply");
    }
    if (depth != 0 || die.tag != DW_TAG_subrange_type) continue;
    if (++rank > kMaxDimensions) return fail(walk, kDebugInfo, "array of too many dimensions");
    dimensions += rank == 1 ? "(" : ",";
    uint64_t count = 0;
    append_subrange(walk, die, dimensions, count, known);
    elements = saturating_multiply(elements, count);
  }
  if (rank > 0) dimensions += ")";
  return true;
}

// The Fortran kind of a base type's encoding, or null for an encoding it has none of.
const char* base_type_kind(uint64_t encoding) {
  switch (encoding) {
    case DW_ATE_signed:
    case DW_ATE_unsigned:
      return "INTEGER";
    case DW_ATE_float:
      return "REAL";
    case DW_ATE_complex_float:
      return "COMPLEX";
    case DW_ATE_boolean:
      return "LOGICAL";
    case DW_ATE_signed_char:
    case DW_ATE_unsigned_char:
    case DW_ATE_UTF:
      return "CHARACTER";
    default:
      return nullptr;
  }
}

// A base type: its kind and size (INTEGER*4), or its name for an encoding Fortran lacks.
bool describe_base_type(Walk& walk, const Die& die, uint64_t byte_size, MemberType& shown) {
  uint64_t encoding = 0;
  constant(die[kEncoding], encoding);
  shown.size = byte_size;
  if (const char* kind = base_type_kind(encoding)) {
    shown.type = keep(walk, sized(kind, byte_size));
    return true;
  }
  std::string_view name;
  if (!string_value(walk, die[kName], name)) return false;
  if (!name.empty()) shown.type = name;
  return true;
}

// An array: its element's type, the dimensions of its subranges (before the element's own,
// for an array of arrays) and its size.
bool describe_array(Walk& walk, Cursor& cursor, const Die& die, int depth, MemberType& shown) {
  MemberType element;
  if (!referenced_type(walk, die[kType], depth + 1, element)) return false;
  std::string dimensions;
  uint64_t elements = 0;
  bool known = false;
  if (die.has_children && !read_dimensions(walk, cursor, dimensions, elements, known)) {
    return false;
  }
  dimensions += element.dimensions;
  shown.type = element.type;
  shown.dimensions = keep(walk, std::move(dimensions));
  uint64_t byte_size = 0;
  const bool sized_type = constant(die[kByteSize], byte_size);
  shown.size = sized_type ? byte_size : known ? saturating_multiply(elements, element.size) : 0;
  return true;
}

// A type of another tag, shown by its name (a derived type's as TYPE(name)).
bool describe_named_type(Walk& walk, const Die& die, uint64_t byte_size, MemberType& shown) {
  std::string_view name;
  if (!string_value(walk, die[kName], name)) return false;
  shown.size = byte_size;
  if (die.tag == DW_TAG_structure_type) {
    shown.type = keep(walk, "TYPE(" + std::string(name) + ")");
  } else if (!name.empty()) {
    shown.type = name;
  }
  return true;
}

bool describe_type(Walk& walk, uint64_t reference, int depth, MemberType& shown) {
  shown = MemberType{"?", {}, 0};
  if (depth > kMaxTypeChain) return true;
  Cursor cursor = cursor_over(walk, kDebugInfo);
  cursor.at = static_cast<size_t>(reference);
  cursor.size = walk.unit.end;
  Die die;
  if (!read_die(walk, cursor, die)) return false;
  uint64_t byte_size = 0;
  const bool sized_type = constant(die[kByteSize], byte_size);
  switch (die.tag) {
    case DW_TAG_base_type:
      return describe_base_type(walk, die, byte_size, shown);
    case DW_TAG_string_type:
      shown.size = byte_size;
      shown.type = sized_type ? keep(walk, sized("CHARACTER", byte_size))
                              : std::string_view("CHARACTER*(*)");
      return true;
    case DW_TAG_typedef:
    case DW_TAG_const_type:
    case DW_TAG_volatile_type:
      return referenced_type(walk, die[kType], depth + 1, shown);
    case DW_TAG_pointer_type:
      shown.size = sized_type ? byte_size : walk.unit.address_size;
      shown.type = "POINTER";
      return true;
    case DW_TAG_array_type:
      return describe_array(walk, cursor, die, depth, shown);
    default:
      return describe_named_type(walk, die, byte_size, shown);
  }
}

}  // namespace

bool referenced_type(Walk& walk, const Value& type, int depth, MemberType& shown) {
  uint64_t offset = 0;
  bool described = false;
  if (!type_offset(walk, type, offset, described)) return false;
  if (!described) {
    shown = MemberType{"?", {}, 0};
    return true;
  }
  if (const MemberType* cached = walk.types.find(offset)) {
    shown = *cached;
    return true;
  }
  // Beyond the longest chain a type is not described, and that says nothing of the type.
  if (depth > kMaxTypeChain) {
    shown = MemberType{"?", {}, 0};
    return true;
  }
  // Every type is described once a unit, whatever ended its description: one cut short by
  // the length of its chain stands for every later reference, or thousands of members
  // could each walk a chain at its cap again, and what lies below it. (A type that refers
  // to itself was described below this level already.)
  if (!describe_type(walk, offset, depth, shown)) return false;
  if (walk.types.find(offset) == nullptr) walk.types.insert(offset, shown);
  return true;
}

}  // namespace drelk::dwarf
