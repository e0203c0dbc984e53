// The COMMON block registry: the objects analysed, every COMMON block declared by any of
// them with one reference per declaration, and every procedure defined.
//
// The order the report shows is that of sorted lists: blocks by name; a block's
// references in descending order of the first reference of each size, the references of
// one size ordered by object path (equal paths in arrival order), except that a
// declaration of a size already present whose path no earlier equal-size reference
// exceeds goes to the very end of the list; procedures by name, equal names in arrival
// order. Code bases of tens of thousands of objects and millions of declarations are
// normal input: a declaration is registered in constant time, and a block's list order is
// worked out once, when its references are asked for.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/outcome.h"

namespace drelk {

enum class InputRole : uint8_t { kObject, kLibrary, kProgram };

// One analysed object: a file from the command line, or a member of an archive.
struct ObjectEntry {
  std::string path;  // as the report shows it: the file's path, or "lib.a (member)"
  std::string name;  // the file name as found, decorated the same way for members
  // The identity behind `path` for a member of an archive: the archive's path and the
  // member's name (see object_file).
  std::string archive;
  std::string member;
  bool in_archive = false;
  bool member_known = false;  // false for a member whose name the archive does not give
  // Where the object's data begins in the file read: a member's in its archive, a slice's
  // in its universal file.
  uint64_t member_offset = 0;
  // A slice of a universal file (or a member of a universal archive's slice): its
  // architecture as shown ("arm64"). `archive` is then the file read too.
  std::string architecture;
  // What the object's first bytes make it ("coff", "archive", ...), set when the driver
  // identifies it; empty for a file that was refused or could not be identified.
  std::string_view format;
  // The entry's place in Registry::entries.
  uint32_t ordinal = 0;
  // What the file is to the link: an object, a shared library whose exported data
  // define blocks, or a linked program whose debug information declares them.
  InputRole role = InputRole::kObject;
  // A library's exports that carry a symbol version, as it exports them ("blk_@@V1"),
  // sorted by their bare names: the block is the bare name, the report shows the version.
  std::vector<std::string> versioned_exports;
};

// The version a library exports `block` with ("blk_@@V1"), or empty.
std::string_view exported_name(const ObjectEntry& library, std::string_view block);

// The file an object was read from: its own path, or its archive's or universal file's.
inline const std::string& object_file(const ObjectEntry& object) {
  return object.in_archive || !object.architecture.empty() ? object.archive : object.path;
}

// One declaration of a block. Millions are normal input, so a reference is 16 bytes: a
// declared size of 2^63 bytes or more is held as 2^63 - 1 (no object can be that large).
struct BlockReference {
  const ObjectEntry* object = nullptr;
  uint64_t size : 63 = 0;
  uint64_t initialized : 1 = 0;
};

inline constexpr uint64_t kLargestHeldSize = (uint64_t{1} << 63) - 1;

// A member of a block as a declaration's debug information describes it; the texts are
// held by the registry.
struct LayoutMember {
  uint64_t offset = 0;
  uint64_t size = 0;
  std::string_view name;
  std::string_view type;        // INTEGER*4, REAL*8, CHARACTER*8, TYPE(point)
  std::string_view dimensions;  // "(10)", "(-2:2,3)"; empty for a scalar
};

// The members of a layout in offset order, held once for all the declarations whose
// members are alike, names included: a code base declares each block from a few INCLUDE
// files.
struct LayoutShape {
  std::vector<LayoutMember> members;
};

// One routine's declaration of a block, from its object's debug information.
struct DeclaredLayout {
  const LayoutShape* shape = nullptr;
  std::string_view routine;
  std::string_view file;  // the source file, or empty
  uint32_t line = 0;      // 0 where not recorded
};

// The layouts of one reference: the routines of its object that declare the block.
struct ReferenceLayouts {
  const BlockReference* reference = nullptr;
  const DeclaredLayout* layouts = nullptr;
  size_t count = 0;
};

namespace detail {
struct ReferenceList;
struct RegistryIndex;
}  // namespace detail

struct CommonBlock {
  CommonBlock();
  ~CommonBlock();
  CommonBlock(CommonBlock&&) noexcept;
  CommonBlock& operator=(CommonBlock&&) noexcept;

  std::string_view name;  // held by the registry
  // True while every reference has the same size.
  bool consistent = true;
  // True once some object declares the block as COMMON with a non-zero size: only then is
  // the name a COMMON block rather than a plain reference to something defined elsewhere,
  // or a variable that objects only define.
  bool declared = false;
  std::unique_ptr<detail::ReferenceList> references;  // the registry's own
};

struct ProcedureEntry {
  std::string_view name;
  const ObjectEntry* definer = nullptr;
};

// A procedure that `caller` calls without defining it: it comes from another object or a
// library, and clashes with a block of its name wherever it is defined.
struct ProcedureCall {
  std::string_view name;
  const ObjectEntry* caller = nullptr;
};

struct Registry {
  Registry();
  ~Registry();
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Files opened from the command line, newest last.
  std::vector<std::unique_ptr<ObjectEntry>> object_list;
  // Entries of archive members: no list shows them, references point at them.
  std::vector<std::unique_ptr<ObjectEntry>> member_entries;
  // Every entry, files and members, in the order they were made: a file, then its members.
  std::vector<const ObjectEntry*> entries;

