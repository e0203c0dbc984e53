// Test-side builder of Mach-O relocatable objects and universal files, as coff_builder.h
// and elf_builder.h are for their formats: a test says which sections and symbols the
// object has, in which class and byte order, and the builder lays them out and writes the
// bytes. Record layouts follow Apple's <mach-o/loader.h>, <mach-o/nlist.h>, <mach-o/fat.h>.
//
//   MachOObject().section("__TEXT", "__text", 16, machov::kCode).common("_blk_", 96)
//       .function("_sub_", 1).bytes()
//
// Layout, as clang lays out an object: the header; the load commands, one segment command
// holding every section (numbered from 1 in the order given) and the symbol table command;
// the sections' data (zero-fill sections have none), each at an offset aligned to 8; their
// relocation entries; the symbol table; the string table. Overrides named after a field
// change that field only and leave the layout as it would be without them, so damaged
// inputs differ from a sound object in exactly one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

// The builder's own copies of the format's values.
namespace machov {
inline constexpr uint32_t MH_OBJECT = 0x1;
inline constexpr uint32_t MH_EXECUTE = 0x2;
inline constexpr uint32_t MH_DYLIB = 0x6;
inline constexpr uint32_t MH_BUNDLE = 0x8;
inline constexpr uint32_t MH_DSYM = 0xA;

inline constexpr uint32_t CPU_TYPE_X86 = 7;
inline constexpr uint32_t CPU_TYPE_X86_64 = 0x01000007;
inline constexpr uint32_t CPU_TYPE_ARM = 12;
inline constexpr uint32_t CPU_TYPE_ARM64 = 0x0100000C;
inline constexpr uint32_t CPU_TYPE_POWERPC = 18;
inline constexpr uint32_t CPU_SUBTYPE_ARM64E = 2;
inline constexpr uint32_t CPU_SUBTYPE_ARM_V7 = 9;
inline constexpr uint32_t CPU_SUBTYPE_X86_64_H = 8;

inline constexpr uint8_t N_UNDF = 0x0;
inline constexpr uint8_t N_EXT = 0x1;
inline constexpr uint8_t N_ABS = 0x2;
inline constexpr uint8_t N_SECT = 0xE;
inline constexpr uint8_t N_INDR = 0xA;
inline constexpr uint8_t N_PEXT = 0x10;
inline constexpr uint8_t N_FUN = 0x24;   // a debugging entry (N_STAB bits set)
inline constexpr uint8_t N_GSYM = 0x20;  // a debugging entry for a global

inline constexpr uint32_t S_REGULAR = 0x0;
inline constexpr uint32_t S_ZEROFILL = 0x1;
inline constexpr uint32_t S_ATTR_PURE_INSTRUCTIONS = 0x80000000;
inline constexpr uint32_t S_ATTR_SOME_INSTRUCTIONS = 0x00000400;
// The flags clang gives __TEXT,__text.
inline constexpr uint32_t kCode = S_ATTR_PURE_INSTRUCTIONS | S_ATTR_SOME_INSTRUCTIONS;
}  // namespace machov

// One nlist record.
struct MachSymbol {
  std::string name;
  uint8_t type = machov::N_UNDF | machov::N_EXT;
  uint8_t section = 0;
  uint16_t description = 0;
  uint64_t value = 0;
  // Written to n_strx instead of the name's offset; the name then goes nowhere.
  std::optional<uint32_t> name_offset;
};

// Where bytes() puts each part; offsets from the start of the object.
struct MachOLayout {
  size_t header_size = 0;
  size_t commands_size = 0;  // sizeofcmds
  size_t segment_command_offset = 0;
  size_t symtab_command_offset = 0;
  std::vector<size_t> section_record_offsets;  // by section number - 1
  std::vector<size_t> section_offsets;         // of their data; 0 for zero-fill sections
  size_t symbol_offset = 0;
  size_t symbol_size = 0;  // of one nlist record
  size_t string_offset = 0;
  size_t string_size = 0;
  size_t size = 0;
};

class MachOObject {
 public:
  // Class, byte order and processor: 64-bit little-endian x86-64 unless told otherwise.
  MachOObject& bits32();
  MachOObject& big_endian();
  MachOObject& cpu(uint32_t type, uint32_t subtype = 0);
  MachOObject& file_type(uint32_t value);

