#include "registry/registry.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>

#include "registry/registry_index.h"

namespace drelk {

using detail::kNoNode;
using detail::NameStore;
using detail::PathEntry;
using detail::PathIndex;
using detail::PathOrder;
using detail::ReferenceList;
using detail::ReferenceNode;

namespace {

// Name chunks start small (most runs hold few names) and double up to the largest size.
constexpr size_t kFirstNameChunkSize = 1024;
constexpr size_t kNameChunkSize = 64 * 1024;

// Links node `index` into the list before node `before`, or at the end.
void link_before(ReferenceList& block, uint32_t index, uint32_t before) {
  ReferenceNode& node = block.nodes[index];
  if (before == kNoNode) {
    node.previous = block.tail;
    node.next = kNoNode;
    if (block.tail != kNoNode) {
      block.nodes[block.tail].next = index;
    } else {
      block.head = index;
    }
    block.tail = index;
    return;
  }
  ReferenceNode& successor = block.nodes[before];
  node.next = before;
  node.previous = successor.previous;
  if (successor.previous != kNoNode) {
    block.nodes[successor.previous].next = index;
  } else {
    block.head = index;
  }
  successor.previous = index;
}

uint32_t new_node(ReferenceList& block, const ObjectEntry& object, uint64_t size) {
  ReferenceNode node;
  node.reference.object = &object;
  node.reference.size = size;
  block.nodes.push_back(node);
  return static_cast<uint32_t>(block.nodes.size() - 1);
}

using SlotMap = std::map<std::string_view, uint32_t>;

// Label spacing: paths arriving after the last one step far, a path arriving between two
// others steps a little past the lower one (the next arrivals usually follow it), and a
// window is spread out again to at least the minimum spacing.
constexpr uint64_t kAppendStep = uint64_t{1} << 32;
constexpr uint64_t kBetweenStep = uint64_t{1} << 24;
constexpr uint64_t kMinimumSpacing = uint64_t{1} << 16;
constexpr uint64_t kFirstLabel = uint64_t{1} << 63;
constexpr uint64_t kNoLabelAbove = ~uint64_t{0};

uint64_t label_of(const PathOrder& order, SlotMap::const_iterator place) {
  return order.labels[place->second];
}

// Gives `place`, just inserted, a label between its neighbours'. When they leave no room,
// the labels of a window around it, doubled until its span leaves the minimum spacing to
// each path, are spread evenly over that span: an amortised O(log n) labels per path.
void assign_label(PathOrder& order, SlotMap::iterator place) {
  const bool has_lower = place != order.slots.begin();
  const auto after = std::next(place);
  const bool has_upper = after != order.slots.end();
  const uint64_t low = has_lower ? label_of(order, std::prev(place)) : 0;
  const uint64_t high = has_upper ? label_of(order, after) : kNoLabelAbove;
  if (!has_lower && !has_upper) {
    order.labels[place->second] = kFirstLabel;
    return;
  }
  if (!has_upper && high - low > kAppendStep) {
    order.labels[place->second] = low + kAppendStep;
    return;
  }
  if (!has_lower && high > kAppendStep) {
    order.labels[place->second] = high - kAppendStep;
    return;
  }
  if (has_lower && has_upper && high - low >= 2) {
    order.labels[place->second] = low + std::min((high - low) / 2, kBetweenStep);
    return;
  }
  SlotMap::iterator first = place;
  SlotMap::iterator last = place;
  size_t count = 1;
  while (true) {
    const uint64_t floor = first == order.slots.begin() ? 0 : label_of(order, std::prev(first));
    const auto beyond = std::next(last);
    const uint64_t ceiling = beyond == order.slots.end() ? kNoLabelAbove : label_of(order, beyond);
    const bool everything = first == order.slots.begin() && beyond == order.slots.end();
    if ((ceiling - floor) / (count + 1) >= kMinimumSpacing || everything) {
      const uint64_t step = (ceiling - floor) / (count + 1);
      uint64_t label = floor;
      for (auto at = first; at != beyond; ++at) {
        label += step;
        order.labels[at->second] = label;
      }
      return;
    }
    for (size_t i = count; i > 0 && first != order.slots.begin(); --i, ++count) --first;
    for (size_t i = count; i > 0 && std::next(last) != order.slots.end(); --i, ++count) ++last;
  }
}

// The slot of the object's path, registered on first sight.
uint32_t path_slot(PathOrder& order, const ObjectEntry& object) {
  if (&object == order.last_object) return order.last_place->second;
  const auto hint = order.last_object != nullptr ? std::next(order.last_place) : order.slots.end();
  const auto slot = static_cast<uint32_t>(order.labels.size());
  order.labels.push_back(0);
  SlotMap::iterator place;
  try {
    place = order.slots.emplace_hint(hint, std::string_view(object.path), slot);
  } catch (...) {
    order.labels.pop_back();
    throw;
  }
  if (place->second == slot) {
    assign_label(order, place);
  } else {
    order.labels.pop_back();
  }
  order.last_object = &object;
  order.last_place = place;
  return place->second;
}

constexpr size_t kRunSize = 256;

// Makes room for one more element without any later allocation, growing geometrically.
template <typename T>
void reserve_one_more(std::vector<T>& v) {
  if (v.size() == v.capacity()) v.reserve(std::max<size_t>(4, 2 * v.capacity()));
}

// Inserts `entry`, whose label is `label`, after every entry of a label not above it.
// Returns the node of the first entry of a greater label, or kNoNode when there is none.
// Every allocation comes before the first change: when one fails, the index is as it was.
uint32_t insert_by_path(PathIndex& index, const PathOrder& order, PathEntry entry, uint64_t label) {
  auto& runs = index.runs;
  auto& last_slots = index.last_slots;
  auto label_above = [&](uint64_t value, const PathEntry& e) {
    return value < order.labels[e.slot];
  };
  if (runs.empty() || order.labels[last_slots.back()] <= label) {
    if (runs.empty() || runs.back().size() >= kRunSize) {
      std::vector<PathEntry> fresh(1, entry);
      reserve_one_more(runs);
      reserve_one_more(last_slots);
      runs.push_back(std::move(fresh));
      last_slots.push_back(entry.slot);
    } else {
      runs.back().push_back(entry);
      last_slots.back() = entry.slot;
    }
    return kNoNode;
  }
  auto r = static_cast<size_t>(
      std::upper_bound(last_slots.begin(), last_slots.end(), label,
                       [&](uint64_t value, uint32_t slot) { return value < order.labels[slot]; }) -
      last_slots.begin());
  if (runs[r].size() >= kRunSize) {
    // A full run is split in two halves first.
    std::vector<PathEntry> upper;
    upper.reserve(kRunSize);
    upper.assign(runs[r].begin() + kRunSize / 2, runs[r].end());
    reserve_one_more(runs);
    reserve_one_more(last_slots);
    runs[r].resize(kRunSize / 2);
    last_slots.insert(last_slots.begin() + static_cast<std::ptrdiff_t>(r), runs[r].back().slot);
    runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(r) + 1, std::move(upper));
    if (order.labels[last_slots[r]] <= label) ++r;
  }
  std::vector<PathEntry>& run = runs[r];
  const auto at = std::upper_bound(run.begin(), run.end(), label, label_above);
  const uint32_t greater = at->node;
  run.insert(at, entry);
  return greater;
}

uint32_t first_by_path(const PathIndex& index) {
  return index.runs.front().front().node;
}

// The node of the first reference of `index` whose object path is `path`, or kNoNode. The
// index holds its references in path order, so the search compares the paths themselves:
// marks are rare, and need no labels.
uint32_t find_by_path(const PathIndex& index, const ReferenceList& block, std::string_view path) {
  auto path_of = [&](const PathEntry& e) -> const std::string& {
    return block.nodes[e.node].reference.object->path;
  };
  const auto run = std::lower_bound(index.runs.begin(), index.runs.end(), path,
                                    [&](const std::vector<PathEntry>& r, std::string_view value) {
                                      return path_of(r.back()) < value;
                                    });
  if (run == index.runs.end()) return kNoNode;
  const auto at = std::lower_bound(
      run->begin(), run->end(), path,
      [&](const PathEntry& e, std::string_view value) { return path_of(e) < value; });
  return path_of(*at) == path ? at->node : kNoNode;
}

// Debug builds check the invariants of the index touched by each insertion: the runs
// sorted by label and the label order of the path's neighbours.
[[maybe_unused]] bool path_index_is_sorted(const PathIndex& index, const PathOrder& order) {
  uint64_t previous = 0;
  for (size_t r = 0; r < index.runs.size(); ++r) {
    if (index.runs[r].empty() || index.last_slots[r] != index.runs[r].back().slot) return false;
    for (const PathEntry& e : index.runs[r]) {
      if (order.labels[e.slot] < previous) return false;
      previous = order.labels[e.slot];
    }
  }
  return index.runs.size() == index.last_slots.size();
}

[[maybe_unused]] bool labels_increase_around(const PathOrder& order, uint32_t slot) {
  const auto place = order.last_place;
  if (place->second != slot) return false;
  if (place != order.slots.begin() &&
      order.labels[std::prev(place)->second] >= order.labels[slot]) {
    return false;
  }
  const auto after = std::next(place);
  return after == order.slots.end() || order.labels[slot] < order.labels[after->second];
}

}  // namespace

