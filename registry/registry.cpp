#include "registry/registry.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace drelk {
namespace {

constexpr size_t kNameChunkSize = 64 * 1024;

// Links node `index` into the block's list before node `before`, or at the end.
void link_before(CommonBlock& block, uint32_t index, uint32_t before) {
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

uint32_t new_node(CommonBlock& block, const ObjectEntry& object, uint32_t size) {
  block.nodes.push_back(ReferenceNode{BlockReference{&object, size, false}, kNoNode, kNoNode});
  return static_cast<uint32_t>(block.nodes.size() - 1);
}

}  // namespace

std::string_view NameStore::store(std::string_view name) {
  if (chunks_.empty() || name.size() > capacity_ - used_) {
    const size_t size = std::max(kNameChunkSize, name.size());
    chunks_.push_back(std::make_unique<char[]>(size));
    used_ = 0;
    capacity_ = size;
  }
  char* place = chunks_.back().get() + used_;
  if (!name.empty()) std::memcpy(place, name.data(), name.size());
  used_ += name.size();
  return std::string_view(place, name.size());
}

void NameStore::clear() {
  chunks_.clear();
  used_ = 0;
  capacity_ = 0;
}

int add_common_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                         uint32_t size) {
  try {
    const auto found = registry.block_index.find(name);
    if (found == registry.block_index.end()) {
      CommonBlock block;
      block.name = registry.names.store(name);
      const uint32_t index = new_node(block, object, size);
      link_before(block, index, kNoNode);
      block.by_size[size].emplace(&object, index);
      registry.blocks.push_back(std::move(block));
      CommonBlock& stored = registry.blocks.back();
      try {
        registry.block_index.emplace(stored.name, &stored);
      } catch (...) {
        registry.blocks.pop_back();
        throw;
      }
      return kNewBlock;
    }

    CommonBlock& block = *found->second;
    // Room for the new node before anything is linked, so that nothing throws after; the
    // array grows by doubling, as push_back would grow it.
    if (block.nodes.size() == block.nodes.capacity()) block.nodes.reserve(2 * block.nodes.size());
    const uint32_t index = static_cast<uint32_t>(block.nodes.size());
    uint32_t before = kNoNode;
    auto group = block.by_size.find(size);
    if (group == block.by_size.end()) {
      // A size not seen before goes in front of the first reference of the next smaller
      // size present, or at the end when every size present is larger.
      const auto smaller = block.by_size.upper_bound(size);
      if (smaller != block.by_size.end()) before = smaller->second.begin()->second;
      group = block.by_size.emplace(size, PathIndex()).first;
      try {
        group->second.emplace(&object, index);
      } catch (...) {
        block.by_size.erase(group);
        throw;
      }
      block.consistent = false;
    } else {
      // A size already present joins its equals in path order, in front of the first one
      // whose path is greater; when none is, it goes to the very end of the list.
      PathIndex& references = group->second;
      auto hint = references.end();
      if (PathLess()(&object, references.rbegin()->first)) {
        hint = references.upper_bound(&object);
        before = hint->second;
      }
      references.emplace_hint(hint, &object, index);
    }
    new_node(block, object, size);
    link_before(block, index, before);
    return kAddedToBlock;
  } catch (const std::bad_alloc&) {
    return kRegistryOutOfMemory;
  }
}

int add_procedure(Registry& registry, const ObjectEntry& object, std::string_view name) {
  try {
    registry.procedures.push_back(ProcedureEntry{registry.names.store(name), &object});
    return 0;
  } catch (const std::bad_alloc&) {
    return 1;
  }
}

CommonBlock* find_block(Registry& registry, std::string_view name) {
  const auto found = registry.block_index.find(name);
  return found == registry.block_index.end() ? nullptr : found->second;
}

bool mark_initialized(CommonBlock& block, const std::string& path) {
  // Within one size the references stand in path order, so the first of that size with
  // this path is found by search; only when several sizes hold the path must the list
  // itself tell which comes first.
  uint32_t candidate = kNoNode;
  int candidates = 0;
  for (const auto& [size, references] : block.by_size) {
    const auto first = references.lower_bound(std::string_view(path));
    if (first != references.end() && first->first->path == path) {
      candidate = first->second;
      ++candidates;
    }
  }
  if (candidates > 1) {
    for (uint32_t i = block.head; i != kNoNode; i = block.nodes[i].next) {
      if (block.nodes[i].reference.object->path == path) {
        candidate = i;
        break;
      }
    }
  }
  if (candidate == kNoNode) return false;
  block.nodes[candidate].reference.initialized = true;
  return true;
}

std::vector<const BlockReference*> block_references(const CommonBlock& block) {
  std::vector<const BlockReference*> references;
  references.reserve(block.nodes.size());
  for (uint32_t i = block.head; i != kNoNode; i = block.nodes[i].next) {
    references.push_back(&block.nodes[i].reference);
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

ObjectEntry* record_object(Registry& registry, std::string path, std::string name) {
  try {
    auto entry = std::make_unique<ObjectEntry>(ObjectEntry{std::move(path), std::move(name)});
    registry.object_list.push_back(std::move(entry));
    return registry.object_list.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ObjectEntry* make_member_entry(Registry& registry, std::string path, std::string name) {
  try {
    auto entry = std::make_unique<ObjectEntry>(ObjectEntry{std::move(path), std::move(name)});
    registry.member_entries.push_back(std::move(entry));
    return registry.member_entries.back().get();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void free_lists(Registry& registry) {
  registry.object_list.clear();
  registry.procedures.clear();
  registry.block_index.clear();
  registry.blocks.clear();
  registry.member_entries.clear();
  registry.names.clear();
}

}  // namespace drelk
