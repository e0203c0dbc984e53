// Writes the builder-made seeds of the fuzz corpus: small objects and archives that reach
// each part of the readers (COFF long names, weak externals, optional headers, overlapping
// sections; ELF objects of both classes and byte orders, extended numbering, LTO symbol
// tables; Mach-O objects of both classes and byte orders, universal files of objects and
// of archives; XCOFF objects of both classes and AIX big archives; every archive style,
// thin and BSD ones included, import and extended headers)
// and a few damaged ones, plus command lines for the command-line target. The sample
// objects from real compilers are given to the fuzzer from examples/ and tests/data/
// directly.
//
//   drelk_fuzz_seeds fuzz/corpus
//
// writes fuzz/corpus/analyze/builder-*.bin and fuzz/corpus/command_line/*.args.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/macho_builder.h"
#include "tests/support/xcoff_builder.h"

namespace {

namespace fs = std::filesystem;
using namespace drelk::test;

using Bytes = std::vector<uint8_t>;

void write(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) {
    std::cerr << "cannot write " << path << "\n";
    std::exit(1);
  }
}

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// An object with a COMMON block, a procedure and initialised data of a block's name.
CoffObject typical() {
  return CoffObject()
      .section(".text", 16, 2, 1, pe::kCodeSectionCharacteristics)
      .section(".data", 8)
      .common("_area_", 400)
      .common("_grid_", 804)
      .function("_solve_", 1)
      .data("_grid_", 2);
}

// A header that starts with Sig1 = 0, Sig2 = 0xFFFF and the given version, then zeros.
Bytes extended_header(uint16_t version) {
  Bytes bytes(56, 0);
  bytes[2] = 0xFF;
  bytes[3] = 0xFF;
  bytes[4] = static_cast<uint8_t>(version);
  bytes[5] = static_cast<uint8_t>(version >> 8);
  return bytes;
}

void write_objects(const fs::path& dir) {
  write(dir / "builder-typical.bin", typical().bytes());
  write(dir / "builder-amd64-long-names.bin",
        CoffObject()
            .machine(pe::IMAGE_FILE_MACHINE_AMD64)
            .section(".text$mn_long_section_name", 8, 0, 0, pe::kCodeSectionCharacteristics)
            .common("_a_block_with_a_long_name_", 64)
            .function("a_procedure_with_a_long_name", 1)
            .function("_decorated@8", 1)
            .bytes());
  write(dir / "builder-optional-headers.bin",
        CoffObject().optional_header(224, 3).section(".data", 4).common("_x_", 4).bytes());
  write(dir / "builder-optional-small.bin",
        CoffObject().optional_header(28).common("_x_", 4).bytes());
  write(dir / "builder-weak-external.bin",
        CoffObject()
            .section(".text", 4)
            .symbol("_weak_", 0, 0, 0, pe::IMAGE_SYM_CLASS_WEAK_EXTERNAL, 3)
            .common("_after_", 8)
            .symbol(".file", 0, pe::IMAGE_SYM_DEBUG, 0, pe::IMAGE_SYM_CLASS_FILE, 1)
            .bytes());
  SectionHeader overlapping;
  overlapping.name = ".bss";
  overlapping.size_of_raw_data = 0x40;
  overlapping.pointer_to_raw_data = 0x30;
  overlapping.pointer_to_relocations = 0x50;
  overlapping.number_of_relocations = 3;
  overlapping.pointer_to_linenumbers = 0xFFFFFFF0;
  overlapping.number_of_linenumbers = 8;
  write(dir / "builder-overlapping-sections.bin", CoffObject()
                                                      .section(".text", 0x20, 2, 2)
                                                      .section_header(overlapping)
                                                      .section_header(overlapping)
                                                      .common("_x_", 4)
                                                      .bytes());
  write(dir / "builder-aux-overflow.bin",
        CoffObject().common("_x_", 4).common("_y_", 8).aux_count(5).symbol_count(3).bytes());
  write(dir / "builder-name-outside-string-table.bin",
        CoffObject().common("_x_", 4).name_offset(0x1000).string_text("_x_").bytes());
  write(dir / "builder-section-number-out-of-range.bin",
        CoffObject().section(".data", 4).data("_x_", 7).common("_x_", 4).bytes());
  write(dir / "builder-claims-many-symbols.bin",
        CoffObject().common("_x_", 4).symbol_count(0xFFFFFFFF).bytes());
  write(dir / "builder-claims-huge-string-table.bin",
        CoffObject().common("_x_", 4).string_table_size(0xFFFFFFFF).bytes());
  write(dir / "builder-truncated.bin", typical().truncated(typical().bytes().size() - 7));
  write(dir / "builder-import-header.bin", extended_header(0));
  write(dir / "builder-big-object-header.bin", extended_header(2));
  // Version 1 is neither: the bytes are read as a file header of machine 0.
  write(dir / "builder-sig2-version-one.bin", extended_header(1));
  write(dir / "builder-executable.bin", {'M', 'Z', 0x90, 0, 3, 0, 0, 0});
  write(dir / "builder-pe-signature.bin", {'P', 'E', 0, 0, 0x4C, 0x01});
}

