// Stretches of an object file that sections own, and an index that finds the stretches
// sharing a byte with a given one: the section layout checks of formats with 64-bit offsets
// (ELF, Mach-O) use it to find overlaps in time that grows with the overlaps found rather
// than with the square of the section count.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
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

// Stretches sorted by start, with a tree of the greatest end under each node.
class StretchIndex {
 public:
  explicit StretchIndex(std::vector<FileStretch> stretches) : items_(std::move(stretches)) {
    std::sort(items_.begin(), items_.end(),
              [](const FileStretch& a, const FileStretch& b) { return a.start < b.start; });
    while (size_ < items_.size()) size_ *= 2;
    max_end_.assign(2 * size_, 0);
    for (size_t i = 0; i < items_.size(); ++i) max_end_[size_ + i] = items_[i].end;
    for (size_t i = size_ - 1; i >= 1; --i) {
      max_end_[i] = std::max(max_end_[2 * i], max_end_[2 * i + 1]);
    }
  }

  // Calls visit for every stretch that shares a byte with [start, end).
  template <typename Visit>
  void find_meeting(uint64_t start, uint64_t end, Visit visit) const {
    const size_t limit = std::lower_bound(items_.begin(), items_.end(), end,
                                          [](const FileStretch& item, uint64_t value) {
                                            return item.start < value;
                                          }) -
                         items_.begin();
    descend(1, 0, size_, limit, start, visit);
  }

 private:
  template <typename Visit>
  void descend(size_t node, size_t low, size_t high, size_t limit, uint64_t start,
               Visit& visit) const {
    if (low >= limit || max_end_[node] <= start) return;
    if (high - low == 1) {
      visit(items_[low]);
      return;
    }
    const size_t middle = (low + high) / 2;
    descend(2 * node, low, middle, limit, start, visit);
    descend(2 * node + 1, middle, high, limit, start, visit);
  }

  std::vector<FileStretch> items_;
  std::vector<uint64_t> max_end_;
  size_t size_ = 1;
};

// Calls visit(i, j) once for every pair of sections i < j that have stretches sharing a
// byte, in the order a walk over every pair would find them: by i, then by j. `stretches`
// holds each section's stretches together, sections in increasing order. The walk stops
// when visit returns false.
template <typename Visit>
void for_each_overlapping_pair(const std::vector<FileStretch>& stretches, Visit visit) {
  if (stretches.size() < 2) return;
  const StretchIndex index(stretches);
  std::vector<uint64_t> partners;
  for (size_t at = 0; at < stretches.size();) {
    const uint64_t i = stretches[at].section;
    partners.clear();
    for (; at < stretches.size() && stretches[at].section == i; ++at) {
      index.find_meeting(stretches[at].start, stretches[at].end, [&](const FileStretch& other) {
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
