// The DWARF reader on its own: debug sections' bytes from the test DWARF builder, read
// without a container, a driver or a registry.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "dwarf/dwarf.h"
#include "formats/bytes.h"
#include "tests/support/dwarf_builder.h"

namespace drelk {
namespace {

using namespace dwarf;
using test::BuiltMember;
using test::DwarfBuilder;

struct Sections {
  std::vector<uint8_t> bytes[kDebugSectionCount];
};

Sections sections_of(const DwarfBuilder& dwarf) {
  Sections sections;
  sections.bytes[kDebugInfo] = dwarf.info;
  sections.bytes[kDebugAbbrev] = dwarf.abbrev;
  return sections;
}

struct LayoutsOfOneObject {
  Outcome result = Outcome::kOk;
  DwarfDamage damage;
  std::vector<CommonLayout> layouts;
  std::vector<MemberLayout> members;
  std::deque<std::string> texts;
};

void read(const Sections& sections, DwarfStorageHandle& storage, LayoutsOfOneObject& read,
          RelocateField relocate = nullptr, void* context = nullptr) {
  DebugInput input;
  for (size_t s = 0; s < kDebugSectionCount; ++s) input.sections[s] = sections.bytes[s];
  input.relocate = relocate;
  input.relocation_context = context;
  LayoutOutput output{read.layouts, read.members, read.texts};
  read.result = read_debug_layouts(input, storage, output, read.damage);
}

std::vector<std::string> members_shown(const LayoutsOfOneObject& read) {
  std::vector<std::string> shown;
  for (const MemberLayout& member : read.members) {
    shown.push_back(std::to_string(member.offset) + " " + std::string(member.name) + " " +
                    std::string(member.type) + std::string(member.dimensions) + " " +
                    std::to_string(member.size));
  }
  return shown;
}

struct RelocationCall {
  DebugSection section;
  uint64_t offset;
  uint64_t stored;
};

// Moves every field but the unit header's abbreviation offset by 0x100, and lists the calls.
uint64_t move_fields(void* context, DebugSection section, uint64_t offset, uint64_t stored) {
  static_cast<std::vector<RelocationCall>*>(context)->push_back({section, offset, stored});
  return offset == 8 ? stored : stored + 0x100;
}

TEST(DwarfReader, RelocatedFieldsTakeTheValuesTheContainerGives) {
  const DwarfBuilder dwarf =
      test::common_block_dwarf("blk_", {{0, 4, DW_ATE_signed}, {8, 8, DW_ATE_float}});
  const Sections sections = sections_of(dwarf);
  DwarfStorageHandle storage;
  LayoutsOfOneObject layouts;
  std::vector<RelocationCall> calls;
  read(sections, storage, layouts, move_fields, &calls);
  ASSERT_EQ(layouts.result, Outcome::kOk);
  EXPECT_EQ(members_shown(layouts),
            (std::vector<std::string>{"256 m INTEGER*4 4", "264 m REAL*8 8"}));
  // The unit header's abbreviation offset, then each member's DW_OP_addr operand: the
  // fields a relocation may apply to, at their own offsets, and no other.
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].offset, 8u);
  for (const RelocationCall& call : calls) EXPECT_EQ(call.section, kDebugInfo);
  for (size_t i = 1; i < calls.size(); ++i) {
    EXPECT_EQ(load_u64(dwarf.info.data() + calls[i].offset, false), calls[i].stored);
  }
}

