// drelk_io_floor: the least work any COMMON block checker must do, as the benchmark's yard
// stick. It walks the directories given (or reads the files given), and for each object:
// opens it, reads the file header, reads the symbol table with the string table's size
// field after it, reads the string table, and closes it. An ELF object takes one read
// more: its header, its section headers, its symbol table, and the string table that the
// symbol table links to. In a library it does the same for each member, found by
// following the member headers. Nothing is analysed; the counts it prints only keep the
// reads honest.
//
// POSIX only (open, pread, readdir): the point is to measure the operating system's part.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr size_t kFileHeaderSize = 20;
constexpr size_t kPointerToSymbolTable = 8;
constexpr size_t kNumberOfSymbols = 12;
constexpr size_t kSymbolSize = 18;
constexpr size_t kStringTableSizeField = 4;
constexpr char kArchiveSignature[] = "!<arch>\n";
constexpr size_t kArchiveSignatureSize = 8;
constexpr size_t kMemberHeaderSize = 60;
constexpr size_t kMemberSizeField = 48;

uint32_t load_u32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// ELF: identification, and the fields of the header, section headers and symbols read here.
constexpr uint8_t kElfMagic[] = {0x7F, 'E', 'L', 'F'};
constexpr size_t kElfClass = 4, kElfData = 5;
constexpr uint32_t SHT_SYMTAB = 2;
struct ElfFields {
  size_t header_size, shoff, shentsize, shnum;
  size_t section_header_size, sh_type, sh_offset, sh_size, sh_link;
  size_t symbol_size;
};
constexpr ElfFields kElf32Fields{52, 32, 46, 48, 40, 4, 16, 20, 24, 16};
constexpr ElfFields kElf64Fields{64, 40, 58, 60, 64, 4, 24, 32, 40, 24};

uint64_t load_elf(const uint8_t* p, size_t width, bool big_endian) {
  uint64_t value = 0;
  for (size_t i = 0; i < width; ++i) {
    value |= uint64_t{p[big_endian ? width - 1 - i : i]} << (8 * i);
  }
  return value;
}

struct Totals {
  uint64_t files = 0;
  uint64_t objects = 0;
  uint64_t symbols = 0;
  uint64_t bytes = 0;
  std::vector<uint8_t> buffer;
};

// Reads up to `count` bytes at `offset` into the buffer; returns the bytes read.
size_t read_some(int fd, uint64_t offset, size_t count, Totals& totals) {
  if (totals.buffer.size() < count) totals.buffer.resize(count);
  const ssize_t got = pread(fd, totals.buffer.data(), count, static_cast<off_t>(offset));
  if (got < 0) return 0;
  totals.bytes += static_cast<uint64_t>(got);
  return static_cast<size_t>(got);
}

bool read_at(int fd, uint64_t offset, size_t count, Totals& totals) {
  return read_some(fd, offset, count, totals) == count;
}

// One ELF object at `base`, whose header is in the buffer: section headers, symbol
// table, its string table.
void read_elf_object(int fd, uint64_t base, Totals& totals) {
  const uint8_t* header = totals.buffer.data();
  const bool is64 = header[kElfClass] == 2;
  const bool big = header[kElfData] == 2;
  const ElfFields& f = is64 ? kElf64Fields : kElf32Fields;
  const size_t word = is64 ? 8 : 4;
  const uint64_t shoff = load_elf(header + f.shoff, word, big);
  const uint64_t shnum = load_elf(header + f.shnum, 2, big);
  ++totals.objects;
  if (shoff == 0 || shnum == 0) return;
  if (!read_at(fd, base + shoff, shnum * f.section_header_size, totals)) return;
  const std::vector<uint8_t> sections(
      totals.buffer.begin(),
      totals.buffer.begin() + static_cast<std::ptrdiff_t>(shnum * f.section_header_size));
  for (uint64_t i = 1; i < shnum; ++i) {
    const uint8_t* s = sections.data() + i * f.section_header_size;
    if (load_elf(s + f.sh_type, 4, big) != SHT_SYMTAB) continue;
    const uint64_t link = load_elf(s + f.sh_link, 4, big);
    if (link >= shnum) return;
    const uint8_t* strings = sections.data() + link * f.section_header_size;
    const uint64_t size = load_elf(s + f.sh_size, word, big);
    if (!read_at(fd, base + load_elf(s + f.sh_offset, word, big), size, totals)) return;
    totals.symbols += size / f.symbol_size;
    read_at(fd, base + load_elf(strings + f.sh_offset, word, big),
            load_elf(strings + f.sh_size, word, big), totals);
    return;
  }
}

