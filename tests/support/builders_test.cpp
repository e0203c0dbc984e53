// The fixture builders are checked against the record layouts of the PE/COFF format
// documentation, decoded here by hand: every other test trusts these bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"

namespace drelk::test {
namespace {

using Bytes = std::vector<uint8_t>;

uint16_t u16_at(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

uint32_t u32_at(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b.at(at)) | static_cast<uint32_t>(b.at(at + 1)) << 8 |
         static_cast<uint32_t>(b.at(at + 2)) << 16 | static_cast<uint32_t>(b.at(at + 3)) << 24;
}

uint32_t be32_at(const Bytes& b, size_t at) {
  return static_cast<uint32_t>(b.at(at)) << 24 | static_cast<uint32_t>(b.at(at + 1)) << 16 |
         static_cast<uint32_t>(b.at(at + 2)) << 8 | static_cast<uint32_t>(b.at(at + 3));
}

std::string text_at(const Bytes& b, size_t at, size_t length) {
  return std::string(b.begin() + static_cast<std::ptrdiff_t>(at),
                     b.begin() + static_cast<std::ptrdiff_t>(at + length));
}

std::string c_string_at(const Bytes& b, size_t at) {
  std::string s;
  while (b.at(at) != 0) s += static_cast<char>(b[at++]);
  return s;
}

// Whether two equally long images differ, and only inside [at, at + size).
::testing::AssertionResult differ_only_within(const Bytes& a, const Bytes& b, size_t at,
                                              size_t size) {
  if (a.size() != b.size())
    return ::testing::AssertionFailure() << "sizes " << a.size() << " and " << b.size();
  bool any = false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == b[i]) continue;
    if (i < at || i >= at + size) return ::testing::AssertionFailure() << "differ at " << i;
    any = true;
  }
  if (!any) return ::testing::AssertionFailure() << "no difference";
  return ::testing::AssertionSuccess();
}

// ---- COFF objects ----

TEST(CoffObjectBuilder, FileHeaderFieldsSitAtTheirOffsets) {
  Bytes b = CoffObject()
                .machine(0x8664)
                .time_stamp(0x11223344)
                .characteristics(0x0104)
                .optional_header(28)
                .section(".data", 16)
                .section(".text", 8)
                .common("_area_", 400)
                .function("_sub_", 2)
                .bytes();
  EXPECT_EQ(u16_at(b, 0), 0x8664);       // Machine
  EXPECT_EQ(u16_at(b, 2), 2);            // NumberOfSections
  EXPECT_EQ(u32_at(b, 4), 0x11223344u);  // TimeDateStamp
  // Headers (20 + 28 + 2 * 40), then 16 + 8 bytes of raw data.
  EXPECT_EQ(u32_at(b, 8), 20u + 28 + 80 + 24);  // PointerToSymbolTable
  EXPECT_EQ(u32_at(b, 12), 2u);                 // NumberOfSymbols
  EXPECT_EQ(u16_at(b, 16), 28);                 // SizeOfOptionalHeader
  EXPECT_EQ(u16_at(b, 18), 0x0104);             // Characteristics
}

TEST(CoffObjectBuilder, DefaultsAreAnI386ObjectWithoutOptionalHeader) {
  Bytes b = CoffObject().common("_x_", 4).bytes();
  EXPECT_EQ(u16_at(b, 0), 0x14C);
  EXPECT_EQ(u32_at(b, 4), 0u);
  EXPECT_EQ(u16_at(b, 16), 0);
  EXPECT_EQ(u16_at(b, 18), 0);
  EXPECT_EQ(u32_at(b, 8), 20u);  // symbol table right after the file header
  ASSERT_EQ(b.size(), 20u + 18 + 4);
  EXPECT_EQ(u32_at(b, 20 + 18), 4u);  // an empty string table, as compilers write one
}

