#include "report/findings.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace drelk {
namespace {

// Layouts compare by their members' offsets, sizes and types; names and the shapes of
// arrays (X(10) against X(2,5)) make no difference. Each shape is given the number of its
// signature once a run.
struct Signatures {
  std::unordered_map<const LayoutShape*, uint32_t> of_shape;
  std::unordered_map<std::string, uint32_t> numbers;

  uint32_t of(const LayoutShape* shape) {
    const auto known = of_shape.find(shape);
    if (known != of_shape.end()) return known->second;
    std::string key;
    for (const LayoutMember& member : shape->members) {
      key += std::to_string(member.offset);
      key += ' ';
      key += std::to_string(member.size);
      key += ' ';
      key += member.type;
      key += '\n';
    }
    const auto [at, added] = numbers.emplace(std::move(key), static_cast<uint32_t>(numbers.size()));
    of_shape.emplace(shape, at->second);
    return at->second;
  }
};

// What a group has at `offset`, for the search for the parting offset: a member starting
// there (its size and type), nothing, or the end of the block.
struct Item {
  int kind = 0;  // 0 nothing, 1 a member, 2 the end of the block
  uint64_t size = 0;
  std::string_view type;
  bool operator==(const Item& other) const {
    return kind == other.kind && size == other.size && type == other.type;
  }
};

Item item_at(const LayoutGroup& group, uint64_t offset) {
  const std::vector<LayoutMember>& members = group.example->shape->members;
  const auto at = std::lower_bound(
      members.begin(), members.end(), offset,
      [](const LayoutMember& member, uint64_t value) { return member.offset < value; });
  if (at != members.end() && at->offset == offset) return Item{1, at->size, at->type};
  if (offset == group.size) return Item{2, 0, {}};
  return Item{};
}

// The first offset at which the groups do not all have the same thing.
void find_parting(LayoutFindings& layouts) {
  std::vector<uint64_t> offsets;
  for (const LayoutGroup& group : layouts.groups) {
    for (const LayoutMember& member : group.example->shape->members) {
      offsets.push_back(member.offset);
    }
    offsets.push_back(group.size);
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  for (const uint64_t offset : offsets) {
    const Item first = item_at(layouts.groups.front(), offset);
    for (size_t g = 1; g < layouts.groups.size(); ++g) {
      if (!(item_at(layouts.groups[g], offset) == first)) {
        layouts.parted = true;
        layouts.parting_offset = offset;
        return;
      }
    }
  }
}

// Groups the declarations of a block by layout and block size.
LayoutFindings group_layouts(const CommonBlock& block, Signatures& signatures) {
  LayoutFindings found;
  std::vector<uint32_t> group_signatures;
  for (const ReferenceLayouts& reference : block_layouts(block)) {
    if (reference.count == 0) {
      if (found.without_debug++ == 0) found.without_example = reference.reference->object;
      continue;
    }
    for (size_t i = 0; i < reference.count; ++i) {
      const DeclaredLayout& layout = reference.layouts[i];
      const uint32_t signature = signatures.of(layout.shape);
      const uint64_t size = reference.reference->size;
      size_t g = 0;
      while (g < found.groups.size() &&
             (group_signatures[g] != signature || found.groups[g].size != size)) {
        ++g;
      }
      if (g == found.groups.size()) {
        found.groups.push_back(LayoutGroup{&layout, reference.reference->object, size, 0});
        group_signatures.push_back(signature);
      }
      ++found.groups[g].count;
    }
  }
  if (found.groups.size() > 1) find_parting(found);
  return found;
}

}  // namespace

PartingMember member_at(const LayoutGroup& group, uint64_t offset) {
  const std::vector<LayoutMember>& members = group.example->shape->members;
  const LayoutMember* covering = nullptr;
  for (const LayoutMember& member : members) {
    if (member.offset == offset) return PartingMember{&member, false};
    if (member.offset < offset && offset - member.offset < member.size && covering == nullptr) {
      covering = &member;
    }
  }
  return PartingMember{covering, covering == nullptr && offset >= group.size};
}

Findings find_problems(const Registry& registry, uint64_t error_count, bool layouts) {
  Findings findings;
  findings.incomplete = error_count > 0;
  findings.layouts = layouts;
  findings.objects = registry.entries;
  findings.procedures = procedures_named_like_blocks(registry);
  const std::vector<const CommonBlock*> blocks = sorted_blocks(registry);
  findings.blocks.reserve(blocks.size());
  Signatures signatures;
  // Blocks and procedures are both in name order: one merge finds every clash.
  size_t cursor = 0;
  for (const CommonBlock* block : blocks) {
    // A name that no object declares with a non-zero size is only referred to (a
    // procedure passed as an argument, a variable defined elsewhere): not a COMMON block.
    if (!block->declared) continue;
    BlockFindings found;
    found.block = block;
    found.size_mismatch = !block->consistent;
    if (layouts && (found.size_mismatch || has_layouts(*block))) {
      found.layouts = group_layouts(*block, signatures);
      found.layout_mismatch = !found.size_mismatch && found.layouts.groups.size() > 1;
      if (!found.size_mismatch && !found.layout_mismatch) found.layouts = LayoutFindings();
    }
    while (cursor < findings.procedures.size() && block->name > findings.procedures[cursor].name) {
      ++cursor;
    }
    found.first_clash = cursor;
    while (cursor < findings.procedures.size() && block->name == findings.procedures[cursor].name) {
      ++cursor;
    }
    found.clash_count = cursor - found.first_clash;
    if (has_errors(found)) findings.errors_seen = true;
    findings.blocks.push_back(found);
  }
  return findings;
}

}  // namespace drelk
