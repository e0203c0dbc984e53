// The COMMON block registry: the objects analysed, every COMMON block declared by any of
// them with one reference per declaration, and every procedure defined.
//
// The order the report shows is that of sorted lists: blocks by name; a block's
// references in descending order of the first reference of each size, the references of
// one size ordered by object path (equal paths in arrival order), except that a
// declaration of a size already present whose path no earlier equal-size reference
// exceeds goes to the very end of the list; procedures by name, equal names in arrival
// order. Every insertion costs O(log n): code bases of tens of thousands of objects and
// millions of declarations are normal input.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace drelk {

// One analysed object: a file from the command line, or a library member whose path and
// name are the library's followed by " (member)".
struct ObjectEntry {
  std::string path;
  std::string name;
};

struct BlockReference {
  const ObjectEntry* object = nullptr;
  uint32_t size = 0;
  bool initialized = false;
};

// Reference list of one block: a doubly linked list over `nodes` (index links), with
// per-size indexes of the references by object path.
struct ReferenceNode {
  BlockReference reference;
  uint32_t next = 0;  // kNoNode at the end
  uint32_t previous = 0;
};

inline constexpr uint32_t kNoNode = 0xFFFFFFFF;

// The paths of the objects that declared blocks, in byte order, each with an order label:
// labels compare as the paths do, so that the reference indexes compare two integers in
// a small dense array instead of two strings far apart in memory. Labels are kept in
// order as paths arrive (a label between the neighbours' labels; a window of labels
// spread out again when two neighbours leave no room); objects with equal paths share
// one label.
struct PathOrder {
  std::map<std::string_view, uint32_t> slots;  // path -> slot in `labels`
  std::vector<uint64_t> labels;
  // The last object looked up and its place: one object's declarations come together,
  // and the next object's path usually follows the last one.
  const ObjectEntry* last_object = nullptr;
  std::map<std::string_view, uint32_t>::iterator last_place;
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
struct PathIndex {
  std::vector<std::vector<PathEntry>> runs;
  std::vector<uint32_t> last_slots;  // the slot of each run's last entry, for the search
};

struct CommonBlock {
  std::string_view name;  // held by the registry's name store
  bool consistent = true;
  std::vector<ReferenceNode> nodes;
  uint32_t head = kNoNode;
  uint32_t tail = kNoNode;
  // Size, largest first -> the references of that size by object path.
  std::map<uint32_t, PathIndex, std::greater<>> by_size;
};

struct ProcedureEntry {
  std::string_view name;
  const ObjectEntry* definer = nullptr;
};

// Owns copies of names in large chunks, so that registering a name costs no allocation
// of its own and the views stay valid for the whole run.
class NameStore {
 public:
  std::string_view store(std::string_view name);
  void clear();

 private:
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t used_ = 0;
  size_t capacity_ = 0;
};

struct Registry {
  // Files opened from the command line, newest last.
  std::vector<std::unique_ptr<ObjectEntry>> object_list;
  // Entries of library members: no list shows them, references point at them.
  std::vector<std::unique_ptr<ObjectEntry>> member_entries;

  std::deque<CommonBlock> blocks;  // in order of first declaration
  std::unordered_map<std::string_view, CommonBlock*> block_index;
  std::vector<ProcedureEntry> procedures;  // in arrival order
  NameStore names;
  PathOrder path_order;
};

// Result codes of add_common_reference.
inline constexpr int kNewBlock = 0;
inline constexpr int kRegistryOutOfMemory = 1;
inline constexpr int kAddedToBlock = 2;

// Registers one declaration of block `name` with `size` bytes by `object`. Returns
// kNewBlock, kAddedToBlock, or kRegistryOutOfMemory (nothing linked).
int add_common_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                         uint32_t size);

// Registers one procedure defined by `object`. Returns 0, or 1 when memory ran out.
int add_procedure(Registry& registry, const ObjectEntry& object, std::string_view name);

// The block of that name, or nullptr.
CommonBlock* find_block(Registry& registry, std::string_view name);

// Marks the first reference of `block`, in list order, whose object path equals `path`
// as initialised. Returns false when the block has no reference with that path.
bool mark_initialized(CommonBlock& block, const std::string& path);

// The references of a block in list order.
std::vector<const BlockReference*> block_references(const CommonBlock& block);

// The blocks in name order, and the procedures in name order (equal names in arrival
// order), as the report walks them.
std::vector<const CommonBlock*> sorted_blocks(const Registry& registry);
std::vector<ProcedureEntry> sorted_procedures(const Registry& registry);

// Makes an entry for a file opened from the command line and records it.
ObjectEntry* record_object(Registry& registry, std::string path, std::string name);

// Makes an entry for a library member; it lives until free_lists.
ObjectEntry* make_member_entry(Registry& registry, std::string path, std::string name);

// Releases everything the registry holds and leaves it empty.
void free_lists(Registry& registry);

}  // namespace drelk
