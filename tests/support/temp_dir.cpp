#include "tests/support/temp_dir.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace drelk::test {

TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::filesystem::path candidate = base / ("drelk-test-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(candidate, error)) {
      path_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code error;
  // Give back permissions a test took away, so that everything can be removed.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (!it->is_symlink(error)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, error);
    }
  }
  std::filesystem::remove_all(path_, error);
}

void TempDir::write(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  const std::filesystem::path file = path_ / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void TempDir::write(const std::string& relative, const std::string& text) const {
  write(relative, std::vector<uint8_t>(text.begin(), text.end()));
}

void TempDir::make_directory(const std::string& relative) const {
  std::filesystem::create_directories(path_ / relative);
}

std::string TempDir::read(const std::string& relative) const {
  return read_file(path_ / relative);
}

bool TempDir::exists(const std::string& relative) const {
  std::error_code error;
  return std::filesystem::exists(std::filesystem::symlink_status(path_ / relative, error));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace drelk::test