// One object at `base`: header, symbol table with the string table size, string table.
void read_object(int fd, uint64_t base, Totals& totals) {
  // One read serves either header: the 64 bytes of ELF64's cover COFF's 20.
  const size_t got = read_some(fd, base, kElf64Fields.header_size, totals);
  if (got >= sizeof kElfMagic &&
      std::memcmp(totals.buffer.data(), kElfMagic, sizeof kElfMagic) == 0) {
    if (got == kElf64Fields.header_size) read_elf_object(fd, base, totals);
    return;
  }
  if (got < kFileHeaderSize) return;
  const uint32_t pointer = load_u32(totals.buffer.data() + kPointerToSymbolTable);
  const uint32_t symbols = load_u32(totals.buffer.data() + kNumberOfSymbols);
  ++totals.objects;
  if (pointer == 0) return;
  const size_t table = size_t{symbols} * kSymbolSize;
  if (!read_at(fd, base + pointer, table + kStringTableSizeField, totals)) return;
  totals.symbols += symbols;
  const uint32_t strings = load_u32(totals.buffer.data() + table);
  if (strings > kStringTableSizeField) {
    read_at(fd, base + pointer + table + kStringTableSizeField, strings - kStringTableSizeField,
            totals);
  }
}

// Archive members in file order; linker members and the long-names member hold no object.
void read_archive(int fd, uint64_t file_size, Totals& totals) {
  uint64_t position = kArchiveSignatureSize;
  while (position + kMemberHeaderSize <= file_size) {
    if (!read_at(fd, position, kMemberHeaderSize, totals)) return;
    const char* header = reinterpret_cast<const char*>(totals.buffer.data());
    uint64_t size = 0;
    for (size_t i = kMemberSizeField;
         i < kMemberSizeField + 10 && header[i] >= '0' && header[i] <= '9'; ++i) {
      size = size * 10 + static_cast<uint64_t>(header[i] - '0');
    }
    const bool special = header[0] == '/' && (header[1] == ' ' || header[1] == '/');
    const uint64_t data = position + kMemberHeaderSize;
    if (!special) read_object(fd, data, totals);
    position = data + size + (size & 1);
  }
}

void read_file(const std::string& path, Totals& totals) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ++totals.files;
  uint8_t signature[kArchiveSignatureSize] = {};
  if (pread(fd, signature, sizeof signature, 0) == static_cast<ssize_t>(sizeof signature) &&
      std::memcmp(signature, kArchiveSignature, kArchiveSignatureSize) == 0) {
    struct stat info;
    if (fstat(fd, &info) == 0) read_archive(fd, static_cast<uint64_t>(info.st_size), totals);
  } else {
    read_object(fd, 0, totals);
  }
  close(fd);
}

bool has_object_extension(const char* name) {
  const size_t n = std::strlen(name);
  return (n >= 4 &&
          (std::strcmp(name + n - 4, ".obj") == 0 || std::strcmp(name + n - 4, ".lib") == 0)) ||
         (n >= 2 && (std::strcmp(name + n - 2, ".o") == 0 || std::strcmp(name + n - 2, ".a") == 0));
}

void walk(const std::string& directory, Totals& totals) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> subdirectories;
  while (const dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    const std::string path = directory + "/" + entry->d_name;
    bool is_directory = false;
#if defined(DT_DIR)
    if (entry->d_type == DT_DIR) {
      is_directory = true;
    } else if (entry->d_type == DT_UNKNOWN) {
      struct stat info;
      is_directory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
#else
    struct stat info;
    is_directory = stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
    if (is_directory) {
      subdirectories.push_back(path);
    } else if (has_object_extension(entry->d_name)) {
      read_file(path, totals);
    }
  }
  closedir(dir);
  for (const std::string& subdirectory : subdirectories) walk(subdirectory, totals);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: drelk_io_floor DIR-or-FILE...\n");
    return 2;
  }
  Totals totals;
  for (int i = 1; i < argc; ++i) {
    struct stat info;
    if (stat(argv[i], &info) == 0 && S_ISDIR(info.st_mode)) {
      walk(argv[i], totals);
    } else {
      read_file(argv[i], totals);
    }
  }
  std::printf("files %llu objects %llu symbols %llu bytes %llu\n",
              static_cast<unsigned long long>(totals.files),
              static_cast<unsigned long long>(totals.objects),
              static_cast<unsigned long long>(totals.symbols),
              static_cast<unsigned long long>(totals.bytes));
  return 0;
}
