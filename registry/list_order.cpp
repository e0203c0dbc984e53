// The list order of a block's references, worked out when they are first asked for: the
// objects numbered in order of first declaration with the ranks of their paths, the
// references of one size sorted by path, those of several sizes put where the sorted linked
// list's insertions would have put them, and the marks of initialisation placed.
#include "registry/list_order.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <new>

#include "registry/registry_index.h"

namespace drelk::detail {

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

namespace {

constexpr uint32_t kNoNode = 0xFFFFFFFF;

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

}  // namespace

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

}  // namespace drelk::detail
