// The readers called without the driver, through the table of formats: each format's reader
// reads an object where an archive or a universal file would hold it, inside a larger stream.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "objreader/objreader.h"
#include "platform/text_stream.h"
#include "tests/support/coff_builder.h"
#include "tests/support/elf_builder.h"
#include "tests/support/macho_builder.h"

namespace drelk::test {
namespace {

struct Case {
  const char* format;
  std::vector<uint8_t> object;
  const char* block;
};

TEST(ObjectReaders, EachFormatReadsAnObjectInsideALargerStreamWithoutTheDriver) {
  const Case cases[] = {
      {"coff", CoffObject().machine(0x14C).common("_area_", 400).bytes(), "_area_"},
      {"elf", ElfObject().common("area_", 400).bytes(), "area_"},
      {"macho", MachOObject().common("_area_", 400).bytes(), "_area_"},
  };
  constexpr size_t kBase = 68;  // where an archive member's data may stand
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    // Bytes before and after the object that no reader may take for its own.
    std::vector<uint8_t> bytes(kBase, 0xEE);
    bytes.insert(bytes.end(), c.object.begin(), c.object.end());
    bytes.insert(bytes.end(), 200, 0xEE);
    std::string errors;
    Diagnostics diagnostics;
    diagnostics.error_stream = memory_text_stream(errors);
    ObjectReader reader(diagnostics);
    InputStream stream = memory_input_stream(bytes.data(), bytes.size());
    const FileKind kind = identify_format(c.object.data(), c.object.size());
    const ObjectFormat& format = object_format(kind);
    EXPECT_EQ(format.name, c.format);
    use_positions_of(stream, kind);
    ASSERT_TRUE(stream_seek(stream, kBase));
    EXPECT_EQ(format.read(reader, stream, "lib.a(x.o)", kBase, c.object.size(), kind),
              Outcome::kOk);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(reader.declarations.items.size(), 1u);
    EXPECT_EQ(reader.declarations.items[0].kind, Declaration::kCommon);
    EXPECT_EQ(reader.declarations.items[0].name, c.block);
    EXPECT_EQ(reader.declarations.items[0].size, 400u);
  }
}

}  // namespace
}  // namespace drelk::test
