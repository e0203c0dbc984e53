// Win32 directory search and file opening. The search is the system's own: its wildcard
// matching and its order are used as FindFirstFileA and FindNextFileA return them, and
// only FILE_ATTRIBUTE_DIRECTORY is consulted of each entry's attributes.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <thread>

#include "platform/file_system.h"

namespace drelk {
namespace detail {

// The system's search keeps nothing for the run.
struct DirectoryListings {};

}  // namespace detail

DirectorySearch::DirectorySearch() = default;
DirectorySearch::~DirectorySearch() = default;

void reserve_standard_descriptors() {}

unsigned usable_processors() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    unsigned count = 0;
    for (; process != 0; process &= process - 1) ++count;
    return count;
  }
  const unsigned count = std::thread::hardware_concurrency();
  return count > 0 ? count : 1;
}

// Files are opened as handles, which the system does not count against a limit of the
// process's own.
uint64_t open_files_limit() {
  return UINT64_MAX;
}

bool is_lead_byte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != 0;
}

// Windows takes '\' and '/' alike, and the path is kept as composed.
std::string native_path(const std::string& path) {
  return path;
}

bool find_files(DirectorySearch&, const std::string& pattern, std::vector<DirEntry>& entries) {
  entries.clear();
  WIN32_FIND_DATAA data;
  const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    entries.push_back(
        DirEntry{data.cFileName, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

bool find_files_in(DirectorySearch& search, const std::string& directory,
                   const std::string& name_pattern, std::vector<DirEntry>& entries) {
  return find_files(search, directory + name_pattern, entries);
}

std::string child_directory(const std::string& directory, const std::string& name) {
  return directory + name + "\\";
}

bool is_native_directory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.empty() ? "." : path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool is_native_regular_file(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool open_input_file(const std::string& path, InputStream& stream) {
  return open_native_file(path, stream, false);
}

bool open_native_input_file(const std::string& native, InputStream& stream) {
  return open_native_file(native, stream, false);
}

std::string member_file_native_path(const std::string& archive_path, const std::string& member) {
  return member_file_path(archive_path, member);
}

bool open_native_file(const std::string& path, InputStream& stream, bool) {
  // The handle is opened for reading without sharing restrictions a build might trip
  // over, and checked before any byte is read: a directory, a console, a pipe or a
  // device named like an object is refused, as the POSIX layer refuses anything that is
  // not a regular file.
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  LARGE_INTEGER size;
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(handle, &size)) {
    CloseHandle(handle);
    return false;
  }
  // From here on the C runtime's descriptor, and the stream, own the handle.
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(handle);
    return false;
  }
  use_file(stream, descriptor, static_cast<uint64_t>(size.QuadPart));
  stream.identity_known = true;
  stream.device = info.dwVolumeSerialNumber;
  stream.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

bool read_whole_file(const std::string& path, size_t limit, std::string& contents,
                     DirectoryIdentity* identity) {
  contents.clear();
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  if (identity != nullptr && !stream_identity(file, *identity)) *identity = DirectoryIdentity{};
  char buffer[64 * 1024];
  bool ok = true;
  while (ok) {
    const size_t got = std::fread(buffer, 1, sizeof buffer, file);
    if (got > limit - contents.size()) {
      ok = false;
    } else {
      contents.append(buffer, got);
    }
    if (got < sizeof buffer) break;
  }
  ok = ok && !std::ferror(file);
  std::fclose(file);
  return ok;
}

// Every argument that begins with '/' is a switch, as the Windows tools read them.
bool slash_argument_is_path(const char*) {
  return false;
}

bool directory_identity(const std::string& path, DirectoryIdentity& identity) {
  return native_directory_identity(path, identity);
}

bool native_directory_identity(const std::string& path, DirectoryIdentity& identity) {
  // FILE_FLAG_BACKUP_SEMANTICS lets CreateFileA open a directory; without
  // FILE_FLAG_OPEN_REPARSE_POINT a junction or link opens the directory it leads to, so
  // that a link back into the search has the identity of its target.
  const std::string native = path.empty() ? "." : path;
  const HANDLE directory =
      CreateFileA(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(directory, &info) != 0;
  CloseHandle(directory);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

bool descriptor_identity(int descriptor, FileIdentity& identity) {
  const intptr_t handle = _get_osfhandle(descriptor);
  if (handle == -1) return false;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle), &info)) {
    return false;
  }
  identity.device = info.dwVolumeSerialNumber;
  identity.inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

bool stream_identity(std::FILE* file, FileIdentity& identity) {
  return descriptor_identity(_fileno(file), identity);
}

void start_text_file(std::FILE* file) {
  std::fflush(file);
  // A console or a pipe has no size to set; a failure shows when the report is written.
  if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) == FILE_TYPE_DISK) {
    (void)_chsize_s(_fileno(file), 0);
  }
}

}  // namespace drelk