// An ELF object with a symbol of every kind the scan tells apart.
ElfObject typical_elf(ElfObject object) {
  return object.section(".text", 32)
      .section(".data", 16)
      .section(".bss", 64, elfv::SHT_NOBITS)
      .function("helper", 1, elfv::STB_LOCAL)
      .common("area_", 400, 32)
      .common("grid_", 804)
      .function("solve_", 1)
      .data("grid_init_", 2, 16)
      .data("literal_", 2, 8, elfv::STB_WEAK)
      .undefined("ext_");
}

void write_elf_objects(const fs::path& dir) {
  write(dir / "builder-elf64-lsb.bin", typical_elf(ElfObject()).bytes());
  write(dir / "builder-elf32-lsb.bin", typical_elf(ElfObject().elf32()).bytes());
  write(dir / "builder-elf64-msb.bin",
        typical_elf(ElfObject().big_endian().machine(elfv::EM_S390)).bytes());
  write(dir / "builder-elf32-msb.bin",
        typical_elf(ElfObject().elf32().big_endian().machine(elfv::EM_PPC)).bytes());
  ElfSymbol extended{"init_",          0, 8, elf_info(elfv::STB_GLOBAL, elfv::STT_OBJECT),
                     elfv::SHN_XINDEX, 2, {}};
  write(dir / "builder-elf-extended-numbering.bin",
        ElfObject()
            .section(".text", 16)
            .section(".data", 8)
            .symbol(extended)
            .symbol(ElfSymbol{"field_",
                              32,
                              1600000,
                              elf_info(elfv::STB_GLOBAL, elfv::STT_OBJECT),
                              elfv::SHN_X86_64_LCOMMON,
                              {},
                              {}})
            .extended_numbering()
            .bytes());
  write(dir / "builder-elf-lto.bin",
        ElfObject()
            .lto_symbols({{"smooth_", elfv::LDPK_DEF, elfv::LDST_FUNCTION, 0},
                          {"mesh_", elfv::LDPK_COMMON, elfv::LDST_VARIABLE, 804},
                          {"init_", elfv::LDPK_DEF, elfv::LDST_VARIABLE, 0},
                          {"solve_", elfv::LDPK_UNDEF, elfv::LDST_FUNCTION, 0}},
                         "b93b9ec4e0bff7d9")
            .bytes());
  write(dir / "builder-elf-executable.bin", typical_elf(ElfObject().type(elfv::ET_EXEC)).bytes());
  write(dir / "builder-elf-bad-entry-size.bin",
        typical_elf(ElfObject()).symbol_entry_size(20).bytes());
  write(dir / "builder-elf-overlapping.bin",
        typical_elf(ElfObject()).section_offset(".data", 64).bytes());
  write(dir / "builder-elf-claims-many-sections.bin",
        typical_elf(ElfObject()).section_count(0xFFFF).bytes());
}

