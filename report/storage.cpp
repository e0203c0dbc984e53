#include "report/storage.h"

#include <algorithm>
#include <charconv>

namespace drelk {
namespace {

// The number after '*' at the end of an intrinsic type's name ("INTEGER*4"), or 0.
uint64_t sized_kind(std::string_view type, std::string_view kind) {
  if (type.size() <= kind.size() + 1 || type.substr(0, kind.size()) != kind ||
      type[kind.size()] != '*') {
    return 0;
  }
  const std::string_view digits = type.substr(kind.size() + 1);
  uint64_t size = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  return error == std::errc() && end == digits.data() + digits.size() ? size : 0;
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// An array's bounds, from its dimensions as shown: "(10)", "(-2:2,3)"; false where some
// bound is not known ("(*)") or the text is no list of bounds.
struct Bound {
  int64_t lower = 1;
  uint64_t extent = 0;
};
bool parse_bounds(std::string_view dimensions, std::vector<Bound>& bounds) {
  bounds.clear();
  if (dimensions.size() < 2 || dimensions.front() != '(' || dimensions.back() != ')') return false;
  std::string_view rest = dimensions.substr(1, dimensions.size() - 2);
  while (true) {
    const size_t comma = rest.find(',');
    const std::string_view piece = rest.substr(0, comma);
    Bound bound;
    int64_t upper = 0;
    const size_t colon = piece.find(':');
    const auto number = [](std::string_view text, int64_t& value) {
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
      return error == std::errc() && end == text.data() + text.size() && !text.empty();
    };
    if (colon == std::string_view::npos) {
      if (!number(piece, upper)) return false;
    } else if (!number(piece.substr(0, colon), bound.lower) ||
               !number(piece.substr(colon + 1), upper)) {
      return false;
    }
    if (upper < bound.lower) return false;
    bound.extent = static_cast<uint64_t>(upper) - static_cast<uint64_t>(bound.lower) + 1;
    bounds.push_back(bound);
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

bool units_agree(const StorageUnit& a, uint64_t at_a, const StorageUnit& b, uint64_t at_b) {
  if (a.any || b.any) return true;
  if (a.kind != b.kind || a.unit != b.unit) return false;
  return at_a % a.unit == at_b % b.unit;
}

// A member as the comparison sees it: the bytes it covers, how they are read.
struct Span {
  uint64_t begin = 0;
  uint64_t end = 0;
  uint64_t element = 0;
  StorageUnit unit;
  const LayoutMember* member = nullptr;
};

// The members that cover bytes and whose type is known, in offset order.
std::vector<Span> spans_of(const LayoutShape& shape) {
  std::vector<Span> spans;
  spans.reserve(shape.members.size());
  for (const LayoutMember& member : shape.members) {
    if (member.size == 0) continue;
    const uint64_t element = element_size(member);
    const StorageUnit unit = storage_unit(member.type, element);
    if (unit.any) continue;
    const uint64_t end =
        member.offset > UINT64_MAX - member.size ? UINT64_MAX : member.offset + member.size;
    spans.push_back(Span{member.offset, end, element, unit, &member});
  }
  return spans;
}

// Hostile debug information can describe thousands of members over the same bytes: the
// comparison of two layouts gives up (finding nothing) after this many member pairs.
constexpr uint64_t kMaxPairsCompared = uint64_t{1} << 24;

}  // namespace

StorageUnit storage_unit(std::string_view type, uint64_t element_size) {
  if (type.empty() || type == "?") return StorageUnit{{}, 0, true};
  if (starts_with(type, "CHARACTER")) return StorageUnit{"CHARACTER", 1, false};
  if (const uint64_t size = sized_kind(type, "INTEGER")) return StorageUnit{"INTEGER", size, false};
  if (const uint64_t size = sized_kind(type, "LOGICAL")) return StorageUnit{"INTEGER", size, false};
  if (const uint64_t size = sized_kind(type, "REAL")) return StorageUnit{"REAL", size, false};
  if (const uint64_t size = sized_kind(type, "COMPLEX")) {
    if (size % 2 == 0) return StorageUnit{"REAL", size / 2, false};
    return StorageUnit{"COMPLEX", size, false};
  }
  // A type of no known size tells nothing of its bytes.
  if (element_size == 0) return StorageUnit{{}, 0, true};
  return StorageUnit{type, element_size, false};
}

bool types_agree_at(std::string_view type_a, uint64_t element_a, uint64_t at_a,
                    std::string_view type_b, uint64_t element_b, uint64_t at_b) {
  return units_agree(storage_unit(type_a, element_a), at_a, storage_unit(type_b, element_b), at_b);
}

uint64_t element_size(const LayoutMember& member) {
  for (const std::string_view kind : {"INTEGER", "LOGICAL", "REAL", "COMPLEX", "CHARACTER"}) {
    if (const uint64_t size = sized_kind(member.type, kind)) return size;
  }
  std::vector<Bound> bounds;
  if (!parse_bounds(member.dimensions, bounds)) return member.size;
  uint64_t elements = 1;
  for (const Bound& bound : bounds) {
    if (bound.extent != 0 && elements > UINT64_MAX / bound.extent) return member.size;
    elements *= bound.extent;
  }
  return elements != 0 && member.size % elements == 0 ? member.size / elements : member.size;
}

namespace {

// The places where what covers a byte can change: where a member begins or ends.
std::vector<uint64_t> member_cuts(const std::vector<Span>& spans_a,
                                  const std::vector<Span>& spans_b) {
  std::vector<uint64_t> cuts;
  cuts.reserve(2 * (spans_a.size() + spans_b.size()));
  for (const std::vector<Span>* spans : {&spans_a, &spans_b}) {
    for (const Span& span : *spans) {
      cuts.push_back(span.begin);
      cuts.push_back(span.end);
    }
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  return cuts;
}

// The members of `spans` that cover byte `at`, as the cuts go up one by one.
void advance_to(const std::vector<Span>& spans, size_t& next, std::vector<const Span*>& active,
                uint64_t at) {
  std::erase_if(active, [at](const Span* span) { return span->end <= at; });
  while (next < spans.size() && spans[next].begin <= at) {
    if (spans[next].end > at) active.push_back(&spans[next]);
    ++next;
  }
}

enum class Agreement : uint8_t { kAgree, kDiffer, kGaveUp };

// Whether some member covering byte `at` in one declaration reads it as some member in the
// other does; kGaveUp once `pairs` passes the cap.
Agreement covering_members_agree(const std::vector<const Span*>& active_a,
                                 const std::vector<const Span*>& active_b, uint64_t at,
                                 uint64_t& pairs) {
  for (const Span* x : active_a) {
    for (const Span* y : active_b) {
      if (++pairs > kMaxPairsCompared) return Agreement::kGaveUp;
      if (units_agree(x->unit, (at - x->begin) % x->element, y->unit,
                      (at - y->begin) % y->element)) {
        return Agreement::kAgree;
      }
    }
  }
  return Agreement::kDiffer;
}

}  // namespace

StorageConflict first_conflict(const LayoutShape& a, const LayoutShape& b, uint64_t stop) {
  StorageConflict conflict;
  if (&a == &b) return conflict;
  const std::vector<Span> spans_a = spans_of(a);
  const std::vector<Span> spans_b = spans_of(b);
  if (spans_a.empty() || spans_b.empty()) return conflict;
  const std::vector<uint64_t> cuts = member_cuts(spans_a, spans_b);

  std::vector<const Span*> active_a;
  std::vector<const Span*> active_b;
  size_t next_a = 0;
  size_t next_b = 0;
  uint64_t pairs = 0;
  for (size_t c = 0; c + 1 < cuts.size(); ++c) {
    const uint64_t at = cuts[c];
    if (at >= stop) break;
    advance_to(spans_a, next_a, active_a, at);
    advance_to(spans_b, next_b, active_b, at);
    if (active_a.empty() || active_b.empty()) continue;
    // Within [at, next cut) the same members cover every byte, and whether two of them
    // read a byte alike is the same for each byte: the first byte decides.
    const Agreement agreement = covering_members_agree(active_a, active_b, at, pairs);
    if (agreement == Agreement::kGaveUp) return conflict;
    if (agreement == Agreement::kAgree) continue;
    const Span& x = *active_a.front();
    const Span& y = *active_b.front();
    const auto element_end = [at](const Span& span) {
      const uint64_t begin = at - (at - span.begin) % span.element;
      return std::min(span.end, begin + span.element);
    };
    conflict.found = true;
    conflict.first = at;
    conflict.last = std::min({element_end(x), element_end(y), cuts[c + 1]}) - 1;
    conflict.member_a = x.member;
    conflict.member_b = y.member;
    return conflict;
  }
  return conflict;
}

std::string element_name(const LayoutMember& member, uint64_t offset) {
  std::string name(member.name);
  std::vector<Bound> bounds;
  if (member.dimensions.empty() || !parse_bounds(member.dimensions, bounds)) {
    return name + std::string(member.dimensions.empty() ? "" : "(?)");
  }
  const uint64_t element = element_size(member);
  uint64_t index = element == 0 ? 0 : (offset - member.offset) / element;
  name += '(';
  for (size_t d = 0; d < bounds.size(); ++d) {
    if (d > 0) name += ',';
    const uint64_t step = bounds[d].extent;
    const uint64_t place = step == 0 ? 0 : index % step;
    index = step == 0 ? 0 : index / step;
    name += std::to_string(bounds[d].lower + static_cast<int64_t>(place));
  }
  return name + ")";
}

}  // namespace drelk