std::string_view NameStore::store(std::string_view name) {
  if (chunks_.empty() || name.size() > capacity_ - used_) {
    const size_t next = chunks_.empty() ? kFirstNameChunkSize
                                        : std::min(kNameChunkSize, 2 * capacity_);
    const size_t size = std::max(next, name.size());
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    used_ = 0;
    capacity_ = size;
  }
  char* place = chunks_.back().get() + used_;
  if (!name.empty()) std::memcpy(place, name.data(), name.size());
  used_ += name.size();
  return std::string_view(place, name.size());
}

CommonBlock::CommonBlock() = default;
CommonBlock::~CommonBlock() = default;
CommonBlock::CommonBlock(CommonBlock&&) noexcept = default;
CommonBlock& CommonBlock::operator=(CommonBlock&&) noexcept = default;

Registry::Registry() : index(std::make_unique<detail::RegistryIndex>()) {}
Registry::~Registry() = default;

int add_common_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                         uint64_t declared_size) {
  const uint64_t size = std::min(declared_size, kLargestHeldSize);
  try {
    detail::RegistryIndex& index = *registry.index;
    PathOrder& order = index.path_order;
    const uint32_t slot = path_slot(order, object);
    assert(labels_increase_around(order, slot));
    const uint64_t label = order.labels[slot];
    const auto found = index.blocks.find(name);
    if (found == index.blocks.end()) {
      CommonBlock block;
      block.references = std::make_unique<ReferenceList>();
      ReferenceList& list = *block.references;
      block.name = index.names.store(name);
      block.declared = size != 0;
      const uint32_t node = new_node(list, object, size);
      link_before(list, node, kNoNode);
      insert_by_path(list.by_size[size], order, PathEntry{slot, node}, label);
      registry.blocks.push_back(std::move(block));
      CommonBlock& stored = registry.blocks.back();
      try {
        index.blocks.emplace(stored.name, &stored);
      } catch (...) {
        registry.blocks.pop_back();
        throw;
      }
      return kNewBlock;
    }

    CommonBlock& block = *found->second;
    ReferenceList& list = *block.references;
    // Room for the node before any index refers to it, grown geometrically.
    if (list.nodes.size() == list.nodes.capacity()) {
      list.nodes.reserve(std::max<size_t>(4, 2 * list.nodes.capacity()));
    }
    const uint32_t node = static_cast<uint32_t>(list.nodes.size());
    const PathEntry entry{slot, node};
    uint32_t before = kNoNode;
    auto group = list.by_size.find(size);
    if (group == list.by_size.end()) {
      // A size not seen before goes in front of the first reference of the next smaller
      // size present, or at the end when every size present is larger.
      const auto smaller = list.by_size.upper_bound(size);
      if (smaller != list.by_size.end()) before = first_by_path(smaller->second);
      group = list.by_size.emplace(size, PathIndex()).first;
      try {
        insert_by_path(group->second, order, entry, label);
      } catch (...) {
        list.by_size.erase(group);
        throw;
      }
      block.consistent = false;
    } else {
      // A size already present joins its equals in path order, in front of the first one
      // whose path is greater; when none is, it goes to the very end of the list.
      before = insert_by_path(group->second, order, entry, label);
    }
    assert(path_index_is_sorted(group->second, order));
    new_node(list, object, size);
    link_before(list, node, before);
    if (size != 0) block.declared = true;
    return kAddedToBlock;
  } catch (const std::bad_alloc&) {
    return kRegistryOutOfMemory;
  }
}