void write_archives(const fs::path& dir) {
  const Bytes member_a =
      CoffObject().section(".text", 4).common("_area_", 400).function("_sub_", 1).bytes();
  const Bytes member_b = typical().bytes();
  const auto two_members = [&](ArchiveStyle style) {
    return Archive()
        .style(style)
        .member("a.obj", member_a)
        .member("a-member-with-a-long-name.obj", member_b)
        .symbol("_sub_", 0)
        .symbol("_solve_", 1);
  };
  write(dir / "builder-archive-microsoft.bin", two_members(ArchiveStyle::Microsoft).bytes());
  write(dir / "builder-archive-gnu.bin", two_members(ArchiveStyle::Gnu).bytes());
  write(dir / "builder-archive-no-index.bin", two_members(ArchiveStyle::NoLinkerMembers).bytes());

  Archive with_import = two_members(ArchiveStyle::Microsoft);
  with_import.member("import.dll", extended_header(0));
  write(dir / "builder-archive-with-import-member.bin", with_import.bytes());

  // Offsets that all name the same member; the layout with four offsets tells where it is.
  const uint32_t first = static_cast<uint32_t>(
      two_members(ArchiveStyle::Microsoft).member_offsets({0, 0, 0, 0}).member_header_offset(0));
  write(dir / "builder-archive-repeated-offsets.bin",
        two_members(ArchiveStyle::Microsoft).member_offsets({first, first, first, first}).bytes());
  write(dir / "builder-archive-claims-many-members.bin",
        two_members(ArchiveStyle::Microsoft).member_count(0xFFFFFFFF).bytes());
  write(dir / "builder-archive-claims-many-symbols.bin",
        two_members(ArchiveStyle::Gnu).first_linker_symbol_count(0xFFFFFFFF).bytes());
  write(dir / "builder-archive-odd-name.bin",
        two_members(ArchiveStyle::NoLinkerMembers).raw_member_name(0, "/<ECSYMBOLS>/").bytes());
  // A member header whose name field holds no '/': the member's name is not known.
  write(dir / "builder-archive-nameless-member.bin",
        two_members(ArchiveStyle::NoLinkerMembers).raw_member_name(0, "nameless").bytes());
  write(dir / "builder-archive-truncated.bin",
        two_members(ArchiveStyle::Microsoft)
            .truncated(two_members(ArchiveStyle::Microsoft).bytes().size() - 30));

  // ELF members, a COFF member beside them, in the styles of Linux and BSD tools.
  const Bytes elf_a = typical_elf(ElfObject()).bytes();
  const Bytes elf_b = ElfObject().elf32().common("area_", 800).bytes();
  const auto elf_members = [&](ArchiveStyle style) {
    return Archive()
        .style(style)
        .member("a.o", elf_a)
        .member("boundary_conditions.o", elf_b)
        .member("c.obj", member_a)
        .symbol("solve_", 0);
  };
  write(dir / "builder-archive-elf-gnu.bin", elf_members(ArchiveStyle::Gnu).bytes());
  write(dir / "builder-archive-elf-bsd.bin", elf_members(ArchiveStyle::Bsd).bytes());
  write(dir / "builder-archive-elf-thin.bin", elf_members(ArchiveStyle::Thin).bytes());
}

// A Mach-O object with a symbol of every kind: commons, procedures, initialised data,
// references, a debugging entry.
MachOObject typical_macho(MachOObject object) {
  return object.section("__TEXT", "__text", 16, machov::kCode, 2)
      .section("__DATA", "__data", 8, 0, 1)
      .section("__DATA", "__bss", 32, machov::S_ZEROFILL)
      .common("_mesh_", 804, 2)
      .common("_scruz_", 2000, 3)
      .defined("_solve_", 1)
      .defined("_helper", 1, false)
      .defined("_mesh_", 2)
      .defined("_uninit_", 3)
      .undefined("_ext_")
      .symbol(MachSymbol{"_solve_", machov::N_FUN, 1, 0, 0, {}});
}

void write_macho_objects(const fs::path& dir) {
  const Bytes x86_64 = typical_macho(MachOObject()).bytes();
  const Bytes arm64 = typical_macho(MachOObject().cpu(machov::CPU_TYPE_ARM64)).bytes();
  write(dir / "builder-macho64-lsb.bin", x86_64);
  write(dir / "builder-macho32-lsb.bin", typical_macho(MachOObject().bits32()).bytes());
  write(dir / "builder-macho64-msb.bin",
        typical_macho(MachOObject().big_endian().cpu(0x01000012)).bytes());
  write(dir / "builder-macho32-msb.bin",
        typical_macho(MachOObject().bits32().big_endian().cpu(machov::CPU_TYPE_POWERPC)).bytes());
  write(dir / "builder-macho-overlaps.bin",
        typical_macho(MachOObject())
            .section_offset(2, static_cast<uint32_t>(
                                   typical_macho(MachOObject()).layout().section_offsets[0] + 8))
            .bytes());
  write(dir / "builder-macho-many-commands.bin",
        typical_macho(MachOObject()).command_count(0xFFFFFFFF).bytes());
  write(dir / "builder-macho-many-sections.bin",
        typical_macho(MachOObject()).section_count(0xFFFFFFFF).bytes());
  write(dir / "builder-macho-dylib.bin",
        typical_macho(MachOObject()).file_type(machov::MH_DYLIB).bytes());

  const UniversalFile two = UniversalFile()
                                .slice(machov::CPU_TYPE_X86_64, 3, x86_64)
                                .slice(machov::CPU_TYPE_ARM64, 0, arm64, 14);
  write(dir / "builder-universal.bin", UniversalFile()
                                           .slice(machov::CPU_TYPE_X86_64, 3, x86_64, 3)
                                           .slice(machov::CPU_TYPE_ARM64, 0, arm64, 3)
                                           .bytes());
  write(dir / "builder-universal-fat64.bin", UniversalFile()
                                                 .fat64()
                                                 .slice(machov::CPU_TYPE_X86_64, 3, x86_64, 3)
                                                 .slice(machov::CPU_TYPE_ARM, 9, arm64, 3)
                                                 .bytes());
  const auto library = [](const Bytes& object) {
    return Archive()
        .style(ArchiveStyle::Bsd)
        .member("__.SYMDEF SORTED", Bytes(8, 0))
        .member("boundary_conditions.o", object)
        .member("solve.o", object)
        .bytes();
  };
  write(dir / "builder-archive-macho-bsd.bin", library(x86_64));
  write(dir / "builder-universal-archives.bin",
        UniversalFile()
            .slice(machov::CPU_TYPE_X86_64, 3, library(x86_64), 3)
            .slice(machov::CPU_TYPE_ARM64, 0, library(arm64), 3)
            .bytes());
  write(dir / "builder-archive-universal-member.bin",
        Archive()
            .style(ArchiveStyle::Bsd)
            .member("x.o", UniversalFile()
                               .slice(machov::CPU_TYPE_X86_64, 3, x86_64, 3)
                               .slice(machov::CPU_TYPE_ARM64, 0, arm64, 3)
                               .bytes())
            .bytes());
  write(dir / "builder-universal-slice-outside.bin",
        UniversalFile(two).slice_offset(1, 0xFFFFFF00).bytes());
}

