#include "registry/registry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <new>

#include "registry/registry_index.h"

namespace drelk {

using detail::Arrival;
using detail::Mark;
using detail::NameStore;
using detail::ObjectNumbers;
using detail::ReferenceList;

namespace {

// Name chunks start small (most runs hold few names) and double up to the largest size.
constexpr size_t kFirstNameChunkSize = 1024;
constexpr size_t kNameChunkSize = 64 * 1024;
constexpr uint32_t kNoNode = 0xFFFFFFFF;

// The number of `object`, given on its first declaration.
uint32_t object_number(ObjectNumbers& numbers, const ObjectEntry& object) {
  if (&object == numbers.last_object) return numbers.last_number;
  const auto [place, added] =
      numbers.numbers.try_emplace(&object, static_cast<uint32_t>(numbers.objects.size()));
  if (added) {
    try {
      numbers.objects.push_back(&object);
    } catch (...) {
      numbers.numbers.erase(place);
      throw;
    }
  }
  numbers.last_object = &object;
  numbers.last_number = place->second;
  return place->second;
}

// The rank of every numbered object's path in byte order, equal paths sharing one; worked
// out again only when objects were numbered since.
const std::vector<uint32_t>& path_ranks(ObjectNumbers& numbers) {
  const size_t count = numbers.objects.size();
  if (numbers.ranks.size() == count) return numbers.ranks;
  // The paths are sorted beside their numbers, so that comparisons do not go through the
  // entries.
  // Objects often arrive in path order already (the members of a library, the files of
  // one directory); then one pass finds nothing to sort.
  std::vector<std::pair<std::string_view, uint32_t>> paths(count);
  for (uint32_t i = 0; i < count; ++i) paths[i] = {numbers.objects[i]->path, i};
  const auto before = [](const std::pair<std::string_view, uint32_t>& a,
                         const std::pair<std::string_view, uint32_t>& b) {
    const int order = a.first.compare(b.first);
    return order != 0 ? order < 0 : a.second < b.second;
  };
  if (!std::is_sorted(paths.begin(), paths.end(), before)) {
    std::sort(paths.begin(), paths.end(), before);
  }
  std::vector<uint32_t>& by_path = numbers.by_path;
  by_path.resize(count);
  std::vector<uint32_t> ranks(count);
  uint32_t rank = 0;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0 && paths[i].first != paths[i - 1].first) ++rank;
    by_path[i] = paths[i].second;
    ranks[paths[i].second] = rank;
  }
  numbers.ranks = std::move(ranks);
  return numbers.ranks;
}

// The rank of `path`, the path of some numbered object.
uint32_t rank_of_path(const ObjectNumbers& numbers, std::string_view path) {
  const auto at = std::lower_bound(numbers.by_path.begin(), numbers.by_path.end(), path,
                                   [&](uint32_t number, std::string_view value) {
                                     return numbers.objects[number]->path < value;
                                   });
  return numbers.ranks[*at];
}

// The references of one size in path order, equal paths in arrival order, for the replay of
// the insertions into a block of several sizes: sorted runs of at most a few hundred
// entries, so that an insertion moves a bounded number of entries.
// Invariant: runs are non-empty, each sorted by rank, each run's ranks not above the next
// run's; last_ranks[r] is the rank of runs[r].back().
struct PathEntry {
  uint32_t rank = 0;
  uint32_t node = 0;
};
struct PathIndex {
  std::vector<std::vector<PathEntry>> runs;
  std::vector<uint32_t> last_ranks;
};

constexpr size_t kRunSize = 256;

