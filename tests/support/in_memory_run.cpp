#include "tests/support/in_memory_run.h"

#include "platform/input_stream.h"
#include "report/report.h"

namespace drelk::test {

InMemoryRun::InMemoryRun() {
  diagnostics_.error_stream = memory_text_stream(diagnostic_text_);
}

InMemoryRun::~InMemoryRun() {
  free_lists(registry_);
}

Outcome InMemoryRun::analyze(const std::vector<uint8_t>& bytes, const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  const std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  ObjectEntry* entry = record_object(registry_, path, name);
  InputStream stream = memory_input_stream(bytes.data(), bytes.size());
  Analysis analysis(diagnostics_, registry_);
  return analyze_file(analysis, stream, *entry);
}

std::vector<std::string> InMemoryRun::blocks() {
  std::vector<std::string> lines;
  for (const CommonBlock* block : sorted_blocks(registry_)) {
    std::string line(block->name);
    for (const BlockReference* r : block_references(*block)) {
      line += " " + std::to_string(r->size) + (r->initialized ? "I" : "") + "@" + r->object->path;
    }
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> InMemoryRun::procedures() {
  std::vector<std::string> names;
  for (const ProcedureEntry& p : sorted_procedures(registry_)) {
    names.emplace_back(std::string(p.name) + "@" + p.definer->path);
  }
  return names;
}

std::string InMemoryRun::report(bool problems_only) const {
  std::string text;
  TextStream out = memory_text_stream(text);
  report_common_blocks(registry_, diagnostics_.error_count, problems_only, out);
  return text;
}

}  // namespace drelk::test