// Command lines: arguments separated by NUL bytes, as the command-line target splits them.
// An XCOFF object with a csect of every kind the scan tells apart.
XcoffObject typical_xcoff(XcoffObject object) {
  return object.section(".text", 32, xcoffv::STYP_TEXT, 1)
      .section(".data", 48, xcoffv::STYP_DATA)
      .section(".bss", 400, xcoffv::STYP_BSS)
      .common("blk_", 400)
      .common("a_rather_long_block_", 8)
      .symbol(csect_symbol(".sub_", xcoffv::C_EXT, xcoffv::XTY_LD, xcoffv::XMC_PR, 0, 1))
      .descriptor("sub_", 2)
      .symbol(csect_symbol("blk_", xcoffv::C_HIDEXT, xcoffv::XTY_SD, xcoffv::XMC_TC, 8, 2))
      .data("init_", 12, 2);
}

void write_xcoff_objects(const fs::path& dir) {
  const Bytes xcoff32 = typical_xcoff(XcoffObject()).bytes();
  const Bytes xcoff64 = typical_xcoff(XcoffObject().is64()).bytes();
  write(dir / "builder-xcoff32.bin", xcoff32);
  write(dir / "builder-xcoff64.bin", xcoff64);
  const BigArchive archive = BigArchive().member("a.o", xcoff32).member("b.o", xcoff64);
  write(dir / "builder-big-archive.bin", archive.bytes());
  write(dir / "builder-big-archive-loop.bin",
        BigArchive(archive).next_member(1, archive.member_offset(0)).bytes());
}

void write_command_lines(const fs::path& dir) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {"star", std::string("*")},
      {"recurse-star-dot-star", std::string("-s\0*.*", 6)},
      {"problems-library", std::string("-p\0a\0lib\\part.lib", 17)},
      {"recurse-objects", std::string("/s\0*.obj", 8)},
      {"case-and-blank", std::string("b\0with blank\0?X?", 16)},
      {"damaged-entries", std::string("dangling\0fifo\0dir\0exe\0empty", 27)},
      {"stream-files", std::string("-elog.txt\0-oout.txt\0sub/deep/*", 30)},
      {"usage", std::string("-?\0-v\0-help", 11)},
      {"illegal", std::string("-x\0a", 4)},
      {"documents", std::string("-fsarif\0-w\0-s\0*\0lib\\part.lib\0missing", 36)},
      {"gnu-spellings", std::string("--version\0--help\0-fjson\0-p", 26)},
      {"response-files", std::string("@args.rsp\0@loop.rsp", 19)},
  };
  for (const auto& [name, line] : lines) write(dir / (name + ".args"), text(line));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: drelk_fuzz_seeds CORPUS-DIRECTORY\n";
    return 2;
  }
  const fs::path corpus = argv[1];
  fs::create_directories(corpus / "analyze");
  fs::create_directories(corpus / "command_line");
  write_objects(corpus / "analyze");
  write_elf_objects(corpus / "analyze");
  write_macho_objects(corpus / "analyze");
  write_xcoff_objects(corpus / "analyze");
  write_archives(corpus / "analyze");
  write_command_lines(corpus / "command_line");
  return 0;
}
