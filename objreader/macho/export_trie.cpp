// A linked Mach-O image's export trie (mach-o/loader.h, "dyld_info_command"): the names it
// exports with their flags and addresses, walked depth first with one name buffer, each
// node at most once, so that a trie whose edges lead back to a node stops.
#include <string>
#include <vector>

#include "formats/cursor.h"
#include "formats/macho.h"
#include "objreader/macho/macho_reader.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr char kTrieDamaged[] = "Error - export trie of %s %s\n";

// How deep a name may lead: no symbol name is longer, and the walk's stack stays small.
constexpr size_t kMaxTrieDepth = 4096;

// A node being walked: where its next child's edge is, how many children are left, and
// the length of the name up to the node.
struct Frame {
  size_t next_child = 0;
  uint64_t children_left = 0;
  size_t name_length = 0;
};

bool holds_instructions(uint32_t flags) {
  return (flags & (macho::S_ATTR_PURE_INSTRUCTIONS | macho::S_ATTR_SOME_INSTRUCTIONS)) != 0;
}

// Whether `address` lies in a section of data (not of code).
bool is_data_address(const std::vector<MachOSection>& sections, uint64_t address) {
  for (const MachOSection& section : sections) {
    if (address >= section.address && address - section.address < section.size) {
      return !holds_instructions(section.flags);
    }
  }
  return false;
}

}  // namespace

bool read_export_trie(ObjectReader& reader, const std::vector<uint8_t>& trie,
                      const std::vector<MachOSection>& sections, uint64_t image_base) {
  if (trie.empty()) return true;
  std::vector<bool> visited(trie.size(), false);
  std::vector<Frame> stack;
  std::string name;
  std::deque<std::string>& names = macho_tables(reader).export_names;
  const auto damaged = [&](const char* what) {
    report_error(reader.diagnostics,
                 strprintf(kTrieDamaged, std::string(reader.object_path).c_str(), what));
    return false;
  };
  // Enters the node at `offset`: declares the name that ends there, if it is data, and
  // pushes the node's children.
  const auto enter = [&](uint64_t offset) {
    if (offset >= trie.size()) return damaged("runs past its end");
    if (visited[offset]) return damaged("loops");
    if (stack.size() >= kMaxTrieDepth) return damaged("is too deep");
    visited[offset] = true;
    Cursor cursor = make_cursor(trie, false);
    cursor.at = static_cast<size_t>(offset);
    const uint64_t terminal = cursor.uleb();
    const size_t children_at = cursor.at;
    if (terminal != 0) {
      const uint64_t flags = cursor.uleb();
      const uint64_t kind = flags & macho::EXPORT_SYMBOL_FLAGS_KIND_MASK;
      const bool reexport = (flags & macho::EXPORT_SYMBOL_FLAGS_REEXPORT) != 0;
      const uint64_t address = reexport ? 0 : cursor.uleb();
      if (cursor.failed) return damaged("runs past its end");
      if (!reexport &&
          (kind == macho::EXPORT_SYMBOL_FLAGS_KIND_REGULAR ||
           kind == macho::EXPORT_SYMBOL_FLAGS_KIND_THREAD_LOCAL) &&
          is_data_address(sections, image_base + address)) {
        names.push_back(name);
        if (!declare(reader,
                     Declaration{Declaration::kInitializedData, true, names.back(), 0, 0, false})) {
          report_out_of_memory(reader.diagnostics, reader.object_path);
          return false;
        }
      }
      cursor.at = children_at;
      cursor.skip(terminal);
    }
    const uint64_t children = cursor.u8();
    if (cursor.failed) return damaged("runs past its end");
    stack.push_back(Frame{cursor.at, children, name.size()});
    return true;
  };
  if (!enter(0)) return false;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.children_left == 0) {
      stack.pop_back();
      continue;
    }
    --frame.children_left;
    Cursor cursor = make_cursor(trie, false);
    cursor.at = frame.next_child;
    const std::string_view edge = cursor.string();
    const uint64_t child = cursor.uleb();
    if (cursor.failed) return damaged("runs past its end");
    frame.next_child = cursor.at;
    name.resize(frame.name_length);
    name += edge;
    if (!enter(child)) return false;
  }
  return true;
}

}  // namespace drelk
