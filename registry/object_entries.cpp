// The entries of the objects analysed, and how each is shown: a file as named, an archive
// member as "lib.a (x.o)", a universal file's slice as "x.o (arm64)".
#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "registry/registry.h"

namespace drelk {

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

}  // namespace

std::unique_ptr<ObjectEntry> compose_member_entry(const ObjectEntry& archive,
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
    return entry;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

std::unique_ptr<ObjectEntry> compose_slice_entry(const ObjectEntry& object,
                                                 std::string_view architecture, uint64_t offset) {
  try {
    auto entry = std::make_unique<ObjectEntry>(object);
    decorate(entry->path, architecture);
    decorate(entry->name, architecture);
    entry->archive = object_file(object);
    entry->member_offset = offset;
    entry->architecture = architecture;
    entry->format = {};
    return entry;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ObjectEntry* keep_entry(Registry& registry, std::unique_ptr<ObjectEntry> entry) {
  if (entry == nullptr) return nullptr;
  try {
    entry->ordinal = static_cast<uint32_t>(registry.entries.size());
    ObjectEntry* made = entry.get();
    registry.member_entries.push_back(std::move(entry));
    add_to_entries(registry, registry.member_entries);
    return made;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

ObjectEntry* make_member_entry(Registry& registry, const ObjectEntry& archive,
                               std::string_view member, bool member_known,
                               std::string_view architecture) {
  return keep_entry(registry, compose_member_entry(archive, member, member_known, architecture));
}

ObjectEntry* make_slice_entry(Registry& registry, const ObjectEntry& object,
                              std::string_view architecture, uint64_t offset) {
  return keep_entry(registry, compose_slice_entry(object, architecture, offset));
}

}  // namespace drelk

namespace drelk {

std::string_view exported_name(const ObjectEntry& library, std::string_view block) {
  const std::vector<std::string>& exports = library.versioned_exports;
  // Sorted by their bare names: the first entry not below the block's name is the one.
  const auto at = std::lower_bound(
      exports.begin(), exports.end(), block, [](const std::string& entry, std::string_view name) {
        return std::string_view(entry).substr(0, entry.find('@')) < name;
      });
  if (at == exports.end()) return {};
  const std::string_view entry(*at);
  return entry.substr(0, entry.find('@')) == block ? entry : std::string_view();
}

}  // namespace drelk
