// The symbol table scan: COMMON block declarations, defined procedures, and the
// initialised data that marks a block as initialised by the object.
#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "formats/coff.h"
#include "objreader/coff/coff_reader.h"
#include "objreader/messages.h"
#include "objreader/string_table.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

struct Symbol {
  const uint8_t* record;
  uint32_t value;
  int16_t section_number;
  uint16_t type;
  uint8_t storage_class;
  uint8_t aux_count;
};

Symbol decode_symbol(const uint8_t* record) {
  return Symbol{record,
                load_u32(record + coff::kSymbolValue),
                load_i16(record + coff::kSymbolSectionNumber),
                load_u16(record + coff::kSymbolType),
                record[coff::kSymbolStorageClass],
                record[coff::kSymbolNumberOfAuxSymbols]};
}

bool has_short_name(const Symbol& symbol) {
  return load_u32(symbol.record + coff::kSymbolName) != 0;
}

// A function defined somewhere (any section number but undefined), static or external.
bool is_defined_function(const Symbol& symbol) {
  return (symbol.type & coff::kComplexTypeMask) == coff::IMAGE_SYM_DTYPE_FUNCTION &&
         symbol.section_number != coff::IMAGE_SYM_UNDEFINED;
}

// A function that the object calls and another defines: an external symbol of function
// type in no section, with no size (a COMMON declaration is of type 0).
bool is_called_function(const Symbol& symbol) {
  return (symbol.type & coff::kComplexTypeMask) == coff::IMAGE_SYM_DTYPE_FUNCTION &&
         symbol.section_number == coff::IMAGE_SYM_UNDEFINED &&
         symbol.storage_class == coff::IMAGE_SYM_CLASS_EXTERNAL && symbol.value == 0;
}

bool is_external_data(const Symbol& symbol) {
  return symbol.storage_class == coff::IMAGE_SYM_CLASS_EXTERNAL && symbol.type == 0;
}

// An external data symbol in no section: a COMMON block whose Value is its size.
bool is_common_declaration(const Symbol& symbol) {
  return is_external_data(symbol) && symbol.section_number == coff::IMAGE_SYM_UNDEFINED;
}

bool is_initialized_data(const Symbol& symbol) {
  return is_external_data(symbol) && symbol.section_number > 0;
}

// Resolves the symbol's name as a view into the symbol or string table. False when a
// long name's offset lies outside the string table's text.
bool resolve_name(ObjectReader& reader, const Symbol& symbol, uint64_t at_offset,
                  std::string_view& name) {
  const CoffTables& tables = coff_tables(reader);
  if (has_short_name(symbol)) {
    name = terminated_name(symbol.record + coff::kSymbolName, coff::kSymbolNameLength);
    return true;
  }
  const uint32_t offset = load_u32(symbol.record + coff::kSymbolNameOffset);
  // Offsets below 4 point into the size field; they wrap to large values here.
  const uint32_t at = offset - coff::kStringTableSizeField;
  const StringTable strings(tables.string_text);
  if (!strings.holds(at)) {
    report_error_at(reader.diagnostics, strprintf(message::kNameOutsideStringTable, offset),
                    at_offset);
    return false;
  }
  name = strings.name_at(at);
  return true;
}

void drop_initialized_data(ObjectDeclarations& declarations) {
  auto& items = declarations.items;
  items.erase(
      std::remove_if(items.begin(), items.end(),
                     [](const Declaration& d) { return d.kind == Declaration::kInitializedData; }),
      items.end());
}

// Where a symbol defined in a section stands: its section and its offset there.
struct Placed {
  int16_t section = 0;
  uint32_t value = 0;
  bool operator<(const Placed& other) const {
    return section != other.section ? section < other.section : value < other.value;
  }
};

// A section's header, by its number (1 up to NumberOfSections).
const uint8_t* section_header(const CoffTables& tables, int16_t section) {
  return tables.section_table.data() + static_cast<size_t>(section) * coff::kSectionHeaderSize;
}

