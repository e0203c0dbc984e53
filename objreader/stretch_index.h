// Stretches of an object file that sections own, and an index that finds the stretches
// sharing a byte with a given one: the section layout checks of every format use it to find
// overlaps in time that grows with the overlaps found rather than with the square of the
// section count (COFF with its 32-bit stretches and rules of its own; ELF and Mach-O through
// for_each_overlapping_pair).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace drelk {

struct FileStretch {
  uint64_t start;
  uint64_t end;  // one past the last byte
  uint64_t section;
};

// True when the two stretches share a byte.
inline bool stretches_meet(uint64_t start1, uint64_t end1, uint64_t start2, uint64_t end2) {
  return start1 < end2 && start2 < end1;
}

// Stretches sorted by start, with trees of the greatest and of the least end under each
// node: the stretches that meet a query are found in time that grows with the number found.
// `Item` has `start` and `end` of type `Offset`; what `end` means (one past the last byte,
// or the last byte) is the caller's.
template <typename Item, typename Offset>
class StretchIndex {
 public:
  explicit StretchIndex(std::vector<Item> stretches) : items_(std::move(stretches)) {
    std::sort(items_.begin(), items_.end(),
              [](const Item& a, const Item& b) { return a.start < b.start; });
    while (size_ < items_.size()) size_ *= 2;
    max_end_.assign(2 * size_, 0);
    min_end_.assign(2 * size_, std::numeric_limits<Offset>::max());
    for (size_t i = 0; i < items_.size(); ++i)
      max_end_[size_ + i] = min_end_[size_ + i] = items_[i].end;
    for (size_t i = size_ - 1; i >= 1; --i) {
      max_end_[i] = std::max(max_end_[2 * i], max_end_[2 * i + 1]);
      min_end_[i] = std::min(min_end_[2 * i], min_end_[2 * i + 1]);
    }
  }

  // The place of the first stretch that starts at or after `start`, and after it.
  size_t first_starting_at(Offset start) const {
    return std::lower_bound(items_.begin(), items_.end(), start,
                            [](const Item& item, Offset value) { return item.start < value; }) -
           items_.begin();
  }
  size_t first_starting_after(Offset start) const {
    return std::upper_bound(items_.begin(), items_.end(), start,
                            [](Offset value, const Item& item) { return value < item.start; }) -
           items_.begin();
  }
  size_t size() const { return items_.size(); }

  // Calls visit for the stretches at the places [from, to) of the sorted stretches, passing
  // over each subtree where `may_hold(greatest end, least end)` says no stretch is wanted.
  template <typename Visit, typename MayHold>
  void visit(size_t from, size_t to, const MayHold& may_hold, Visit visit) const {
    descend(1, 0, size_, from, to, visit, may_hold);
  }

 private:
  template <typename Visit, typename MayHold>
  void descend(size_t node, size_t low, size_t high, size_t from, size_t to, Visit& visit,
               const MayHold& may_hold) const {
    if (high <= from || low >= to || !may_hold(max_end_[node], min_end_[node])) return;
    if (high - low == 1) {
      visit(items_[low]);
      return;
    }
    const size_t middle = (low + high) / 2;
    descend(2 * node, low, middle, from, to, visit, may_hold);
    descend(2 * node + 1, middle, high, from, to, visit, may_hold);
  }

  std::vector<Item> items_;
  std::vector<Offset> max_end_;
  std::vector<Offset> min_end_;
  size_t size_ = 1;
};

// Calls visit for every stretch of `index` that shares a byte with [start, end).
template <typename Visit>
void find_meeting(const StretchIndex<FileStretch, uint64_t>& index, uint64_t start, uint64_t end,
                  Visit visit) {
  index.visit(
      0, index.first_starting_at(end), [&](uint64_t max_end, uint64_t) { return max_end > start; },
      visit);
}

// Calls visit(i, j) once for every pair of sections i < j that have stretches sharing a
// byte, in the order a walk over every pair would find them: by i, then by j. `stretches`
// holds each section's stretches together, sections in increasing order. The walk stops
// when visit returns false.
template <typename Visit>
void for_each_overlapping_pair(const std::vector<FileStretch>& stretches, Visit visit) {
  if (stretches.size() < 2) return;
  const StretchIndex<FileStretch, uint64_t> index(stretches);
  std::vector<uint64_t> partners;
  for (size_t at = 0; at < stretches.size();) {
    const uint64_t i = stretches[at].section;
    partners.clear();
    for (; at < stretches.size() && stretches[at].section == i; ++at) {
      find_meeting(index, stretches[at].start, stretches[at].end, [&](const FileStretch& other) {
        if (other.section > i) partners.push_back(other.section);
      });
    }
    std::sort(partners.begin(), partners.end());
    partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
    for (const uint64_t j : partners) {
      if (!visit(i, j)) return;
    }
  }
}

}  // namespace drelk
