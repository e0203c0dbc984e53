// libFuzzer target over the command line and input expansion: the input is a list of
// arguments separated by NUL bytes, run in-process by run_drelk inside a small damaged
// tree that the target lays out once in a temporary directory: objects and a library,
// upper- and lower-case names, a name with a blank, a symbolic-link cycle, a dangling
// link, a FIFO and a directory named like objects.
//
// The search and the -e / -o files must stay inside that tree, so inputs with an argument
// that names a parent directory ("..") or an absolute path are rejected: a pattern that
// starts with '\' (the root, as on Windows), or an -e / -o name that starts with '/' or '\'.
// A pattern cannot start with '/': that is a switch.
// A run that opened -e or -o files may have created or truncated files of the tree, so
// the tree is laid out afresh after it, and every input starts from the same tree. Each
// input runs with one job and with two, which must give the same bytes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "driver/driver.h"
#include "tests/support/archive_builder.h"
#include "tests/support/coff_builder.h"

namespace {

namespace fs = std::filesystem;
using drelk::test::Archive;
using drelk::test::CoffObject;

constexpr size_t kMaxArguments = 32;
constexpr size_t kMaxArgumentLength = 512;

fs::path g_tree;
int g_start_directory = -1;

void write_file(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void write_text(const fs::path& path, const std::string& text) {
  write_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

void lay_out_tree() {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(g_tree, error)) {
    fs::remove_all(entry.path(), error);
  }
  write_file(g_tree / "a.obj", CoffObject().section(".text", 4).common("_area_", 400).bytes());
  write_file(g_tree / "B.OBJ", CoffObject()
                                   .section(".text", 4)
                                   .section(".data", 8)
                                   .common("_area_", 800)
                                   .function("_area_", 1)
                                   .data("_blk_", 2)
                                   .bytes());
  write_file(g_tree / "with blank.obj", CoffObject().common("_blk_", 16).bytes());
  write_file(g_tree / "exe.obj", {'M', 'Z', 0x90, 0, 3, 0});
  write_file(g_tree / "empty.obj", {});
  write_file(g_tree / "lib" / "part.lib",
             Archive()
                 .member("one.obj", CoffObject().common("_area_", 400).bytes())
                 .member("a-long-member-name.obj",
                         CoffObject().section(".text", 4).function("_sub_", 1).bytes())
                 .symbol("_sub_", 1)
                 .bytes());
  write_file(g_tree / "sub" / "deep" / "c.obj", CoffObject().common("_blk_", 32).bytes());
  write_text(g_tree / "args.rsp", "-p \"with blank.obj\"\r\n@sub\\deep\\more.rsp\n");
  write_text(g_tree / "sub" / "deep" / "more.rsp", "a\tsub/deep/* -s");
  write_text(g_tree / "loop.rsp", "a.obj @loop.rsp");
  fs::create_directory_symlink("..", g_tree / "sub" / "up", error);
  fs::create_symlink("missing.obj", g_tree / "dangling.obj", error);
  fs::create_directory(g_tree / "dir.obj", error);
  mkfifo((g_tree / "fifo.obj").c_str(), 0600);
}

void remove_tree() {
  std::error_code error;
  if (!g_tree.empty()) fs::remove_all(g_tree, error);
}

bool leaves_the_tree(std::string_view argument) {
  if (argument.find("..") != std::string_view::npos) return true;
  if (!argument.empty() && argument[0] == '@') {
    return argument.size() < 5 || argument.substr(argument.size() - 4) != ".rsp" ||
           argument[1] == '/' || argument[1] == '\\';
  }
  if (!argument.empty() && argument[0] == '/' && argument.find('/', 1) != std::string_view::npos) {
    return true;
  }
  const bool is_switch = !argument.empty() && (argument[0] == '-' || argument[0] == '/');
  // Any switch may be taken for the -e or -o switch whose file name follows its letter,
  // and a long option for --output or --error-file, whose file name follows the '='. (A
  // name given as the next argument is an argument of its own, checked as such.)
  const size_t equals = argument.find('=');
  const std::string_view path = argument.substr(0, 2) == "--" && equals != std::string_view::npos
                                    ? argument.substr(equals + 1)
                                : is_switch ? argument.substr(std::min<size_t>(2, argument.size()))
                                            : argument;
  return !path.empty() && (path[0] == '/' || path[0] == '\\');
}

struct RunOutput {
  std::string standard_output;
  std::string report;
  std::string errors;
  int status = 0;
};

// One run of the command line in the tree, with `jobs` before its arguments.
RunOutput run_with_jobs(const std::vector<std::string>& arguments, const char* jobs) {
  std::vector<const char*> argv{arguments[0].c_str(), jobs};
  for (size_t i = 1; i < arguments.size(); ++i) argv.push_back(arguments[i].c_str());
  argv.push_back(nullptr);

  RunOutput output;
  drelk::Run run;
  run.standard_output = drelk::memory_text_stream(output.standard_output);
  run.output_stream = drelk::memory_text_stream(output.report);
  run.diagnostics.error_stream = drelk::memory_text_stream(output.errors);
  if (chdir(g_tree.c_str()) != 0) std::abort();
  output.status = drelk::run_drelk(run, static_cast<int>(argv.size() - 1), argv.data());

  // The -e and -o files stay open at the end of a run, as main leaves them to the exit of
  // the process; here the process goes on, so they are closed as exit would close them.
  if (run.diagnostics.error_stream.file != nullptr) std::fclose(run.diagnostics.error_stream.file);
  if (run.output_stream.file != nullptr) std::fclose(run.output_stream.file);
  // Every run starts from the same tree: a file that one run wrote (its -e or -o file, a
  // baseline) would be an input of the next, and the runs of one command line would differ.
  lay_out_tree();
  return output;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string pattern = (fs::temp_directory_path() / "drelk-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  g_tree = pattern;
  lay_out_tree();
  // The run goes in the tree; libFuzzer's own paths (corpus, artifacts) stay relative to
  // where it was started.
  g_start_directory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g_start_directory < 0) std::abort();
  std::atexit(remove_tree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> arguments{"drelk"};
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  size_t start = 0;
  while (start <= text.size() && arguments.size() <= kMaxArguments) {
    size_t end = text.find('\0', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view argument = text.substr(start, end - start);
    if (argument.size() > kMaxArgumentLength || leaves_the_tree(argument)) return -1;
    arguments.emplace_back(argument);
    start = end + 1;
  }
  // Each command line runs with one job and with two, which must give the same bytes on
  // every stream and the same exit status (a -j of the input's own comes later and wins).
  const RunOutput one = run_with_jobs(arguments, "-j1");
  RunOutput two = run_with_jobs(arguments, "-j2");
  // A SARIF log records the command line as given, the -j switch the target added with it.
  for (std::string* text : {&two.standard_output, &two.report}) {
    const std::string_view added = "\"arguments\": [\"-j2\"";
    const size_t at = text->find(added);
    if (at != std::string::npos) text->replace(at, added.size(), "\"arguments\": [\"-j1\"");
  }
  if (one.standard_output != two.standard_output || one.report != two.report ||
      one.errors != two.errors || one.status != two.status) {
    std::fprintf(stderr, "-j1 and -j2 differ:\n-j1 (%d):\n%s%s\n-j2 (%d):\n%s%s\n", one.status,
                 one.report.c_str(), one.errors.c_str(), two.status, two.report.c_str(),
                 two.errors.c_str());
    std::abort();
  }
  if (fchdir(g_start_directory) != 0) std::abort();
  return 0;
}
