// POSIX directory search and file opening. The directory search sorts its entries by
// name as NTFS orders them, so that readdir's order never shows in the output.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "platform/file_system.h"

namespace drelk {
namespace {

bool entry_is_directory(const std::string& directory, const dirent& entry) {
#if defined(DT_DIR)
  if (entry.d_type == DT_DIR) return true;
  if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) return false;
#endif
  // A link counts as what it points at, as the Windows search reports a link to a
  // directory as a directory; a dangling link is not one.
  struct stat info;
  const std::string path = directory + "/" + entry.d_name;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void reserve_standard_descriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // open returns the lowest free descriptor: this one.
    const int opened = open("/dev/null", O_RDWR);
    if (opened != fd && opened >= 0) close(opened);
  }
}

bool is_lead_byte(unsigned char) {
  return false;
}

std::string native_path(const std::string& path) {
  std::string native = path;
  std::replace(native.begin(), native.end(), '\\', '/');
  return native;
}

bool find_files(const std::string& pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  const std::string native = native_path(pattern);
  const size_t slash = native.find_last_of('/');
  const std::string directory = slash == std::string::npos ? "." : native.substr(0, slash + 1);
  const std::string name_pattern = slash == std::string::npos ? native : native.substr(slash + 1);
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (!wildcard_match(name_pattern, name)) continue;
    entries.push_back(DirEntry{name, entry_is_directory(directory, *entry)});
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
    return directory_order_less(a.name, b.name);
  });
  return !entries.empty();
}

bool open_input_file(const std::string& path, InputStream& stream) {
  // Only a regular file is opened: a device (a tape drive, a watchdog, a terminal) is
  // refused by its type before any open, which may act on it. O_NONBLOCK and O_NOCTTY
  // cover what could be swapped in between; the opened file must then be the regular file
  // that was looked at. O_NONBLOCK changes nothing for a regular file's reads.
  const std::string native = native_path(path);
  struct stat looked;
  if (stat(native.c_str(), &looked) != 0 || !S_ISREG(looked.st_mode)) return false;
  const int fd = open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_dev != looked.st_dev ||
      info.st_ino != looked.st_ino) {
    close(fd);
    return false;
  }
  std::FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return false;
  }
  // The stream keeps a read cache of its own: a stdio buffer would only copy twice.
  std::setvbuf(file, nullptr, _IONBF, 0);
  stream = file_input_stream(file, static_cast<uint64_t>(info.st_size));
  stream.file_position = 0;  // just opened
  return true;
}

bool directory_identity(const std::string& path, DirectoryIdentity& identity) {
  struct stat info;
  const std::string native = path.empty() ? "." : native_path(path);
  if (stat(native.c_str(), &info) != 0) return false;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

}  // namespace drelk
