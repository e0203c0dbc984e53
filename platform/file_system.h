// Directory search, file opening and path handling: the only code that asks the
// operating system about files. Paths are kept as the user and the search composed
// them; `native_path` turns what the user typed into what the file system takes. Names
// that the directory search found are used as found: on POSIX a name may hold a '\'.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_stream.h"

namespace drelk {

struct DirEntry {
  std::string name;
  bool is_directory = false;
  // The search already knows it for a regular file (not a link), so opening it needs
  // no look at its type first.
  bool is_regular_file = false;
};

namespace detail {
struct DirectoryListings;
}

// What the directory search keeps for one run. On POSIX every directory searched is read
// and sorted once, and its listing kept: later searches of the same directory (a named
// file, a wildcard, the subdirectory pass of -s) are answered from it, so that naming the
// thousands of files of a build tree one by one costs one reading of each directory. The
// Windows search is the system's own, which looks a name up directly, and keeps nothing.
struct DirectorySearch {
  DirectorySearch();
  ~DirectorySearch();
  DirectorySearch(const DirectorySearch&) = delete;
  DirectorySearch& operator=(const DirectorySearch&) = delete;

  // About how many bytes the kept listings may hold; beyond it the least recently searched
  // are let go (and read again should they be searched again).
  size_t listing_budget = size_t{64} << 20;
  std::unique_ptr<detail::DirectoryListings> listings;
};

// Searches `pattern`, a path whose last component may hold the wildcards '*' (any run
// of characters) and '?' (any single character), matched without regard to case;
// "*.*" matches every name, names without a dot included. A name without wildcards
// names the file of exactly that name where there is one, and only where there is none
// its case variants. Fills `entries` with every match, "." and ".." included when they
// match. Returns false when the search found no
// entry at all (a missing directory included). A directory's entries are those it held
// when the run first searched it.
bool find_files(DirectorySearch& search, const std::string& pattern,
                std::vector<DirEntry>& entries);

// The same search of `name_pattern` in `directory`, a directory as the file system takes
// it ("" for the current one, else ending in a separator), which is used as it is.
bool find_files_in(DirectorySearch& search, const std::string& directory,
                   const std::string& name_pattern, std::vector<DirEntry>& entries);

// The directory `name`, as the search found it, inside `directory` (as the file system
// takes it): itself as the file system takes it, ending in a separator.
std::string child_directory(const std::string& directory, const std::string& name);

// What a path as the file system takes it names, links followed: a directory, or a
// regular file (not a device, a FIFO or a socket).
bool is_native_directory(const std::string& native);
bool is_native_regular_file(const std::string& native);

// The processors this process may run on (its affinity mask where the system has one), at
// least 1: the default count of jobs.
unsigned usable_processors();

// The files this process may hold open at once: its soft limit of descriptors where the
// system sets one, else UINT64_MAX.
uint64_t open_files_limit();

// The separator the system itself writes between the components of a path.
#if defined(_WIN32)
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr char kNativeSeparator = '/';
#endif

// Opens a regular file for binary reading. Anything else (a directory, a FIFO, a device,
// a dangling link) is refused by its type before it is opened.
bool open_input_file(const std::string& path, InputStream& stream);

// The same for a path as the file system takes it, used as it is.
bool open_native_input_file(const std::string& native, InputStream& stream);

// The same for a path as the file system takes it, used as it is; `regular_file` when
// the directory search already found it to be a regular file.
bool open_native_file(const std::string& native, InputStream& stream, bool regular_file);

struct DirectoryIdentity;

// Reads the whole of a file (a regular file, or a pipe such as a shell's process
// substitution) into `contents`, and tells its identity when `identity` is given. False
// when it cannot be opened or read, is a directory, or holds more than `limit` bytes.
bool read_whole_file(const std::string& path, size_t limit, std::string& contents,
                     DirectoryIdentity* identity = nullptr);

// True when a command-line argument that begins with '/' names a path, not a switch: on
// POSIX when a further '/' follows, as in an absolute path; on Windows never.
bool slash_argument_is_path(const char* argument);

// Identity of a directory (device and inode on POSIX), used to stop a recursive search
// from entering a directory it is already inside.
struct DirectoryIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  auto operator<=>(const DirectoryIdentity&) const = default;
};
bool directory_identity(const std::string& path, DirectoryIdentity& identity);
// The same for a directory as the file system takes it ("" for the current one).
bool native_directory_identity(const std::string& native, DirectoryIdentity& identity);

// The identity of an open file, by which an output file is told from the run's inputs
// however either is named (links, other spellings of the path).
using FileIdentity = DirectoryIdentity;
bool descriptor_identity(int descriptor, FileIdentity& identity);
bool stream_identity(std::FILE* file, FileIdentity& identity);

// The identity of the file open in `stream`: the one its open learnt, or its descriptor's.
// False for a stream of memory or a closed one.
inline bool input_identity(const InputStream& stream, FileIdentity& identity) {
  if (stream.descriptor < 0) return false;
  if (stream.identity_known) {
    identity.device = stream.device;
    identity.inode = stream.inode;
    return true;
  }
  return descriptor_identity(stream.descriptor, identity);
}

// Opens the null device on each of the standard descriptors (input, output, error) that
// is closed, so that no file opened later takes its place. Nothing to do on Windows.
void reserve_standard_descriptors();

// The path as the file system takes it: on POSIX '\' becomes '/'.
std::string native_path(const std::string& path);

// The four components of a path, split as the Windows runtime's _splitpath does:
// the drive (two characters, when the second is ':'), the directory (up to and including
// the last '\' or '/'), the extension (from the last '.' of the rest) and the file name.
// A lead byte and the byte after it are one character, never a separator or a dot.
// Components are never cut, however long.
struct PathParts {
  std::string drive;
  std::string directory;
  std::string file_name;
  std::string extension;
};
PathParts split_path(const std::string& path);

// True when `byte` starts a two-byte character of the system's ANSI code page
// (IsDBCSLeadByte on Windows, where a path's trail byte may be 0x5C, the code of '\').
// Never on POSIX, whose paths are split byte by byte.
#if defined(_WIN32)
bool is_lead_byte(unsigned char byte);
#else
// Every path splitter asks it of every byte: known here to be false, it costs nothing.
inline bool is_lead_byte(unsigned char) {
  return false;
}
#endif

// The path of the file a thin archive's member names: the member's name taken relative to
// the archive's directory, or as it is when it is an absolute path.
std::string member_file_path(const std::string& archive_path, const std::string& member);

// The same path as the file system takes it: the archive's directory made native, then the
// member's name as the archive stores it (on POSIX a '\\' in it is a character of the name).
std::string member_file_native_path(const std::string& archive_path, const std::string& member);

// Wildcard matching as the directory search applies it (see find_files).
bool wildcard_match(std::string_view pattern, std::string_view name);

// Orders names as NTFS returns them: bytes compared with 'a'..'z' folded to 'A'..'Z',
// ties broken by plain byte order. True when `a` sorts before `b`.
bool directory_order_less(const std::string& a, const std::string& b);

// The name with 'a'..'z' folded to 'A'..'Z': what directory order compares before its
// tie-break. Names with equal folded forms are the case variants that one name without
// wildcards matches; in directory order they stand together.
std::string fold_name(std::string_view name);

}  // namespace drelk