TEST(CoffObjectBuilder, OptionalHeaderCarriesSubsystemAtOffset68) {
  Bytes b = CoffObject().optional_header(224, 0x0307).bytes();
  ASSERT_EQ(b.size(), 20u + 224);
  EXPECT_EQ(u16_at(b, 20 + 68), 0x0307);
  Bytes rest(b.begin() + 20, b.end());
  rest[68] = rest[69] = 0;
  EXPECT_EQ(rest, Bytes(224, 0)) << "the rest of the optional header is zero";
}

TEST(CoffObjectBuilder, SectionStretchesFollowTheHeadersOneSectionAfterAnother) {
  CoffObject o = CoffObject()
                     .section(".text", 32, 2, 3, pe::kCodeSectionCharacteristics)
                     .section(".bss", 0)
                     .section(".data", 5, 1)
                     .data("_d_", 3);
  Bytes b = o.bytes();
  const size_t first = 20, second = 60, third = 100, data = 140;
  EXPECT_EQ(text_at(b, first, 8), std::string(".text\0\0\0", 8));
  EXPECT_EQ(u32_at(b, first + 16), 32u);             // SizeOfRawData
  EXPECT_EQ(u32_at(b, first + 20), data);            // PointerToRawData
  EXPECT_EQ(u32_at(b, first + 24), data + 32);       // PointerToRelocations
  EXPECT_EQ(u32_at(b, first + 28), data + 32 + 20);  // PointerToLinenumbers
  EXPECT_EQ(u16_at(b, first + 32), 2);               // NumberOfRelocations
  EXPECT_EQ(u16_at(b, first + 34), 3);               // NumberOfLinenumbers
  EXPECT_EQ(u32_at(b, first + 36), 0x60000020u);     // Characteristics
  // Empty stretches have pointer 0.
  EXPECT_EQ(u32_at(b, second + 20), 0u);
  EXPECT_EQ(u32_at(b, second + 24), 0u);
  EXPECT_EQ(u32_at(b, second + 28), 0u);
  const size_t third_data = data + 32 + 20 + 18;
  EXPECT_EQ(u32_at(b, third + 20), third_data);
  EXPECT_EQ(u32_at(b, third + 24), third_data + 5);
  EXPECT_EQ(u32_at(b, third + 28), 0u);
  EXPECT_EQ(u32_at(b, third + 36), 0xC0000040u);
  EXPECT_EQ(u32_at(b, 8), third_data + 5 + 10);
  EXPECT_EQ(o.symbol_table_offset(), third_data + 5 + 10);
}

TEST(CoffObjectBuilder, ExplicitSectionHeaderIsWrittenAsGivenWithNothingLaidOut) {
  SectionHeader h;
  h.name = "/12";
  h.virtual_size = 0x11;
  h.virtual_address = 0x22;
  h.size_of_raw_data = 0x33;
  h.pointer_to_raw_data = 0x44;
  h.pointer_to_relocations = 0x55;
  h.pointer_to_linenumbers = 0x66;
  h.number_of_relocations = 0x77;
  h.number_of_linenumbers = 0x88;
  h.characteristics = 0x99;
  Bytes b = CoffObject().section_header(h).common("_x_", 1).bytes();
  EXPECT_EQ(text_at(b, 20, 8), std::string("/12\0\0\0\0\0", 8));
  const uint32_t expected[] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(u32_at(b, 20 + 8 + 4 * i), expected[i]);
  EXPECT_EQ(u16_at(b, 20 + 32), 0x77);
  EXPECT_EQ(u16_at(b, 20 + 34), 0x88);
  EXPECT_EQ(u32_at(b, 20 + 36), 0x99u);
  EXPECT_EQ(u32_at(b, 8), 60u);  // the symbol table follows the header directly
}

