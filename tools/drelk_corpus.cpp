// drelk_corpus: writes a deterministic corpus of i386 COFF objects shaped like the output
// of a Fortran compiler, for benchmarks and for the output digest test. Each object has
// .text, .data and .bss, a .file record, section symbols, defined procedures, COMMON block
// declarations (external, section 0, Value = size) and undefined procedure references.
// The objects go into nested directories (every directory holds objects, so that a
// recursive search finds something everywhere), into one archive library with both linker
// members, or both.
//
// Every choice is a hash of the seed and the indices involved, never a running random
// state, and the hash uses integer arithmetic only: the same arguments give the same bytes
// on every host. Record layouts follow the public PE/COFF format documentation.
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace {

// The format's values, kept here: the generator shares no code with the reader it feeds.
constexpr uint16_t IMAGE_FILE_MACHINE_I386 = 0x14C;
constexpr uint16_t IMAGE_FILE_RELOCS_STRIPPED = 0x0001;
constexpr uint16_t IMAGE_FILE_LINE_NUMS_STRIPPED = 0x0004;
constexpr uint16_t IMAGE_FILE_32BIT_MACHINE = 0x0100;
constexpr int16_t IMAGE_SYM_UNDEFINED = 0;
constexpr int16_t IMAGE_SYM_DEBUG = -2;
constexpr uint16_t IMAGE_SYM_TYPE_NULL = 0;
constexpr uint16_t IMAGE_SYM_TYPE_FUNCTION = 0x20;  // complex type DTYPE_FUNCTION in bits 4-5
constexpr uint8_t IMAGE_SYM_CLASS_EXTERNAL = 2;
constexpr uint8_t IMAGE_SYM_CLASS_STATIC = 3;
constexpr uint8_t IMAGE_SYM_CLASS_FILE = 103;
constexpr uint32_t IMAGE_SCN_CNT_CODE = 0x00000020;
constexpr uint32_t IMAGE_SCN_CNT_INITIALIZED_DATA = 0x00000040;
constexpr uint32_t IMAGE_SCN_CNT_UNINITIALIZED_DATA = 0x00000080;
constexpr uint32_t IMAGE_SCN_ALIGN_4BYTES = 0x00300000;
constexpr uint32_t IMAGE_SCN_ALIGN_16BYTES = 0x00500000;
constexpr uint32_t IMAGE_SCN_MEM_EXECUTE = 0x20000000;
constexpr uint32_t IMAGE_SCN_MEM_READ = 0x40000000;
constexpr uint32_t IMAGE_SCN_MEM_WRITE = 0x80000000;

constexpr size_t kFileHeaderSize = 20;
constexpr size_t kSectionHeaderSize = 40;
constexpr size_t kSymbolSize = 18;
constexpr size_t kShortNameLength = 8;
constexpr uint32_t kStringTableSizeField = 4;
constexpr size_t kSectionCount = 3;  // .text, .data, .bss
constexpr uint32_t kProcedureCodeSize = 16;

constexpr char kArchiveSignature[] = "!<arch>\n";
constexpr size_t kMemberNameField = 16;

struct Options {
  uint32_t objects = 1000;
  uint32_t blocks = 2000;
  uint32_t per_object = 20;
  double mismatch = 0.05;     // share of blocks declared with different sizes
  uint32_t procedures = 3;    // defined per object
  uint32_t calls = 2;         // undefined procedure references per object
  double long_names = 0.3;    // share of names too long for the symbol record
  double initialized = 0.01;  // share of objects that also define their first block
  uint32_t clashes = 3;       // blocks that some object also defines as a procedure
  uint32_t per_directory = 100;
  uint32_t fanout = 10;
  uint64_t seed = 1;
  std::string out;
  std::string library;
};

// splitmix64's finaliser: a well-mixed 64-bit value from any 64-bit input.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// Hash streams, one a kind of decision, so that changing one never shifts another.
enum Stream : uint64_t {
  kPickBlock = 1,
  kBlockSize,
  kBlockMismatch,
  kDeclarationSize,
  kBlockLongName,
  kProcedureLongName,
  kInitialized,
  kCallTarget,
  kClashObject,
};

uint64_t hash(const Options& options, Stream stream, uint64_t a, uint64_t b = 0) {
  return mix(mix(mix(options.seed ^ (stream << 56)) ^ a) ^ (b * 0xD6E8FEB86659FD93ULL));
}

// True with probability `share`, decided by 24 bits of the hash.
bool chance(uint64_t h, double share) {
  const uint64_t threshold = static_cast<uint64_t>(share * double(1u << 24));
  return (h >> 40) < threshold;
}

std::string base36(uint64_t value, int digits) {
  std::string text(static_cast<size_t>(digits), '0');
  for (int i = digits - 1; i >= 0 && value != 0; --i) {
    text[static_cast<size_t>(i)] = "0123456789abcdefghijklmnopqrstuvwxyz"[value % 36];
    value /= 36;
  }
  return text;
}

// Fortran external names as i386 compilers write them: a leading '_' and a trailing '_'.
// Short names fit the 8-byte symbol record; long ones go to the string table.
std::string block_name(const Options& options, uint32_t block) {
  if (chance(hash(options, kBlockLongName, block), options.long_names)) {
    return "_common_area_" + base36(block, 6) + "_";
  }
  return "_c" + base36(block, 5) + "_";
}

std::string procedure_name(const Options& options, uint32_t object, uint32_t index) {
  const uint64_t id = uint64_t{object} * options.procedures + index;
  if (chance(hash(options, kProcedureLongName, id), options.long_names)) {
    return "_subroutine_" + base36(id, 7) + "_";
  }
  return "_" + base36(id, 6) + "_";
}

uint32_t canonical_size(const Options& options, uint32_t block) {
  return 4 * (1 + static_cast<uint32_t>(hash(options, kBlockSize, block) % 4096));
}

bool is_inconsistent_block(const Options& options, uint32_t block) {
  return chance(hash(options, kBlockMismatch, block), options.mismatch);
}

// A quarter of the declarations of an inconsistent block take one of three other sizes.
uint32_t declared_size(const Options& options, uint32_t block, uint32_t object) {
  const uint32_t size = canonical_size(options, block);
  if (!is_inconsistent_block(options, block)) return size;
  const uint64_t h = hash(options, kDeclarationSize, block, object);
  if (h % 4 != 0) return size;
  return size + 4 * static_cast<uint32_t>(1 + (h >> 8) % 3);
}

// The K distinct blocks object `object` declares, in declaration order.
std::vector<uint32_t> blocks_of(const Options& options, uint32_t object) {
  std::vector<uint32_t> picked;
  if (options.per_object == options.blocks) {
    for (uint32_t b = 0; b < options.blocks; ++b) picked.push_back(b);
    return picked;
  }
  picked.reserve(options.per_object);
  for (uint64_t attempt = 0; picked.size() < options.per_object; ++attempt) {
    const auto b =
        static_cast<uint32_t>(hash(options, kPickBlock, object, attempt) % options.blocks);
    if (std::find(picked.begin(), picked.end(), b) == picked.end()) picked.push_back(b);
  }
  return picked;
}

// The object that also defines a procedure named like clash block `block`.
uint32_t clash_object(const Options& options, uint32_t block) {
  return static_cast<uint32_t>(hash(options, kClashObject, block) % options.objects);
}

class Emitter {
 public:
  void u8(uint8_t v) { bytes_.push_back(v); }
  void u16(uint16_t v) {
    u8(static_cast<uint8_t>(v));
    u8(static_cast<uint8_t>(v >> 8));
  }
  void u32(uint32_t v) {
    u16(static_cast<uint16_t>(v));
    u16(static_cast<uint16_t>(v >> 16));
  }
  void u32_big_endian(uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
  }
  void zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  void text(std::string_view s) { bytes_.insert(bytes_.end(), s.begin(), s.end()); }
  // `s` in a field of `width` bytes, padded with `pad`.
  void field(std::string_view s, size_t width, char pad) {
    text(s.substr(0, width));
    if (s.size() < width) bytes_.insert(bytes_.end(), width - s.size(), static_cast<uint8_t>(pad));
  }
  size_t size() const { return bytes_.size(); }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

struct SymbolRecord {
  std::string name;
  uint32_t value;
  int16_t section;
  uint16_t type;
  uint8_t storage_class;
  std::vector<uint8_t> aux;  // whole 18-byte auxiliary records
};

struct ObjectPlan {
  std::vector<std::string> procedures;  // defined in .text
  std::vector<uint32_t> blocks;
  uint32_t initialized_blocks = 0;  // the first this many blocks are also defined in .data
  std::vector<std::string> calls;
};

ObjectPlan plan_object(const Options& options, uint32_t object) {
  ObjectPlan plan;
  for (uint32_t j = 0; j < options.procedures; ++j) {
    plan.procedures.push_back(procedure_name(options, object, j));
  }
  for (uint32_t b = 0; b < options.clashes && b < options.blocks; ++b) {
    if (clash_object(options, b) == object) plan.procedures.push_back(block_name(options, b));
  }
  plan.blocks = blocks_of(options, object);
  if (!plan.blocks.empty() && chance(hash(options, kInitialized, object), options.initialized)) {
    plan.initialized_blocks = 1;
  }
  if (options.procedures > 0) {
    for (uint32_t j = 0; j < options.calls; ++j) {
      const auto target =
          static_cast<uint32_t>(hash(options, kCallTarget, object, j) % options.objects);
      plan.calls.push_back(procedure_name(options, target, j % options.procedures));
    }
  }
  return plan;
}

std::vector<uint8_t> aux_record(std::initializer_list<std::pair<size_t, uint32_t>> u32_fields,
                                std::initializer_list<std::pair<size_t, uint16_t>> u16_fields) {
  std::vector<uint8_t> record(kSymbolSize, 0);
  for (const auto& [offset, value] : u32_fields) {
    for (size_t i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  for (const auto& [offset, value] : u16_fields) {
    for (size_t i = 0; i < 2; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return record;
}

// AuxSectionDefinition: Length, NumberOfRelocations, NumberOfLinenumbers, CheckSum, Number.
std::vector<uint8_t> section_definition(uint32_t length, uint16_t number) {
  return aux_record({{0, length}}, {{12, number}});
}

// AuxFunctionDefinition: TagIndex, TotalSize, PointerToLinenumber, PointerToNextFunction.
std::vector<uint8_t> function_definition(uint32_t total_size) {
  return aux_record({{4, total_size}}, {});
}

std::string object_file_name(uint32_t object) {
  char text[32];
  std::snprintf(text, sizeof text, "o%06" PRIu32, object);
  return text;
}

std::vector<uint8_t> object_bytes(const Options& options, uint32_t object) {
  const ObjectPlan plan = plan_object(options, object);
  const auto text_size = static_cast<uint32_t>(plan.procedures.size()) * kProcedureCodeSize;
  const uint32_t data_size = 4 * plan.initialized_blocks;

  std::vector<SymbolRecord> symbols;
  std::vector<uint8_t> file_aux(kSymbolSize, 0);
  const std::string source = object_file_name(object) + ".f";
  std::memcpy(file_aux.data(), source.data(), std::min(source.size(), kSymbolSize));
  symbols.push_back(
      {".file", 0, IMAGE_SYM_DEBUG, IMAGE_SYM_TYPE_NULL, IMAGE_SYM_CLASS_FILE, file_aux});
  symbols.push_back({".text", 0, 1, IMAGE_SYM_TYPE_NULL, IMAGE_SYM_CLASS_STATIC,
                     section_definition(text_size, 1)});
  symbols.push_back({".data", 0, 2, IMAGE_SYM_TYPE_NULL, IMAGE_SYM_CLASS_STATIC,
                     section_definition(data_size, 2)});
  symbols.push_back(
      {".bss", 0, 3, IMAGE_SYM_TYPE_NULL, IMAGE_SYM_CLASS_STATIC, section_definition(0, 3)});
  for (size_t j = 0; j < plan.procedures.size(); ++j) {
    symbols.push_back({plan.procedures[j], static_cast<uint32_t>(j) * kProcedureCodeSize, 1,
                       IMAGE_SYM_TYPE_FUNCTION, IMAGE_SYM_CLASS_EXTERNAL,
                       function_definition(kProcedureCodeSize)});
  }
  for (uint32_t j = 0; j < plan.initialized_blocks; ++j) {
    symbols.push_back({block_name(options, plan.blocks[j]),
                       4 * j,
                       2,
                       IMAGE_SYM_TYPE_NULL,
                       IMAGE_SYM_CLASS_EXTERNAL,
                       {}});
  }
  for (const uint32_t block : plan.blocks) {
    symbols.push_back({block_name(options, block),
                       declared_size(options, block, object),
                       IMAGE_SYM_UNDEFINED,
                       IMAGE_SYM_TYPE_NULL,
                       IMAGE_SYM_CLASS_EXTERNAL,
                       {}});
  }
  for (const std::string& call : plan.calls) {
    symbols.push_back(
        {call, 0, IMAGE_SYM_UNDEFINED, IMAGE_SYM_TYPE_FUNCTION, IMAGE_SYM_CLASS_EXTERNAL, {}});
  }

  uint32_t record_count = 0;
  for (const SymbolRecord& s : symbols) {
    record_count += 1 + static_cast<uint32_t>(s.aux.size() / kSymbolSize);
  }
  const size_t text_offset = kFileHeaderSize + kSectionCount * kSectionHeaderSize;
  const size_t data_offset = text_offset + text_size;
  const size_t symbol_table_offset = data_offset + data_size;

  Emitter out;
  out.u16(IMAGE_FILE_MACHINE_I386);
  out.u16(kSectionCount);
  out.u32(0);  // TimeDateStamp
  out.u32(static_cast<uint32_t>(symbol_table_offset));
  out.u32(record_count);
  out.u16(0);  // SizeOfOptionalHeader
  out.u16(IMAGE_FILE_RELOCS_STRIPPED | IMAGE_FILE_LINE_NUMS_STRIPPED | IMAGE_FILE_32BIT_MACHINE);

  auto section_header = [&](std::string_view name, uint32_t raw_size, size_t raw_offset,
                            uint32_t characteristics) {
    out.field(name, kShortNameLength, '\0');
    out.u32(0);  // VirtualSize
    out.u32(0);  // VirtualAddress
    out.u32(raw_size);
    out.u32(raw_size != 0 ? static_cast<uint32_t>(raw_offset) : 0);
    out.u32(0);  // PointerToRelocations
    out.u32(0);  // PointerToLinenumbers
    out.u16(0);
    out.u16(0);
    out.u32(characteristics);
  };
  section_header(
      ".text", text_size, text_offset,
      IMAGE_SCN_CNT_CODE | IMAGE_SCN_ALIGN_16BYTES | IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_MEM_READ);
  section_header(".data", data_size, data_offset,
                 IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_ALIGN_4BYTES | IMAGE_SCN_MEM_READ |
                     IMAGE_SCN_MEM_WRITE);
  section_header(".bss", 0, 0,
                 IMAGE_SCN_CNT_UNINITIALIZED_DATA | IMAGE_SCN_ALIGN_4BYTES | IMAGE_SCN_MEM_READ |
                     IMAGE_SCN_MEM_WRITE);

  // Each procedure: return, padded with no-ops.
  for (size_t j = 0; j < plan.procedures.size(); ++j) {
    out.u8(0xC3);
    out.bytes().insert(out.bytes().end(), kProcedureCodeSize - 1, 0x90);
  }
  out.zeros(data_size);

  std::string strings;
  for (const SymbolRecord& s : symbols) {
    if (s.name.size() <= kShortNameLength) {
      out.field(s.name, kShortNameLength, '\0');
    } else {
      out.u32(0);
      out.u32(kStringTableSizeField + static_cast<uint32_t>(strings.size()));
      strings.append(s.name).push_back('\0');
    }
    out.u32(s.value);
    out.u16(static_cast<uint16_t>(s.section));
    out.u16(s.type);
    out.u8(s.storage_class);
    out.u8(static_cast<uint8_t>(s.aux.size() / kSymbolSize));
    out.bytes().insert(out.bytes().end(), s.aux.begin(), s.aux.end());
  }
  out.u32(kStringTableSizeField + static_cast<uint32_t>(strings.size()));
  out.text(strings);
  return std::move(out.bytes());
}

// The external names a member defines, as a librarian indexes them: its procedures and its
// COMMON blocks.
std::vector<std::string> indexed_names(const Options& options, uint32_t object) {
  const ObjectPlan plan = plan_object(options, object);
  std::vector<std::string> names = plan.procedures;
  for (const uint32_t block : plan.blocks) names.push_back(block_name(options, block));
  return names;
}

// The directory of object `object`, relative to the corpus root: directories form a tree
// with `fanout` children each, numbered breadth first, each holding `per_directory` objects.
std::string object_directory(const Options& options, uint32_t object) {
  uint64_t node = object / options.per_directory;
  std::string path;
  while (node != 0) {
    const uint64_t child = (node - 1) % options.fanout;
    path.insert(0, "d" + std::to_string(child) + "/");
    node = (node - 1) / options.fanout;
  }
  return path;
}

bool write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.string().c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "drelk_corpus: cannot create %s: %s\n", path.string().c_str(),
                 std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    std::fprintf(stderr, "drelk_corpus: cannot write %s\n", path.string().c_str());
    return false;
  }
  return true;
}

bool write_tree(const Options& options) {
  const std::filesystem::path root(options.out);
  std::error_code error;
  std::string made;
  for (uint32_t object = 0; object < options.objects; ++object) {
    const std::string directory = object_directory(options, object);
    if (object == 0 || directory != made) {
      std::filesystem::create_directories(root / directory, error);
      if (error) {
        std::fprintf(stderr, "drelk_corpus: cannot create %s: %s\n",
                     (root / directory).string().c_str(), error.message().c_str());
        return false;
      }
      made = directory;
    }
    if (!write_file(root / directory / (object_file_name(object) + ".obj"),
                    object_bytes(options, object))) {
      return false;
    }
  }
  return true;
}

void member_header(Emitter& out, std::string_view name, size_t size, std::string_view mode) {
  out.field(name, kMemberNameField, ' ');
  out.field("0", 12, ' ');  // date
  out.field("0", 6, ' ');   // user
  out.field("0", 6, ' ');   // group
  out.field(mode, 8, ' ');
  out.field(std::to_string(size), 10, ' ');
  out.text("`\n");
}

void pad_member(Emitter& out) {
  if (out.size() % 2 != 0) out.u8('\n');
}

size_t padded(size_t size) {
  return size + (size % 2);
}

// The library: signature, first linker member (symbol count and member offsets big-endian,
// names in member order), second linker member (member offsets, then 1-based member
// indices of the symbols in name order, little-endian), the long-names member when a
// member name does not fit its header, then the members.
bool write_library(const Options& options) {
  constexpr size_t kHeader = 60;
  std::vector<std::vector<uint8_t>> members;
  std::vector<std::string> member_names;
  struct IndexEntry {
    std::string name;
    uint32_t member;
  };
  std::vector<IndexEntry> index;
  std::unordered_set<std::string> indexed;
  for (uint32_t object = 0; object < options.objects; ++object) {
    members.push_back(object_bytes(options, object));
    member_names.push_back(object_file_name(object) + ".obj");
    // A name is indexed once, for the first member that defines it.
    for (std::string& name : indexed_names(options, object)) {
      if (indexed.insert(name).second) index.push_back({std::move(name), object});
    }
  }

  std::string long_names;
  std::vector<std::string> header_names;
  for (const std::string& name : member_names) {
    if (name.size() + 1 <= kMemberNameField) {
      header_names.push_back(name + "/");
    } else {
      header_names.push_back("/" + std::to_string(long_names.size()));
      long_names.append(name).push_back('\0');
    }
  }

  size_t names_size = 0;
  for (const IndexEntry& entry : index) names_size += entry.name.size() + 1;
  const size_t first_size = 4 + 4 * index.size() + names_size;
  const size_t second_size = 4 + 4 * members.size() + 4 + 2 * index.size() + names_size;
  size_t offset = sizeof kArchiveSignature - 1;
  offset += kHeader + padded(first_size) + kHeader + padded(second_size);
  if (!long_names.empty()) offset += kHeader + padded(long_names.size());
  std::vector<uint32_t> member_offsets;
  for (const std::vector<uint8_t>& member : members) {
    member_offsets.push_back(static_cast<uint32_t>(offset));
    offset += kHeader + padded(member.size());
  }
  if (offset > 0x7FFFFFFF) {
    std::fprintf(stderr, "drelk_corpus: the library would exceed 2 GiB\n");
    return false;
  }

  Emitter out;
  out.text(std::string_view(kArchiveSignature, sizeof kArchiveSignature - 1));
  member_header(out, "/", first_size, "0");
  out.u32_big_endian(static_cast<uint32_t>(index.size()));
  for (const IndexEntry& entry : index) out.u32_big_endian(member_offsets[entry.member]);
  for (const IndexEntry& entry : index)
    out.text(std::string_view(entry.name.c_str(), entry.name.size() + 1));
  pad_member(out);

  std::vector<const IndexEntry*> by_name;
  for (const IndexEntry& entry : index) by_name.push_back(&entry);
  std::sort(by_name.begin(), by_name.end(),
            [](const IndexEntry* a, const IndexEntry* b) { return a->name < b->name; });
  member_header(out, "/", second_size, "0");
  out.u32(static_cast<uint32_t>(members.size()));
  for (const uint32_t member_offset : member_offsets) out.u32(member_offset);
  out.u32(static_cast<uint32_t>(index.size()));
  for (const IndexEntry* entry : by_name) out.u16(static_cast<uint16_t>(entry->member + 1));
  for (const IndexEntry* entry : by_name) {
    out.text(std::string_view(entry->name.c_str(), entry->name.size() + 1));
  }
  pad_member(out);

  if (!long_names.empty()) {
    member_header(out, "//", long_names.size(), "");
    out.text(long_names);
    pad_member(out);
  }
  for (size_t i = 0; i < members.size(); ++i) {
    member_header(out, header_names[i], members[i].size(), "644");
    out.bytes().insert(out.bytes().end(), members[i].begin(), members[i].end());
    pad_member(out);
  }
  const std::filesystem::path path(options.library);
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
  }
  return write_file(path, out.bytes());
}

void print_usage(std::FILE* stream) {
  std::fprintf(stream,
               "usage: drelk_corpus [--shape deep|wide] [options] (--out DIR | --library FILE)\n"
               "  --objects N        objects to write (1000)\n"
               "  --blocks B         distinct COMMON blocks (2000; wide: 50)\n"
               "  --per-object K     blocks each object declares (20; wide: 50)\n"
               "  --mismatch S       share of blocks declared with different sizes (0.05)\n"
               "  --procedures P     procedures each object defines (3)\n"
               "  --calls C          undefined procedure references per object (2)\n"
               "  --long-names S     share of names kept in the string table (0.3)\n"
               "  --initialized S    share of objects that also define their first block (0.01)\n"
               "  --clashes C        blocks also defined as a procedure somewhere (3)\n"
               "  --per-directory D  objects in each directory (100)\n"
               "  --fanout F         subdirectories of each directory (10)\n"
               "  --seed S           seed of every choice (1)\n"
               "  --out DIR          write the objects in nested directories below DIR\n"
               "  --library FILE     pack the objects into one library with both linker members\n");
}

bool parse_unsigned(const char* text, uint64_t limit, uint64_t& value) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || text[0] == '-' || parsed > limit) return false;
  value = parsed;
  return true;
}

bool parse_share(const char* text, double& value) {
  char* end = nullptr;
  const double parsed = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(parsed >= 0.0 && parsed <= 1.0)) return false;
  value = parsed;
  return true;
}