TEST(DwarfReader, AnAbbreviationTableKeptFromTheLastObjectIsReadAgainWhenItsBytesDiffer) {
  // Two objects whose tables stand at the same offset and have the same size, but give the
  // base type's attributes in the other order.
  const DwarfBuilder first = test::common_block_dwarf("blk_", {{0, 8, DW_ATE_float}});
  DwarfBuilder second;
  second.abbreviation(test::kUnitCode, DW_TAG_compile_unit, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(test::kRoutineCode, DW_TAG_subprogram, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(test::kBlockCode, DW_TAG_common_block, true,
                    {{DW_AT_name, DW_FORM_string}, {DW_AT_linkage_name, DW_FORM_string}})
      .abbreviation(test::kMemberCode, DW_TAG_variable, false,
                    {{DW_AT_name, DW_FORM_string},
                     {DW_AT_type, DW_FORM_ref4},
                     {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(test::kBaseTypeCode, DW_TAG_base_type, false,
                    {{DW_AT_encoding, DW_FORM_data1}, {DW_AT_byte_size, DW_FORM_data1}})
      .end_abbreviations();
  second.info = first.info;
  ASSERT_EQ(second.abbrev.size(), first.abbrev.size());
  // The base type's two bytes, size then encoding, in the second table's order.
  std::swap(second.info[second.info.size() - 3], second.info[second.info.size() - 2]);

  // The layouts name their members from the sections' bytes: both stay while they are read.
  const Sections first_sections = sections_of(first);
  const Sections second_sections = sections_of(second);
  DwarfStorageHandle storage;
  LayoutsOfOneObject one;
  read(first_sections, storage, one);
  LayoutsOfOneObject two;
  read(second_sections, storage, two);
  EXPECT_EQ(members_shown(one), std::vector<std::string>{"0 m REAL*8 8"});
  EXPECT_EQ(members_shown(two), std::vector<std::string>{"0 m REAL*8 8"});
}

TEST(DwarfReader, DamageNamesItsSectionAndKeepsTheLayoutsBeforeIt) {
  struct Case {
    const char* what;
    std::vector<uint8_t> info_tail;  // after a sound unit
    size_t abbrev_cut;               // bytes taken off the end of .debug_abbrev
    DebugSection section;
    const char* reason;
    size_t layouts_kept;
  };
  const Case cases[] = {
      {"unknown code",
       {10, 0, 0, 0, 5, 0, 1, 8, 0, 0, 0, 0, 99, 0},
       0,
       kDebugInfo,
       "entry of an unknown abbreviation",
       1},
      {"64-bit unit", {0xff, 0xff, 0xff, 0xff, 0, 0}, 0, kDebugInfo, "64-bit DWARF is not read", 1},
      {"unit past the section",
       {0x40, 0, 0, 0, 5, 0},
       0,
       kDebugInfo,
       "unit length beyond the section",
       1},
      {"table cut short", {}, 2, kDebugAbbrev, "abbreviation table runs past the section", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sections sections = sections_of(test::common_block_dwarf("blk_", {{0, 4, DW_ATE_signed}}));
    std::vector<uint8_t>& info = sections.bytes[kDebugInfo];
    info.insert(info.end(), c.info_tail.begin(), c.info_tail.end());
    sections.bytes[kDebugAbbrev].resize(sections.bytes[kDebugAbbrev].size() - c.abbrev_cut);
    DwarfStorageHandle storage;
    LayoutsOfOneObject layouts;
    read(sections, storage, layouts);
    ASSERT_EQ(layouts.result, Outcome::kFailed);
    EXPECT_EQ(layouts.damage.section, c.section);
    EXPECT_STREQ(layouts.damage.reason, c.reason);
    EXPECT_EQ(layouts.layouts.size(), c.layouts_kept);
  }
}

// Sets the DW_FORM_ref4 placeholder at `at` of .debug_info to `target`.
void patch_ref4(DwarfBuilder& dwarf, size_t at, uint32_t target) {
  for (size_t i = 0; i < 4; ++i) dwarf.info[at + i] = static_cast<uint8_t>(target >> (8 * i));
}

TEST(DwarfReader, ArraysOfCFamilyUnitsCountFromZeroAndNamesComeThroughStringIndexes) {
  DwarfBuilder dwarf;
  dwarf
      .abbreviation(1, DW_TAG_compile_unit, true,
                    {{DW_AT_language, DW_FORM_data1}, {DW_AT_str_offsets_base, DW_FORM_sec_offset}})
      .abbreviation(2, DW_TAG_subprogram, true, {{DW_AT_name, DW_FORM_string}})
      .abbreviation(3, DW_TAG_common_block, true, {{DW_AT_name, DW_FORM_strx1}})
      .abbreviation(4, DW_TAG_variable, false,
                    {{DW_AT_name, DW_FORM_string},
                     {DW_AT_type, DW_FORM_ref4},
                     {DW_AT_location, DW_FORM_exprloc}})
      .abbreviation(5, DW_TAG_array_type, true, {{DW_AT_type, DW_FORM_ref4}})
      .abbreviation(6, DW_TAG_subrange_type, false, {{DW_AT_upper_bound, DW_FORM_data1}})
      .abbreviation(7, DW_TAG_subrange_type, false,
                    {{DW_AT_lower_bound, DW_FORM_data1}, {DW_AT_upper_bound, DW_FORM_data1}})
      .abbreviation(8, DW_TAG_base_type, false,
                    {{DW_AT_byte_size, DW_FORM_data1}, {DW_AT_encoding, DW_FORM_data1}})
      .end_abbreviations();
  dwarf.begin_unit().code(1).u8(static_cast<uint8_t>(DW_LANG_C99)).u32(8);
  dwarf.code(2).string("f").code(3).u8(0);
  const size_t first_type = dwarf.info.size() + 3;
  dwarf.code(4).string("a").u32(0).address_location(0);
  const size_t second_type = dwarf.info.size() + 3;
  dwarf.code(4).string("b").u32(0).address_location(40);
  dwarf.end_children().end_children();
  const uint32_t zero_based = dwarf.here();
  dwarf.code(5).u32(0).code(6).u8(9).end_children();
  const uint32_t one_based = dwarf.here();
  dwarf.code(5).u32(0).code(7).u8(1).u8(10).end_children();
  const uint32_t integer = dwarf.here();
  dwarf.code(8).u8(4).u8(static_cast<uint8_t>(DW_ATE_signed)).end_children().end_unit();
  patch_ref4(dwarf, first_type, zero_based);
  patch_ref4(dwarf, second_type, one_based);
  patch_ref4(dwarf, zero_based + 1, integer);
  patch_ref4(dwarf, one_based + 1, integer);

  Sections sections = sections_of(dwarf);
  sections.bytes[kDebugStr] = {0, 'b', 'l', 'k', '_', 0};
  // A DWARF 5 string offsets header (length, version, padding), then offset 1 of .debug_str.
  sections.bytes[kDebugStrOffsets] = {8, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0, 0};
  DwarfStorageHandle storage;
  LayoutsOfOneObject layouts;
  read(sections, storage, layouts);
  ASSERT_EQ(layouts.result, Outcome::kOk);
  ASSERT_EQ(layouts.layouts.size(), 1u);
  EXPECT_EQ(layouts.layouts[0].symbol, "blk_");
  EXPECT_EQ(layouts.layouts[0].routine, "f");
  EXPECT_EQ(members_shown(layouts),
            (std::vector<std::string>{"0 a INTEGER*4(10) 40", "40 b INTEGER*4(1:10) 40"}));
}

}  // namespace
}  // namespace drelk
