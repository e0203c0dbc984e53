// POSIX directory search and file opening. The directory search sorts its entries by
// name as NTFS orders them, so that readdir's order never shows in the output, and keeps
// each directory's sorted listing for the run.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#if defined(__linux__)
#include <sched.h>
#endif
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <list>
#include <thread>
#include <unordered_map>

#include "platform/file_system.h"

namespace drelk {
namespace detail {

// What readdir told of an entry: a directory, a regular file, something else, or nothing
// certain (a symbolic link, or a file system that gives no types), which stat decides
// whether it is a directory once the entry matches a search.
enum class EntryKind : uint8_t { kOther, kRegular, kDirectory, kUnknown };

// An entry's name as readdir gave it, followed in the listing's text by its folded form
// ('a'..'z' folded to 'A'..'Z'), which directory order compares first.
struct ListedEntry {
  uint32_t offset = 0;  // of the name in the listing's text; the folded form follows it
  uint32_t length = 0;
  EntryKind kind = EntryKind::kUnknown;
};

struct Listing {
  std::string text;                  // every entry's name and folded name
  std::vector<ListedEntry> entries;  // every entry, "." and ".." included, in directory order
  size_t bytes = 0;                  // what the listing holds, for the budget
  std::list<const std::string*>::iterator use;  // its place in the order of use