int add_procedure(Registry& registry, const ObjectEntry& object, std::string_view name) {
  try {
    registry.procedures.push_back(ProcedureEntry{registry.index->names.store(name), &object});
    return 0;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

CommonBlock* find_block(Registry& registry, std::string_view name) {
  const auto found = registry.index->blocks.find(name);
  return found == registry.index->blocks.end() ? nullptr : found->second;
}

bool mark_initialized(CommonBlock& block, const std::string& path) {
  ReferenceList& list = *block.references;
  // Within one size the references stand in path order, so the first of that size with
  // this path is found by search; only when several sizes hold the path must the list
  // itself tell which comes first.
  uint32_t candidate = kNoNode;
  int candidates = 0;
  for (const auto& [size, references] : list.by_size) {
    const uint32_t found = find_by_path(references, list, path);
    if (found != kNoNode) {
      candidate = found;
      ++candidates;
    }
  }
  if (candidates > 1) {
    for (uint32_t i = list.head; i != kNoNode; i = list.nodes[i].next) {
      if (list.nodes[i].reference.object->path == path) {
        candidate = i;
        break;
      }
    }
  }
  if (candidate == kNoNode) return false;
  list.nodes[candidate].reference.initialized = 1;
  return true;
}

std::vector<const BlockReference*> block_references(const CommonBlock& block) {
  const ReferenceList& list = *block.references;
  std::vector<const BlockReference*> references;
  references.reserve(list.nodes.size());
  for (uint32_t i = list.head; i != kNoNode; i = list.nodes[i].next) {
    references.push_back(&list.nodes[i].reference);
  }
  return references;
}

std::vector<const CommonBlock*> sorted_blocks(const Registry& registry) {
  std::vector<const CommonBlock*> blocks;
  blocks.reserve(registry.blocks.size());
  for (const CommonBlock& block : registry.blocks) blocks.push_back(&block);
  std::sort(blocks.begin(), blocks.end(),
            [](const CommonBlock* a, const CommonBlock* b) { return a->name < b->name; });
  return blocks;
}

std::vector<ProcedureEntry> sorted_procedures(const Registry& registry) {
  std::vector<ProcedureEntry> procedures = registry.procedures;
  std::stable_sort(
      procedures.begin(), procedures.end(),
      [](const ProcedureEntry& a, const ProcedureEntry& b) { return a.name < b.name; });
  return procedures;
}

std::vector<ProcedureEntry> procedures_named_like_blocks(const Registry& registry) {
  const auto& blocks = registry.index->blocks;
  std::vector<ProcedureEntry> named;
  for (const ProcedureEntry& procedure : registry.procedures) {
    if (blocks.find(procedure.name) != blocks.end()) named.push_back(procedure);
  }
  std::stable_sort(named.begin(), named.end(), [](const ProcedureEntry& a, const ProcedureEntry& b) {
    return a.name < b.name;
  });
  return named;
}

namespace {

// Lists the entry just added to `owner` in Registry::entries too; on a failure it is taken
// back out of `owner`, so that no list keeps it.
void add_to_entries(Registry& registry, std::vector<std::unique_ptr<ObjectEntry>>& owner) {
  try {
    registry.entries.push_back(owner.back().get());
  } catch (const std::bad_alloc&) {
    owner.pop_back();
    throw;
  }
}

}  // namespace

ObjectEntry* record_object(Registry& registry, std::string path, std::string name) {
  try {
    auto entry = std::make_unique<ObjectEntry>();
    entry->path = std::move(path);
    entry->name = std::move(name);
    entry->ordinal = static_cast<uint32_t>(registry.entries.size());
    ObjectEntry* made = entry.get();
    registry.object_list.push_back(std::move(entry));
    add_to_entries(registry, registry.object_list);
    return made;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ObjectEntry* make_member_entry(Registry& registry, const ObjectEntry& archive,
                               std::string_view member, bool member_known) {
  try {
    auto entry = std::make_unique<ObjectEntry>();
    const std::string shown =
        member_known ? "(" + std::string(member) + ")" : std::string("(no obj file given)");
    entry->path = archive.path + " " + shown;
    entry->name = archive.name + " " + shown;
    entry->archive = object_file(archive);
    entry->member = member;
    entry->in_archive = true;
    entry->member_known = member_known;
    entry->ordinal = static_cast<uint32_t>(registry.entries.size());
    ObjectEntry* made = entry.get();
    registry.member_entries.push_back(std::move(entry));
    add_to_entries(registry, registry.member_entries);
    return made;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void free_lists(Registry& registry) {
  registry.object_list.clear();
  registry.procedures.clear();
  registry.index->blocks.clear();
  registry.blocks.clear();
  registry.member_entries.clear();
  registry.entries.clear();
  *registry.index = detail::RegistryIndex();
}

}  // namespace drelk
