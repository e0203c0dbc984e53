// The list order of a block's references, private to the registry (see registry_index.h).
#pragma once

#include <cstdint>
#include <string>

#include "registry/registry.h"
#include "registry/registry_index.h"

namespace drelk::detail {

// The number of `object`, given on its first declaration.
uint32_t object_number(ObjectNumbers& numbers, const ObjectEntry& object);

// Works out the list order of a block, and its marks, unless nothing arrived since.
void order_references(ReferenceList& list, bool one_size);

// True when some reference of the block has an object of that path.
bool declares_path(ReferenceList& list, const std::string& path);

}  // namespace drelk::detail