// Inserts `entry` after every entry of a rank not above its own. Returns the node of the
// first entry of a greater rank, or kNoNode when there is none.
uint32_t insert_by_path(PathIndex& index, PathEntry entry) {
  auto& runs = index.runs;
  auto& last_ranks = index.last_ranks;
  if (runs.empty() || last_ranks.back() <= entry.rank) {
    if (runs.empty() || runs.back().size() >= kRunSize) {
      runs.emplace_back();
      runs.back().reserve(kRunSize);
      last_ranks.push_back(entry.rank);
    }
    runs.back().push_back(entry);
    last_ranks.back() = entry.rank;
    return kNoNode;
  }
  auto r = static_cast<size_t>(std::upper_bound(last_ranks.begin(), last_ranks.end(), entry.rank) -
                               last_ranks.begin());
  if (runs[r].size() >= kRunSize) {
    // A full run is split in two halves first.
    std::vector<PathEntry> upper(runs[r].begin() + kRunSize / 2, runs[r].end());
    upper.reserve(kRunSize);
    runs[r].resize(kRunSize / 2);
    last_ranks.insert(last_ranks.begin() + static_cast<std::ptrdiff_t>(r), runs[r].back().rank);
    runs.insert(runs.begin() + static_cast<std::ptrdiff_t>(r) + 1, std::move(upper));
    if (last_ranks[r] <= entry.rank) ++r;
  }
  std::vector<PathEntry>& run = runs[r];
  const auto at = std::upper_bound(run.begin(), run.end(), entry.rank,
                                   [](uint32_t rank, const PathEntry& e) { return rank < e.rank; });
  const uint32_t greater = at->node;
  run.insert(at, entry);
  return greater;
}

// The list order of a block of several sizes: each declaration inserted, in arrival order,
// where the sorted linked list puts it. A size not seen before goes in front of the first
// reference of the next smaller size present, or at the end when every size present is
// larger; a size already present joins its equals in path order, in front of the first one
// whose path is greater, and when none is, at the very end of the list.
void replay_insertions(const std::vector<Arrival>& arrivals, const std::vector<uint32_t>& ranks,
                       std::vector<uint32_t>& order) {
  const auto count = static_cast<uint32_t>(arrivals.size());
  std::vector<uint32_t> next(count, kNoNode);
  std::vector<uint32_t> previous(count, kNoNode);
  uint32_t head = kNoNode;
  uint32_t tail = kNoNode;
  const auto link_before = [&](uint32_t node, uint32_t before) {
    if (before == kNoNode) {
      previous[node] = tail;
      if (tail != kNoNode) {
        next[tail] = node;
      } else {
        head = node;
      }
      tail = node;
      return;
    }
    next[node] = before;
    previous[node] = previous[before];
    if (previous[before] != kNoNode) {
      next[previous[before]] = node;
    } else {
      head = node;
    }
    previous[before] = node;
  };
  std::map<uint64_t, PathIndex, std::greater<>> by_size;
  for (uint32_t node = 0; node < count; ++node) {
    const uint64_t size = arrivals[node].reference.size;
    const PathEntry entry{ranks[arrivals[node].object], node};
    uint32_t before = kNoNode;
    auto group = by_size.find(size);
    if (group == by_size.end()) {
      const auto smaller = by_size.upper_bound(size);
      if (smaller != by_size.end()) before = smaller->second.runs.front().front().node;
      group = by_size.emplace(size, PathIndex()).first;
      insert_by_path(group->second, entry);
    } else {
      before = insert_by_path(group->second, entry);
    }
    link_before(node, before);
  }
  order.clear();
  for (uint32_t node = head; node != kNoNode; node = next[node]) order.push_back(node);
}