bool parse_arguments(int argc, char** argv, Options& options) {
  // The shape sets defaults first, so that explicit options override it wherever they stand.
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--shape") != 0) continue;
    const std::string_view shape = argv[i + 1];
    if (shape == "wide") {
      options.blocks = 50;
      options.per_object = 50;
    } else if (shape != "deep") {
      std::fprintf(stderr, "drelk_corpus: unknown shape %s\n", argv[i + 1]);
      return false;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view name = argv[i];
    if (name == "--help" || name == "-h") {
      print_usage(stdout);
      std::exit(0);
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "drelk_corpus: %s needs a value\n", argv[i]);
      return false;
    }
    const char* value = argv[++i];
    uint64_t number = 0;
    bool ok = true;
    auto count = [&](uint32_t& field, uint64_t minimum) {
      ok = parse_unsigned(value, 0xFFFFFFFF, number) && number >= minimum;
      if (ok) field = static_cast<uint32_t>(number);
    };
    if (name == "--shape") {
    } else if (name == "--objects") {
      count(options.objects, 1);
    } else if (name == "--blocks") {
      count(options.blocks, 0);
    } else if (name == "--per-object") {
      count(options.per_object, 0);
    } else if (name == "--procedures") {
      count(options.procedures, 0);
    } else if (name == "--calls") {
      count(options.calls, 0);
    } else if (name == "--clashes") {
      count(options.clashes, 0);
    } else if (name == "--per-directory") {
      count(options.per_directory, 1);
    } else if (name == "--fanout") {
      count(options.fanout, 1);
    } else if (name == "--mismatch") {
      ok = parse_share(value, options.mismatch);
    } else if (name == "--long-names") {
      ok = parse_share(value, options.long_names);
    } else if (name == "--initialized") {
      ok = parse_share(value, options.initialized);
    } else if (name == "--seed") {
      ok = parse_unsigned(value, UINT64_MAX, options.seed);
    } else if (name == "--out") {
      options.out = value;
    } else if (name == "--library") {
      options.library = value;
    } else {
      std::fprintf(stderr, "drelk_corpus: unknown option %s\n", argv[i - 1]);
      print_usage(stderr);
      return false;
    }
    if (!ok) {
      std::fprintf(stderr, "drelk_corpus: bad value %s for %s\n", value, argv[i - 1]);
      return false;
    }
  }
  if (options.out.empty() && options.library.empty()) {
    std::fprintf(stderr, "drelk_corpus: give --out DIR, --library FILE or both\n");
    return false;
  }
  if (options.per_object > options.blocks) {
    std::fprintf(stderr, "drelk_corpus: --per-object %u exceeds --blocks %u\n", options.per_object,
                 options.blocks);
    return false;
  }
  // The second linker member numbers members with 16 bits.
  if (!options.library.empty() && options.objects > 0xFFFF) {
    std::fprintf(stderr, "drelk_corpus: a library holds at most 65535 members\n");
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse_arguments(argc, argv, options)) return 2;
  if (!options.out.empty() && !write_tree(options)) return 1;
  if (!options.library.empty() && !write_library(options)) return 1;
  return 0;
}
