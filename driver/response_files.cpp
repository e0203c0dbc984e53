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
constexpr size_t kMaxResponseBytes = size_t{256} << 20;

constexpr char kUtf8ByteOrderMark[] = "\xEF\xBB\xBF";

bool is_response_file_argument(const char* argument) {
  return argument[0] == '@';
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == '\0';
}

// Splits the text of a response file into arguments: blanks (line ends included) separate
// them; a double quote begins or ends a stretch in which blanks belong to the argument,
// and is itself dropped ("my dir\a.obj" is one argument, "" an empty one). A backslash is
// an ordinary character, as in the paths it separates.
void split_arguments(std::string_view text, std::vector<std::string>& words) {
  if (text.substr(0, 3) == kUtf8ByteOrderMark) text.remove_prefix(3);
  size_t i = 0;
  while (true) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i == text.size()) return;
    std::string word;
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
    words.push_back(std::move(word));
  }
}

struct Expansion {
  std::vector<std::string>& words;
  std::vector<Arguments::ResponseFile>& files;
  int files_read = 0;
  size_t bytes_read = 0;
  std::string unreadable;  // the name, as typed, of the file that ended it
};

bool expand(Expansion& expansion, std::string&& argument, int depth);

// Expands the words read from one response file, in order.
bool expand_words(Expansion& expansion, std::vector<std::string>& words, int depth) {
  for (std::string& word : words) {
    if (!expand(expansion, std::move(word), depth)) return false;
  }
  return true;
}

bool expand(Expansion& expansion, std::string&& argument, int depth) {
  if (!is_response_file_argument(argument.c_str())) {
    expansion.words.push_back(std::move(argument));
    return true;
  }
  const std::string name = argument.substr(1);
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
  std::vector<std::string> inner;
  split_arguments(text, inner);
  text = std::string();
  return expand_words(expansion, inner, depth + 1);
}

}  // namespace

bool has_response_files(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (is_response_file_argument(argv[i])) return true;
  }
  return false;
}

bool expand_response_files(Run& run, int argc, const char* const* argv, Arguments& expanded) {
  expanded.words.clear();
  expanded.argv.clear();
  expanded.response_files.clear();
  Expansion expansion{expanded.words, expanded.response_files, 0, 0, {}};
  if (argc > 0) expanded.words.emplace_back(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (!expand(expansion, std::string(argv[i]), 0)) {
      report_error(run.diagnostics, strprintf("Error: Cannot read response file \"%s\".\n\n",
                                              expansion.unreadable.c_str()));
      return false;
    }
  }
  expanded.argv.reserve(expanded.words.size() + 1);
  for (const std::string& word : expanded.words) expanded.argv.push_back(word.c_str());
  expanded.argv.push_back(nullptr);
  return true;
}

}  // namespace drelk