// The references of a block of one size in list order: path order, equal paths in arrival
// order. A long list is radix-sorted by path rank, eleven bits a pass, which keeps the
// arrival order of equal ranks; a shorter one, for which the passes' counters would cost
// more than the references, is sorted by comparison.
void sort_by_path(const std::vector<Arrival>& arrivals, const std::vector<uint32_t>& ranks,
                  std::vector<uint32_t>& order) {
  constexpr unsigned kDigitBits = 11;
  constexpr uint32_t kDigits = 1u << kDigitBits;
  const size_t count = arrivals.size();
  order.resize(count);
  if (count < kDigits) {
    std::vector<uint64_t> keys(count);
    for (size_t i = 0; i < count; ++i) keys[i] = (uint64_t{ranks[arrivals[i].object]} << 32) | i;
    std::sort(keys.begin(), keys.end());
    for (size_t i = 0; i < count; ++i) order[i] = static_cast<uint32_t>(keys[i]);
    return;
  }
  std::vector<uint32_t> keys(count);
  uint32_t largest = 0;
  for (size_t i = 0; i < count; ++i) {
    keys[i] = ranks[arrivals[i].object];
    largest = std::max(largest, keys[i]);
    order[i] = static_cast<uint32_t>(i);
  }
  std::vector<uint32_t> moved(count);
  std::vector<uint32_t> starts(kDigits);
  for (unsigned shift = 0; shift == 0 || (largest >> shift) != 0; shift += kDigitBits) {
    std::fill(starts.begin(), starts.end(), 0);
    for (const uint32_t node : order) ++starts[(keys[node] >> shift) & (kDigits - 1)];
    uint32_t total = 0;
    for (uint32_t& start : starts) {
      const uint32_t n = start;
      start = total;
      total += n;
    }
    for (const uint32_t node : order) moved[starts[(keys[node] >> shift) & (kDigits - 1)]++] = node;
    order.swap(moved);
    if (shift + kDigitBits >= 32) break;
  }
}

// Sets the initialised flags from the marks: each mark lands on the first reference in list
// order, among those the block held when it was made, whose path is the mark's.
void place_marks(ReferenceList& list, const ObjectNumbers& numbers,
                 const std::vector<uint32_t>& ranks) {
  if (list.has_definitions) {
    for (Arrival& arrival : list.arrivals) arrival.reference.initialized = arrival.defined;
  } else {
    for (Arrival& arrival : list.arrivals) arrival.reference.initialized = 0;
  }
  if (list.marks.empty()) return;
  // The marks by path rank, each rank's marks by the count of references they saw; a
  // reference met in list order satisfies every mark of its rank that saw it.
  struct Pending {
    uint32_t rank;
    uint32_t references;
  };
  std::vector<Pending> pending;
  pending.reserve(list.marks.size());
  for (const Mark& mark : list.marks) {
    pending.push_back(Pending{rank_of_path(numbers, mark.path), mark.references});
  }
  std::sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
    return a.rank != b.rank ? a.rank < b.rank : a.references < b.references;
  });
  struct Group {
    uint32_t rank;
    size_t begin;
    size_t end;  // the marks [begin, end) are still waiting
  };
  std::vector<Group> groups;
  for (size_t i = 0; i < pending.size(); ++i) {
    if (groups.empty() || groups.back().rank != pending[i].rank) {
      groups.push_back(Group{pending[i].rank, i, i});
    }
    groups.back().end = i + 1;
  }
  for (const uint32_t node : list.order) {
    Arrival& arrival = list.arrivals[node];
    const uint32_t rank = ranks[arrival.object];
    const auto group =
        std::lower_bound(groups.begin(), groups.end(), rank,
                         [](const Group& g, uint32_t value) { return g.rank < value; });
    if (group == groups.end() || group->rank != rank) continue;
    while (group->end > group->begin && pending[group->end - 1].references > node) {
      --group->end;
      arrival.reference.initialized = 1;
    }
  }
}

// Works out the list order of a block, and its marks, unless nothing arrived since.
void order_references(ReferenceList& list, bool one_size) {
  if (list.ordered_arrivals == list.arrivals.size() && list.ordered_marks == list.marks.size()) {
    return;
  }
  ObjectNumbers& numbers = list.index->objects;
  const std::vector<uint32_t>& ranks = path_ranks(numbers);
  const size_t count = list.arrivals.size();
  if (one_size) {
    sort_by_path(list.arrivals, ranks, list.order);
  } else {
    replay_insertions(list.arrivals, ranks, list.order);
  }
  place_marks(list, numbers, ranks);
  list.ordered_arrivals = count;
  list.ordered_marks = list.marks.size();
}