  // A section of `size` bytes of segment `segment`, with `flags` (type and attributes)
  // and `relocations` relocation entries; zero-fill sections hold no data in the file.
  MachOObject& section(std::string segment, std::string name, uint64_t size,
                       uint32_t flags = machov::S_REGULAR, uint32_t relocations = 0);

  // A COMMON declaration: an undefined external whose n_value is the size, its alignment
  // 2^align_power in n_desc.
  MachOObject& common(std::string name, uint64_t size, uint8_t align_power = 3);
  // A symbol defined in section `section` (numbered from 1), external or not.
  MachOObject& defined(std::string name, uint8_t section, bool external = true);
  MachOObject& undefined(std::string name);
  MachOObject& symbol(MachSymbol s);

  // Overrides of single fields, for damaged inputs.
  MachOObject& magic(uint32_t value);          // written in the file's byte order, as every field
  MachOObject& command_count(uint32_t value);  // ncmds
  MachOObject& commands_size(uint32_t value);  // sizeofcmds
  MachOObject& command_size(size_t index, uint32_t value);         // cmdsize of load command index
  MachOObject& section_count(uint32_t value);                      // the segment's nsects
  MachOObject& symbol_offset(uint32_t value);                      // symoff
  MachOObject& symbol_count(uint32_t value);                       // nsyms
  MachOObject& string_offset(uint32_t value);                      // stroff
  MachOObject& string_size(uint32_t value);                        // strsize
  MachOObject& section_offset(size_t number, uint32_t value);      // its data's offset
  MachOObject& relocations_offset(size_t number, uint32_t value);  // reloff

  std::vector<uint8_t> bytes() const;
  // The first n bytes of bytes(); n beyond the end throws std::out_of_range.
  std::vector<uint8_t> truncated(size_t n) const;
  MachOLayout layout() const;

 private:
  struct Section {
    std::string segment;
    std::string name;
    uint64_t size = 0;
    uint32_t flags = 0;
    uint32_t relocations = 0;
  };
  std::vector<uint8_t> build(MachOLayout& layout) const;

  bool is64_ = true;
  bool big_endian_ = false;
  uint32_t cpu_type_ = machov::CPU_TYPE_X86_64;
  uint32_t cpu_subtype_ = 3;
  uint32_t file_type_ = machov::MH_OBJECT;
  std::vector<Section> sections_;
  std::vector<MachSymbol> symbols_;

  std::optional<uint32_t> magic_;
  std::optional<uint32_t> command_count_;
  std::optional<uint32_t> commands_size_;
  std::map<size_t, uint32_t> command_sizes_;
  std::optional<uint32_t> section_count_;
  std::optional<uint32_t> symbol_offset_;
  std::optional<uint32_t> symbol_count_;
  std::optional<uint32_t> string_offset_;
  std::optional<uint32_t> string_size_;
  std::map<size_t, uint32_t> section_offsets_;
  std::map<size_t, uint32_t> relocations_offsets_;
};

// A universal file: the big-endian fat header, a fat_arch record a slice, the slices at
// offsets aligned to 2^align.
class UniversalFile {
 public:
  UniversalFile& slice(uint32_t cpu_type, uint32_t cpu_subtype, std::vector<uint8_t> bytes,
                       uint32_t align = 12);
  // FAT_MAGIC_64: fat_arch_64 records with 64-bit offsets and sizes.
  UniversalFile& fat64();

  // Overrides of single fields, for damaged inputs.
  UniversalFile& slice_count(uint32_t value);                 // nfat_arch
  UniversalFile& slice_offset(size_t index, uint64_t value);  // the record's offset
  UniversalFile& slice_size(size_t index, uint64_t value);    // the record's size

  std::vector<uint8_t> bytes() const;

 private:
  struct Slice {
    uint32_t cpu_type;
    uint32_t cpu_subtype;
    std::vector<uint8_t> bytes;
    uint32_t align;
  };
  std::vector<Slice> slices_;
  bool fat64_ = false;
  std::optional<uint32_t> slice_count_;
  std::map<size_t, uint64_t> slice_offsets_;
  std::map<size_t, uint64_t> slice_sizes_;
};

}  // namespace drelk::test
