// The registry's own indexes, private to registry.cpp: what keeps every insertion at
// O(log n) while the lists keep the order that plain sorted linked lists would have.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "registry/registry.h"

namespace drelk::detail {

inline constexpr uint32_t kNoNode = 0xFFFFFFFF;

// One reference and its links in the block's list (indexes into ReferenceList::nodes).
struct ReferenceNode {
  BlockReference reference;
  uint32_t next = kNoNode;
  uint32_t previous = kNoNode;
};

// One reference in a size's index: its object's slot in the path order, and its node.
struct PathEntry {
  uint32_t slot = 0;
  uint32_t node = 0;
};

// The references of one size in object path order, equal paths in arrival order: sorted
// runs of at most a few hundred entries, so that an insertion moves a bounded number of
// entries, the search runs over contiguous memory, and no reference is an allocation of
// its own.
// Invariant: runs are non-empty, each sorted by label, each run's labels not above the
// next run's; last_slots[r] is the slot of runs[r].back().
struct PathIndex {
  std::vector<std::vector<PathEntry>> runs;
  std::vector<uint32_t> last_slots;
};

// A block's references: a doubly linked list over `nodes`, and per size (largest first)
// the references of that size by object path.
struct ReferenceList {
  std::vector<ReferenceNode> nodes;
  uint32_t head = kNoNode;
  uint32_t tail = kNoNode;
  std::map<uint64_t, PathIndex, std::greater<>> by_size;
};

// The paths of the objects that declared blocks, in byte order, each with an order label:
// labels compare as the paths do, so that the reference indexes compare two integers in
// a small dense array instead of two strings far apart in memory. Labels are kept in
// order as paths arrive (a label between the neighbours' labels; a window of labels
// spread out again when two neighbours leave no room); objects with equal paths share
// one label.
// Invariant: walking `slots` in order, the labels strictly increase.
struct PathOrder {
  std::map<std::string_view, uint32_t> slots;  // path -> slot in `labels`
  std::vector<uint64_t> labels;
  // The last object looked up and its place: one object's declarations come together,
  // and the next object's path usually follows the last one.
  const ObjectEntry* last_object = nullptr;
  std::map<std::string_view, uint32_t>::iterator last_place;
};

// Owns copies of names in large chunks, so that registering a name costs no allocation
// of its own and the views stay valid for the whole run.
class NameStore {
 public:
  std::string_view store(std::string_view name);

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t used_ = 0;
  size_t capacity_ = 0;
};

struct RegistryIndex {
  std::unordered_map<std::string_view, CommonBlock*> blocks;
  NameStore names;
  PathOrder path_order;
};

}  // namespace drelk::detail
