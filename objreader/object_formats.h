// The one table that plugs a kind of input in: its name in the documents, the position rule
// its stream follows, and its reader (or, for a universal file, the reader of its slices).
// The driver's recursion over archives and universal files asks this table, and knows no
// format's rules.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "objreader/identify.h"
#include "objreader/reader.h"

namespace drelk {

// The stream positions a format reaches: COFF's signed 32-bit positions (which bind COFF
// objects and archives), or every position a 64-bit offset can name (ELF, Mach-O).
enum class PositionRule : uint8_t { kSigned32, kUnbounded };

// One architecture's slice of a universal file: its name ("x86_64") and where it lies.
struct Slice {
  std::string architecture;
  uint64_t offset = 0;  // in the stream
  uint64_t size = 0;
};

// Reads the object of `kind` at the stream's position, `base` in the stream and `extent`
// bytes long, into the reader's declarations; `path` names it. Outcome::kFailed or Outcome::kOk.
using ReadObject = Outcome (*)(ObjectReader& reader, InputStream& stream, std::string_view path,
                               uint64_t base, uint64_t extent, FileKind kind);
// Reads the slice table of the container at `base`, `extent` bytes long: the slices that lie
// inside it, each other one reported. Outcome::kFailed after a diagnostic.
using ReadSlices = Outcome (*)(ObjectReader& reader, InputStream& stream, std::string_view path,
                               uint64_t base, uint64_t extent, std::vector<Slice>& slices);

struct ObjectFormat {
  FileKind kind;
  std::string_view name;  // as the documents for programs show it; empty for no object
  PositionRule positions;
  ReadObject read;         // the reader of an object of the kind
  ReadSlices read_slices;  // a universal file's, else null
  bool is_archive;         // walked member by member
  bool may_be_slice;       // a universal file's slice may hold it
};

// The row of `kind`.
const ObjectFormat& object_format(FileKind kind);

// The position rule under which an input file is classified, before its kind is known.
void use_classification_positions(InputStream& stream);

// Applies the position rule of `kind` to the stream.
void use_positions_of(InputStream& stream, FileKind kind);

}  // namespace drelk
