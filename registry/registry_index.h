// The registry's own indexes, private to the registry's sources: what keeps registering a
// declaration at O(1) while the report still sees the order that plain sorted linked
// lists would have given.
//
// A declaration is appended to its block as it arrives; the list order is worked out when
// the block's references are first asked for (by the report, after the last declaration),
// from the arrival order and the order of the objects' paths. A block of one size holds
// its references in path order, equal paths in arrival order: a sort. A block of several
// sizes replays the linked-list insertions, with the paths' ranks in place of the paths.
// The initialisation marks are placed then too, on the reference that was first in list
// order, among those present, when the mark was made.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "registry/registry.h"

namespace drelk::detail {

// One declaration as it arrived, with the number of its object (see ObjectNumbers).
struct Arrival {
  BlockReference reference;
  uint32_t object = 0;
  bool defined = false;  // a definition with its size: initialised whatever the marks say
  bool bounded = false;  // a definition whose size is only a bound: it may hold less
  // A declaration's alignment (what it asks for) or a definition's (what its place gives
  // it), as its power of two plus one; 0 where the format records none. Held in what the
  // record pads: an arrival stays the reference and one word.
  uint8_t alignment = 0;
};
static_assert(sizeof(Arrival) == sizeof(BlockReference) + 8);

// A mark of initialisation: the path of the object that initialises the block, and how
// many references the block held when the mark was made.
struct Mark {
  std::string_view path;  // held by the registry's name store
  uint32_t references = 0;
};

// The objects that declared blocks, numbered in order of first declaration, and the rank of
// each one's path in byte order (equal paths share a rank), worked out when asked for.
struct ObjectNumbers {
  std::unordered_map<const ObjectEntry*, uint32_t> numbers;
  std::vector<const ObjectEntry*> objects;  // by number
  // One object's declarations come together: the last one numbered is asked for again.
  const ObjectEntry* last_object = nullptr;
  uint32_t last_number = 0;
  std::vector<uint32_t> by_path;  // numbers in path order
  std::vector<uint32_t> ranks;    // by number
};

struct RegistryIndex;

// A block's references: every declaration in arrival order, the marks made on the block,
// and the list order once worked out (indexes into `arrivals`).
struct ReferenceList {
  RegistryIndex* index = nullptr;
  std::vector<Arrival> arrivals;
  bool has_definitions = false;  // some arrival is `defined`
  std::vector<Mark> marks;
  // The paths that declared the block, kept once marks have to ask whether a path did.
  std::unique_ptr<std::unordered_set<std::string_view>> paths;
  std::vector<uint32_t> order;
  // The layouts of the references, in arrival order, each beside the arrival it belongs to.
  std::vector<uint32_t> layout_arrivals;
  std::vector<DeclaredLayout> layouts;
  size_t ordered_arrivals = 0;  // arrivals and marks that `order` and the marks reflect
  size_t ordered_marks = 0;
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

// A hash of block names, eight bytes at a step: a name is hashed once per declaration.
uint64_t hash_name(std::string_view name);
// One step of the hashes: every bit of the word reaches every bit of the hash.
uint64_t hash_step(uint64_t hash, uint64_t word);

// The blocks by name: an open-addressing table of (hash, block) slots, a power of two of
// them and at most half full, so that a look-up compares a few hashes held side by side.
class BlockTable {
 public:
  CommonBlock* find(std::string_view name, uint64_t hash) const;
  // Adds a block not in the table. Throws std::bad_alloc, the table unchanged, when it
  // cannot grow.
  void insert(CommonBlock* block, uint64_t hash);

 private:
  struct Slot {
    uint64_t hash = 0;
    CommonBlock* block = nullptr;
  };
  std::vector<Slot> slots_;
  size_t count_ = 0;
};

// Orders layout shapes by their members (offset, size, name, type, dimensions, then the
// count): a look-up costs the members compared along one path of a balanced tree, whatever
// member lists an input chooses, where a table by a hash of the members can be made to put
// every list in one chain.
struct ShapeOrder {
  using is_transparent = void;
  static bool less(const std::vector<LayoutMember>& a, const std::vector<LayoutMember>& b);
  bool operator()(const LayoutShape* a, const LayoutShape* b) const {
    return less(a->members, b->members);
  }
  bool operator()(const LayoutShape* a, const std::vector<LayoutMember>& b) const {
    return less(a->members, b);
  }
  bool operator()(const std::vector<LayoutMember>& a, const LayoutShape* b) const {
    return less(a, b->members);
  }
};

// The layout shapes, each held once, found by their members.
struct ShapeStore {
  std::deque<LayoutShape> shapes;
  std::set<const LayoutShape*, ShapeOrder> ordered;
};

// The run's keyed hash for sets of names that files supply.
struct NameHash {
  size_t operator()(std::string_view name) const { return static_cast<size_t>(hash_name(name)); }
};

struct RegistryIndex {
  BlockTable blocks;
  NameStore names;
  // The names of called procedures, each held once in `names`.
  std::unordered_set<std::string_view, NameHash> called_names;
  ObjectNumbers objects;
  ShapeStore shapes;
};

}  // namespace drelk::detail