// True when some reference of the block has an object of that path.
bool declares_path(ReferenceList& list, const std::string& path) {
  // The object that marks a block has usually just declared it: its references come last.
  constexpr size_t kRecent = 16;
  const size_t count = list.arrivals.size();
  for (size_t i = count; i > 0 && count - i < kRecent; --i) {
    if (list.arrivals[i - 1].reference.object->path == path) return true;
  }
  if (count <= kRecent) return false;
  if (list.paths == nullptr) {
    auto paths = std::make_unique<std::unordered_set<std::string_view>>();
    for (const Arrival& arrival : list.arrivals) paths->insert(arrival.reference.object->path);
    list.paths = std::move(paths);
  }
  return list.paths->count(path) != 0;
}

}  // namespace

uint64_t detail::hash_name(std::string_view name) {
  // Words of eight bytes, the last one ending with the name's last byte (overlapping the
  // one before it); a name shorter than eight bytes is read as two overlapping halves.
  const auto* bytes = reinterpret_cast<const unsigned char*>(name.data());
  const size_t size = name.size();
  const auto load64 = [](const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  };
  const auto load32 = [](const unsigned char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return uint64_t{word};
  };
  const auto mix = [](uint64_t hash, uint64_t word) {
    hash = (hash ^ word) * 0xBF58476D1CE4E5B9ULL;
    return hash ^ (hash >> 31);
  };
  uint64_t hash = 0x9E3779B97F4A7C15ULL ^ size;
  if (size >= 8) {
    for (size_t at = 0; at + 8 < size; at += 8) hash = mix(hash, load64(bytes + at));
    hash = mix(hash, load64(bytes + size - 8));
  } else if (size >= 4) {
    hash = mix(hash, load32(bytes) | (load32(bytes + size - 4) << 32));
  } else if (size > 0) {
    hash =
        mix(hash, bytes[0] | (uint64_t{bytes[size / 2]} << 8) | (uint64_t{bytes[size - 1]} << 16));
  }
  // Every bit of the hash decides its low bits, which pick the table slot.
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDULL;
  return hash ^ (hash >> 33);
}

CommonBlock* detail::BlockTable::find(std::string_view name, uint64_t hash) const {
  if (slots_.empty()) return nullptr;
  const size_t mask = slots_.size() - 1;
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    const Slot& slot = slots_[at];
    if (slot.block == nullptr) return nullptr;
    if (slot.hash == hash && slot.block->name == name) return slot.block;
  }
}

void detail::BlockTable::insert(CommonBlock* block, uint64_t hash) {
  if (2 * (count_ + 1) > slots_.size()) {
    std::vector<Slot> grown(std::max<size_t>(64, 2 * slots_.size()));
    const size_t mask = grown.size() - 1;
    for (const Slot& slot : slots_) {
      if (slot.block == nullptr) continue;
      size_t at = slot.hash & mask;
      while (grown[at].block != nullptr) at = (at + 1) & mask;
      grown[at] = slot;
    }
    slots_.swap(grown);
  }
  const size_t mask = slots_.size() - 1;
  size_t at = hash & mask;
  while (slots_[at].block != nullptr) at = (at + 1) & mask;
  slots_[at] = Slot{hash, block};
  ++count_;
}

std::string_view NameStore::store(std::string_view name) {
  if (chunks_.empty() || name.size() > capacity_ - used_) {
    const size_t next =
        chunks_.empty() ? kFirstNameChunkSize : std::min(kNameChunkSize, 2 * capacity_);
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
    Arrival arrival;
    arrival.reference.object = &object;
    arrival.reference.size = size;
    arrival.object = object_number(index.objects, object);
    const uint64_t hash = detail::hash_name(name);
    CommonBlock* const found = index.blocks.find(name, hash);
    if (found == nullptr) {
      CommonBlock block;
      block.references = std::make_unique<ReferenceList>();
      block.references->index = &index;
      block.references->arrivals.push_back(arrival);
      block.name = index.names.store(name);
      block.declared = size != 0;
      registry.blocks.push_back(std::move(block));
      CommonBlock& stored = registry.blocks.back();
      try {
        index.blocks.insert(&stored, hash);
      } catch (...) {
        registry.blocks.pop_back();
        throw;
      }
      return kNewBlock;
    }
    CommonBlock& block = *found;
    ReferenceList& list = *block.references;
    list.arrivals.push_back(arrival);
    if (list.paths != nullptr) {
      try {
        list.paths->insert(object.path);
      } catch (...) {
        list.arrivals.pop_back();
        throw;
      }
    }
    if (size != list.arrivals.front().reference.size) block.consistent = false;
    if (size != 0) block.declared = true;
    return kAddedToBlock;
  } catch (const std::bad_alloc&) {
    return kRegistryOutOfMemory;
  }
}