// Bounds the size of each initialised definition by the object's layout: COFF records no
// size for a defined symbol, but a definition ends at the latest where the next symbol of
// its section begins, or where the section's raw data ends; one alone in a section of its
// own (a COMDAT section) is bounded exactly. A definition whose offset lies past its
// section's data keeps no bound.
void bound_definitions(const CoffTables& tables, std::vector<Placed>& placed,
                       const std::vector<std::pair<size_t, Placed>>& definitions,
                       ObjectDeclarations& declarations) {
  std::sort(placed.begin(), placed.end());
  for (const auto& [index, at] : definitions) {
    if (at.section < 1 || at.section > static_cast<int32_t>(tables.number_of_sections)) continue;
    const uint8_t* header = section_header(tables, at.section);
    uint32_t end = load_u32(header + coff::kSectionSizeOfRawData);
    const auto next = std::upper_bound(placed.begin(), placed.end(), at);
    if (next != placed.end() && next->section == at.section) end = std::min(end, next->value);
    if (at.value > end) continue;
    Declaration& definition = declarations.items[index];
    definition.has_size = true;
    definition.bounded = true;
    definition.size = end - at.value;
    // Its offset within what its section is aligned to.
    const uint64_t alignment =
        coff::section_alignment(load_u32(header + coff::kSectionCharacteristics));
    definition.alignment = alignment == 0 ? 0 : placed_alignment(at.value, alignment);
  }
}

// One -aligncomm: directive: the COMMON symbol it names and the power of two it asks for.
struct AlignmentDirective {
  std::string_view name;
  uint32_t power = 0;
  bool operator<(const AlignmentDirective& other) const { return name < other.name; }
};

// The -aligncomm: directives of the text, at most one a directive's bytes; a directive
// that is not whole ("-aligncomm:name" without its power, a power beyond 63) is passed
// over.
std::vector<AlignmentDirective> alignment_directives(std::string_view text) {
  std::vector<AlignmentDirective> found;
  size_t at = 0;
  while ((at = text.find(coff::kAlignCommonDirective, at)) != std::string_view::npos) {
    at += coff::kAlignCommonDirective.size();
    AlignmentDirective directive;
    if (at < text.size() && text[at] == '"') {
      const size_t close = text.find('"', at + 1);
      if (close == std::string_view::npos) break;
      directive.name = text.substr(at + 1, close - at - 1);
      at = close + 1;
    } else {
      // An unquoted name ends at its comma, or at the blank that ends the directive.
      const size_t end = std::min(text.find_first_of(", \t\r\n", at), text.size());
      directive.name = text.substr(at, end - at);
      at = end;
    }
    if (at >= text.size() || text[at] != ',') continue;
    size_t digits = 0;
    for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 3; ++at) {
      directive.power = directive.power * 10 + static_cast<uint32_t>(text[at] - '0');
      ++digits;
    }
    if (digits == 0 || directive.power > 63 || directive.name.empty()) continue;
    found.push_back(directive);
  }
  return found;
}

}  // namespace

void apply_alignment_directives(ObjectReader& reader, std::string_view text) {
  try {
    std::vector<AlignmentDirective> directives = alignment_directives(text);
    if (directives.empty()) return;
    // Named again, a symbol asks for the most of what it is given: one directive a name.
    std::sort(directives.begin(), directives.end());
    size_t kept = 0;
    for (const AlignmentDirective& directive : directives) {
      if (kept > 0 && directives[kept - 1].name == directive.name) {
        directives[kept - 1].power = std::max(directives[kept - 1].power, directive.power);
      } else {
        directives[kept++] = directive;
      }
    }
    directives.resize(kept);
    for (Declaration& declaration : reader.declarations.items) {
      if (declaration.kind != Declaration::kCommon) continue;
      const auto found = std::lower_bound(directives.begin(), directives.end(),
                                          AlignmentDirective{declaration.name, 0});
      if (found != directives.end() && found->name == declaration.name) {
        declaration.alignment = uint64_t{1} << found->power;
      }
    }
  } catch (const std::bad_alloc&) {
    // The alignments are left unknown: they only add notes.
  }
}

