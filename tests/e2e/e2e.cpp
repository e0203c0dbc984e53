#include "tests/e2e/e2e.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "tests/support/coff_builder.h"

namespace drelk::test {

std::string drelk_binary() {
  const char* override_path = std::getenv("DRELK_UNDER_TEST");
  return override_path != nullptr ? override_path : DRELK_BINARY;
}

std::string source_directory() {
  return DRELK_SOURCE_DIR;
}

std::string golden(const std::string& name) {
  return read_file(std::filesystem::path(source_directory()) / "tests" / "golden" / name);
}

std::vector<uint8_t> object_declaring(const std::string& block, uint32_t size) {
  return CoffObject().section(".text", 4).common(block, size).bytes();
}

std::string summary_line(size_t blocks, size_t objects, size_t errors, size_t warnings,
                         size_t notes) {
  const auto counted = [](size_t n, const char* one, const char* many) {
    std::string digits = std::to_string(n);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits + " " + (n == 1 ? one : many);
  };
  return "Summary: " + counted(blocks, "block", "blocks") + " in " +
         counted(objects, "object", "objects") + "; " + counted(errors, "error", "errors") + ", " +
         counted(warnings, "warning", "warnings") + ", " + counted(notes, "note", "notes") + "\n";
}

std::string report_of(const std::string& block, uint32_t size,
                      const std::vector<std::string>& paths) {
  std::string text =
      "Common Block Analysis\n\n"
      "Common   Block   Initialized   Object File\n"
      "         Size \n\n"
      " " +
      block + "\n";
  for (const std::string& path : paths) {
    const std::string number = std::to_string(size);
    text += std::string(13 - number.size(), ' ') + number + std::string(18, ' ') + path + "\n";
  }
  return text + "\n" + summary_line(1, paths.size(), 0, 0, 0) +
         "End of Analysis:  No problems encountered.\n";
}

std::multiset<ReportEntry> report_entries(const std::string& report) {
  std::multiset<ReportEntry> entries;
  std::istringstream lines(report);
  std::string line, block;
  while (std::getline(lines, line)) {
    if (line.size() > 1 && line[0] == ' ' && line[1] != ' ') {
      block = line.substr(1);
    } else if (line.size() > 31 && line.compare(13, 3, "   ") == 0 && !block.empty()) {
      entries.emplace(block, std::stoull(line.substr(0, 13)), line[16], line.substr(31));
    } else if (line.empty() || line.rfind("Drelk Error", 0) == 0) {
      continue;
    } else {
      block.clear();
    }
  }
  return entries;
}

std::string find_tool(const std::string& tool) {
  namespace fs = std::filesystem;
  const char* path = std::getenv("PATH");
  std::istringstream directories(path != nullptr ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    const fs::path candidate = fs::path(directory) / tool;
    if (fs::exists(candidate)) return candidate.string();
  }
  return {};
}

void copy_test_data(const std::string& name, const TempDir& dir) {
  namespace fs = std::filesystem;
  const fs::path data = fs::path(source_directory()) / "tests" / "data" / name;
  for (const auto& entry : fs::recursive_directory_iterator(data)) {
    const fs::path relative = fs::relative(entry.path(), data);
    if (!entry.is_regular_file() || *relative.begin() == "src") continue;
    const std::string bytes = read_file(entry.path());
    dir.write(relative.generic_string(), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
}

std::string from_text_mode(const std::string& text, const std::string& what) {
#if defined(_WIN32)
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
      ADD_FAILURE() << what << ": line feed without a carriage return at offset " << i;
    }
    lines += text[i];
  }
  return lines;
#else
  static_cast<void>(what);
  return text;
#endif
}

std::string RunDirectory::read(const std::string& relative) const {
  return from_text_mode(TempDir::read(relative), relative);
}

ProgramResult DrelkRun::drelk(const std::vector<std::string>& arguments) const {
  return drelk_as("drelk", arguments);
}

ProgramResult DrelkRun::drelk_as(const std::string& argv0,
                                 const std::vector<std::string>& arguments) const {
  ProgramResult result = run_program(drelk_binary(), arguments, dir.str(), &argv0);
  result.standard_output = from_text_mode(result.standard_output, "standard output");
  result.standard_error = from_text_mode(result.standard_error, "standard error");
  return result;
}

ProgramResult DrelkRun::drelk_at_every_job_count(const std::vector<std::string>& arguments) const {
  const auto run_with = [&](const std::string& jobs) {
    std::vector<std::string> with_jobs = {jobs};
    with_jobs.insert(with_jobs.end(), arguments.begin(), arguments.end());
    ProgramResult result = drelk(with_jobs);
    // SARIF and HTML show the command line; the count is the one difference allowed.
    for (std::string* text : {&result.standard_output, &result.standard_error}) {
      for (size_t at = 0; (at = text->find("\"" + jobs + "\"", at)) != std::string::npos;) {
        text->replace(at + 1, jobs.size(), "-jN");
        at += 5;
      }
    }
    return result;
  };
  // Outputs of megabytes: the first line that differs says enough (a full diff of them
  // would take gigabytes).
  const auto expect_same = [](const std::string& expected, const std::string& got,
                              const std::string& what) {
    if (got == expected) return;
    const auto differ = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end());
    const size_t at = static_cast<size_t>(differ.first - expected.begin());
    const size_t line = expected.rfind('\n', at == 0 ? 0 : at - 1);
    const size_t start = line == std::string::npos || at == 0 ? 0 : line + 1;
    const auto line_at = [start](const std::string& text) {
      return start >= text.size() ? std::string("(the end)")
                                  : text.substr(start, text.find('\n', start) - start);
    };
    ADD_FAILURE() << what << " differs from -j1's at byte " << at << ": -j1 \"" << line_at(expected)
                  << "\", here \"" << line_at(got) << "\"";
  };
  const ProgramResult one = run_with("-j1");
  for (const std::string jobs : {"-j2", "-j8"}) {
    const ProgramResult other = run_with(jobs);
    expect_same(one.standard_output, other.standard_output, jobs + ": standard output");
    expect_same(one.standard_error, other.standard_error, jobs + ": standard error");
    EXPECT_EQ(other.exit_status, one.exit_status) << jobs;
  }
  return one;
}

}  // namespace drelk::test