  std::deque<CommonBlock> blocks;                // in order of first declaration
  std::vector<ProcedureEntry> procedures;        // in arrival order
  std::vector<ProcedureCall> calls;              // in arrival order, one per calling object
  std::unique_ptr<detail::RegistryIndex> index;  // the registry's own
};

// Registers one declaration of block `name` with `size` bytes by `object`, asking for
// `alignment` bytes (0 where its format records none). Returns kOk, or kNoMemory with
// nothing linked.
Outcome add_common_reference(Registry& registry, const ObjectEntry& object, std::string_view name,
                             uint64_t size, uint64_t alignment = 0);

// Registers a definition of `name` that records its size (an ELF object's initialised
// data) as a reference of that size: it joins the block by the same rules, marked
// initialised, but does not by itself make the name a COMMON block (see
// CommonBlock::declared). `bounded` for a size that the object's layout only bounds (an
// XCOFF label, whose data ends at the next label or its csect's end). `alignment` is what
// its place in its section gives it (0 where unknown). Returns as add_common_reference
// does.
Outcome add_initialized_reference(Registry& registry, const ObjectEntry& object,
                                  std::string_view name, uint64_t size, bool bounded = false,
                                  uint64_t alignment = 0);

// Gives the latest reference of block `name`, when `object` made it (the declaration just
// registered), a layout: the routine that declares the block, where, and its members in
// offset order. Returns kOk, or kNoMemory (nothing kept); kOk with nothing kept when
// the object has no such reference (a block it only defines, in COFF).
Outcome add_reference_layout(Registry& registry, const ObjectEntry& object, std::string_view name,
                             std::string_view routine, std::string_view file, uint32_t line,
                             const std::vector<LayoutMember>& members);

// True when some reference of the block has a layout.
bool has_layouts(const CommonBlock& block);

// Every reference of the block in list order, each with its layouts (none for a
// declaration without debug information).
std::vector<ReferenceLayouts> block_layouts(const CommonBlock& block);

// Registers one procedure defined by `object`. Returns 0, or 1 when memory ran out.
Outcome add_procedure(Registry& registry, const ObjectEntry& object, std::string_view name);

// Registers that `object` calls procedure `name`, which it does not define. Returns kOk,
// or kNoMemory with nothing kept.
Outcome add_procedure_call(Registry& registry, const ObjectEntry& object, std::string_view name);

// The block of that name, or nullptr.
CommonBlock* find_block(Registry& registry, std::string_view name);

// Marks the first reference of `block`, in list order, whose object path equals `path`
// as initialised. Returns false when the block has no reference with that path.
bool mark_initialized(CommonBlock& block, const std::string& path);

// The references of a block in list order (worked out on the first call after a change;
// the pointers stay valid until the block's next declaration).
std::vector<const BlockReference*> block_references(const CommonBlock& block);

// For each reference of block_references(block), in that order, whether it is a definition
// that records its size (registered by add_initialized_reference) rather than a COMMON
// declaration.
std::vector<bool> block_definitions(const CommonBlock& block);
// The same, for the definitions whose size is only a bound (add_initialized_reference).
std::vector<bool> block_bounded_definitions(const CommonBlock& block);

// Whether some reference of the block is a definition (add_initialized_reference).
bool has_definitions(const CommonBlock& block);

// For each reference of block_references(block), in that order, its alignment in bytes: what
// a declaration asks for, or what a definition's place gives it; 0 where its format records
// none. An alignment that is no power of two counts as the next one up, as linkers take it.
std::vector<uint64_t> block_alignments(const CommonBlock& block);

// The blocks in name order, and the procedures in name order (equal names in arrival
// order), as the report walks them.
std::vector<const CommonBlock*> sorted_blocks(const Registry& registry);
std::vector<ProcedureEntry> sorted_procedures(const Registry& registry);

// The procedures named like some block, in name order (equal names in arrival order): the
// clashes, found by a look-up per procedure rather than by sorting every procedure.
std::vector<ProcedureEntry> procedures_named_like_blocks(const Registry& registry);

// The calls of procedures named like some block, in name order (equal names in arrival
// order).
std::vector<ProcedureCall> calls_named_like_blocks(const Registry& registry);

// Makes an entry for a file opened from the command line and records it.
ObjectEntry* record_object(Registry& registry, std::string path, std::string name);

// The entry of an archive member, or of a universal file's slice, composed as
// make_member_entry and make_slice_entry compose it but not yet kept: nullptr when memory
// ran out. A file read ahead of its turn composes its entries, and the run keeps them when
// it comes to the file (keep_entry).
std::unique_ptr<ObjectEntry> compose_member_entry(const ObjectEntry& archive,
                                                  std::string_view member, bool member_known,
                                                  std::string_view architecture = {});
std::unique_ptr<ObjectEntry> compose_slice_entry(const ObjectEntry& object,
                                                 std::string_view architecture, uint64_t offset);

// Keeps a composed entry as the registry's next one; nullptr (the entry released) when
// memory ran out.
ObjectEntry* keep_entry(Registry& registry, std::unique_ptr<ObjectEntry> entry);

// Makes the entry of a member of the archive `archive`, named `member` (or, when
// `member_known` is false, by nothing the archive gives); it lives until free_lists. The
// one place where a member's path as the report shows it is composed. A member of the
// `architecture` slice of a universal archive is shown with it after its name, as a slice
// is: "lib.a (x.o) (arm64)".
ObjectEntry* make_member_entry(Registry& registry, const ObjectEntry& archive,
                               std::string_view member, bool member_known,
                               std::string_view architecture = {});

// Makes the entry of the `architecture` slice of the universal file that `object` is (a
// file, or an archive member), shown as the object with the architecture after it:
// "x.o (arm64)", "lib.a (x.o) (arm64)". The slice begins at `offset` in the file read.
ObjectEntry* make_slice_entry(Registry& registry, const ObjectEntry& object,
                              std::string_view architecture, uint64_t offset);

// Releases everything the registry holds and leaves it empty.
void free_lists(Registry& registry);

}  // namespace drelk
