// drelk_corpus: writes a deterministic corpus of i386 COFF objects shaped like the output
// of a Fortran compiler, for benchmarks and for the output digest test. Each object has
// .text, .data and .bss, a .file record, section symbols, defined procedures, COMMON block
// declarations (external, section 0, Value = size) and undefined procedure references.
// With --format elf the same plan is written as x86-64 ELF objects shaped like gfortran's
// (.text with its relocations, .data, .bss, .comment, .note.GNU-stack, .eh_frame with its
// relocations; SHN_COMMON symbols, global functions, undefined references) into ".o"
// files, and the library is a GNU-style archive ("/" symbol index, "//" long names).
// With --format bitcode the plan is written as LLVM bitcode of x86-64 Linux, as flang's
// -flto writes it: a module block (skipped by a reader, sized like the module's code) and
// the IR symbol table with common symbols, functions and undefined references; an
// initialised block is defined data, whose size bitcode does not record.
// With --format xcoff the plan is written as 64-bit XCOFF objects shaped like flang's for
// AIX (a code csect and a function descriptor for each procedure, COMMON csects, external
// references) into ".o" files, and the library is an AIX big archive.
// The objects go into nested directories (every directory holds objects, so that a
// recursive search finds something everywhere), into one archive library with both linker
// members, or both.
//
// Every choice is a hash of the seed and the indices involved, never a running random
// state, and the hash uses integer arithmetic only: the same arguments give the same bytes
// on every host. The objects and the library are written by the test suite's COFF and
// archive builders, so that one writer of the format is kept right.
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

#include "tests/support/archive_builder.h"
#include "tests/support/bitcode_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/xcoff_builder.h"

