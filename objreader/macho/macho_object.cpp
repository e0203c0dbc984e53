// The Mach-O reader: the header, the load commands (segments and their sections, the
// symbol table command), the layout of the sections in the file, the symbol and string
// tables and the scan of the symbols.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/macho.h"
#include "objreader/debug_layouts.h"
#include "objreader/identify.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/messages.h"
#include "objreader/stretch_index.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";

constexpr char kLoadCommandOutside[] = "Error - load command %u lies outside the load commands\n";
constexpr char kLoadCommandBadSize[] = "Error - load command %u has a bad size of %u bytes\n";
constexpr char kSegmentTooSmall[] = "Error - load command %u is too small for its %u sections\n";
constexpr char kProgramWithoutDebugInformation[] =
    "The file %s is not an object file: a Mach-O program keeps its debug information in its "
    ".dSYM bundle; name %s.dSYM for -m to read its COMMON block layouts.";
constexpr char kCompanionWithoutLayouts[] = "debug information that describes no COMMON block";
constexpr char kCompanionWithoutSwitch[] =
    "debug information only (-m reads its COMMON block layouts)";

// How the object at hand is read: its class and byte order, where it lies in the stream.
struct MachObject {
  bool is64 = false;
  bool big_endian = false;
  uint64_t base = 0;
  uint64_t extent = 0;
  size_t header_size = macho::kHeaderSize32;
  const macho::SectionLayout* section = &macho::kSection32;
  size_t nlist_size = macho::kNlistSize32;
  uint32_t segment_command = macho::LC_SEGMENT;
  size_t segment_size = macho::kSegmentSize32;
  size_t segment_number_of_sections = macho::kSegmentNumberOfSections32;
};

// The symbol table command's fields.
struct SymbolTable {
  // A linked image's export trie, and the address its export addresses count from.
  bool has_trie = false;
  uint32_t trie_offset = 0;
  uint32_t trie_size = 0;
  uint64_t image_base = 0;
  bool present = false;
  uint32_t symbol_offset = 0;
  uint32_t count = 0;
  uint32_t string_offset = 0;
  uint32_t string_size = 0;
};

// Sets the object's class and byte order from its magic. False for no Mach-O magic.
bool decode_magic(const uint8_t* bytes, MachObject& object) {
  switch (load_u32(bytes, true)) {
    case macho::MH_MAGIC:
      object.big_endian = true;
      break;
    case macho::MH_MAGIC_64:
      object.big_endian = object.is64 = true;
      break;
    case macho::MH_CIGAM:
      break;
    case macho::MH_CIGAM_64:
      object.is64 = true;
      break;
    default:
      return false;
  }
  if (object.is64) {
    object.header_size = macho::kHeaderSize64;
    object.section = &macho::kSection64;
    object.nlist_size = macho::kNlistSize64;
    object.segment_command = macho::LC_SEGMENT_64;
    object.segment_size = macho::kSegmentSize64;
    object.segment_number_of_sections = macho::kSegmentNumberOfSections64;
  }
  return true;
}

// Reads `size` bytes at `offset` of the object into `buffer`, never allocating more than
// the stream holds; a stretch the stream cannot reach is reported as a short read.
Outcome read_stretch(ObjectReader& reader, InputStream& stream, const MachObject& object,
                     uint64_t offset, uint64_t size, std::vector<uint8_t>& buffer) {
  return read_table_at(reader, stream, object.base, offset, size, buffer);
}

bool is_zero_fill(uint32_t flags) {
  const uint32_t type = flags & macho::SECTION_TYPE;
  return type == macho::S_ZEROFILL || type == macho::S_GB_ZEROFILL ||
         type == macho::S_THREAD_LOCAL_ZEROFILL;
}

// A section of code: what a procedure is defined in.
bool holds_instructions(uint32_t flags) {
  return (flags & (macho::S_ATTR_PURE_INSTRUCTIONS | macho::S_ATTR_SOME_INSTRUCTIONS)) != 0;
}

