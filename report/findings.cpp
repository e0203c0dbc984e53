#include "report/findings.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "platform/strprintf.h"
#include "report/storage.h"

namespace drelk {
namespace {

// Layouts compare by their members' offsets, sizes and types; names and the shapes of
// arrays (X(10) against X(2,5)) make no difference. Each shape is given the number of its
// signature once a run.
struct Signatures {
  std::unordered_map<const LayoutShape*, uint32_t> of_shape;
  std::unordered_map<std::string, uint32_t> numbers;

  uint32_t of(const LayoutShape* shape) {
    const auto known = of_shape.find(shape);
    if (known != of_shape.end()) return known->second;
    std::string key;
    for (const LayoutMember& member : shape->members) {
      key += std::to_string(member.offset);
      key += ' ';
      key += std::to_string(member.size);
      key += ' ';
      key += member.type;
      key += '\n';
    }
    const auto [at, added] = numbers.emplace(std::move(key), static_cast<uint32_t>(numbers.size()));
    of_shape.emplace(shape, at->second);
    return at->second;
  }
};

// The first bytes that two of the distinct layouts read as different types: every pair is
// compared, each comparison stopping at the best offset found so far. A block with more
// layouts than a code base has (hostile debug information) compares the rest with the first
// ones only.
constexpr size_t kLayoutsComparedPairwise = 64;

void find_conflict(LayoutFindings& layouts, const std::vector<uint32_t>& signatures) {
  LayoutConflict& best = layouts.conflict;
  // One layout of each signature: layouts alike in offset, size and type read alike.
  std::vector<size_t> distinct;
  std::unordered_map<uint32_t, size_t> seen;
  for (size_t g = 0; g < layouts.groups.size(); ++g) {
    if (seen.emplace(signatures[g], g).second) distinct.push_back(g);
  }
  for (size_t i = 1; i < distinct.size(); ++i) {
    for (size_t j = 0; j < i && j < kLayoutsComparedPairwise; ++j) {
      const size_t ga = distinct[j];
      const size_t gb = distinct[i];
      const StorageConflict found =
          first_conflict(*layouts.groups[ga].example->shape, *layouts.groups[gb].example->shape,
                         best.found ? best.first : UINT64_MAX);
      if (!found.found) continue;
      best = LayoutConflict{true, found.first, found.last, ga, gb, found.member_a, found.member_b};
    }
  }
}

// Groups the declarations of a block by layout and block size.
LayoutFindings group_layouts(const CommonBlock& block, Signatures& signatures) {
  LayoutFindings found;
  std::vector<uint32_t> group_signatures;
  const std::vector<ReferenceLayouts> references = block_layouts(block);
  const std::vector<bool> definitions = block_definitions(block);
  for (size_t r = 0; r < references.size(); ++r) {
    const ReferenceLayouts& reference = references[r];
    if (reference.count == 0 && definitions[r]) {
      if (found.block_data++ == 0) found.block_data_example = reference.reference->object;
      continue;
    }
    if (reference.count == 0) {
      if (found.without_debug++ == 0) found.without_example = reference.reference->object;
      continue;
    }
    for (size_t i = 0; i < reference.count; ++i) {
      const DeclaredLayout& layout = reference.layouts[i];
      const uint32_t signature = signatures.of(layout.shape);
      const uint64_t size = reference.reference->size;
      size_t g = 0;
      while (g < found.groups.size() &&
             (group_signatures[g] != signature || found.groups[g].size != size)) {
        ++g;
      }
      if (g == found.groups.size()) {
        found.groups.push_back(LayoutGroup{&layout, reference.reference->object, size, 0});
        group_signatures.push_back(signature);
      }
      ++found.groups[g].count;
    }
  }
  if (found.groups.size() > 1) find_conflict(found, group_signatures);
  return found;
}

// What goes wrong at run time, and on which linkers, for each class.
constexpr std::string_view kInitialisedSmallerExplanation =
    "an initialised definition (BLOCK DATA) is smaller than a declaration; it decides the "
    "block's size on every linker, so routines that declare more write past its end into "
    "other data";
constexpr std::string_view kInitialisedSmallerBoundExplanation =
    "an initialised definition (BLOCK DATA) is smaller than a declaration: its object's layout "
    "leaves it fewer bytes (up to the next symbol of its section) than the block is declared "
    "with; it decides the block's size on every linker (LINK's LNK2133), so routines that "
    "declare more write past its end into other data";
constexpr std::string_view kLibrarySmallerExplanation =
    "a shared library defines the block with fewer bytes than a declaration: a program linked "
    "against it gets a copy of the declared size while the library's code knows its own "
    "smaller object, and routines that declare more read and write past the library's object";
constexpr std::string_view kTypeConflictExplanation =
    "two declarations read the same bytes as different types: a value stored through one "
    "is read as garbage through the other, on every linker";
constexpr std::string_view kExtentExplanation =
    "a routine declares only the start of the block: harmless where the linker keeps the "
    "largest size (GNU ld, lld), memory corruption where it keeps another (Apple's ld64 "
    "since Xcode 15, MSVC's LINK)";
constexpr std::string_view kExtentUncomparedExplanation =
    "sizes differ and not every layout was compared (-m, objects built with -g): GNU ld and "
    "lld keep the largest size; Apple's ld64 since Xcode 15 and MSVC's LINK may keep "
    "another, which larger declarations overrun";
constexpr std::string_view kBlankCommonExplanation =
    "blank COMMON of different sizes, which the Fortran standard allows; GNU ld and lld "
    "keep the largest size, Apple's ld64 since Xcode 15 and MSVC's LINK may not";

// Blank COMMON as the compilers name its symbol: "__BLNK__", with the '_' that i386 COFF
// and Mach-O put before every name; IBM's XL Fortran names it "#BLNK_COM".
bool is_blank_common(std::string_view name) {
  return name == "__BLNK__" || name == "___BLNK__" || name == "#BLNK_COM";
}

// A definition whose size is only bounded by its object's layout: COFF and Mach-O record
// no size for a defined symbol (an XCOFF label inside a csect is such a definition too,
// registered as bounded).
bool size_is_bound(const ObjectEntry& object) {
  return object.role == InputRole::kObject && (object.format == "coff" || object.format == "macho");
}

// The sizes of a block's references, a bounded definition's apart: it is certainly smaller
// than a declaration only where its bound is, and agrees with any size up to its bound.
struct BlockSizes {
  uint64_t largest = 0;  // of the declarations and the exact definitions
  uint64_t smallest = UINT64_MAX;
  bool differ = false;  // some two of them differ, or a bound is below the largest
  bool bounded_smaller = false;
  bool exact_smaller = false;    // an initialised reference of exact size below the largest
  bool library_smaller = false;  // a shared library's definition below the largest
};

BlockSizes block_sizes(const CommonBlock& block) {
  const std::vector<const BlockReference*> references = block_references(block);
  const std::vector<bool> definitions = block_definitions(block);
  const std::vector<bool> bound = block_bounded_definitions(block);
  BlockSizes sizes;
  const auto bounded = [&](size_t i) {
    return bound[i] || (definitions[i] && size_is_bound(*references[i]->object));
  };
  bool first = true;
  for (size_t i = 0; i < references.size(); ++i) {
    if (bounded(i) || is_unsized_definition(*references[i])) continue;
    const uint64_t size = references[i]->size;
    if (!first && (size != sizes.largest || size != sizes.smallest)) sizes.differ = true;
    first = false;
    sizes.largest = std::max(sizes.largest, size);
    sizes.smallest = std::min(sizes.smallest, size);
  }
  for (size_t i = 0; i < references.size(); ++i) {
    const uint64_t size = references[i]->size;
    if (is_unsized_definition(*references[i])) continue;
    if (bounded(i)) {
      if (size < sizes.largest) sizes.bounded_smaller = sizes.differ = true;
      sizes.smallest = std::min(sizes.smallest, size);
    } else if (references[i]->initialized && size < sizes.largest) {
      if (references[i]->object->role == InputRole::kLibrary) {
        sizes.library_smaller = true;
      } else {
        sizes.exact_smaller = true;
      }
    }
  }
  return sizes;
}

// Classes a block of different sizes, or of one size with a type conflict.
void classify(BlockFindings& found, bool layouts) {
  const BlockSizes sizes = block_sizes(*found.block);
  const uint64_t smallest = sizes.smallest;
  const bool initialised_smaller = sizes.exact_smaller || sizes.bounded_smaller;
  LayoutFindings& found_layouts = found.layouts;
  if (layouts) {
    found_layouts.parted = true;
    found_layouts.parting_offset =
        found_layouts.conflict.found ? found_layouts.conflict.first : smallest;
  }
  if (sizes.library_smaller) {
    found.finding_class = FindingClass::kLibrarySmaller;
    found.explanation = kLibrarySmallerExplanation;
  } else if (initialised_smaller) {
    found.finding_class = FindingClass::kInitialisedSmaller;
    found.explanation =
        sizes.exact_smaller ? kInitialisedSmallerExplanation : kInitialisedSmallerBoundExplanation;
  } else if (found_layouts.conflict.found) {
    found.finding_class = FindingClass::kTypeConflict;
    found.explanation = kTypeConflictExplanation;
  } else if (is_blank_common(found.block->name)) {
    found.finding_class = FindingClass::kBlankCommon;
    found.explanation = kBlankCommonExplanation;
  } else {
    found.finding_class = FindingClass::kExtent;
    const bool compared =
        layouts && found_layouts.without_debug == 0 && !found_layouts.groups.empty();
    found.explanation = compared ? kExtentExplanation : kExtentUncomparedExplanation;
  }
}

// The definitions of the block less aligned than another object's COMMON declaration asks
// for. Each definition is held against the declaration that asks the most among the other
// objects': the most of all, or, where that one is the definition's own object, the most of
// the rest.
AlignmentFindings short_definitions(const CommonBlock& block) {
  AlignmentFindings found;
  const std::vector<const BlockReference*> references = block_references(block);
  const std::vector<bool> definitions = block_definitions(block);
  const std::vector<uint64_t> alignments = block_alignments(block);
  size_t most = SIZE_MAX;   // the declaration asking the most, the first of them
  size_t other = SIZE_MAX;  // the one asking the most among the other objects'
  const auto asks_more = [&](size_t i, size_t than) {
    return than == SIZE_MAX || alignments[i] > alignments[than];
  };
  for (size_t i = 0; i < references.size(); ++i) {
    if (definitions[i] || alignments[i] == 0) continue;
    if (asks_more(i, most)) {
      if (most != SIZE_MAX && references[most]->object != references[i]->object) other = most;
      most = i;
    } else if (references[i]->object != references[most]->object && asks_more(i, other)) {
      other = i;
    }
  }
  if (most == SIZE_MAX) return found;
  for (size_t i = 0; i < references.size(); ++i) {
    if (!definitions[i] || alignments[i] == 0) continue;
    const size_t asking = references[most]->object != references[i]->object ? most : other;
    if (asking == SIZE_MAX || alignments[i] >= alignments[asking]) continue;
    if (found.definitions.empty()) {
      found.declaration = references[asking]->object;
      found.declared = alignments[asking];
    }
    found.definitions.push_back(ShortDefinition{references[i]->object, alignments[i]});
  }
  return found;
}

// "sa (a.f:2)": a routine and where it declares the block.
std::string routine_where(const DeclaredLayout& layout) {
  std::string where(layout.routine);
  if (!layout.file.empty()) {
    where += " (";
    where += layout.file;
    if (layout.line != 0) where += strprintf(":%u", layout.line);
    where += ")";
  }
  return where;
}

}  // namespace

bool is_unsized_library(const ObjectEntry& object) {
  return object.role == InputRole::kLibrary && object.format != "elf";
}

bool is_unsized_definition(const BlockReference& reference) {
  return reference.initialized && is_unsized_library(*reference.object);
}

const std::string_view kLibraryUnsizedExplanation =
    "a shared library defines the block, and its format records no size: Apple's ld64 refuses "
    "a COMMON block that a dylib defines, and a DLL's block must match its declarations in "
    "order, size and type: compare them with the library's by hand";

const std::string_view kAlignmentSmallerExplanation =
    "a definition of the block is less aligned than a COMMON declaration asks for: where the "
    "block is placed as the definition is (an object's always: GNU ld warns of it for ELF, "
    "lld and mingw-w64's ld say nothing), code compiled for the larger alignment may fault "
    "in aligned vector loads and stores";

const std::string_view kProcedureClashExplanation =
    "a procedure has the block's name: the linker takes both for one symbol, so the "
    "block's storage overlays code or a call jumps into data";

const std::string_view kPossibleProcedureClashExplanation =
    "a procedure that the objects call has the block's name and comes from a library not "
    "read: linked together, the block's storage overlays its code or the call jumps into data";

std::string_view class_name(FindingClass finding_class) {
  switch (finding_class) {
    case FindingClass::kInitialisedSmaller:
      return "initialised-smaller";
    case FindingClass::kTypeConflict:
      return "type-conflict";
    case FindingClass::kExtent:
      return "extent";
    case FindingClass::kBlankCommon:
      return "blank-common";
    case FindingClass::kLibrarySmaller:
      return "library-smaller";
    case FindingClass::kLibraryUnsized:
      return "library-unsized";
    case FindingClass::kPossibleProcedureClash:
      return "possible-procedure-clash";
    case FindingClass::kAlignmentSmaller:
      return "alignment-smaller";
    case FindingClass::kProcedureClash:
      break;
  }
  return "procedure-clash";
}

Severity severity_of(FindingClass finding_class) {
  switch (finding_class) {
    case FindingClass::kExtent:
    case FindingClass::kPossibleProcedureClash:
      return Severity::kWarning;
    case FindingClass::kBlankCommon:
    case FindingClass::kLibraryUnsized:
    case FindingClass::kAlignmentSmaller:
      return Severity::kNote;
    case FindingClass::kInitialisedSmaller:
    case FindingClass::kTypeConflict:
    case FindingClass::kProcedureClash:
    case FindingClass::kLibrarySmaller:
      break;
  }
  return Severity::kError;
}

std::string_view severity_name(Severity severity) {
  switch (severity) {
    case Severity::kWarning:
      return "warning";
    case Severity::kNote:
      return "note";
    case Severity::kError:
      break;
  }
  return "error";
}

std::string describe_conflict(const LayoutFindings& layouts) {
  const LayoutConflict& conflict = layouts.conflict;
  if (!conflict.found) return {};
  const auto side = [&](const LayoutMember& member, size_t group) {
    return std::string(member.type) + " " + element_name(member, conflict.first) + " in " +
           routine_where(*layouts.groups[group].example);
  };
  return strprintf("bytes %llu-%llu: ", static_cast<unsigned long long>(conflict.first),
                   static_cast<unsigned long long>(conflict.last)) +
         side(*conflict.member_a, conflict.group_a) + ", " +
         side(*conflict.member_b, conflict.group_b);
}

std::vector<const ObjectEntry*> procedure_objects(const Findings& findings,
                                                  const BlockFindings& found, bool calls) {
  std::vector<const ObjectEntry*> objects;
  if (calls) {
    for (size_t i = found.first_call; i < found.first_call + found.call_count; ++i) {
      objects.push_back(findings.calls[i].caller);
    }
  } else {
    for (size_t i = found.first_clash; i < found.first_clash + found.clash_count; ++i) {
      objects.push_back(findings.procedures[i].definer);
    }
  }
  return objects;
}

PartingMember member_at(const LayoutGroup& group, uint64_t offset) {
  const std::vector<LayoutMember>& members = group.example->shape->members;
  const LayoutMember* covering = nullptr;
  for (const LayoutMember& member : members) {
    if (member.offset == offset) return PartingMember{&member, false};
    if (member.offset < offset && offset - member.offset < member.size && covering == nullptr) {
      covering = &member;
    }
  }
  return PartingMember{covering, covering == nullptr && offset >= group.size};
}

Findings find_problems(const Registry& registry, uint64_t error_count, bool layouts) {
  Findings findings;
  findings.incomplete = error_count > 0;
  findings.layouts = layouts;
  findings.objects = registry.entries;
  // Only a run with a library of unsized definitions looks for them in each block.
  bool any_unsized = false;
  for (const ObjectEntry* object : findings.objects) {
    any_unsized = any_unsized || is_unsized_library(*object);
    const std::string_view format = object->format;
    if (format != "archive" && format != "thin-archive" && format != "big-archive" &&
        format != "universal") {
      ++findings.objects_read;
    }
  }
  findings.procedures = procedures_named_like_blocks(registry);
  // A call of a procedure that some input defines is no more than that clash.
  for (const ProcedureCall& call : calls_named_like_blocks(registry)) {
    const auto defined =
        std::lower_bound(findings.procedures.begin(), findings.procedures.end(), call.name,
                         [](const ProcedureEntry& procedure, std::string_view name) {
                           return procedure.name < name;
                         });
    if (defined == findings.procedures.end() || defined->name != call.name) {
      findings.calls.push_back(call);
    }
  }
  const std::vector<const CommonBlock*> blocks = sorted_blocks(registry);
  findings.blocks.reserve(blocks.size());
  Signatures signatures;
  // Blocks, procedures and calls are all in name order: one merge finds every clash.
  size_t cursor = 0;
  size_t calls = 0;
  for (const CommonBlock* block : blocks) {
    // A name that no object declares with a non-zero size is only referred to (a
    // procedure passed as an argument, a variable defined elsewhere): not a COMMON block.
    if (!block->declared) continue;
    BlockFindings found;
    found.block = block;
    // A definition bounded by its object's layout differs only where its bound is below
    // a declaration: otherwise it may hold exactly what the block is declared with.
    found.size_mismatch = !block->consistent && block_sizes(*block).differ;
    if (layouts && (found.size_mismatch || has_layouts(*block))) {
      found.layouts = group_layouts(*block, signatures);
      // Layouts of one size that differ only in names, EQUIVALENCE views or padding read
      // their bytes alike: only a type conflict is a finding.
      found.layout_mismatch = !found.size_mismatch && found.layouts.conflict.found;
      if (!found.size_mismatch && !found.layout_mismatch) found.layouts = LayoutFindings();
    }
    if (found.size_mismatch || found.layout_mismatch) {
      classify(found, layouts);
      findings.counts.add(severity_of(found.finding_class));
    }
    for (const BlockReference* reference :
         any_unsized ? block_references(*block) : std::vector<const BlockReference*>()) {
      if (!is_unsized_definition(*reference)) continue;
      if (found.unsized_libraries++ == 0) found.unsized_library = reference->object;
    }
    if (found.unsized_libraries > 0) {
      findings.counts.add(severity_of(FindingClass::kLibraryUnsized));
    }
    // Only a block that something defines can have a definition less aligned.
    if (has_definitions(*block)) {
      AlignmentFindings alignment = short_definitions(*block);
      if (!alignment.definitions.empty()) {
        found.alignment = static_cast<uint32_t>(findings.alignments.size());
        findings.alignments.push_back(std::move(alignment));
        findings.counts.add(severity_of(FindingClass::kAlignmentSmaller));
      }
    }
    while (cursor < findings.procedures.size() && block->name > findings.procedures[cursor].name) {
      ++cursor;
    }
    found.first_clash = cursor;
    while (cursor < findings.procedures.size() && block->name == findings.procedures[cursor].name) {
      ++cursor;
    }
    found.clash_count = cursor - found.first_clash;
    if (found.clash_count > 0) findings.counts.add(severity_of(FindingClass::kProcedureClash));
    while (calls < findings.calls.size() && block->name > findings.calls[calls].name) ++calls;
    found.first_call = calls;
    while (calls < findings.calls.size() && block->name == findings.calls[calls].name) ++calls;
    found.call_count = calls - found.first_call;
    if (found.call_count > 0) {
      findings.counts.add(severity_of(FindingClass::kPossibleProcedureClash));
    }
    if (has_errors(found)) findings.errors_seen = true;
    findings.blocks.push_back(found);
  }
  return findings;
}

}  // namespace drelk