  std::string_view name(const ListedEntry& entry) const {
    return std::string_view(text).substr(entry.offset, entry.length);
  }
  std::string_view folded(const ListedEntry& entry) const {
    return std::string_view(text).substr(entry.offset + entry.length, entry.length);
  }
};

// The listings kept for the run, by directory as the search names it, and the order in
// which they were last searched (most recent first).
struct DirectoryListings {
  std::unordered_map<std::string, Listing> by_directory;
  std::list<const std::string*> recent;
  size_t bytes = 0;
};

}  // namespace detail

namespace {

using detail::EntryKind;
using detail::ListedEntry;
using detail::Listing;

// Paths longer than the system takes in one call (PATH_MAX, 4096 bytes on Linux), as a deep
// tree under -s composes them, are opened in stretches: each stretch of whole components,
// short enough for one call, relative to the directory the stretch before it opened. The
// system resolves a path component by component, so the stretches name what the whole
// path names, links and ".." included.
constexpr size_t kLongestStretch = 4000;

// The long directory path opened last, kept open: the search of a deep tree opens each
// directory just after its parent, so the next long path is opened from here, one
// component further, instead of from the start of the path (a walk of thousands of
// components for every directory).
struct LongPathAnchor {
  std::string path;  // ends in a separator
  int directory = -1;
};
LongPathAnchor long_path_anchor;

void close_unless(int directory, int kept) {
  if (directory != AT_FDCWD && directory != kept) close(directory);
}

// The directory `path` (absolute, or relative to the working directory), opened; -1 with
// errno set when it cannot be.
int open_directory_in_stretches(std::string_view path) {
  LongPathAnchor& anchor = long_path_anchor;
  int directory = AT_FDCWD;
  size_t at = 0;
  if (anchor.directory >= 0 && path.substr(0, anchor.path.size()) == anchor.path) {
    directory = anchor.directory;
    at = anchor.path.size();
  }
  while (true) {
    if (path.size() - at < kLongestStretch) {
      const std::string stretch(path.substr(at));
      const int opened = openat(directory, stretch.empty() ? "." : stretch.c_str(),
                                O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      const int error = errno;
      close_unless(directory, anchor.directory);
      if (opened >= 0) {
        const int kept = fcntl(opened, F_DUPFD_CLOEXEC, 0);
        if (kept >= 0) {
          if (anchor.directory >= 0) close(anchor.directory);
          anchor.directory = kept;
          anchor.path = std::string(path);
          if (anchor.path.back() != '/') anchor.path += '/';
        }
      }
      errno = error;
      return opened;
    }
    // The stretch ends at the last separator that one call takes; a component longer than
    // that is one that no system takes.
    const size_t end = path.rfind('/', at + kLongestStretch - 1);
    if (end == std::string_view::npos || end < at) {
      close_unless(directory, anchor.directory);
      errno = ENAMETOOLONG;
      return -1;
    }
    const std::string stretch(path.substr(at, end + 1 - at));
    const int opened = openat(directory, stretch.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int error = errno;
    close_unless(directory, anchor.directory);
    if (opened < 0) {
      errno = error;
      return -1;
    }
    directory = opened;
    at = end + 1;
    // A run of separators inside the path is one separator; taken at the start of a
    // stretch, it would make the stretch absolute.
    while (at < path.size() && path[at] == '/') ++at;
  }
}

// The directory that holds the last component of a long `path`, opened, and that
// component (with the separators that end the path, if any).
int open_parent_in_stretches(const std::string& path, std::string& leaf) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  const size_t separator = path.rfind('/', end == 0 ? 0 : end - 1);
  if (separator == std::string::npos) {
    leaf = path;
    return AT_FDCWD;
  }
  leaf = path.substr(separator + 1);
  return open_directory_in_stretches(std::string_view(path).substr(0, separator + 1));
}

// stat, open and opendir, for paths of any length.
int stat_path(const std::string& path, struct stat& info) {
  if (stat(path.c_str(), &info) == 0) return 0;
  if (errno != ENAMETOOLONG) return -1;
  std::string leaf;
  const int parent = open_parent_in_stretches(path, leaf);
  if (parent < 0 && parent != AT_FDCWD) return -1;
  const int result = fstatat(parent, leaf.c_str(), &info, 0);
  if (parent != AT_FDCWD) close(parent);
  return result;
}

int open_path(const std::string& path, int flags) {
  const int opened = open(path.c_str(), flags);
  if (opened >= 0 || errno != ENAMETOOLONG) return opened;
  std::string leaf;
  const int parent = open_parent_in_stretches(path, leaf);
  if (parent < 0 && parent != AT_FDCWD) return -1;
  const int result = openat(parent, leaf.c_str(), flags);
  if (parent != AT_FDCWD) close(parent);
  return result;
}

DIR* open_directory(const std::string& path) {
  DIR* directory = opendir(path.c_str());
  if (directory != nullptr || errno != ENAMETOOLONG) return directory;
  const int opened = open_directory_in_stretches(path);
  if (opened < 0) return nullptr;
  directory = fdopendir(opened);
  if (directory == nullptr) close(opened);
  return directory;
}

EntryKind entry_kind(const dirent& entry) {
#if defined(DT_DIR)
  if (entry.d_type == DT_DIR) return EntryKind::kDirectory;
  if (entry.d_type == DT_REG) return EntryKind::kRegular;
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return EntryKind::kOther;
#else
  (void)entry;
#endif
  return EntryKind::kUnknown;
}

// A link counts as what it points at, as the Windows search reports a link to a directory
// as a directory; a dangling link is not one.
bool is_directory(const std::string& directory, const Listing& listing, ListedEntry& entry) {
  if (entry.kind == EntryKind::kUnknown) {
    struct stat info;
    const std::string path = directory + "/" + std::string(listing.name(entry));
    entry.kind = stat_path(path, info) == 0 && S_ISDIR(info.st_mode) ? EntryKind::kDirectory
                                                                     : EntryKind::kOther;
  }
  return entry.kind == EntryKind::kDirectory;
}

bool read_listing(const std::string& directory, Listing& listing) {
  DIR* dir = open_directory(directory);
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    ListedEntry listed;
    listed.offset = static_cast<uint32_t>(listing.text.size());
    listed.length = static_cast<uint32_t>(name.size());
    listed.kind = entry_kind(*entry);
    listing.text.append(name).append(fold_name(name));
    listing.entries.push_back(listed);
  }
  closedir(dir);
  listing.bytes = listing.text.capacity() + listing.entries.capacity() * sizeof(ListedEntry);
  // Directory order: the folded names, ties by the names' own bytes.
  std::sort(listing.entries.begin(), listing.entries.end(),
            [&](const ListedEntry& a, const ListedEntry& b) {
              const int folded = listing.folded(a).compare(listing.folded(b));
              return folded != 0 ? folded < 0 : listing.name(a) < listing.name(b);
            });
  return true;
}

// The listing of `directory`, read now unless the run has it; nullptr when the directory
// cannot be read (which is not kept: the next search tries again). The listing stays
// valid until the next call.
Listing* find_listing(DirectorySearch& search, const std::string& directory) {
  if (search.listings == nullptr) search.listings = std::make_unique<detail::DirectoryListings>();
  detail::DirectoryListings& kept = *search.listings;
  const auto found = kept.by_directory.find(directory);
  if (found != kept.by_directory.end()) {
    kept.recent.splice(kept.recent.begin(), kept.recent, found->second.use);
    return &found->second;
  }
  Listing listing;
  if (!read_listing(directory, listing)) return nullptr;
  // Let the least recently searched listings go while the new one would exceed the budget.
  while (!kept.recent.empty() && kept.bytes + listing.bytes > search.listing_budget) {
    const auto oldest = kept.by_directory.find(*kept.recent.back());
    kept.bytes -= oldest->second.bytes;
    kept.recent.pop_back();
    kept.by_directory.erase(oldest);
  }
  const auto placed = kept.by_directory.emplace(directory, std::move(listing)).first;
  kept.recent.push_front(&placed->first);
  placed->second.use = kept.recent.begin();
  kept.bytes += placed->second.bytes;
  return &placed->second;
}

// `path` as the file system takes it: itself, or its copy in `converted` when it holds a
// backslash.
const std::string& native_form(const std::string& path, std::string& converted) {
  if (path.find('\\') == std::string::npos) return path;
  converted = native_path(path);
  return converted;
}

bool has_wildcard(std::string_view name_pattern) {
  return name_pattern.find_first_of("*?") != std::string::npos;
}

}  // namespace

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free descriptor: this one.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd && opened >= 0) close(opened);
  }
}