// A name of a section record: up to 16 bytes, NUL-padded.
std::string_view fixed_name(const uint8_t* field) {
  return terminated_name(field, macho::kSectionNameSize);
}

// Adds the `count` section records at `at` in the load commands to the reader's sections.
// False when they cannot be held.
bool add_sections(ObjectReader& reader, const MachObject& object, size_t at, uint64_t count) {
  const std::vector<uint8_t>& commands = macho_tables(reader).load_commands;
  const macho::SectionLayout& layout = *object.section;
  const bool big = object.big_endian;
  try {
    for (uint64_t i = 0; i < count; ++i, at += layout.record_size) {
      const uint8_t* record = commands.data() + at;
      MachOSection section;
      section.size =
          object.is64 ? load_u64(record + layout.size, big) : load_u32(record + layout.size, big);
      section.address = object.is64 ? load_u64(record + macho::kSectionAddress, big)
                                    : load_u32(record + macho::kSectionAddress, big);
      section.offset = load_u32(record + layout.offset, big);
      section.relocations_offset = load_u32(record + layout.reloff, big);
      section.relocations_size =
          uint64_t{load_u32(record + layout.nreloc, big)} * macho::kRelocationEntrySize;
      section.flags = load_u32(record + layout.flags, big);
      // A power beyond what an address can be aligned to is held as the largest.
      section.alignment = uint64_t{1}
                          << std::min<uint32_t>(load_u32(record + layout.align, big), 63);
      section.record_offset = object.base + object.header_size + at;
      if (fixed_name(record + macho::kSectionSegmentName) == macho::kDwarfSegment) {
        section.debug = debug_section_named(fixed_name(record + macho::kSectionName));
      }
      macho_tables(reader).sections.push_back(section);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// Walks the `count` load commands, taking the sections of the segment commands of the
// object's class (numbered from 1 in this order, as n_sect numbers them) and the first
// symbol table command. A command whose size does not fit ends the walk, since the next
// one cannot be found; what came before it is kept. Returns Outcome::kFailed after a
// diagnostic for any damage found.
Outcome walk_load_commands(ObjectReader& reader, const MachObject& object, uint32_t count,
                           SymbolTable& table) {
  const std::vector<uint8_t>& commands = macho_tables(reader).load_commands;
  const bool big = object.big_endian;
  Outcome result = Outcome::kOk;
  size_t at = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (commands.size() - at < macho::kCommandHeaderSize) {
      report_error(reader.diagnostics, strprintf(kLoadCommandOutside, k));
      return Outcome::kFailed;
    }
    const uint8_t* command = commands.data() + at;
    const uint32_t kind = load_u32(command + macho::kCommandCmd, big);
    const uint32_t size = load_u32(command + macho::kCommandSize, big);
    if (size < macho::kCommandHeaderSize) {
      report_error(reader.diagnostics, strprintf(kLoadCommandBadSize, k, size));
      return Outcome::kFailed;
    }
    if (size > commands.size() - at) {
      report_error(reader.diagnostics, strprintf(kLoadCommandOutside, k));
      return Outcome::kFailed;
    }
    if (kind == object.segment_command) {
      if (size < object.segment_size) {
        report_error(reader.diagnostics, strprintf(kLoadCommandBadSize, k, size));
        result = Outcome::kFailed;
      } else {
        const uint32_t sections = load_u32(command + object.segment_number_of_sections, big);
        const uint64_t room = (size - object.segment_size) / object.section->record_size;
        if (sections > room) {
          // The records that fit are still read as sections.
          report_error(reader.diagnostics, strprintf(kSegmentTooSmall, k, sections));
          result = Outcome::kFailed;
        }
        if (!add_sections(reader, object, at + object.segment_size,
                          std::min<uint64_t>(sections, room))) {
          report_out_of_memory(reader.diagnostics, reader.object_path);
          return Outcome::kFailed;
        }
        if (fixed_name(command + macho::kSegmentName) == macho::kTextSegment) {
          table.image_base = object.is64 ? load_u64(command + macho::kSegmentAddress, big)
                                         : load_u32(command + macho::kSegmentAddress, big);
        }
      }
    } else if (kind == macho::LC_DYLD_INFO || kind == macho::LC_DYLD_INFO_ONLY ||
               kind == macho::LC_DYLD_EXPORTS_TRIE) {
      const bool info = kind != macho::LC_DYLD_EXPORTS_TRIE;
      const size_t field = info ? macho::kDyldInfoExportOffset : macho::kLinkeditDataOffset;
      if (size < field + 8) {
        report_error(reader.diagnostics, strprintf(kLoadCommandBadSize, k, size));
        result = Outcome::kFailed;
      } else if (!table.has_trie) {
        table.has_trie = true;
        table.trie_offset = load_u32(command + field, big);
        table.trie_size = load_u32(command + field + 4, big);
      }
    } else if (kind == macho::LC_SYMTAB) {
      if (size < macho::kSymtabCommandSize) {
        report_error(reader.diagnostics, strprintf(kLoadCommandBadSize, k, size));
        result = Outcome::kFailed;
      } else if (!table.present) {
        table.present = true;
        table.symbol_offset = load_u32(command + macho::kSymtabSymbolOffset, big);
        table.count = load_u32(command + macho::kSymtabNumberOfSymbols, big);
        table.string_offset = load_u32(command + macho::kSymtabStringOffset, big);
        table.string_size = load_u32(command + macho::kSymtabStringSize, big);
      }
    }
    at += size;
  }
  return result;
}

// The stretches of the file that a section owns: its data (none for zero-fill sections)
// and its relocation entries.
enum StretchKind { kData = 0, kRelocations = 1 };

struct SectionStretches {
  uint64_t start[2] = {0, 0};
  uint64_t end[2] = {0, 0};
  bool present[2] = {false, false};
};

SectionStretches stretches_of(const MachOSection& section) {
  SectionStretches s;
  s.present[kData] = !is_zero_fill(section.flags) && section.size != 0;
  s.start[kData] = section.offset;
  s.end[kData] = saturating_add(section.offset, section.size);
  s.present[kRelocations] = section.relocations_size != 0;
  s.start[kRelocations] = section.relocations_offset;
  s.end[kRelocations] = saturating_add(section.relocations_offset, section.relocations_size);
  return s;
}

// No section's data or relocations may lie beyond the object, and no two sections'
// stretches may share a byte. Overlaps are reported pair by pair, sections i < j numbered
// from 1, in the order a walk over every pair would find them, up to the number a hostile
// section table is allowed to cost.
void check_section_layout(ObjectReader& reader, const MachObject& object) {
  const std::vector<MachOSection>& sections = macho_tables(reader).sections;
  std::vector<FileStretch> stretches;
  for (size_t i = 0; i < sections.size(); ++i) {
    const SectionStretches s = stretches_of(sections[i]);
    const uint64_t number = i + 1;
    for (const int kind : {kData, kRelocations}) {
      if (!s.present[kind]) continue;
      if (s.start[kind] > object.extent || s.end[kind] > object.extent) {
        report_error_at(reader.diagnostics,
                        strprintf(kind == kData ? message::kSectionDataOutsideObject
                                                : message::kRelocationsOutsideObject,
                                  static_cast<unsigned>(number)),
                        sections[i].record_offset);
      }
      stretches.push_back(FileStretch{s.start[kind], s.end[kind], number});
    }
  }
  for_each_overlapping_pair(stretches, [&](uint64_t i, uint64_t j) {
    const SectionStretches mine = stretches_of(sections[i - 1]);
    const SectionStretches theirs = stretches_of(sections[j - 1]);
    for (const int a : {kData, kRelocations}) {
      for (const int b : {kData, kRelocations}) {
        if (!mine.present[a] || !theirs.present[b] ||
            !stretches_meet(mine.start[a], mine.end[a], theirs.start[b], theirs.end[b])) {
          continue;
        }
        if (!may_list_overlap(reader)) return false;
        report_overlap(reader, message::kOverlapMessages[a][b], static_cast<unsigned>(i),
                       static_cast<unsigned>(j));
      }
    }
    return true;
  });
}

// Reads the symbol table and its string table. Returns false after a diagnostic when the
// symbols cannot be read; without its string table the object is still scanned, and every
// named symbol is then reported as outside it.
bool read_symbol_table(ObjectReader& reader, InputStream& stream, const MachObject& object,
                       const SymbolTable& table) {
  MachOTables& tables = macho_tables(reader);
  const uint64_t bytes = uint64_t{table.count} * object.nlist_size;
  if (!symbol_table_was_read(
          reader, read_stretch(reader, stream, object, table.symbol_offset, bytes, tables.symbols),
          bytes)) {
    return false;
  }
  check_string_table_read(reader,
                          read_stretch(reader, stream, object, table.string_offset,
                                       table.string_size, tables.string_table),
                          tables.string_table);
  return true;
}

// A symbol of the table, decoded.
struct MachSymbol {
  uint32_t name = 0;  // n_strx
  uint8_t type = 0;   // n_type
  uint8_t section = 0;
  uint16_t description = 0;
  uint64_t value = 0;
};

MachSymbol decode_symbol(const uint8_t* record, const MachObject& object) {
  const bool big = object.big_endian;
  MachSymbol symbol;
  symbol.name = load_u32(record + macho::kNlistStringIndex, big);
  symbol.type = record[macho::kNlistType];
  symbol.section = record[macho::kNlistSection];
  symbol.description = load_u16(record + macho::kNlistDescription, big);
  symbol.value = object.is64 ? load_u64(record + macho::kNlistValue, big)
                             : load_u32(record + macho::kNlistValue, big);
  return symbol;
}

bool is_debugging_entry(const MachSymbol& symbol) {
  return (symbol.type & macho::N_STAB) != 0;
}

bool is_external(const MachSymbol& symbol) {
  return (symbol.type & macho::N_EXT) != 0;
}

// A COMMON declaration: an undefined external whose n_value, the block's size, is not 0.
// With n_value 0 it is a plain reference.
bool is_common_declaration(const MachSymbol& symbol) {
  return (symbol.type & macho::N_TYPE) == macho::N_UNDF && is_external(symbol) && symbol.value != 0;
}

bool is_defined_in_section(const MachSymbol& symbol) {
  return (symbol.type & macho::N_TYPE) == macho::N_SECT;
}

// Appends `value`; false when memory ran out.
template <typename T>
bool keep(std::vector<T>& values, const T& value) {
  try {
    values.push_back(value);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// A symbol defined in a section: its section (numbered from 1) and address.
struct PlacedSymbol {
  uint8_t section = 0;
  uint64_t address = 0;
  bool operator<(const PlacedSymbol& other) const {
    return section != other.section ? section < other.section : address < other.address;
  }
};

// Bounds the size of each initialised definition of an object by its layout: Mach-O records
// no size for a defined symbol, but a definition ends at the latest where the next symbol of
// its section begins, or where the section ends. A definition outside its section's
// addresses keeps no bound.
void bound_definitions(const std::vector<MachOSection>& sections, std::vector<PlacedSymbol>& placed,
                       const std::vector<std::pair<size_t, PlacedSymbol>>& definitions,
                       ObjectDeclarations& declarations) {
  std::sort(placed.begin(), placed.end());
  for (const auto& [index, at] : definitions) {
    const MachOSection& section = sections[at.section - 1];
    uint64_t end = saturating_add(section.address, section.size);
    const auto next = std::upper_bound(placed.begin(), placed.end(), at);
    if (next != placed.end() && next->section == at.section) end = std::min(end, next->address);
    if (at.address < section.address || at.address > end) continue;
    Declaration& definition = declarations.items[index];
    definition.has_size = true;
    definition.bounded = true;
    definition.size = end - at.address;
    definition.alignment = placed_alignment(at.address - section.address, section.alignment);
  }
}

// Scans the symbols into the reader's declarations: COMMON declarations, procedures
// (defined in a section of code, external or not) and initialised data (external and
// defined in any other section; Mach-O records no sizes). Debugging entries are passed
// over.
Outcome scan_symbols(ObjectReader& reader, const MachObject& object, const SymbolTable& table,
                     bool library) {
  Outcome failed = Outcome::kOk;
  bool out_of_memory = false;
  const std::vector<uint8_t>& strings = macho_tables(reader).string_table;
  const std::vector<MachOSection>& sections = macho_tables(reader).sections;
  const uint64_t table_at = saturating_add(object.base, table.symbol_offset);
  // The symbols of the object's sections and its data definitions, for the definitions'
  // bounds.
  std::vector<PlacedSymbol> placed;
  std::vector<std::pair<size_t, PlacedSymbol>> definitions;
  for (uint64_t i = 0; i < table.count; ++i) {
    const MachSymbol symbol =
        decode_symbol(macho_tables(reader).symbols.data() + i * object.nlist_size, object);
    if (is_debugging_entry(symbol)) continue;
    const uint64_t record_offset = table_at + i * object.nlist_size;
    std::string_view name;
    bool named = true;
    if (symbol.name != 0 &&
        !name_in_string_table(reader, strings, symbol.name, record_offset, name)) {
      failed = Outcome::kFailed;
      named = false;
    }
    const bool in_range = !is_defined_in_section(symbol) ||
                          (symbol.section != 0 && symbol.section <= sections.size());
    if (named) {
      bool declared = true;
      if (library) {
        // A linked image's data exports: external, not private, defined in a section of
        // data. Mach-O records no size for them.
        if (is_defined_in_section(symbol) && is_external(symbol) &&
            (symbol.type & macho::N_PEXT) == 0 && in_range &&
            !holds_instructions(sections[symbol.section - 1].flags)) {
          // Its address in the image, whose sections the linker placed at their alignment.
          const uint64_t alignment =
              placed_alignment(symbol.value, sections[symbol.section - 1].alignment);
          declared = declare(
              reader, Declaration{Declaration::kInitializedData, true, name, 0, alignment, false});
        }
      } else if (is_common_declaration(symbol)) {
        declared = declare(reader, Declaration{Declaration::kCommon, false, name, symbol.value,
                                               macho::common_alignment(symbol.description)});
      } else if (is_defined_in_section(symbol)) {
        // A symbol whose section is not one of the object's cannot be told a procedure.
        if (in_range && holds_instructions(sections[symbol.section - 1].flags)) {
          declared = declare(reader, Declaration{Declaration::kProcedure, false, name, 0, 0});
        } else if (is_external(symbol)) {
          declared = declare(reader, Declaration{Declaration::kInitializedData, false, name, 0, 0});
          if (declared && in_range) {
            declared = keep(definitions, {reader.declarations.items.size() - 1,
                                          PlacedSymbol{symbol.section, symbol.value}});
          }
        }
        if (declared && in_range) declared = keep(placed, {symbol.section, symbol.value});
      }
      if (!declared) {
        // A declaration that cannot be held fails the object, once said.
        if (!out_of_memory) report_out_of_memory(reader.diagnostics, reader.object_path);
        out_of_memory = true;
        failed = Outcome::kFailed;
      }
    }
    if (!in_range) {
      report_error_at(reader.diagnostics, message::kSectionNumberOutOfRange, record_offset);
      failed = Outcome::kFailed;
    }
  }
  if (!out_of_memory) bound_definitions(sections, placed, definitions, reader.declarations);
  return failed;
}

// The COMMON block layouts of the object's debug information: the sections of its __DWARF
// segment, read whole (false, after a diagnostic, when one cannot be read; a linked file's,
// a companion's, says which). They need no
// relocation: the assembler stores section offsets as
// they stand, and a member's DW_OP_addr against its block's symbol holds the member's
// offset in the field, as the relocation's addend.
bool read_macho_layouts(ObjectReader& reader, InputStream& stream, const MachObject& object,
                        bool linked) {
  DwarfTables& tables = reader.dwarf;
  reset_debug_sections(tables);
  tables.big_endian = object.big_endian;
  tables.symbol_prefix = "_";  // the symbol table's names of the blocks' linkage names
  for (const MachOSection& section : macho_tables(reader).sections) {
    if (section.debug == kDebugSectionCount) continue;
    DebugSectionData& data = tables.sections[section.debug];
    if (data.present || is_zero_fill(section.flags)) continue;  // the first of a name
    const Outcome read =
        read_stretch(reader, stream, object, section.offset, section.size, data.bytes);
    // An object's section past its end has been reported by the layout checks already.
    if (read == Outcome::kFailed && linked) {
      report_unreadable_debug_section(reader, debug_section_name(section.debug),
                                      "its data runs past the end of the file");
    }
    if (!table_was_read(reader, read)) return false;
    data.present = true;
  }
  read_common_layouts(reader);
  return true;
}

// The blocks' addresses from a dSYM's symbol table, which dsymutil copies from the program:
// a block is an external symbol defined in a section (__DATA,__common or __bss, or
// __DATA,__data where a BLOCK DATA initialised it) at its final address. Mach-O records no
// size: a block's size is bounded by the next symbol of its section, or by the section's
// end.
void place_companion_blocks(ObjectReader& reader, const MachObject& object, LinkedBlocks& blocks) {
  const MachOTables& tables = macho_tables(reader);
  const size_t count = tables.symbols.size() / object.nlist_size;
  std::vector<SectionSymbol> placed;
  std::vector<std::pair<LinkedBlock*, SectionSymbol>> found;
  for (size_t i = 0; i < count; ++i) {
    const MachSymbol symbol = decode_symbol(tables.symbols.data() + i * object.nlist_size, object);
    if (is_debugging_entry(symbol) || !is_defined_in_section(symbol) || symbol.section == 0 ||
        symbol.section > tables.sections.size()) {
      continue;
    }
    const SectionSymbol at{symbol.section, symbol.value};
    placed.push_back(at);
    if (!is_external(symbol)) continue;
    const auto wanted = blocks.find(StringTable(tables.string_table).name_at(symbol.name));
    if (wanted != blocks.end()) found.emplace_back(&wanted->second, at);
  }
  std::sort(placed.begin(), placed.end());
  for (const auto& [block, at] : found) {
    const MachOSection& section = tables.sections[at.section - 1];
    block->initialised = !is_zero_fill(section.flags);
    bound_linked_block(*block, placed, at, saturating_add(section.address, section.size));
  }
}

// A .dSYM bundle's companion file (MH_DSYM) under -m: the COMMON block layouts of the
// program's debug information, each a declaration of its own, placed by the symbol table.
// It declares nothing else: its symbols are the program's, not an object's. A companion
// without layouts is said to be none and is no object file.
Outcome read_companion(ObjectReader& reader, InputStream& stream, const MachObject& object,
                       const SymbolTable& table, Outcome result) {
  ObjectDeclarations& declarations = reader.declarations;
  const std::string path(reader.object_path);
  declarations.refused = true;
  // A companion whose symbols or debug sections cannot be read places no layout, and is
  // refused after what was said of it.
  if (table.present && !read_symbol_table(reader, stream, object, table)) {
    report_not_an_object(reader, path.c_str());
    return Outcome::kFailed;
  }
  if (!read_macho_layouts(reader, stream, object, true)) {
    report_not_an_object(reader, path.c_str());
    return Outcome::kFailed;
  }
  if (declarations.layouts.empty()) {
    report_not_an_object(reader, path.c_str(), kCompanionWithoutLayouts);
    return result;
  }
  try {
    LinkedBlocks blocks = blocks_of_layouts(declarations);
    place_companion_blocks(reader, object, blocks);
    place_linked_layouts(reader, blocks);
  } catch (const std::bad_alloc&) {
    report_out_of_memory(reader.diagnostics, reader.object_path);
    declarations.layouts.clear();
    declarations.members.clear();
  }
  declarations.refused = !declarations.program;
  if (declarations.refused) report_not_an_object(reader, path.c_str());
  return result;
}

// The export trie of a linked image without a symbol table: its data exports.
bool read_trie(ObjectReader& reader, InputStream& stream, const MachObject& object,
               const SymbolTable& table) {
  if (!table.has_trie) return true;
  MachOTables& tables = macho_tables(reader);
  tables.export_names.clear();
  if (!table_was_read(reader, read_stretch(reader, stream, object, table.trie_offset,
                                           table.trie_size, tables.export_trie))) {
    return false;
  }
  return read_export_trie(reader, tables.export_trie, tables.sections, table.image_base);
}

}  // namespace

Outcome read_macho_object(ObjectReader& reader, InputStream& stream, std::string_view path,
                          uint64_t base, uint64_t extent) {
  begin_object(reader, path);
  macho_tables(reader).sections.clear();
  macho_tables(reader).symbols.clear();
  macho_tables(reader).string_table.clear();
  MachObject object;
  object.base = base;
  object.extent = extent;

  uint8_t header[macho::kHeaderSize64] = {};
  if (!read_file_header(reader, stream, base, macho::kMagicSize, header)) return Outcome::kFailed;
  if (!decode_magic(header, object)) {
    report_unsupported_header(reader, "Mach-O", path);
    return Outcome::kFailed;
  }
  if (read_checked(reader, stream, object.header_size - macho::kMagicSize,
                   header + macho::kMagicSize, kLabel) == 0) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return Outcome::kFailed;
  }
  const bool big = object.big_endian;
  const uint32_t file_type = load_u32(header + macho::kHeaderFileType, big);
  const bool library = file_type == macho::MH_DYLIB || file_type == macho::MH_BUNDLE;
  const bool companion = file_type == macho::MH_DSYM;
  if (file_type != macho::MH_OBJECT && !library && !(companion && reader.read_layouts)) {
    if (file_type < macho::MH_EXECUTE || file_type > macho::MH_FILESET) {
      report_unsupported_header(reader, "Mach-O", path);
      return Outcome::kFailed;
    }
    const std::string shown(path);
    if (companion) {
      report_not_an_object(reader, shown.c_str(), kCompanionWithoutSwitch);
    } else if (file_type == macho::MH_EXECUTE && reader.read_layouts) {
      // ld64 leaves the debug information in the objects; dsymutil gathers it in the bundle.
      report_error(reader.diagnostics,
                   strprintf(kProgramWithoutDebugInformation, shown.c_str(), shown.c_str()));
    } else {
      report_not_an_object(reader, shown.c_str());
    }
    reader.declarations.refused = true;
    return Outcome::kOk;
  }

  const uint32_t command_count = load_u32(header + macho::kHeaderNumberOfCommands, big);
  const uint32_t commands_size = load_u32(header + macho::kHeaderSizeOfCommands, big);
  switch (read_stretch(reader, stream, object, object.header_size, commands_size,
                       macho_tables(reader).load_commands)) {
    case Outcome::kOk:
      break;
    case Outcome::kNoMemory:
      report_out_of_memory(reader.diagnostics, reader.object_path);
      [[fallthrough]];
    case Outcome::kFailed:
      report_error(reader.diagnostics, message::kSectionHeadersUnreadable);
      return Outcome::kFailed;
  }
  SymbolTable table;
  Outcome result = walk_load_commands(reader, object, command_count, table);
  reader.declarations.library = library;
  // A linked image's sections lie in its segments: their layout is the linker's, and
  // sections of one segment may share their file offsets (zero-fill ones among them).
  if (!library && !companion) check_section_layout(reader, object);
  if (companion) return read_companion(reader, stream, object, table, result);
  if (library && (!table.present || table.count == 0)) {
    return read_trie(reader, stream, object, table) ? result : Outcome::kFailed;
  }
  if (!table.present) return result;
  if (!read_symbol_table(reader, stream, object, table)) return Outcome::kFailed;
  if (scan_symbols(reader, object, table, library) == Outcome::kFailed) result = Outcome::kFailed;
  if (library) return result;
  if (reader.read_layouts) read_macho_layouts(reader, stream, object, false);
  return result;
}

}  // namespace drelk
