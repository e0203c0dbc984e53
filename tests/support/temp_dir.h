// A fresh directory for one test, removed with everything in it when the test ends.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace drelk::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

  // Writes a file below the directory, making its parent directories.
  void write(const std::string& relative, const std::vector<uint8_t>& bytes) const;
  void write(const std::string& relative, const std::string& text) const;
  void make_directory(const std::string& relative) const;
  std::string read(const std::string& relative) const;
  bool exists(const std::string& relative) const;

 private:
  std::filesystem::path path_;
};

// The whole content of a file, as bytes read in binary mode.
std::string read_file(const std::filesystem::path& path);

}  // namespace drelk::test