TEST(CoffObjectBuilder, SymbolRecordFieldsAndAuxRecords) {
  AuxRecord file_name{'s', 'u', 'b', '.', 'f'};
  Bytes b = CoffObject()
                .symbol(".file", 0, pe::IMAGE_SYM_DEBUG, 0, pe::IMAGE_SYM_CLASS_FILE)
                .aux(file_name)
                .symbol("_w_", 0x01020304, 1, 0x20, pe::IMAGE_SYM_CLASS_WEAK_EXTERNAL, 2)
                .common("_area_", 400)
                .bytes();
  const size_t table = u32_at(b, 8);
  EXPECT_EQ(u32_at(b, 12), 6u);  // NumberOfSymbols counts the aux records
  EXPECT_EQ(text_at(b, table, 8), std::string(".file\0\0\0", 8));
  EXPECT_EQ(u16_at(b, table + 12), 0xFFFE);  // SectionNumber -2
  EXPECT_EQ(b[table + 16], 103);             // StorageClass
  EXPECT_EQ(b[table + 17], 1);               // NumberOfAuxSymbols
  EXPECT_EQ(text_at(b, table + 18, 6), std::string("sub.f\0", 6));

  const size_t weak = table + 36;
  EXPECT_EQ(u32_at(b, weak + 8), 0x01020304u);  // Value
  EXPECT_EQ(u16_at(b, weak + 12), 1);           // SectionNumber
  EXPECT_EQ(u16_at(b, weak + 14), 0x20);        // Type
  EXPECT_EQ(b[weak + 16], 105);
  EXPECT_EQ(b[weak + 17], 2);
  for (size_t i = weak + 18; i < weak + 54; ++i) EXPECT_EQ(b[i], 0) << "aux byte at " << i;

  const size_t common = weak + 54;
  EXPECT_EQ(text_at(b, common, 8), std::string("_area_\0\0", 8));
  EXPECT_EQ(u32_at(b, common + 8), 400u);
  EXPECT_EQ(u16_at(b, common + 12), 0);
  EXPECT_EQ(u16_at(b, common + 14), 0);
  EXPECT_EQ(b[common + 16], 2);
  EXPECT_EQ(u32_at(b, common + 18), 4u);  // string table follows the last record
}

TEST(CoffObjectBuilder, NameOfEightBytesFillsTheFieldWithoutNul) {
  Bytes b = CoffObject().common("_exact8_", 12).bytes();
  EXPECT_EQ(text_at(b, 20, 8), "_exact8_");
  EXPECT_EQ(u32_at(b, 20 + 8), 12u);
  EXPECT_EQ(u32_at(b, 20 + 18), 4u);  // nothing went to the string table
}

TEST(CoffObjectBuilder, LongNamesAreStringTableOffsetsCountingTheSizeField) {
  CoffObject o = CoffObject()
                     .section(".debug$S_long", 4)
                     .common("_a_long_common_block_", 800)
                     .common("_short_", 8)
                     .function("_a_long_procedure_", 1);
  Bytes b = o.bytes();
  const CoffLayout l = o.layout();
  const size_t table = u32_at(b, 8);
  const size_t strings = table + 3 * 18;
  // Section names come first, then symbol names, each NUL-terminated.
  EXPECT_EQ(text_at(b, 20, 8), std::string("/4\0\0\0\0\0\0", 8));
  EXPECT_EQ(c_string_at(b, strings + 4), ".debug$S_long");
  const uint32_t common_name = 4 + 14;
  EXPECT_EQ(u32_at(b, table), 0u);
  EXPECT_EQ(u32_at(b, table + 4), common_name);
  EXPECT_EQ(c_string_at(b, strings + common_name), "_a_long_common_block_");
  const uint32_t procedure_name = common_name + 22;
  EXPECT_EQ(u32_at(b, table + 36 + 4), procedure_name);
  EXPECT_EQ(c_string_at(b, strings + procedure_name), "_a_long_procedure_");
  EXPECT_EQ(u32_at(b, strings), procedure_name + 19);  // size field = 4 + text length
  EXPECT_EQ(b.size(), strings + procedure_name + 19);
  EXPECT_EQ(l.symbol_name_offsets[0], common_name);
  EXPECT_EQ(l.symbol_name_offsets[1], std::nullopt);
  EXPECT_EQ(l.string_table_offset, strings);
}

