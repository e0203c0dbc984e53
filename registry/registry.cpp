// The registry's operations: declarations, layouts and procedures registered, blocks found,
// and the sorted lists the report reads.
#include "registry/registry.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <tuple>

#include "registry/list_order.h"
#include "registry/registry_index.h"

namespace drelk {

using detail::Arrival;
using detail::declares_path;
using detail::Mark;
using detail::NameStore;
using detail::object_number;
using detail::ObjectNumbers;
using detail::order_references;
using detail::ReferenceList;

CommonBlock::CommonBlock() = default;
CommonBlock::~CommonBlock() = default;
CommonBlock::CommonBlock(CommonBlock&&) noexcept = default;
CommonBlock& CommonBlock::operator=(CommonBlock&&) noexcept = default;

Registry::Registry() : index(std::make_unique<detail::RegistryIndex>()) {}
Registry::~Registry() = default;

namespace {

// An alignment as Arrival::alignment holds it: its power of two plus one, rounded up.
uint8_t held_alignment(uint64_t alignment) {
  if (alignment == 0) return 0;
  uint8_t power = 0;
  while (power < 63 && (uint64_t{1} << power) < alignment) ++power;
  return static_cast<uint8_t>(power + 1);
}

}  // namespace

Outcome add_common_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                             uint64_t declared_size, uint64_t alignment) {
  const uint64_t size = std::min(declared_size, kLargestHeldSize);
  try {
    detail::RegistryIndex& index = *registry.index;
    Arrival arrival;
    arrival.reference.object = &object;
    arrival.reference.size = size;
    arrival.alignment = held_alignment(alignment);
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
      return Outcome::kOk;
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
    return Outcome::kOk;
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
}

Outcome add_initialized_reference(Registry& registry, const ObjectEntry& object,
                                  std::string_view name, uint64_t size, bool bounded,
                                  uint64_t alignment) {
  // Registered as a declaration is, then made a definition: the declarations' path, which
  // every COMMON symbol of a run takes, stays as it is.
  const CommonBlock* before = find_block(registry, name);
  const bool declared = before != nullptr && before->declared;
  const Outcome result = add_common_reference(registry, object, name, size, alignment);
  if (result != Outcome::kOk) return result;
  CommonBlock& block = *find_block(registry, name);
  ReferenceList& list = *block.references;
  list.arrivals.back().reference.initialized = 1;
  list.arrivals.back().defined = true;
  list.arrivals.back().bounded = bounded;
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

// What `of` says of each reference of the block, in list order.
template <typename T, typename Of>
std::vector<T> in_list_order(const CommonBlock& block, Of of) {
  ReferenceList& list = *block.references;
  order_references(list, block.consistent);
  std::vector<T> values;
  values.reserve(list.order.size());
  for (const uint32_t node : list.order) values.push_back(of(list.arrivals[node]));
  return values;
}

}  // namespace

std::vector<bool> block_definitions(const CommonBlock& block) {
  return in_list_order<bool>(block, [](const Arrival& arrival) { return arrival.defined; });
}

std::vector<bool> block_bounded_definitions(const CommonBlock& block) {
  return in_list_order<bool>(
      block, [](const Arrival& arrival) { return arrival.defined && arrival.bounded; });
}

bool has_definitions(const CommonBlock& block) {
  return block.references->has_definitions;
}

std::vector<uint64_t> block_alignments(const CommonBlock& block) {
  return in_list_order<uint64_t>(block, [](const Arrival& arrival) {
    return arrival.alignment == 0 ? uint64_t{0} : uint64_t{1} << (arrival.alignment - 1);
  });
}

bool detail::ShapeOrder::less(const std::vector<LayoutMember>& a,
                              const std::vector<LayoutMember>& b) {
  const auto key = [](const LayoutMember& m) {
    return std::tie(m.offset, m.size, m.name, m.type, m.dimensions);
  };
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [&](const LayoutMember& x, const LayoutMember& y) { return key(x) < key(y); });
}

namespace {

// The shape of these members, held once.
const LayoutShape* intern_shape(detail::RegistryIndex& index,
                                const std::vector<LayoutMember>& members) {
  const auto found = index.shapes.ordered.find(members);
  if (found != index.shapes.ordered.end()) return *found;
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
    index.shapes.ordered.insert(stored);
  } catch (...) {
    index.shapes.shapes.pop_back();
    throw;
  }
  return stored;
}

}  // namespace

Outcome add_reference_layout(Registry& registry, const ObjectEntry& object, std::string_view name,
                             std::string_view routine, std::string_view file, uint32_t line,
                             const std::vector<LayoutMember>& members) {
  CommonBlock* block = find_block(registry, name);
  if (block == nullptr) return Outcome::kOk;
  ReferenceList& list = *block->references;
  if (list.arrivals.back().reference.object != &object) return Outcome::kOk;
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
    return Outcome::kOk;
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
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

Outcome add_procedure(Registry& registry, const ObjectEntry& object, std::string_view name) {
  try {
    registry.procedures.push_back(ProcedureEntry{registry.index->names.store(name), &object});
    return Outcome::kOk;
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
  }
}

Outcome add_procedure_call(Registry& registry, const ObjectEntry& object, std::string_view name) {
  try {
    // Every object calls the run-time library: each name is held once.
    detail::RegistryIndex& index = *registry.index;
    auto held = index.called_names.find(name);
    if (held == index.called_names.end()) {
      held = index.called_names.insert(index.names.store(name)).first;
    }
    registry.calls.push_back(ProcedureCall{*held, &object});
    return Outcome::kOk;
  } catch (const std::bad_alloc&) {
    return Outcome::kNoMemory;
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

std::vector<ProcedureCall> calls_named_like_blocks(const Registry& registry) {
  const detail::BlockTable& blocks = registry.index->blocks;
  std::vector<ProcedureCall> named;
  for (const ProcedureCall& call : registry.calls) {
    if (blocks.find(call.name, detail::hash_name(call.name)) != nullptr) named.push_back(call);
  }
  std::stable_sort(named.begin(), named.end(),
                   [](const ProcedureCall& a, const ProcedureCall& b) { return a.name < b.name; });
  return named;
}

void free_lists(Registry& registry) {
  registry.object_list.clear();
  registry.procedures.clear();
  registry.calls.clear();
  registry.blocks.clear();
  registry.member_entries.clear();
  registry.entries.clear();
  *registry.index = detail::RegistryIndex();
}

}  // namespace drelk
