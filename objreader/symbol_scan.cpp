// The symbol table scan: COMMON block declarations, defined procedures, and the
// initialised data that marks a block as initialised by the object.
#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>

#include "objreader/coff.h"
#include "objreader/objreader.h"
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
                coff::load_u32(record + coff::kSymbolValue),
                coff::load_i16(record + coff::kSymbolSectionNumber),
                coff::load_u16(record + coff::kSymbolType),
                record[coff::kSymbolStorageClass],
                record[coff::kSymbolNumberOfAuxSymbols]};
}

bool has_short_name(const Symbol& symbol) {
  return coff::load_u32(symbol.record + coff::kSymbolName) != 0;
}

// A function defined somewhere (any section number but undefined), static or external.
bool is_defined_function(const Symbol& symbol) {
  return (symbol.type & coff::kComplexTypeMask) == coff::IMAGE_SYM_DTYPE_FUNCTION &&
         symbol.section_number != coff::IMAGE_SYM_UNDEFINED;
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
bool resolve_name(Analysis& analysis, const Symbol& symbol, std::string_view& name) {
  const ObjectTables& tables = analysis.tables;
  if (has_short_name(symbol)) {
    const char* text = reinterpret_cast<const char*>(symbol.record + coff::kSymbolName);
    const void* nul = std::memchr(text, 0, coff::kSymbolNameLength);
    name = std::string_view(text,
                            nul ? static_cast<const char*>(nul) - text : coff::kSymbolNameLength);
    return true;
  }
  const uint32_t offset = coff::load_u32(symbol.record + coff::kSymbolNameOffset);
  // Offsets below 4 point into the size field; they wrap to large values here.
  const uint32_t at = offset - coff::kStringTableSizeField;
  if (at >= tables.string_text.size()) {
    report_error(analysis.diagnostics,
                 strprintf("DRELK Internal: name offset %8x is outside string table", offset));
    return false;
  }
  const char* text = reinterpret_cast<const char*>(tables.string_text.data()) + at;
  const size_t room = tables.string_text.size() - at;
  const void* nul = std::memchr(text, 0, room);
  name = std::string_view(text, nul ? static_cast<const char*>(nul) - text : room);
  return true;
}

}  // namespace

int process_symbol_table(Analysis& analysis) {
  const ObjectTables& tables = analysis.tables;
  const ObjectEntry& object = *analysis.current_object;
  int failed = kAnalysisOk;
  // Names of initialised external data, viewed in the tables; marked after the scan.
  std::vector<std::string_view> data_init_names;

  const uint32_t count = tables.number_of_symbols;
  for (uint32_t i = 0; i < count; ++i) {
    const Symbol symbol = decode_symbol(tables.symbols.data() + size_t{i} * coff::kSymbolSize);
    std::string_view name;
    if (resolve_name(analysis, symbol, name)) {
      if (is_defined_function(symbol)) {
        // Decorated names (_SUB@8) are not procedures a COMMON block could clash with.
        if (name.find('@') == std::string_view::npos &&
            add_procedure(analysis.registry, object, name) != 0) {
          failed = kAnalysisFailed;
        }
      } else if (is_initialized_data(symbol)) {
        try {
          data_init_names.push_back(name);
        } catch (const std::bad_alloc&) {
          report_error(analysis.diagnostics, "Could not allocate DATAINITIALIZED\n");
          return kAnalysisFailed;
        }
      } else if (is_common_declaration(symbol)) {
        if (add_common_reference(analysis.registry, object, name, symbol.value) ==
            kRegistryOutOfMemory) {
          failed = kAnalysisFailed;
        }
      }
    } else {
      failed = kAnalysisFailed;
    }

    if (symbol.section_number < coff::IMAGE_SYM_DEBUG ||
        symbol.section_number > static_cast<int32_t>(tables.number_of_sections)) {
      report_error(analysis.diagnostics, "Error: Section number is out of range\n");
      failed = kAnalysisFailed;
    }

    const uint32_t aux = symbol.aux_count;
    if (uint64_t{i} + aux >= count) {
      report_error(analysis.diagnostics, "Error:  Aux symbol count overflows symbol table\n");
      failed = kAnalysisFailed;
    } else if (aux > 0) {
      // A weak external carries one auxiliary record, whatever its count says.
      i += symbol.storage_class == coff::IMAGE_SYM_CLASS_WEAK_EXTERNAL ? 1 : aux;
    }
  }

  // A block counts as initialised by this object when the object also defines external
  // data of the block's name; the mark goes to the first reference with this object's
  // path. Each name is marked once, however often the object defines it.
  std::sort(data_init_names.begin(), data_init_names.end());
  data_init_names.erase(std::unique(data_init_names.begin(), data_init_names.end()),
                        data_init_names.end());
  for (const std::string_view name : data_init_names) {
    if (CommonBlock* block = find_block(analysis.registry, name)) {
      mark_initialized(*block, object.path);
    }
  }
  return failed;
}

}  // namespace drelk