TEST(CoffObjectBuilder, NameOffsetForcesTheLongFormAndStoresNoText) {
  Bytes b = CoffObject().common("_x_", 4).name_offset(0x30).string_text("abc").bytes();
  EXPECT_EQ(u32_at(b, 20), 0u);
  EXPECT_EQ(u32_at(b, 24), 0x30u);
  EXPECT_EQ(u32_at(b, 38), 4u + 3);
  EXPECT_EQ(text_at(b, 42, 3), "abc");
  EXPECT_EQ(b.size(), 45u);
}

TEST(CoffObjectBuilder, StringTablePresence) {
  // No symbols and no names: no symbol table, no string table.
  Bytes none = CoffObject().section(".data", 4).bytes();
  EXPECT_EQ(u32_at(none, 8), 0u);
  EXPECT_EQ(none.size(), 20u + 40 + 4);

  Bytes cut = CoffObject().common("_a_long_common_block_", 4).no_string_table().bytes();
  EXPECT_EQ(cut.size(), 20u + 18);  // ends right after the symbol table
  EXPECT_EQ(u32_at(cut, 24), 4u);   // the name still has its offset

  Bytes sized = CoffObject().common("_x_", 4).string_table_size(3).bytes();
  EXPECT_EQ(u32_at(sized, 38), 3u);
  EXPECT_EQ(sized.size(), 20u + 18 + 4);
}

