// Line table headers of DWARF 2 to 5: the include directories and the file names, which
// DWARF 5 describes as entries of described formats.
#include "dwarf/line_table.h"

#include <string>
#include <utility>
#include <vector>

#include "formats/dwarf.h"

namespace drelk::dwarf {
namespace {

// Positions the cursor at the directories of the unit's line table and bounds it by its
// header. `version` is 0 for a version that is not read (the table then gives no names).
bool read_line_header(Walk& walk, const Unit& unit, Cursor& cursor, uint16_t& version) {
  version = 0;
  if (unit.stmt_list >= cursor.size) {
    return fail(walk, kDebugLine, "line table offset beyond the section");
  }
  cursor.at = static_cast<size_t>(unit.stmt_list);
  const uint64_t length = cursor.fixed(kUnitLengthSize);
  if (cursor.failed || length >= kReservedLengths || length > cursor.size - cursor.at) {
    return fail(walk, kDebugLine, "line table length beyond the section");
  }
  cursor.size = cursor.at + static_cast<size_t>(length);
  const uint16_t read = static_cast<uint16_t>(cursor.fixed(2));
  if (read < kFirstVersion || read > kLastVersion) return true;  // unknown: no names
  if (read >= 5) cursor.skip(2);  // address size, segment selector size
  const uint64_t header_length = cursor.fixed(4);
  if (cursor.failed || header_length > cursor.size - cursor.at) {
    return fail(walk, kDebugLine, "line table header beyond its table");
  }
  cursor.size = cursor.at + static_cast<size_t>(header_length);
  cursor.skip(read >= 4 ? 5 : 4);  // instruction lengths, is_stmt, line base and range
  const uint8_t opcode_base = cursor.u8();
  cursor.skip(opcode_base > 0 ? opcode_base - 1u : 0u);
  if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
  version = read;
  return true;
}

// DWARF 2 to 4: include_directories and file_names, each list ended by an empty name.
bool read_names_before_5(Walk& walk, Cursor& cursor, LineFiles& names) {
  names.one_based = true;
  names.directories.push_back({});  // directory 0: the compilation directory
  while (true) {
    const std::string_view directory = cursor.string();
    if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
    if (directory.empty()) break;
    names.directories.push_back(directory);
  }
  while (true) {
    LineFile file;
    file.name = cursor.string();
    if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
    if (file.name.empty()) break;
    file.directory = cursor.uleb();
    cursor.uleb();  // modification time
    cursor.uleb();  // length
    if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
    names.files.push_back(file);
  }
  return true;
}

// What became of one field of a DWARF 5 entry: read, the rest of the entry to be read
// without checking the cursor; stopped by a failed cursor; or damage.
enum class FieldStep { kNext, kStop, kDamaged };

// A field's number, for the forms that hold a number or a string index.
bool field_number(Cursor& cursor, uint64_t form, uint64_t& number, bool& is_string_index) {
  switch (form) {
    case DW_FORM_udata:
      number = cursor.uleb();
      return true;
    case DW_FORM_strx:
      number = cursor.uleb();
      is_string_index = true;
      return true;
    case DW_FORM_data1:
    case DW_FORM_data2:
    case DW_FORM_data4:
    case DW_FORM_data8:
      number = cursor.fixed(form == DW_FORM_data1   ? 1
                            : form == DW_FORM_data2 ? 2
                            : form == DW_FORM_data4 ? 4
                                                    : 8);
      return true;
    case DW_FORM_strx1:
    case DW_FORM_strx2:
    case DW_FORM_strx3:
    case DW_FORM_strx4:
      number = cursor.fixed(form - DW_FORM_strx1 + 1);
      is_string_index = true;
      return true;
    case DW_FORM_data16:
      cursor.skip(16);
      return true;
    case DW_FORM_block:
      cursor.skip(cursor.uleb());
      return true;
    default:
      return false;
  }
}

// Reads one field of `content` in `form` of a directory or file entry.
FieldStep read_entry_field(Walk& walk, Cursor& cursor, uint64_t content, uint64_t form,
                           LineFile& entry) {
  if (form == DW_FORM_string) {
    const std::string_view text = cursor.string();
    if (content == DW_LNCT_path) entry.name = text;
    return FieldStep::kNext;
  }
  if (form == DW_FORM_line_strp || form == DW_FORM_strp) {
    const uint64_t offset = relocated(walk, kDebugLine, cursor, 4);
    if (content == DW_LNCT_path && !cursor.failed &&
        !string_at(walk, form == DW_FORM_strp ? kDebugStr : kDebugLineStr, offset, entry.name)) {
      fail(walk, kDebugLine, "file name offset beyond its section");
      return FieldStep::kDamaged;
    }
    return FieldStep::kNext;
  }
  uint64_t number = 0;
  bool is_string_index = false;
  if (!field_number(cursor, form, number, is_string_index)) {
    fail(walk, kDebugLine, "unknown form in the line table header");
    return FieldStep::kDamaged;
  }
  if (cursor.failed) return FieldStep::kStop;
  if (content == DW_LNCT_directory_index) entry.directory = number;
  if (content == DW_LNCT_path && is_string_index) {
    Value value;
    value.present = true;
    value.form = form;
    value.number = number;
    if (!string_value(walk, value, entry.name)) return FieldStep::kDamaged;
  }
  return FieldStep::kNext;
}

// DWARF 5: the directories (or, with `files`, the file names) as entries of the formats
// that the header describes first.
bool read_entries(Walk& walk, Cursor& cursor, LineFiles& names, bool files) {
  const uint8_t format_count = cursor.u8();
  std::vector<std::pair<uint64_t, uint64_t>> formats;
  for (uint8_t i = 0; i < format_count && !cursor.failed; ++i) {
    const uint64_t content = cursor.uleb();
    const uint64_t form = cursor.uleb();
    formats.emplace_back(content, form);
  }
  const uint64_t count = cursor.uleb();
  if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
  // Every entry takes a byte at least: a count beyond the bytes left is damage.
  if (count > 0 && (formats.empty() || count > cursor.size - cursor.at)) {
    return fail(walk, kDebugLine, "line table entry count beyond its header");
  }
  for (uint64_t i = 0; i < count; ++i) {
    LineFile entry;
    for (const auto& [content, form] : formats) {
      const FieldStep step = read_entry_field(walk, cursor, content, form, entry);
      if (step == FieldStep::kDamaged) return false;
      if (step == FieldStep::kStop) break;
    }
    if (cursor.failed) return fail(walk, kDebugLine, "line table header runs past its end");
    if (files) {
      names.files.push_back(entry);
    } else {
      names.directories.push_back(entry.name);
    }
  }
  return true;
}

bool read_names(Walk& walk, const Unit& unit, LineFiles& names) {
  Cursor cursor = cursor_over(walk, kDebugLine);
  uint16_t version = 0;
  if (!read_line_header(walk, unit, cursor, version)) return false;
  if (version == 0) return true;
  if (version < 5) return read_names_before_5(walk, cursor, names);
  return read_entries(walk, cursor, names, false) && read_entries(walk, cursor, names, true);
}

// Reads the line table header of the unit for its directories and file names, once for
// all the units that name the table. Tables that damaged units place at ever other offsets
// may hold more names than the section could, each read anew: then those kept are let go.
bool read_line_files(Walk& walk, Unit& unit) {
  unit.files_read = true;
  if (!unit.has_line_table) return true;
  const std::pair<uint64_t, uint64_t> key{unit.stmt_list, unit.str_offsets_base};
  if (const auto found = walk.line_files.find(key); found != walk.line_files.end()) {
    unit.lines = &found->second;
    return true;
  }
  if (walk.line_records > 2 * walk.input.sections[kDebugLine].size() + 1024) {
    walk.line_files.clear();
    walk.line_records = 0;
  }
  LineFiles& names = walk.line_files[key];
  unit.lines = &names;
  const bool read = read_names(walk, unit, names);
  walk.line_records += names.directories.size() + names.files.size();
  return read;
}

bool is_absolute(std::string_view name) {
  return !name.empty() &&
         (name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':'));
}

}  // namespace

bool source_file(Walk& walk, const Value& decl_file, std::string_view& path) {
  path = {};
  uint64_t index = 0;
  if (!constant(decl_file, index)) return true;
  Unit& unit = walk.unit;
  if (!unit.files_read && !read_line_files(walk, unit)) return false;
  if (unit.lines == nullptr) return true;
  LineFiles& names = *unit.lines;
  if (names.one_based) {
    if (index == 0) return true;
    --index;
  }
  if (index >= names.files.size()) return true;
  LineFile& file = names.files[index];
  if (!file.composed) {
    if (!is_absolute(file.name) && file.directory != 0 &&
        file.directory < names.directories.size() && !names.directories[file.directory].empty()) {
      std::string text(names.directories[file.directory]);
      if (text.back() != '/' && text.back() != '\\') text.push_back('/');
      text.append(file.name);
      file.path = keep(walk, std::move(text));
    } else {
      file.path = file.name;
    }
    file.composed = true;
  }
  path = file.path;
  return true;
}

}  // namespace drelk::dwarf