int add_initialized_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                              uint64_t size) {
  // Registered as a declaration is, then made a definition: the declarations' path, which
  // every COMMON symbol of a run takes, stays as it is.
  const CommonBlock* before = find_block(registry, name);
  const bool declared = before != nullptr && before->declared;
  const int result = add_common_reference(registry, object, name, size);
  if (result == kRegistryOutOfMemory) return result;
  CommonBlock& block = *find_block(registry, name);
  ReferenceList& list = *block.references;
  list.arrivals.back().reference.initialized = 1;
  list.arrivals.back().defined = true;
  list.has_definitions = true;
  block.declared = declared;
  return result;
}

bool mark_initialized(CommonBlock& block, const std::string& path) {
  ReferenceList& list = *block.references;
  try {
    if (!declares_path(list, path)) return false;
    list.marks.push_back(
        Mark{list.index->names.store(path), static_cast<uint32_t>(list.arrivals.size())});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::vector<const BlockReference*> block_references(const CommonBlock& block) {
  ReferenceList& list = *block.references;
  order_references(list, block.consistent);
  std::vector<const BlockReference*> references;
  references.reserve(list.order.size());
  for (const uint32_t node : list.order) references.push_back(&list.arrivals[node].reference);
  return references;
}

namespace {

uint64_t hash_members(const std::vector<LayoutMember>& members) {
  uint64_t hash = detail::hash_name({}) ^ members.size();
  for (const LayoutMember& member : members) {
    hash = (hash ^ member.offset) * 0x100000001B3ULL;
    hash = (hash ^ member.size) * 0x100000001B3ULL;
    hash ^= detail::hash_name(member.name) + 3 * detail::hash_name(member.type) +
            5 * detail::hash_name(member.dimensions);
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

bool same_members(const std::vector<LayoutMember>& a, const std::vector<LayoutMember>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const LayoutMember& x, const LayoutMember& y) {
                      return x.offset == y.offset && x.size == y.size && x.name == y.name &&
                             x.type == y.type && x.dimensions == y.dimensions;
                    });
}

// The shape of these members, held once.
const LayoutShape* intern_shape(detail::RegistryIndex& index,
                                const std::vector<LayoutMember>& members) {
  const uint64_t hash = hash_members(members);
  const auto [begin, end] = index.shapes.by_hash.equal_range(hash);
  for (auto at = begin; at != end; ++at) {
    if (same_members(at->second->members, members)) return at->second;
  }
  LayoutShape shape;
  shape.members.reserve(members.size());
  for (const LayoutMember& member : members) {
    shape.members.push_back(LayoutMember{member.offset, member.size, index.names.store(member.name),
                                         index.names.store(member.type),
                                         index.names.store(member.dimensions)});
  }
  index.shapes.shapes.push_back(std::move(shape));
  const LayoutShape* stored = &index.shapes.shapes.back();
  try {
    index.shapes.by_hash.emplace(hash, stored);
  } catch (...) {
    index.shapes.shapes.pop_back();
    throw;
  }
  return stored;
}

}  // namespace

int add_reference_layout(Registry& registry, const ObjectEntry& object, std::string_view name,
                         std::string_view routine, std::string_view file, uint32_t line,
                         const std::vector<LayoutMember>& members) {
  CommonBlock* block = find_block(registry, name);
  if (block == nullptr) return 0;
  ReferenceList& list = *block->references;
  if (list.arrivals.back().reference.object != &object) return 0;
  try {
    detail::RegistryIndex& index = *registry.index;
    DeclaredLayout layout;
    layout.shape = intern_shape(index, members);
    layout.routine = index.names.store(routine);
    layout.file = index.names.store(file);
    layout.line = line;
    list.layouts.push_back(layout);
    try {
      list.layout_arrivals.push_back(static_cast<uint32_t>(list.arrivals.size() - 1));
    } catch (...) {
      list.layouts.pop_back();
      throw;
    }
    return 0;
  } catch (const std::bad_alloc&) {
    return kRegistryOutOfMemory;
  }
}

bool has_layouts(const CommonBlock& block) {
  return !block.references->layouts.empty();
}

std::vector<ReferenceLayouts> block_layouts(const CommonBlock& block) {
  ReferenceList& list = *block.references;
  order_references(list, block.consistent);
  std::vector<ReferenceLayouts> references;
  references.reserve(list.order.size());
  for (const uint32_t node : list.order) {
    const auto [first, last] =
        std::equal_range(list.layout_arrivals.begin(), list.layout_arrivals.end(), node);
    const auto at = static_cast<size_t>(first - list.layout_arrivals.begin());
    references.push_back(ReferenceLayouts{&list.arrivals[node].reference, list.layouts.data() + at,
                                          static_cast<size_t>(last - first)});
  }
  return references;
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
  return registry.index->blocks.find(name, detail::hash_name(name));
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
  const detail::BlockTable& blocks = registry.index->blocks;
  std::vector<ProcedureEntry> named;
  for (const ProcedureEntry& procedure : registry.procedures) {
    if (blocks.find(procedure.name, detail::hash_name(procedure.name)) != nullptr) {
      named.push_back(procedure);
    }
  }
  std::stable_sort(
      named.begin(), named.end(),
      [](const ProcedureEntry& a, const ProcedureEntry& b) { return a.name < b.name; });
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

namespace {

// Appends " (part)" to `text`.
void decorate(std::string& text, std::string_view part) {
  text.append(" (").append(part).append(")");
}

// Keeps a made entry: among the member entries, and in Registry::entries.
ObjectEntry* keep_entry(Registry& registry, std::unique_ptr<ObjectEntry> entry) {
  entry->ordinal = static_cast<uint32_t>(registry.entries.size());
  ObjectEntry* made = entry.get();
  registry.member_entries.push_back(std::move(entry));
  add_to_entries(registry, registry.member_entries);
  return made;
}

}  // namespace

ObjectEntry* make_member_entry(Registry& registry, const ObjectEntry& archive,
                               std::string_view member, bool member_known,
                               std::string_view architecture) {
  try {
    auto entry = std::make_unique<ObjectEntry>();
    const std::string_view shown = member_known ? member : std::string_view("no obj file given");
    const auto compose = [&](std::string& text, const std::string& file) {
      text.reserve(file.size() + shown.size() + architecture.size() + 6);
      text.append(file);
      decorate(text, shown);
      if (!architecture.empty()) decorate(text, architecture);
    };
    compose(entry->path, archive.path);
    compose(entry->name, archive.name);
    entry->archive = object_file(archive);
    entry->member = member;
    entry->in_archive = true;
    entry->member_known = member_known;
    entry->architecture = architecture;
    return keep_entry(registry, std::move(entry));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ObjectEntry* make_slice_entry(Registry& registry, const ObjectEntry& object,
                              std::string_view architecture, uint64_t offset) {
  try {
    auto entry = std::make_unique<ObjectEntry>(object);
    decorate(entry->path, architecture);
    decorate(entry->name, architecture);
    entry->archive = object_file(object);
    entry->member_offset = offset;
    entry->architecture = architecture;
    entry->format = {};
    return keep_entry(registry, std::move(entry));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void free_lists(Registry& registry) {
  registry.object_list.clear();
  registry.procedures.clear();
  registry.blocks.clear();
  registry.member_entries.clear();
  registry.entries.clear();
  *registry.index = detail::RegistryIndex();
}

}  // namespace drelk