std::string native_path(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

bool find_files(DirectorySearch& search, const std::string& pattern,
                std::vector<DirEntry>& entries) {
  std::string converted;
  const std::string& native = native_form(pattern, converted);
  const size_t slash = native.find_last_of('/');
  if (slash == std::string::npos) return find_files_in(search, "", native, entries);
  return find_files_in(search, native.substr(0, slash + 1), native.substr(slash + 1), entries);
}

bool find_files_in(DirectorySearch& search, const std::string& native_directory,
                   const std::string& name_pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  const std::string directory = native_directory.empty() ? std::string(".") : native_directory;
  Listing* listing = find_listing(search, directory);
  if (listing == nullptr) return false;
  std::vector<ListedEntry>& listed = listing->entries;
  const auto found = [&](ListedEntry& entry) {
    const bool directory_entry = is_directory(directory, *listing, entry);
    entries.push_back(DirEntry{std::string(listing->name(entry)), directory_entry,
                               entry.kind == EntryKind::kRegular});
  };
  if (name_pattern == "*" || name_pattern == "*.*") {
    // Every name: "*.*" matches names without a dot too.
    for (ListedEntry& entry : listed) found(entry);
  } else if (has_wildcard(name_pattern)) {
    for (ListedEntry& entry : listed) {
      if (wildcard_match(name_pattern, listing->name(entry))) found(entry);
    }
  } else {
    // A name without wildcards names one file: the one spelled so, or where there is none,
    // its case variants, which stand together in directory order (so that a name typed
    // for a file system that ignores case still finds its file). A lookup, however large
    // the directory.
    const std::string folded = fold_name(name_pattern);
    const auto first = std::lower_bound(
        listed.begin(), listed.end(), std::string_view(folded),
        [&](const ListedEntry& e, std::string_view name) { return listing->folded(e) < name; });
    auto last = first;
    while (last != listed.end() && listing->folded(*last) == folded) ++last;
    const auto exact = std::find_if(
        first, last, [&](const ListedEntry& e) { return listing->name(e) == name_pattern; });
    if (exact != last) {
      found(*exact);
    } else {
      for (auto entry = first; entry != last; ++entry) found(*entry);
    }
  }
  return !entries.empty();
}

std::string child_directory(const std::string& directory, const std::string& name) {
  return directory + name + "/";
}

bool is_native_directory(const std::string& native) {
  struct stat info;
  return stat(native.empty() ? "." : native.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_native_regular_file(const std::string& native) {
  struct stat info;
  return stat(native.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool open_input_file(const std::string& path, InputStream& stream) {
  std::string converted;
  return open_native_file(native_form(path, converted), stream, false);
}

unsigned usable_processors() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
#endif
  return std::max(1u, std::thread::hardware_concurrency());
}

uint64_t open_files_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return UINT64_MAX;
  }
  return limit.rlim_cur;
}

bool open_native_input_file(const std::string& native, InputStream& stream) {
  return open_native_file(native, stream, false);
}

std::string member_file_native_path(const std::string& archive_path, const std::string& member) {
  if (!member.empty() && member[0] == '/') return member;
  const PathParts parts = split_path(archive_path);
  return native_path(parts.drive + parts.directory) + member;
}

bool open_native_file(const std::string& native, InputStream& stream, bool regular_file) {
  // Only a regular file is opened: a device (a tape drive, a watchdog, a terminal) is
  // refused by its type before any open, which may act on it; a regular file that the
  // directory search listed as one needs no second look. O_NONBLOCK and O_NOCTTY cover
  // what could be swapped in between; the opened file must then be a regular file, the one
  // that was looked at. O_NONBLOCK changes nothing for a regular file's reads. The stream
  // reads the descriptor itself, at offsets: no C stream, no seeks.
  struct stat looked;
  if (!regular_file && (stat_path(native, looked) != 0 || !S_ISREG(looked.st_mode))) {
    return false;
  }
  const int fd = open_path(native, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      (!regular_file && (info.st_dev != looked.st_dev || info.st_ino != looked.st_ino))) {
    close(fd);
    return false;
  }
  use_file(stream, fd, static_cast<uint64_t>(info.st_size));
  stream.identity_known = true;
  stream.device = static_cast<uint64_t>(info.st_dev);
  stream.inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool read_whole_file(const std::string& path, size_t limit, std::string& contents,
                     DirectoryIdentity* identity) {
  contents.clear();
  // No O_NONBLOCK: a pipe named here is read to its end, as `cat` would.
  const int fd = open(native_path(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  if (ok && identity != nullptr) {
    identity->device = static_cast<uint64_t>(info.st_dev);
    identity->inode = static_cast<uint64_t>(info.st_ino);
  }
  char buffer[64 * 1024];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    if (static_cast<size_t>(got) > limit - contents.size()) {
      ok = false;
      break;
    }
    contents.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return ok;
}

bool slash_argument_is_path(const char* argument) {
  return argument[0] == '/' && std::strchr(argument + 1, '/') != nullptr;
}

bool directory_identity(const std::string& path, DirectoryIdentity& identity) {
  return native_directory_identity(native_path(path), identity);
}

bool native_directory_identity(const std::string& native, DirectoryIdentity& identity) {
  struct stat info;
  if (stat_path(native.empty() ? std::string(".") : native, info) != 0) return false;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool descriptor_identity(int descriptor, FileIdentity& identity) {
  struct stat info;
  if (fstat(descriptor, &info) != 0) return false;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool stream_identity(std::FILE* file, FileIdentity& identity) {
  return descriptor_identity(fileno(file), identity);
}

void start_text_file(std::FILE* file) {
  std::fflush(file);
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode)) {
    // A failure shows when the report is written.
    (void)!ftruncate(fileno(file), 0);
  }
}

}  // namespace drelk