namespace {

using drelk::test::Archive;
using drelk::test::AuxRecord;
using drelk::test::CoffObject;
using drelk::test::ElfObject;
using drelk::test::Symbol;

// The format's values the objects need beyond the builder's own.
constexpr uint16_t IMAGE_FILE_RELOCS_STRIPPED = 0x0001;
constexpr uint16_t IMAGE_FILE_LINE_NUMS_STRIPPED = 0x0004;
constexpr uint16_t IMAGE_FILE_32BIT_MACHINE = 0x0100;
constexpr uint32_t IMAGE_SCN_ALIGN_4BYTES = 0x00300000;
constexpr uint32_t IMAGE_SCN_ALIGN_16BYTES = 0x00500000;
namespace pe = drelk::test::pe;

constexpr uint32_t kProcedureCodeSize = 16;

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
  double odd_names = 0;       // share of block names holding bytes that need escaping
  uint32_t per_directory = 100;
  uint32_t fanout = 10;
  uint64_t seed = 1;
  bool elf = false;      // --format elf
  bool bitcode = false;  // --format bitcode
  bool xcoff = false;    // --format xcoff: named as ELF names them
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
  kOddName,
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
  // A quote, a backslash, a control byte and a byte that is not UTF-8: names are bytes,
  // and every output must carry them whole.
  if (options.odd_names > 0 && chance(hash(options, kOddName, block), options.odd_names)) {
    return "_odd\"\\\x01\xE9" + base36(block, 5) + "_";
  }
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

AuxRecord aux_record(std::initializer_list<std::pair<size_t, uint32_t>> u32_fields,
                     std::initializer_list<std::pair<size_t, uint16_t>> u16_fields) {
  AuxRecord record{};
  for (const auto& [offset, value] : u32_fields) {
    for (size_t i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  for (const auto& [offset, value] : u16_fields) {
    for (size_t i = 0; i < 2; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
  return record;
}

// AuxSectionDefinition: Length, NumberOfRelocations, NumberOfLinenumbers, CheckSum, Number.
AuxRecord section_definition(uint32_t length, uint16_t number) {
  return aux_record({{0, length}}, {{12, number}});
}

// AuxFunctionDefinition: TagIndex, TotalSize, PointerToLinenumber, PointerToNextFunction.
AuxRecord function_definition(uint32_t total_size) {
  return aux_record({{4, total_size}}, {});
}

std::string object_file_name(uint32_t object) {
  char text[32];
  std::snprintf(text, sizeof text, "o%06" PRIu32, object);
  return text;
}

// An external name as x86-64 ELF compilers write it: without the leading '_' of i386 COFF.
std::string elf_name(const std::string& coff_name) {
  return coff_name.substr(1);
}

// The plan as gfortran's x86-64 output would hold it. A block the object initialises is
// defined in .data with its size, as a BLOCK DATA unit defines it, and not also declared:
// an ELF symbol table names each symbol once. drelk's report on such a corpus is the
// report on the COFF corpus of the same plan, names and paths aside.
std::vector<uint8_t> elf_object_bytes(const Options& options, uint32_t object) {
  namespace elfv = drelk::test::elfv;
  constexpr uint32_t SHT_RELA = 4;
  constexpr uint64_t kRelaSize = 24;  // Elf64_Rela
  const ObjectPlan plan = plan_object(options, object);
  const auto text_size = static_cast<uint64_t>(plan.procedures.size()) * kProcedureCodeSize;
  uint64_t data_size = 0;
  for (uint32_t j = 0; j < plan.initialized_blocks; ++j) {
    data_size += declared_size(options, plan.blocks[j], object);
  }
  ElfObject out;
  out.section(".text", text_size)
      .section(".rela.text", kRelaSize * (plan.calls.size() + plan.blocks.size()), SHT_RELA)
      .section(".data", data_size)
      .section(".bss", 0, elfv::SHT_NOBITS)
      .section(".comment", 40)
      .section(".note.GNU-stack", 0)
      .section(".eh_frame", 24 + 32 * plan.procedures.size())
      .section(".rela.eh_frame", kRelaSize * plan.procedures.size(), SHT_RELA)
      // gfortran aligns a BLOCK DATA's arrays as its COMMON declarations ask for them.
      .section_alignment(".data", 32);
  drelk::test::ElfSymbol file;
  file.name = object_file_name(object) + ".f";
  file.info = drelk::test::elf_info(elfv::STB_LOCAL, elfv::STT_FILE);
  file.shndx = elfv::SHN_ABS;
  out.symbol(file);
  drelk::test::ElfSymbol text;
  text.info = drelk::test::elf_info(elfv::STB_LOCAL, elfv::STT_SECTION);
  text.shndx = 1;
  out.symbol(text);
  for (const std::string& procedure : plan.procedures) out.function(elf_name(procedure), 1);
  for (uint32_t j = 0; j < plan.blocks.size(); ++j) {
    const uint32_t block = plan.blocks[j];
    const std::string name = elf_name(block_name(options, block));
    if (j < plan.initialized_blocks) {
      out.data(name, 3, declared_size(options, block, object));
    } else {
      out.common(name, declared_size(options, block, object));
    }
  }
  for (const std::string& call : plan.calls) out.undefined(elf_name(call));
  return out.bytes();
}

// The plan as flang's -flto output for x86-64 Linux would hold it: names as in ELF.
std::vector<uint8_t> bitcode_object_bytes(const Options& options, uint32_t object) {
  const ObjectPlan plan = plan_object(options, object);
  drelk::test::BitcodeObject out;
  for (const std::string& procedure : plan.procedures) out.function(elf_name(procedure));
  for (uint32_t j = 0; j < plan.blocks.size(); ++j) {
    const uint32_t block = plan.blocks[j];
    const std::string name = elf_name(block_name(options, block));
    if (j < plan.initialized_blocks) {
      out.data(name);
    } else {
      out.common(name, declared_size(options, block, object), 8);
    }
  }
  for (const std::string& call : plan.calls) out.undefined(elf_name(call));
  // The module's code and constants: some 64 bytes a symbol, as flang's objects have.
  out.module_words(16 * static_cast<uint32_t>(plan.procedures.size() + plan.blocks.size()));
  return out.bytes();
}

// The plan as flang's 64-bit AIX output would hold it: each procedure a label in the .text
// csect and a function descriptor in .data; a block the object initialises a read-write
// csect of its size in .data, and not also declared; calls external references to the
// procedures' code.
std::vector<uint8_t> xcoff_object_bytes(const Options& options, uint32_t object) {
  namespace xcoffv = drelk::test::xcoffv;
  using drelk::test::XcoffSymbolSpec;
  const ObjectPlan plan = plan_object(options, object);
  const auto text_size = static_cast<uint64_t>(plan.procedures.size()) * kProcedureCodeSize;
  drelk::test::XcoffObject out;
  out.is64()
      .section(".text", text_size, xcoffv::STYP_TEXT)
      .section(".data", 24 * plan.procedures.size() + 8 * plan.blocks.size(), xcoffv::STYP_DATA)
      .section(".bss", 0, xcoffv::STYP_BSS);
  const auto csect = drelk::test::csect_symbol;

  XcoffSymbolSpec file = csect(".file", xcoffv::C_FILE, 0, 0, 0, -2);
  out.symbol(file).symbol(
      csect("", xcoffv::C_HIDEXT, xcoffv::XTY_SD, xcoffv::XMC_PR, text_size, 1));
  for (const std::string& procedure : plan.procedures) {
    // The label's x_scnlen is the index of its csect, the second symbol after .file's entry.
    out.symbol(
        csect("." + elf_name(procedure), xcoffv::C_EXT, xcoffv::XTY_LD, xcoffv::XMC_PR, 2, 1));
    out.descriptor(elf_name(procedure), 2);
  }
  for (uint32_t j = 0; j < plan.blocks.size(); ++j) {
    const uint32_t block = plan.blocks[j];
    const std::string name = elf_name(block_name(options, block));
    if (j < plan.initialized_blocks) {
      out.data(name, declared_size(options, block, object), 2);
    } else {
      out.common(name, declared_size(options, block, object));
    }
  }
  for (const std::string& call : plan.calls) {
    out.symbol(csect("." + elf_name(call), xcoffv::C_EXT, xcoffv::XTY_ER, xcoffv::XMC_PR, 0, 0));
  }
  return out.bytes();
}

std::vector<uint8_t> object_bytes(const Options& options, uint32_t object) {
  if (options.elf) return elf_object_bytes(options, object);
  if (options.bitcode) return bitcode_object_bytes(options, object);
  if (options.xcoff) return xcoff_object_bytes(options, object);
  const ObjectPlan plan = plan_object(options, object);
  const auto text_size = static_cast<uint32_t>(plan.procedures.size()) * kProcedureCodeSize;
  const uint32_t data_size = 4 * plan.initialized_blocks;

  CoffObject out;
  out.machine(pe::IMAGE_FILE_MACHINE_I386)
      .characteristics(IMAGE_FILE_RELOCS_STRIPPED | IMAGE_FILE_LINE_NUMS_STRIPPED |
                       IMAGE_FILE_32BIT_MACHINE)
      .section(".text", text_size, 0, 0, pe::kCodeSectionCharacteristics | IMAGE_SCN_ALIGN_16BYTES)
      .section(".data", data_size, 0, 0, pe::kDataSectionCharacteristics | IMAGE_SCN_ALIGN_4BYTES)
      .section(".bss", 0, 0, 0,
               pe::IMAGE_SCN_CNT_UNINITIALIZED_DATA | pe::IMAGE_SCN_MEM_READ |
                   pe::IMAGE_SCN_MEM_WRITE | IMAGE_SCN_ALIGN_4BYTES);

  AuxRecord file_aux{};
  const std::string source = object_file_name(object) + ".f";
  std::memcpy(file_aux.data(), source.data(), std::min(source.size(), file_aux.size()));
  out.symbol(".file", 0, pe::IMAGE_SYM_DEBUG, pe::IMAGE_SYM_TYPE_NULL, pe::IMAGE_SYM_CLASS_FILE)
      .aux(file_aux);
  out.symbol(".text", 0, 1, pe::IMAGE_SYM_TYPE_NULL, pe::IMAGE_SYM_CLASS_STATIC)
      .aux(section_definition(text_size, 1));
  out.symbol(".data", 0, 2, pe::IMAGE_SYM_TYPE_NULL, pe::IMAGE_SYM_CLASS_STATIC)
      .aux(section_definition(data_size, 2));
  out.symbol(".bss", 0, 3, pe::IMAGE_SYM_TYPE_NULL, pe::IMAGE_SYM_CLASS_STATIC)
      .aux(section_definition(0, 3));
  for (size_t j = 0; j < plan.procedures.size(); ++j) {
    out.symbol(plan.procedures[j], static_cast<uint32_t>(j) * kProcedureCodeSize, 1,
               pe::IMAGE_SYM_TYPE_FUNCTION)
        .aux(function_definition(kProcedureCodeSize));
  }
  for (uint32_t j = 0; j < plan.initialized_blocks; ++j) {
    out.data(block_name(options, plan.blocks[j]), 2, 4 * j);
  }
  for (const uint32_t block : plan.blocks) {
    out.common(block_name(options, block), declared_size(options, block, object));
  }
  for (const std::string& call : plan.calls) {
    out.symbol(call, 0, pe::IMAGE_SYM_UNDEFINED, pe::IMAGE_SYM_TYPE_FUNCTION);
  }
  return out.bytes();
}

// The external names a member defines, as a librarian indexes them: its procedures and its
// COMMON blocks.
std::vector<std::string> indexed_names(const Options& options, uint32_t object) {
  const ObjectPlan plan = plan_object(options, object);
  std::vector<std::string> names = plan.procedures;
  for (const uint32_t block : plan.blocks) names.push_back(block_name(options, block));
  if (options.elf || options.bitcode) {
    for (std::string& name : names) name = elf_name(name);
  }
  return names;
}

const char* object_extension(const Options& options) {
  return options.elf || options.bitcode || options.xcoff ? ".o" : ".obj";
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
    if (!write_file(root / directory / (object_file_name(object) + object_extension(options)),
                    object_bytes(options, object))) {
      return false;
    }
  }
  return true;
}

// An AIX big archive of the objects, members linked in order; it holds no symbol table,
// which drelk never reads.
bool write_big_archive(const Options& options) {
  drelk::test::BigArchive library;
  for (uint32_t object = 0; object < options.objects; ++object) {
    library.member(object_file_name(object) + object_extension(options),
                   object_bytes(options, object));
  }
  const std::filesystem::path path(options.library);
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
  }
  return write_file(path, library.bytes());
}

// The library: both linker members (a name indexed once, for the first member that
// defines it), or GNU ar's one symbol index for ELF members, the long-names member when a
// member name does not fit its header, then the members.
bool write_library(const Options& options) {
  if (options.xcoff) return write_big_archive(options);
  Archive library;
  if (options.elf || options.bitcode) library.style(drelk::test::ArchiveStyle::Gnu);
  std::unordered_set<std::string> indexed;
  size_t size = 8;
  for (uint32_t object = 0; object < options.objects; ++object) {
    std::vector<uint8_t> bytes = object_bytes(options, object);
    size += 60 + bytes.size() + (bytes.size() & 1);
    library.member(object_file_name(object) + object_extension(options), std::move(bytes));
    for (std::string& name : indexed_names(options, object)) {
      if (indexed.insert(name).second) library.symbol(std::move(name), object);
    }
  }
  if (size > 0x7FFFFFFF) {
    std::fprintf(stderr, "drelk_corpus: the library would exceed 2 GiB\n");
    return false;
  }
  const std::filesystem::path path(options.library);
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
  }
  return write_file(path, library.bytes());
}

void print_usage(std::FILE* stream) {
  std::fprintf(
      stream,
      "usage: drelk_corpus [--shape deep|wide] [--format coff|elf|bitcode|xcoff] [options]\n"
      "                    (--out DIR | --library FILE)\n"
      "  --objects N        objects to write (1000)\n"
      "  --blocks B         distinct COMMON blocks (2000; wide: 50)\n"
      "  --per-object K     blocks each object declares (20; wide: 50)\n"
      "  --mismatch S       share of blocks declared with different sizes (0.05)\n"
      "  --procedures P     procedures each object defines (3)\n"
      "  --calls C          undefined procedure references per object (2)\n"
      "  --long-names S     share of names kept in the string table (0.3)\n"
      "  --initialized S    share of objects that also define their first block (0.01)\n"
      "  --clashes C        blocks also defined as a procedure somewhere (3)\n"
      "  --odd-names S      share of block names with a quote, a backslash, a control\n"
      "                     byte and a byte that is not UTF-8 (0)\n"
      "  --per-directory D  objects in each directory (100)\n"
      "  --fanout F         subdirectories of each directory (10)\n"
      "  --seed S           seed of every choice (1)\n"
      "  --out DIR          write the objects in nested directories below DIR\n"
      "  --library FILE     pack the objects into one library with both linker members\n"
      "  --format F         coff: i386 COFF objects (.obj); elf: x86-64 ELF objects (.o),\n"
      "                     packed GNU ar style; bitcode: flang -flto objects of x86-64\n"
      "                     Linux (.o), packed GNU ar style; xcoff: 64-bit XCOFF objects\n"
      "                     (.o), packed in an AIX big archive\n");
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
    } else if (name == "--format") {
      ok = std::strcmp(value, "coff") == 0 || std::strcmp(value, "elf") == 0 ||
           std::strcmp(value, "bitcode") == 0 || std::strcmp(value, "xcoff") == 0;
      options.elf = std::strcmp(value, "elf") == 0;
      options.bitcode = std::strcmp(value, "bitcode") == 0;
      options.xcoff = std::strcmp(value, "xcoff") == 0;
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
    } else if (name == "--odd-names") {
      ok = parse_share(value, options.odd_names);
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
