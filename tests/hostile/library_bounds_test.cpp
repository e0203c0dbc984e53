// Hostile shared libraries: the real libraries of tests/data/shlib, each damaged in one
// field to claim the largest counts, offsets past the end, or tables that lead back to
// themselves. drelk must say so and finish in well under a second in bounded memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/bytes.h"
#include "tests/e2e/e2e.h"
#include "tests/hostile/bounded_run.h"
#include "tests/support/elf_builder.h"

namespace drelk::test {
namespace {

constexpr uint64_t kAddressSpaceLimit = 64ull << 20;
constexpr uint64_t kPeakMemoryLimitKib = 32 * 1024;
constexpr double kTimeLimitSeconds = 0.5;

std::vector<uint8_t> library(const std::string& name) {
  const std::string bytes =
      read_file(std::filesystem::path(source_directory()) / "tests" / "data" / "shlib" / name);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

void put_u32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}
void put_u64(std::vector<uint8_t>& bytes, size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
}

// The section header of the first section of `type` in an ELF64 little-endian file.
size_t elf64_section_header(const std::vector<uint8_t>& bytes, uint32_t type) {
  const uint64_t table = load_u64(bytes.data() + 40, false);
  const uint16_t count = load_u16(bytes.data() + 60);
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(table) + size_t{i} * 64;
    if (load_u32(bytes.data() + at + 4) == type) return at;
  }
  ADD_FAILURE() << "no section of type " << type;
  return 0;
}

// The load command of `kind` in a 64-bit little-endian Mach-O file.
size_t macho_command(const std::vector<uint8_t>& bytes, uint32_t kind) {
  const uint32_t count = load_u32(bytes.data() + 16);
  size_t at = 32;
  for (uint32_t i = 0; i < count; ++i) {
    if (load_u32(bytes.data() + at) == kind) return at;
    at += load_u32(bytes.data() + at + 4);
  }
  ADD_FAILURE() << "no load command " << kind;
  return 0;
}

// The file offset of the export directory of a PE32+ DLL.
size_t pe_export_directory(const std::vector<uint8_t>& bytes) {
  const size_t header = load_u32(bytes.data() + 0x3C) + 4;
  const uint16_t sections = load_u16(bytes.data() + header + 2);
  const size_t optional = header + 20;
  const uint32_t rva = load_u32(bytes.data() + optional + 112);
  const size_t table = optional + load_u16(bytes.data() + header + 16);
  for (uint16_t i = 0; i < sections; ++i) {
    const uint8_t* record = bytes.data() + table + size_t{i} * 40;
    const uint32_t address = load_u32(record + 12);
    if (rva >= address && rva - address < load_u32(record + 16)) {
      return load_u32(record + 20) + (rva - address);
    }
  }
  ADD_FAILURE() << "no section holds the export directory";
  return 0;
}

// A PE image's file header (after its signature), and the header of its section whose name
// is `name`, long names resolved through the string table after the symbol table.
size_t pe_file_header(const std::vector<uint8_t>& bytes) {
  return load_u32(bytes.data() + 0x3C) + 4;
}
size_t pe_section_header(const std::vector<uint8_t>& bytes, const std::string& name) {
  const size_t header = pe_file_header(bytes);
  const size_t strings =
      load_u32(bytes.data() + header + 8) + size_t{load_u32(bytes.data() + header + 12)} * 18;
  const size_t table = header + 20 + load_u16(bytes.data() + header + 16);
  for (uint16_t i = 0; i < load_u16(bytes.data() + header + 2); ++i) {
    const size_t at = table + size_t{i} * 40;
    std::string field(reinterpret_cast<const char*>(bytes.data() + at), 8);
    field = field.substr(0, field.find('\0'));
    if (field[0] == '/') {
      field = std::string(
          reinterpret_cast<const char*>(bytes.data() + strings + std::stoul(field.substr(1))));
    }
    if (field == name) return at;
  }
  ADD_FAILURE() << "no section " << name;
  return 0;
}

// The section record of `name` in the __DWARF segment of a 64-bit little-endian Mach-O file.
size_t macho_dwarf_section(const std::vector<uint8_t>& bytes, const std::string& name) {
  constexpr uint32_t kSegment64 = 0x19;
  const uint32_t count = load_u32(bytes.data() + 16);
  size_t at = 32;
  for (uint32_t i = 0; i < count; ++i, at += load_u32(bytes.data() + at + 4)) {
    if (load_u32(bytes.data() + at) != kSegment64 ||
        std::string(reinterpret_cast<const char*>(bytes.data() + at + 8)) != "__DWARF") {
      continue;
    }
    for (uint32_t k = 0; k < load_u32(bytes.data() + at + 64); ++k) {
      const size_t record = at + 72 + size_t{k} * 80;
      if (std::string(reinterpret_cast<const char*>(bytes.data() + record), 16).c_str() == name) {
        return record;
      }
    }
  }
  ADD_FAILURE() << "no __DWARF section " << name;
  return 0;
}

// A linked file whose block `block` lies past its members: said once, its layouts left out,
// the others' (`other`) kept.
void expect_block_left_out(const BoundedResult& r, const std::string& block,
                           const std::string& file, const std::string& other) {
  EXPECT_EQ(r.program.standard_error, "Drelk: Debug Information Error: a member of COMMON block " +
                                          block + " of " + file +
                                          " lies before the block's address; its layouts are "
                                          "not shown\n\n");
  EXPECT_EQ(r.program.standard_output.find("Common Block " + block), std::string::npos);
  EXPECT_NE(r.program.standard_output.find("Common Block " + other +
                                           " is declared with different layouts"),
            std::string::npos);
}

class LibraryBounds : public DrelkRun {
 protected:
  BoundedResult run_on(const std::string& name, const std::vector<uint8_t>& bytes,
                       std::vector<std::string> arguments = {}) {
    dir.write(name, bytes);
    Limits limits;
    if (!drelk_is_instrumented()) limits.address_space_bytes = kAddressSpaceLimit;
    limits.deadline_seconds = 120;
    arguments.push_back(name);
    const BoundedResult r = run_bounded(drelk_binary(), arguments, dir.str(), limits);
    EXPECT_FALSE(r.timed_out) << name << " killed after " << r.seconds << " s";
    if (!drelk_is_instrumented()) {
      EXPECT_LT(r.seconds, kTimeLimitSeconds) << name;
      EXPECT_LT(r.peak_rss_kib, kPeakMemoryLimitKib) << name;
    }
    return r;
  }
};

// ELF: a dynamic symbol table of almost 2^60 bytes, string offsets past the string table,
// a dynamic section far past the end, symbol versions that run past their section.
TEST_F(LibraryBounds, DamagedElfLibraries) {
  constexpr uint32_t kDynsym = 11, kDynamic = 6, kVerdef = 0x6FFFFFFD;
  std::vector<uint8_t> symbols = library("libblk.so");
  put_u64(symbols, elf64_section_header(symbols, kDynsym) + 32, 0x0FFFFFFFFFFFFFF0ull);
  std::vector<uint8_t> names = library("libblk.so");
  put_u64(names, elf64_section_header(names, 3) + 32, 1);  // .dynstr of one byte
  std::vector<uint8_t> dynamic = library("libblk.so");
  put_u64(dynamic, elf64_section_header(dynamic, kDynamic) + 24, 0x7FFFFFFFFFFF0000ull);
  std::vector<uint8_t> versions = library("libver.so");
  // The first definition's vd_next points past the section.
  const size_t verdef = static_cast<size_t>(
      load_u64(versions.data() + elf64_section_header(versions, kVerdef) + 24, false));
  put_u32(versions, verdef + 16, 0x7FFFFFF0);
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {symbols, "Drelk: Error reading symbol table\n"},
      {names, "name offset"},
      {dynamic, "Drelk: Error reading dynamic section\n"},
      {versions, "Drelk: Error - symbol version definitions of libx.so are damaged\n"},
      // A count of symbols that the builder's table does not hold, of an ET_DYN file.
      {ElfObject()
           .type(elfv::ET_DYN)
           .section(".data", 8)
           .data("blk_", 1, 8)
           .section_size(".symtab", 0xFFFFFFFFFFFFFF00ull)
           .bytes(),
       "Drelk: Error reading symbol table\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on("libx.so", bytes);
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << expected << "\n"
        << r.program.standard_error;
    EXPECT_EQ(r.program.exit_status, 255) << expected;
  }
}

// Mach-O: a dylib without a symbol table is read from its export trie; a trie whose child
// leads back to its root, or past its end, is reported.
TEST_F(LibraryBounds, ExportTriesThatLoopOrRunPastTheirEnd) {
  constexpr uint32_t kSymtab = 0x2, kDyldInfoOnly = 0x80000022, kExportsTrie = 0x80000033;
  std::vector<uint8_t> sound = library("libmac.dylib");
  put_u32(sound, macho_command(sound, kSymtab) + 12, 0);  // nsyms: the trie is read
  size_t trie_command = 0;
  size_t field = 0;
  for (size_t at = 32, i = 0; i < load_u32(sound.data() + 16); ++i) {
    const uint32_t kind = load_u32(sound.data() + at);
    if (kind == kDyldInfoOnly) trie_command = at, field = 40;
    if (kind == kExportsTrie) trie_command = at, field = 8;
    at += load_u32(sound.data() + at + 4);
  }
  ASSERT_NE(trie_command, 0u) << "libmac.dylib has no export trie";
  const size_t trie = load_u32(sound.data() + trie_command + field);
  const uint32_t trie_size = load_u32(sound.data() + trie_command + field + 4);

  const BoundedResult read = run_on("lib.dylib", sound);
  EXPECT_EQ(read.program.standard_error, "");
  dir.write("user.o", library("macuser.o"));
  const ProgramResult shown = drelk({"-p", "user.o", "lib.dylib"});
  EXPECT_NE(shown.standard_output.find("Common Block _shared_ is defined by library lib.dylib"),
            std::string::npos)
      << shown.standard_output;

  // The root's first child: after the root's terminal size (0) and its child count, an
  // edge string and its node's ULEB128 offset.
  ASSERT_EQ(sound.at(trie), 0u);
  size_t edge = trie + 2;
  while (sound.at(edge) != 0) ++edge;
  std::vector<uint8_t> loop = sound;
  loop.at(edge + 1) = 0;  // back to the root
  std::vector<uint8_t> past = sound;
  past.at(edge + 1) = 0x7F;  // beyond a trie of fewer bytes
  ASSERT_LT(trie_size, 0x7Fu);
  std::vector<uint8_t> endless = sound;
  endless.at(edge + 1) = 0xFF;  // a ULEB128 that never ends within the trie
  for (size_t k = edge + 2; k < trie + trie_size; ++k) endless.at(k) = 0xFF;
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {loop, "Drelk: Error - export trie of lib.dylib loops\n"},
      {past, "Drelk: Error - export trie of lib.dylib runs past its end\n"},
      {endless, "Drelk: Error - export trie of lib.dylib runs past its end\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on("lib.dylib", bytes);
    EXPECT_EQ(r.program.standard_error, expected + "\n");
    EXPECT_EQ(r.program.exit_status, 255);
  }
}

// PE: export tables that claim 2^32 - 1 functions and names, or whose directory lies past
// every section, and an e_lfanew far past the end (then no DLL: refused as an executable).
TEST_F(LibraryBounds, ExportTablesOfTwoToTheThirtyTwoMinusOneEntries) {
  const std::vector<uint8_t> sound = library("shared.dll");
  const size_t directory = pe_export_directory(sound);
  std::vector<uint8_t> functions = sound;
  put_u32(functions, directory + 20, 0xFFFFFFFF);
  std::vector<uint8_t> names = sound;
  put_u32(names, directory + 24, 0xFFFFFFFF);
  std::vector<uint8_t> both = functions;
  put_u32(both, directory + 24, 0xFFFFFFFF);
  std::vector<uint8_t> ordinal = sound;
  put_u32(ordinal, directory + 20, 0);  // the name's ordinal names no function
  std::vector<uint8_t> nowhere = sound;
  put_u32(nowhere, load_u32(sound.data() + 0x3C) + 24 + 112, 0x7FFFFF00);
  const std::string outside = "Drelk: Error - export table of lib.dll has tables outside its ";
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {functions, outside + "sections\n"},
      {names, outside + "sections\n"},
      {both, outside + "sections\n"},
      {ordinal, "Drelk: Error - export table of lib.dll names an export it does not hold\n"},
      {nowhere, "Drelk: Error - export table of lib.dll lies outside the file\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on("lib.dll", bytes);
    EXPECT_EQ(r.program.standard_error, expected + "\n");
    EXPECT_EQ(r.program.exit_status, 255);
  }
  std::vector<uint8_t> lost = sound;
  put_u32(lost, 0x3C, 0xFFFFFFF0);
  const BoundedResult r = run_on("lib.dll", lost);
  EXPECT_EQ(r.program.standard_error, "Drelk: The file lib.dll is not an object file.\n");
}

// A linked program under -m: a block whose symbol is gone from the symbol table, or whose
// address lies past its members', is said once and its layouts left out; the others stay.
TEST_F(LibraryBounds, LinkedProgramsWhoseBlocksCannotBePlaced) {
  constexpr uint32_t kSymtab = 2;
  const std::vector<uint8_t> sound = library("layouts-prog");
  const size_t symtab = elf64_section_header(sound, kSymtab);
  const size_t strtab_header = static_cast<size_t>(load_u64(sound.data() + 40, false)) +
                               size_t{load_u32(sound.data() + symtab + 40, false)} * 64;
  const size_t strings = static_cast<size_t>(load_u64(sound.data() + strtab_header + 24, false));
  const size_t strings_size =
      static_cast<size_t>(load_u64(sound.data() + strtab_header + 32, false));
  const std::string text(sound.begin() + static_cast<std::ptrdiff_t>(strings),
                         sound.begin() + static_cast<std::ptrdiff_t>(strings + strings_size));
  const size_t name = text.find(std::string("\0ext_\0", 6));
  ASSERT_NE(name, std::string::npos);
  std::vector<uint8_t> renamed = sound;
  renamed.at(strings + name + 3) = 'u';  // "exu_": no symbol of the block's name
  std::vector<uint8_t> moved = sound;
  const size_t symbols = static_cast<size_t>(load_u64(sound.data() + symtab + 24, false));
  const size_t count = static_cast<size_t>(load_u64(sound.data() + symtab + 32, false)) / 24;
  for (size_t i = 1; i < count; ++i) {
    if (load_u32(sound.data() + symbols + i * 24, false) == name + 1) {
      put_u64(moved, symbols + i * 24 + 8, 0x7FFFFFFFFFFFFFFFull);  // st_value past the members
    }
  }
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {renamed,
       "Drelk: Debug Information Error: COMMON block ext_ of prog has no symbol in the "
       "symbol table, so its members' offsets are not known; its layouts are not shown\n"},
      {moved,
       "Drelk: Debug Information Error: a member of COMMON block ext_ of prog lies before "
       "the block's address; its layouts are not shown\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    dir.write("prog", bytes);
    const ProgramResult r = drelk({"-m", "-p", "prog"});
    EXPECT_EQ(r.standard_error, expected + "\n");
    EXPECT_EQ(r.exit_status, 255);
    EXPECT_EQ(r.standard_output.find("Common Block ext_"), std::string::npos) << r.standard_output;
    EXPECT_NE(r.standard_output.find("Common Block q_ is declared with different layouts"),
              std::string::npos);
  }
}

// A mingw-w64 program under -m whose DWARF sections, symbol table or string table lie
// past the end or claim 2^32 - 1 entries, or whose block symbol lies past its members: each
// said, in bounded time and memory; a program whose layouts are all lost stays refused.
TEST_F(LibraryBounds, MingwProgramsWhoseDebugInformationIsDamaged) {
  const std::vector<uint8_t> sound = library("layouts.exe");
  const size_t header = pe_file_header(sound);
  const size_t info = pe_section_header(sound, ".debug_info");
  std::vector<uint8_t> info_outside = sound;
  put_u32(info_outside, info + 20, 0x7FFFFF00);  // PointerToRawData
  std::vector<uint8_t> info_huge = sound;
  put_u32(info_huge, info + 8, 0xFFFFFFF0);   // VirtualSize
  put_u32(info_huge, info + 16, 0xFFFFFFF0);  // SizeOfRawData
  std::vector<uint8_t> symbols_outside = sound;
  put_u32(symbols_outside, header + 8, 0x7FFFFF00);
  std::vector<uint8_t> symbols_counted = sound;
  put_u32(symbols_counted, header + 12, 0xFFFFFFFF);
  std::vector<uint8_t> strings_huge = sound;
  put_u32(strings_huge,
          load_u32(sound.data() + header + 8) + size_t{load_u32(sound.data() + header + 12)} * 18,
          0xFFFFFFF0);
  const std::string refused = "Drelk: The file prog.exe is not an object file.\n";
  const std::string info_unread =
      "Drelk: Debug Information Error: .debug_info in prog.exe cannot be read (its data runs "
      "past the end of the file); COMMON block layouts are not shown\n\n";
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {info_outside, info_unread},
      {info_huge, info_unread},
      {symbols_outside, "Drelk: Error reading symbol table\n\n"},
      {symbols_counted, "Drelk: Error reading symbol table\n\n"},
      {strings_huge, "Drelk: Read of string table failed\n\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on("prog.exe", bytes, {"-m"});
    EXPECT_NE(r.program.standard_error.find(expected + refused), std::string::npos)
        << r.program.standard_error;
    EXPECT_EQ(r.program.exit_status, 255);
  }
  // The block symbol of /EXT/ moved far past its members.
  std::vector<uint8_t> moved = sound;
  const size_t symbols = load_u32(sound.data() + header + 8);
  const size_t count = load_u32(sound.data() + header + 12);
  for (size_t i = 0; i < count; ++i) {
    const size_t at = symbols + i * 18;
    if (std::string(reinterpret_cast<const char*>(sound.data() + at), 5) ==
        std::string("ext_\0", 5)) {
      put_u32(moved, at + 8, 0x7FFFFFF0);
    }
  }
  expect_block_left_out(run_on("prog.exe", moved, {"-m", "-p"}), "ext_", "prog.exe", "q_");
}

// A .dSYM companion under -m whose debug sections run past the end, whose symbol or
// string table claims more than the file holds, or whose block symbol lies past its
// members: each said, in bounded time and memory; one that places no layout is refused.
TEST_F(LibraryBounds, DsymCompanionsWhoseDebugInformationIsDamaged) {
  constexpr uint32_t kSymtab = 0x2;
  const std::vector<uint8_t> sound =
      library("layouts-exec.dSYM/Contents/Resources/DWARF/layouts-exec");
  const size_t info = macho_dwarf_section(sound, "__debug_info");
  const size_t abbrev = macho_dwarf_section(sound, "__debug_abbrev");
  const size_t symtab = macho_command(sound, kSymtab);
  std::vector<uint8_t> info_outside = sound;
  put_u32(info_outside, info + 48, 0x7FFFFF00);  // offset
  std::vector<uint8_t> abbrev_huge = sound;
  put_u64(abbrev_huge, abbrev + 40, 0xFFFFFFFFFFFF0000ull);  // size
  std::vector<uint8_t> symbols_counted = sound;
  put_u32(symbols_counted, symtab + 12, 0xFFFFFFFF);
  std::vector<uint8_t> strings_huge = sound;
  put_u32(strings_huge, symtab + 20, 0xFFFFFFF0);
  const std::string refused = "Drelk: The file lib.dSYM is not an object file.\n";
  const auto unread = [](const char* section) {
    return std::string("Drelk: Debug Information Error: ") + section +
           " in lib.dSYM cannot be read (its data runs past the end of the file); COMMON block "
           "layouts are not shown\n\n";
  };
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {info_outside, unread(".debug_info") + refused},
      {abbrev_huge, unread(".debug_abbrev") + refused},
      {symbols_counted, "Drelk: Error reading symbol table\n\n" + refused},
      {strings_huge, "Drelk: Read of string table failed\n\n"},
  };
  for (const auto& [bytes, expected] : cases) {
    const BoundedResult r = run_on("lib.dSYM", bytes, {"-m"});
    EXPECT_NE(r.program.standard_error.find(expected), std::string::npos)
        << r.program.standard_error;
    EXPECT_NE(r.program.standard_error.find(refused), std::string::npos)
        << r.program.standard_error;
    EXPECT_EQ(r.program.exit_status, 255);
  }
  // The symbol of /EXT/ moved far past its members.
  std::vector<uint8_t> moved = sound;
  const size_t symbols = load_u32(sound.data() + symtab + 8);
  const size_t strings = load_u32(sound.data() + symtab + 16);
  for (size_t i = 0; i < load_u32(sound.data() + symtab + 12); ++i) {
    const size_t at = symbols + i * 16;
    const char* name =
        reinterpret_cast<const char*>(sound.data() + strings + load_u32(sound.data() + at));
    if (std::string(name) == "_ext_") put_u64(moved, at + 8, 0x7FFFFFFFFFFFFFF0ull);
  }
  expect_block_left_out(run_on("lib.dSYM", moved, {"-m", "-p"}), "_ext_", "lib.dSYM", "_q_");
}

}  // namespace
}  // namespace drelk::test
