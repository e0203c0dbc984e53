// Section layout: which stretches overlap, the nine tests and their messages, and that the
// fast all-pairs check reports exactly what the exhaustive walk over every pair does.
#include <gtest/gtest.h>

#include <random>

#include "objreader/coff/coff_reader.h"
#include "objreader/elf/elf_reader.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/objreader.h"
#include "tests/support/coff_builder.h"
#include "tests/support/in_memory_run.h"

namespace drelk::test {
namespace {

TEST(RangesOverlap, TouchingStretchesDoNotOverlap) {
  EXPECT_EQ(ranges_overlap(10, 10, 20, 10), 0);
  EXPECT_EQ(ranges_overlap(20, 10, 10, 10), 0);
  EXPECT_EQ(ranges_overlap(10, 11, 20, 10), 1);
  EXPECT_EQ(ranges_overlap(20, 10, 10, 11), 1);
}

TEST(RangesOverlap, ContainmentEitherWayOverlaps) {
  EXPECT_EQ(ranges_overlap(10, 100, 20, 5), 1);
  EXPECT_EQ(ranges_overlap(20, 5, 10, 100), 1);
  EXPECT_EQ(ranges_overlap(10, 10, 10, 10), 1);
}

TEST(RangesOverlap, ZeroStartOrLengthOverlapsNothing) {
  EXPECT_EQ(ranges_overlap(0, 100, 10, 10), 0);
  EXPECT_EQ(ranges_overlap(10, 0, 10, 10), 0);
  EXPECT_EQ(ranges_overlap(10, 10, 0, 100), 0);
  EXPECT_EQ(ranges_overlap(10, 10, 10, 0), 0);
}

TEST(RangesOverlap, EndsWrapAtTheTopOfTheRange) {
  // Starts 16 bytes below the top, 32 bytes long: its end wraps to 15.
  const uint32_t start = 0xFFFFFFF0;
  EXPECT_EQ(ranges_overlap(start, 32, 10, 16), 1);
  EXPECT_EQ(ranges_overlap(10, 16, start, 32), 1);
  EXPECT_EQ(ranges_overlap(start, 32, 5, 4), 0);
  EXPECT_EQ(ranges_overlap(5, 4, start, 32), 0);
}

SectionHeader stretches(uint32_t raw, uint32_t raw_size, uint32_t relocations,
                        uint16_t relocation_count, uint32_t lines, uint16_t line_count) {
  SectionHeader h;
  h.pointer_to_raw_data = raw;
  h.size_of_raw_data = raw_size;
  h.pointer_to_relocations = relocations;
  h.number_of_relocations = relocation_count;
  h.pointer_to_linenumbers = lines;
  h.number_of_linenumbers = line_count;
  return h;
}

TEST(SectionOverlaps, AllNineTestsInTheirOrder) {
  // Every stretch of section 1 covers every stretch of section 2.
  const SectionHeader big = stretches(100, 1000, 100, 100, 100, 160);
  const SectionHeader small = stretches(200, 10, 300, 1, 400, 1);
  InMemoryRun run;
  run.analyze(CoffObject().section_header(big).section_header(small).bytes(), "x.obj");
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Object Format Error: Raw data overlap between sections 1 and 2\n\n"
            "Drelk: Object Format Error: Section 1 raw data overlaps section 2 relocations\n\n"
            "Drelk: Object Format Error: Section 1 raw data overlaps section 2 line numbers\n\n"
            "Drelk: Object Format Error: Section 1 relocations overlap section 2 raw data\n\n"
            "Drelk: Object Format Error: Relocations overlap for sections 1 and 2\n\n"
            "Drelk: Object Format Error: Section 1 relocations overlap section 2 line numbers\n\n"
            "Drelk: Object Format Error: Section 1 line numbers overlap section 2 raw data\n\n"
            "Drelk: Object Format Error: Section 1 line numbers overlap section 2 relocations\n\n"
            "Drelk: Object Format Error: Line numbers overlap for sections 1 and 2\n\n");
  EXPECT_EQ(run.error_count(), 9u);
}

TEST(SectionOverlaps, StretchesOfOneSectionAreNotCompared) {
  InMemoryRun run;
  run.analyze(CoffObject().section_header(stretches(100, 100, 100, 10, 100, 10)).bytes(), "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
}

TEST(SectionOverlaps, SectionNumbersPrintInLowerCaseHex) {
  CoffObject object;
  for (uint32_t i = 1; i <= 11; ++i) {
    object.section_header(stretches(i >= 10 ? 50000 : 1000 * i, 10, 0, 0, 0, 0));
  }
  InMemoryRun run;
  run.analyze(object.bytes(), "x.obj");
  EXPECT_EQ(run.diagnostics(),
            "Drelk: Object Format Error: Raw data overlap between sections a and b\n\n");
}

TEST(SectionOverlaps, LaidOutSectionsOfARealLayoutDoNotOverlap) {
  InMemoryRun run;
  run.analyze(
      CoffObject().section(".text", 100, 3, 2).section(".data", 16, 1).section(".bss", 0).bytes(),
      "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
}

// The reference behaviour: every pair i < j, nine tests each.
std::string exhaustive(const std::vector<SectionHeader>& sections) {
  std::string text;
  Diagnostics diagnostics;
  diagnostics.error_stream = memory_text_stream(text);
  ObjectReader analysis(diagnostics);
  CoffObject builder;
  for (const SectionHeader& s : sections) builder.section_header(s);
  const std::vector<uint8_t> bytes = builder.bytes();
  coff_tables(analysis).number_of_sections = static_cast<uint16_t>(sections.size());
  coff_tables(analysis).section_table.assign(40, 0);
  coff_tables(analysis).section_table.insert(coff_tables(analysis).section_table.end(),
                                             bytes.begin() + 20,
                                             bytes.begin() + 20 + 40 * sections.size());
  for (uint32_t i = 1; i < sections.size(); ++i) {
    for (uint32_t j = i + 1; j <= sections.size(); ++j) check_section_overlaps(analysis, i, j);
  }
  return text;
}

TEST(SectionOverlaps, FastCheckReportsWhatTheExhaustiveWalkReports) {
  std::mt19937 random(7);
  // Starts and lengths from a small range so that overlaps, touching ends, zeros and
  // wrapping ends all come up often.
  const std::vector<uint32_t> starts = {0, 1, 10, 20, 25, 100, 0xFFFFFFF0, 0xFFFFFFFF, 0x80000000};
  const std::vector<uint32_t> lengths = {0, 1, 5, 10, 11, 32, 100, 0x7FFFFFFF};
  for (int round = 0; round < 3000; ++round) {
    const size_t count = 2 + random() % 8;
    std::vector<SectionHeader> sections;
    CoffObject object;
    for (size_t i = 0; i < count; ++i) {
      SectionHeader s =
          stretches(starts[random() % starts.size()], lengths[random() % lengths.size()],
                    starts[random() % starts.size()], static_cast<uint16_t>(random() % 4),
                    starts[random() % starts.size()], static_cast<uint16_t>(random() % 4));
      sections.push_back(s);
      object.section_header(s);
    }
    InMemoryRun run;
    run.analyze(object.bytes(), "x.obj");
    ASSERT_EQ(run.diagnostics(), exhaustive(sections)) << "round " << round;
  }
}

TEST(SectionOverlaps, ManySectionsWithoutOverlapsAreCheckedQuickly) {
  // 65,535 sections each with its own stretch: the exhaustive walk would make two billion
  // pair tests.
  CoffObject object;
  for (uint32_t i = 0; i < 65535; ++i)
    object.section_header(stretches(1000 + 16 * i, 16, 0, 0, 0, 0));
  InMemoryRun run;
  run.analyze(object.bytes(), "x.obj");
  EXPECT_EQ(run.diagnostics(), "");
}

}  // namespace
}  // namespace drelk::test