Outcome process_symbol_table(ObjectReader& reader) {
  const CoffTables& tables = coff_tables(reader);
  Outcome failed = Outcome::kOk;
  bool holds_initialized_data = false;
  bool out_of_memory = false;
  // A declaration that cannot be held fails the object, once said.
  const auto lost = [&] {
    if (!out_of_memory) report_out_of_memory(reader.diagnostics, reader.object_path);
    out_of_memory = true;
    failed = Outcome::kFailed;
  };

  const uint32_t count = tables.number_of_symbols;
  // Every symbol defined in a section, and the initialised definitions among them, for the
  // bounds of their sizes.
  std::vector<Placed> placed;
  std::vector<std::pair<size_t, Placed>> definitions;
  for (uint32_t i = 0; i < count; ++i) {
    const Symbol symbol = decode_symbol(tables.symbols.data() + size_t{i} * coff::kSymbolSize);
    const uint64_t record_offset = tables.symbol_table_offset + uint64_t{i} * coff::kSymbolSize;
    if (symbol.section_number > 0) {
      try {
        placed.push_back(Placed{symbol.section_number, symbol.value});
      } catch (const std::bad_alloc&) {
        lost();
      }
    }
    std::string_view name;
    if (resolve_name(reader, symbol, record_offset, name)) {
      if (is_defined_function(symbol)) {
        // Decorated names (_SUB@8) are not procedures a COMMON block could clash with.
        if (name.find('@') == std::string_view::npos &&
            !declare(reader, Declaration{Declaration::kProcedure, false, name, 0, 0})) {
          lost();
        }
      } else if (is_initialized_data(symbol)) {
        if (!declare(reader, Declaration{Declaration::kInitializedData, false, name, 0, 0})) {
          // Without the whole list of what the object initialises, it marks nothing.
          report_error(reader.diagnostics, "Could not allocate DATAINITIALIZED\n");
          if (holds_initialized_data) drop_initialized_data(reader.declarations);
          return Outcome::kFailed;
        }
        holds_initialized_data = true;
        try {
          definitions.emplace_back(reader.declarations.items.size() - 1,
                                   Placed{symbol.section_number, symbol.value});
        } catch (const std::bad_alloc&) {
          lost();
        }
      } else if (is_common_declaration(symbol)) {
        if (!declare(reader, Declaration{Declaration::kCommon, false, name, symbol.value, 0})) {
          lost();
        }
      } else if (is_called_function(symbol)) {
        if (name.find('@') == std::string_view::npos &&
            !declare(reader, Declaration{Declaration::kCalledProcedure, false, name, 0, 0})) {
          lost();
        }
      }
    } else {
      failed = Outcome::kFailed;
    }

    if (symbol.section_number < coff::IMAGE_SYM_DEBUG ||
        symbol.section_number > static_cast<int32_t>(tables.number_of_sections)) {
      report_error_at(reader.diagnostics, message::kSectionNumberOutOfRange, record_offset);
      failed = Outcome::kFailed;
    }

    const uint32_t aux = symbol.aux_count;
    if (uint64_t{i} + aux >= count) {
      report_error_at(reader.diagnostics, message::kAuxCountOverflows, record_offset);
      failed = Outcome::kFailed;
    } else if (aux > 0) {
      // A weak external carries one auxiliary record, whatever its count says.
      i += symbol.storage_class == coff::IMAGE_SYM_CLASS_WEAK_EXTERNAL ? 1 : aux;
    }
  }
  if (!out_of_memory) bound_definitions(tables, placed, definitions, reader.declarations);
  return failed;
}

}  // namespace drelk
