#include "platform/text_stream.h"

#include "platform/file_system.h"

namespace drelk {

void write_text(TextStream& stream, std::string_view text) {
  if (stream.memory != nullptr) {
    stream.memory->append(text);
  } else if (stream.file != nullptr && !text.empty()) {
    std::fwrite(text.data(), 1, text.size(), stream.file);
  }
}

std::FILE* open_text_file_for_writing(const std::string& path) {
  return std::fopen(native_path(path).c_str(), "w");
}

// Append mode: every write goes to the end of the file, which start_text_file makes its
// beginning.
std::FILE* open_text_file_unwritten(const std::string& path) {
  return std::fopen(native_path(path).c_str(), "a");
}

}  // namespace drelk
