// Text output streams: standard output, standard error, the -e and -o files, or a
// string in memory (tests and the fuzz target run whole analyses without touching the disk).
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace drelk {

struct TextStream {
  std::FILE* file = nullptr;      // a C stream opened in text mode, or
  std::string* memory = nullptr;  // text collected in memory
};

inline TextStream file_text_stream(std::FILE* file) {
  return TextStream{file, nullptr};
}
inline TextStream memory_text_stream(std::string& text) {
  return TextStream{nullptr, &text};
}

// Writes the bytes as they are; on a text-mode stream the runtime writes each line feed
// as the platform's line end. A failed write is not reported: the report has no failure
// path of its own.
void write_text(TextStream& stream, std::string_view text);

// Opens `path` for writing in text mode, truncating it. Returns nullptr on failure.
std::FILE* open_text_file_for_writing(const std::string& path);

// Opens `path` for writing in text mode, creating it but leaving what it holds: the -e and
// -o files are opened where the command line is read, yet one that is also an input of the
// run must come out of it as it was. Returns nullptr on failure.
std::FILE* open_text_file_unwritten(const std::string& path);

// Empties a file that open_text_file_unwritten opened, when the run begins to write it;
// what is written then starts at its beginning. A file that is no regular file (a
// terminal, a pipe, a device) is written as it is.
void start_text_file(std::FILE* file);

}  // namespace drelk