TEST(CoffObjectBuilder, FieldOverridesChangeOnlyTheirField) {
  auto base = [] {
    return CoffObject().optional_header(28).section(".data", 16).common("_area_", 400);
  };
  const Bytes sound = base().bytes();
  struct Case {
    const char* what;
    Bytes damaged;
    size_t field_at;
    size_t field_size;
  };
  const Case cases[] = {
      {"section_count", base().section_count(9).bytes(), 2, 2},
      {"symbol_table_pointer", base().symbol_table_pointer(0xFFFFFFF0).bytes(), 8, 4},
      {"symbol_count", base().symbol_count(0x100).bytes(), 12, 4},
      {"optional_header_size_field", base().optional_header_size_field(96).bytes(), 16, 2},
      {"string_table_size", base().string_table_size(0).bytes(), sound.size() - 4, 4},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(differ_only_within(sound, c.damaged, c.field_at, c.field_size)) << c.what;
}

TEST(CoffObjectBuilder, TruncatedIsAPrefix) {
  CoffObject o = CoffObject().section(".data", 16).common("_area_", 400);
  const Bytes whole = o.bytes();
  EXPECT_EQ(o.truncated(30), Bytes(whole.begin(), whole.begin() + 30));
  EXPECT_EQ(o.truncated(whole.size()), whole);
  EXPECT_THROW(o.truncated(whole.size() + 1), std::out_of_range);
}

// ---- Archives ----

struct MemberHeader {
  std::string name;  // the 16-byte field
  size_t size;
  std::string end;
};

MemberHeader header_at(const Bytes& b, size_t at) {
  return {text_at(b, at, 16), std::stoul(text_at(b, at + 48, 10)), text_at(b, at + 58, 2)};
}

Bytes sub_object() {
  return CoffObject().section(".text", 4).function("_sub_", 1).bytes();
}

TEST(ArchiveBuilder, MicrosoftLinkerMembersPointAtTheMemberHeaders) {
  const Bytes a = CoffObject().common("_area_", 400).bytes();
  const Bytes s = sub_object();
  Archive ar =
      Archive().member("area.obj", a).member("sub.obj", s).symbol("_zeta_", 0).symbol("_sub_", 1);
  const Bytes b = ar.bytes();
  ASSERT_EQ(text_at(b, 0, 8), "!<arch>\n");

  // First linker member: big-endian count and offsets, names in the order given.
  MemberHeader first = header_at(b, 8);
  EXPECT_EQ(first.name, "/               ");
  EXPECT_EQ(first.end, "`\n");
  EXPECT_EQ(be32_at(b, 68), 2u);
  EXPECT_EQ(be32_at(b, 72), ar.member_header_offset(0));
  EXPECT_EQ(be32_at(b, 76), ar.member_header_offset(1));
  EXPECT_EQ(c_string_at(b, 80), "_zeta_");
  EXPECT_EQ(c_string_at(b, 87), "_sub_");
  EXPECT_EQ(first.size, 4u + 8 + 13);

  // Second linker member after the pad byte: little-endian, names sorted, 1-based indices.
  const size_t second_at = 68 + first.size + 1;
  EXPECT_EQ(b[68 + first.size], '\n');
  MemberHeader second = header_at(b, second_at);
  EXPECT_EQ(second.name, "/               ");
  const size_t d = second_at + 60;
  ASSERT_EQ(u32_at(b, d), 2u);
  const char* names[] = {"area.obj/       ", "sub.obj/        "};
  for (size_t i = 0; i < 2; ++i) {
    const uint32_t offset = u32_at(b, d + 4 + 4 * i);
    EXPECT_EQ(offset, ar.member_header_offset(i));
    EXPECT_EQ(header_at(b, offset).name, names[i]);
    EXPECT_EQ(header_at(b, offset).end, "`\n");
  }
  EXPECT_EQ(u32_at(b, d + 12), 2u);
  EXPECT_EQ(u16_at(b, d + 16), 2);  // "_sub_" sorts first and is in member 2
  EXPECT_EQ(u16_at(b, d + 18), 1);
  EXPECT_EQ(c_string_at(b, d + 20), "_sub_");
  EXPECT_EQ(c_string_at(b, d + 26), "_zeta_");

  // The member data follows its header unchanged.
  const size_t area = ar.member_header_offset(0);
  EXPECT_EQ(header_at(b, area).size, a.size());
  EXPECT_EQ(Bytes(b.begin() + static_cast<std::ptrdiff_t>(area + 60),
                  b.begin() + static_cast<std::ptrdiff_t>(area + 60 + a.size())),
            a);
}

TEST(ArchiveBuilder, EveryMemberStartsEvenAndOddDataIsPaddedWithNewline) {
  Archive ar = Archive().member("odd.obj", Bytes(7, 0xAA)).member("next.obj", Bytes(2, 0xBB));
  const Bytes b = ar.bytes();
  const ArchiveLayout l = ar.layout();
  ASSERT_TRUE(l.first_linker_offset && l.second_linker_offset);
  for (size_t at : {*l.first_linker_offset, *l.second_linker_offset, l.member_header_offsets[0],
                    l.member_header_offsets[1]})
    EXPECT_EQ(at % 2, 0u) << "header at " << at;
  const size_t odd = l.member_header_offsets[0];
  EXPECT_EQ(header_at(b, odd).size, 7u);
  EXPECT_EQ(b[odd + 60 + 7], '\n');
  EXPECT_EQ(l.member_header_offsets[1], odd + 60 + 8);
  EXPECT_EQ(b.size(), l.member_header_offsets[1] + 62);
}

TEST(ArchiveBuilder, LongMemberNamesLiveInTheLongNamesMember) {
  const std::string fifteen = "exactly15chars.";
  const std::string sixteen = "sixteen_chars.ob";
  for (ArchiveStyle style : {ArchiveStyle::Microsoft, ArchiveStyle::Gnu}) {
    const bool microsoft = style == ArchiveStyle::Microsoft;
    SCOPED_TRACE(microsoft ? "Microsoft" : "Gnu");
    Archive ar = Archive()
                     .style(style)
                     .member(sixteen, Bytes{1})
                     .member(fifteen, Bytes{2})
                     .member("a_third_long_name.obj", Bytes{3});
    const Bytes b = ar.bytes();
    const ArchiveLayout l = ar.layout();
    EXPECT_EQ(l.second_linker_offset.has_value(), microsoft);
    ASSERT_TRUE(l.long_names_offset);
    EXPECT_EQ(header_at(b, *l.long_names_offset).name, "//              ");
    const std::string end = microsoft ? std::string(1, '\0') : "/\n";
    const std::string text = sixteen + end + "a_third_long_name.obj" + end;
    EXPECT_EQ(header_at(b, *l.long_names_offset).size, text.size());
    EXPECT_EQ(text_at(b, *l.long_names_offset + 60, text.size()), text);
    EXPECT_EQ(header_at(b, l.member_header_offsets[0]).name, "/0              ");
    EXPECT_EQ(header_at(b, l.member_header_offsets[1]).name, fifteen + "/");
    EXPECT_EQ(header_at(b, l.member_header_offsets[2]).name,
              "/" + std::to_string(sixteen.size() + end.size()) + "             ");
  }
}

TEST(ArchiveBuilder, GnuAndPlainStylesLeaveOutLinkerMembers) {
  const Bytes obj = sub_object();
  Archive gnu = Archive().style(ArchiveStyle::Gnu).member("sub.obj", obj).symbol("_sub_", 0);
  const Bytes g = gnu.bytes();
  EXPECT_EQ(header_at(g, 8).name, "/               ");
  EXPECT_EQ(be32_at(g, 68), 1u);
  EXPECT_EQ(be32_at(g, 72), gnu.member_header_offset(0));
  EXPECT_EQ(gnu.member_header_offset(0), 68u + 14);  // 4 + 4 + "_sub_\0"

  Archive plain = Archive().style(ArchiveStyle::NoLinkerMembers).member("sub.obj", obj);
  EXPECT_EQ(plain.member_header_offset(0), 8u);
  EXPECT_EQ(header_at(plain.bytes(), 8).name, "sub.obj/        ");
}

TEST(ArchiveBuilder, FieldOverrides) {
  auto base = [] {
    return Archive().member("a.obj", Bytes(4, 1)).member("b.obj", Bytes(4, 2)).symbol("_a_", 0);
  };
  const Bytes sound = base().bytes();
  const size_t second_data = base().layout().second_linker_offset.value() + 60;

  EXPECT_TRUE(
      differ_only_within(sound, base().first_linker_symbol_count(0x01000000).bytes(), 68, 4));
  EXPECT_TRUE(differ_only_within(sound, base().member_count(7).bytes(), second_data, 4));
  EXPECT_TRUE(
      differ_only_within(sound, base().second_linker_symbol_count(9).bytes(), second_data + 12, 4));

  // Fewer offsets: the count field follows the array, and everything after moves up.
  Archive one = base().member_offsets({0x1234});
  const Bytes o = one.bytes();
  EXPECT_EQ(u32_at(o, second_data), 1u);
  EXPECT_EQ(u32_at(o, second_data + 4), 0x1234u);
  EXPECT_EQ(u32_at(o, second_data + 8), 1u);  // symbol count
  EXPECT_EQ(header_at(o, one.member_header_offset(0)).name, "a.obj/          ");

  Archive renamed = base().raw_member_name(1, std::string("\0\0weird", 7));
  const Bytes r = renamed.bytes();
  EXPECT_EQ(header_at(r, renamed.member_header_offset(1)).name,
            std::string("\0\0weird         ", 16));
  EXPECT_EQ(r.size(), sound.size());

  EXPECT_EQ(base().truncated(70), Bytes(sound.begin(), sound.begin() + 70));
}

}  // namespace
}  // namespace drelk::test
