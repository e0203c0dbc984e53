// Universal ("fat") files: the slice table, big-endian whatever the slices are, and the
// names of the architectures that lipo and the linker give the slices.
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "formats/macho.h"
#include "objreader/macho/macho_reader.h"
#include "objreader/messages.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

constexpr const char* kLabel = "analyze";

struct ArchitectureName {
  uint32_t cpu_type;
  uint32_t cpu_subtype;
  const char* name;
};

// The names of lipo and the linker for the architectures they know; the subtype 0xFFFFFFFF
// stands for any other subtype of that CPU type.
constexpr uint32_t kAnySubtype = 0xFFFFFFFF;
constexpr ArchitectureName kArchitectureNames[] = {
    {macho::CPU_TYPE_X86_64, 8, "x86_64h"},
    {macho::CPU_TYPE_X86_64, kAnySubtype, "x86_64"},
    {macho::CPU_TYPE_X86, kAnySubtype, "i386"},
    {macho::CPU_TYPE_ARM64, 2, "arm64e"},
    {macho::CPU_TYPE_ARM64, kAnySubtype, "arm64"},
    {macho::CPU_TYPE_ARM64_32, kAnySubtype, "arm64_32"},
    {macho::CPU_TYPE_ARM, 5, "armv4t"},
    {macho::CPU_TYPE_ARM, 6, "armv6"},
    {macho::CPU_TYPE_ARM, 7, "armv5"},
    {macho::CPU_TYPE_ARM, 8, "xscale"},
    {macho::CPU_TYPE_ARM, 9, "armv7"},
    {macho::CPU_TYPE_ARM, 10, "armv7f"},
    {macho::CPU_TYPE_ARM, 11, "armv7s"},
    {macho::CPU_TYPE_ARM, 12, "armv7k"},
    {macho::CPU_TYPE_ARM, 14, "armv6m"},
    {macho::CPU_TYPE_ARM, 15, "armv7m"},
    {macho::CPU_TYPE_ARM, 16, "armv7em"},
    {macho::CPU_TYPE_ARM, kAnySubtype, "arm"},
    {macho::CPU_TYPE_POWERPC, 9, "ppc750"},
    {macho::CPU_TYPE_POWERPC, 10, "ppc7400"},
    {macho::CPU_TYPE_POWERPC, 11, "ppc7450"},
    {macho::CPU_TYPE_POWERPC, 100, "ppc970"},
    {macho::CPU_TYPE_POWERPC, kAnySubtype, "ppc"},
    {macho::CPU_TYPE_POWERPC64, kAnySubtype, "ppc64"},
    {macho::CPU_TYPE_MC680x0, kAnySubtype, "m68k"},
    {macho::CPU_TYPE_HPPA, kAnySubtype, "hppa"},
    {macho::CPU_TYPE_MC88000, kAnySubtype, "m88k"},
    {macho::CPU_TYPE_SPARC, kAnySubtype, "sparc"},
    {macho::CPU_TYPE_I860, kAnySubtype, "i860"},
};

}  // namespace

Outcome read_universal_header(ObjectReader& reader, InputStream& stream, std::string_view path,
                              uint64_t base, uint64_t extent, std::vector<UniversalSlice>& slices) {
  slices.clear();
  uint8_t header[macho::kFatHeaderSize] = {};
  if (!stream_seek(stream, static_cast<int64_t>(base)) ||
      read_checked(reader, stream, sizeof header, header, kLabel) == 0) {
    report_error(reader.diagnostics, message::kFileHeaderUnreadable);
    return Outcome::kFailed;
  }
  const bool is64 = load_u32(header, true) == macho::FAT_MAGIC_64;
  const uint32_t count = load_u32(header + macho::kFatHeaderNumberOfArchitectures, true);
  const size_t record_size = is64 ? macho::kFatArchSize64 : macho::kFatArchSize32;
  std::vector<uint8_t> records;
  switch (read_table(reader, stream, uint64_t{count} * record_size, records, kLabel)) {
    case Outcome::kOk:
      break;
    case Outcome::kNoMemory:
      report_out_of_memory(reader.diagnostics, path);
      [[fallthrough]];
    case Outcome::kFailed:
      report_error(reader.diagnostics, message::kFileHeaderUnreadable);
      return Outcome::kFailed;
  }
  Outcome result = Outcome::kOk;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* record = records.data() + size_t{i} * record_size;
    UniversalSlice slice;
    slice.cpu_type = load_u32(record + macho::kFatArchCpuType, true);
    slice.cpu_subtype = load_u32(record + macho::kFatArchCpuSubtype, true);
    const uint8_t* place = record + macho::kFatArchOffset;
    const uint64_t offset = is64 ? load_u64(place, true) : load_u32(place, true);
    slice.size = is64 ? load_u64(place + 8, true) : load_u32(place + 4, true);
    if (offset > extent || slice.size > extent - offset) {
      report_error(reader.diagnostics,
                   strprintf("Object Format Error: The %s slice lies outside universal file %s\n",
                             architecture_name(slice.cpu_type, slice.cpu_subtype).c_str(),
                             std::string(path).c_str()));
      result = Outcome::kFailed;
      continue;
    }
    slice.offset = base + offset;
    try {
      slices.push_back(slice);
    } catch (const std::bad_alloc&) {
      report_out_of_memory(reader.diagnostics, path);
      return Outcome::kFailed;
    }
  }
  return result;
}

std::string architecture_name(uint32_t cpu_type, uint32_t cpu_subtype) {
  const uint32_t subtype = cpu_subtype & ~macho::CPU_SUBTYPE_MASK;
  for (const ArchitectureName& known : kArchitectureNames) {
    if (known.cpu_type == cpu_type &&
        (known.cpu_subtype == subtype || known.cpu_subtype == kAnySubtype)) {
      return known.name;
    }
  }
  return strprintf("cputype %u", cpu_type);
}

Outcome read_universal_slices(ObjectReader& reader, InputStream& stream, std::string_view path,
                              uint64_t base, uint64_t extent, std::vector<Slice>& slices) {
  slices.clear();
  std::vector<UniversalSlice> table;
  const Outcome result = read_universal_header(reader, stream, path, base, extent, table);
  try {
    for (const UniversalSlice& slice : table) {
      slices.push_back(
          Slice{architecture_name(slice.cpu_type, slice.cpu_subtype), slice.offset, slice.size});
    }
  } catch (const std::bad_alloc&) {
    report_out_of_memory(reader.diagnostics, path);
    return Outcome::kFailed;
  }
  return result;
}

}  // namespace drelk
