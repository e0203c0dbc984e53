// Response files: an argument "@file" stands for the arguments that the file holds, read
// as GNU and LLVM tools and the Windows linkers read theirs, so that a build system can
// name thousands of objects without meeting the limits of a command line.
#include <cstring>

#include "driver/driver.h"
#include "platform/strprintf.h"

namespace drelk {
namespace {

// A response file may name further response files, to this depth; a file that names
// itself, directly or through others, ends at this depth with the diagnostic of a file
// that cannot be read.
constexpr int kMaxResponseFileDepth = 16;
// No run reads more response files than this, nor more bytes from them: files that name
// each other several times could otherwise make the expansion grow without end.
constexpr int kMaxResponseFiles = 1000;
constexpr size_t kMaxResponseBytes = size_t{64} << 20;
// Nor does a run take more arguments from them: each argument costs the switch scan and the
// pattern list some bytes beyond its own, which a file of one-letter names must not make
// gigabytes.
constexpr size_t kMaxArguments = size_t{1} << 22;

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool is_response_file_argument(const char* argument) {
  return argument[0] == '@';
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// The command line as it is expanded: every argument followed by a NUL in one text, and
// where each begins. Some five bytes an argument beyond its own, whatever its length.
struct Expansion {
  std::string text;
  std::vector<uint32_t> starts;
  std::vector<Arguments::ResponseFile>& files;
  int files_read = 0;
  size_t bytes_read = 0;
  std::string unreadable;  // the name, as typed, of the file that ended it
  bool too_many = false;   // it ended at kMaxArguments
};

bool expand(Expansion& expansion, std::string_view argument, int depth);

// Takes the arguments of one response file's text, in order: blanks (line ends included)
// separate them; a double quote begins or ends a stretch in which blanks belong to the
// argument, and is itself dropped ("my dir\a.obj" is one argument, "" an empty one). A
// backslash is an ordinary character, as in the paths it separates.
bool expand_text(Expansion& expansion, std::string_view text, int depth) {
  if (text.substr(0, 3) == kUtf8ByteOrderMark) text.remove_prefix(3);
  std::string word;
  size_t i = 0;
  while (true) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) return true;
    word.clear();
    bool quoted = false;
    while (i < text.size() && (quoted || !is_blank(text[i]))) {
      if (text[i] == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      // The stretch up to the next quote, or blank outside quotes, goes in at once.
      size_t end = i;
      while (end < text.size() && text[end] != '"' && (quoted || !is_blank(text[end]))) ++end;
      word.append(text.substr(i, end - i));
      i = end;
    }
    if (!expand(expansion, word, depth)) return false;
  }
}

void take(Expansion& expansion, std::string_view argument) {
  expansion.starts.push_back(static_cast<uint32_t>(expansion.text.size()));
  expansion.text.append(argument);
  expansion.text.push_back('\0');
}

bool expand(Expansion& expansion, std::string_view argument, int depth) {
  if (argument.empty() || argument[0] != '@') {
    if (expansion.starts.size() >= kMaxArguments) {
      expansion.too_many = true;
      return false;
    }
    take(expansion, argument);
    return true;
  }
  const std::string name(argument.substr(1));
  std::string text;
  FileIdentity identity;
  if (depth >= kMaxResponseFileDepth || expansion.files_read >= kMaxResponseFiles ||
      !read_whole_file(name, kMaxResponseBytes - expansion.bytes_read, text, &identity)) {
    expansion.unreadable = name;
    return false;
  }
  expansion.files.push_back(Arguments::ResponseFile{name, identity});
  ++expansion.files_read;
  expansion.bytes_read += text.size();
  return expand_text(expansion, text, depth + 1);
}

}  // namespace

bool has_response_files(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (is_response_file_argument(argv[i])) return true;
  }
  return false;
}

bool expand_response_files(Run& run, int argc, const char* const* argv, Arguments& expanded) {
  expanded.text.clear();
  expanded.argv.clear();
  expanded.response_files.clear();
  Expansion expansion{{}, {}, expanded.response_files, 0, 0, {}, false};
  if (argc > 0) take(expansion, argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (expand(expansion, argv[i], 0)) continue;
    if (expansion.too_many) {
      report_error(
          run.diagnostics,
          strprintf("Error: Response files name more than %zu arguments.\n\n", kMaxArguments));
    } else {
      report_error(run.diagnostics, strprintf("Error: Cannot read response file \"%s\".\n\n",
                                              expansion.unreadable.c_str()));
    }
    return false;
  }
  expanded.text = std::move(expansion.text);
  expanded.argv.reserve(expansion.starts.size() + 1);
  for (const uint32_t start : expansion.starts)
    expanded.argv.push_back(expanded.text.data() + start);
  expanded.argv.push_back(nullptr);
  return true;
}

}  // namespace drelk
