// Test-side builder of archive libraries in the PE/COFF archive format ("!<arch>\n"):
//
//   Archive()
//       .member("area.obj", CoffObject().common("_area_", 400).bytes())
//       .member("sub.obj", CoffObject().section(".text", 4).function("_sub_", 1).bytes())
//       .symbol("_sub_", 1)
//       .bytes()
//
// Layout: signature, the linker members of the style, the long-names member "//" when a
// member name is longer than 15 characters, then the members in the order given. Every
// member header is 60 bytes and every member starts at an even offset (a '\n' pads odd-sized
// data; the size field does not count it). Overrides named after a field change that field
// only and leave the layout as it would be without them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace drelk::test {

inline constexpr char kArchiveSignature[] = "!<arch>\n";
inline constexpr char kThinArchiveSignature[] = "!<thin>\n";
inline constexpr size_t kArchiveSignatureSize = 8;
inline constexpr size_t kMemberHeaderSize = 60;
// The longest member name that fits the header's name field with its '/' terminator.
inline constexpr size_t kMaxShortMemberName = 15;

enum class ArchiveStyle {
  // First linker member "/", second linker member "/", long names NUL-terminated.
  Microsoft,
  // First linker member "/" only, long names each ended by "/\n".
  Gnu,
  // No linker member at all, long names as Gnu (what `ar` writes without a symbol index).
  NoLinkerMembers,
  // BSD ar as LLVM and today's Apple tools write it: a "__.SYMDEF" index member and every
  // name as "#1/<length>", the name (NUL-padded) in the first <length> bytes of the
  // member's data.
  Bsd,
  // GNU ar's thin archive: signature "!<thin>\n", the "/" symbol index and "//" with every
  // member's name; member headers carry the size of the member's file but no data.
  Thin,
};

// Where bytes() puts each part; offsets of member headers from the start of the archive.
struct ArchiveLayout {
  std::optional<size_t> first_linker_offset;
  std::optional<size_t> second_linker_offset;
  std::optional<size_t> long_names_offset;
  std::vector<size_t> member_header_offsets;
  // Offset of each member's name inside the long-names member's data, for long names.
  std::vector<std::optional<size_t>> long_name_offsets;
  size_t size = 0;
};

class Archive {
 public:
  Archive& style(ArchiveStyle value);
  Archive& member(std::string name, std::vector<uint8_t> data);
  // An entry of the linker members: symbol name defined by member member_index (0-based
  // among member() calls). The first linker member lists entries in the order given, the
  // second in lexical order of the names, as the format requires.
  Archive& symbol(std::string name, size_t member_index);

  // Overrides of single fields, for damaged inputs.
  Archive& first_linker_symbol_count(uint32_t value);
  // The first linker member's per-symbol offsets array, replaced (its length included).
  Archive& first_linker_offsets(std::vector<uint32_t> offsets);
  // The second linker member's "number of members" field.
  Archive& member_count(uint32_t value);
  // The second linker member's offsets array, replaced (its length included). Unless
  // member_count() is given too, the count field then says how many offsets are written.
  Archive& member_offsets(std::vector<uint32_t> offsets);
  // The second linker member's "number of symbols" field.
  Archive& second_linker_symbol_count(uint32_t value);
  // The 16-byte name field of member index, exactly; a shorter value is blank-padded.
  Archive& raw_member_name(size_t index, std::string exact16);

  std::vector<uint8_t> bytes() const;
  // The first n bytes of bytes(); n beyond the end throws std::out_of_range.
  std::vector<uint8_t> truncated(size_t n) const;
  ArchiveLayout layout() const;
  size_t member_header_offset(size_t index) const;

 private:
  struct Member {
    std::string name;
    std::vector<uint8_t> data;
  };
  struct LinkerSymbol {
    std::string name;
    size_t member_index;
  };
  struct Plan;

  Plan plan() const;

  ArchiveStyle style_ = ArchiveStyle::Microsoft;
  std::vector<Member> members_;
  std::vector<LinkerSymbol> symbols_;
  std::optional<uint32_t> first_linker_symbol_count_;
  std::optional<std::vector<uint32_t>> first_linker_offsets_;
  std::optional<uint32_t> member_count_;
  std::optional<std::vector<uint32_t>> member_offsets_;
  std::optional<uint32_t> second_linker_symbol_count_;
  std::map<size_t, std::string> raw_member_names_;
};

}  // namespace drelk::test
