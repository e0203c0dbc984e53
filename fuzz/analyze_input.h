// The pipeline that the analysis fuzz target runs on every input, shared with the
// regression test that replays the committed findings: one input file analysed as a run
// analyses a file it opened, from memory, then reported in both text forms (full and -p)
// and as the JSON and SARIF documents, whose names and paths are the input's bytes. An
// input that names a debug section is analysed once more as under -m (layouts read from
// its debug information and compared), and reported again in every form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "driver/analyze.h"
#include "platform/diagnostics.h"
#include "platform/input_stream.h"
#include "platform/text_stream.h"
#include "registry/registry.h"
#include "report/report.h"

namespace drelk::fuzz {

struct AnalyzedInput {
  std::string errors;     // the diagnostics, as the error stream would show them
  std::string report;     // the full report, then the -p report
  std::string documents;  // the JSON document, then the SARIF log
  uint64_t error_count = 0;
  // Under -m, for an input that names a debug section: diagnostics, the reports, the
  // documents.
  std::string layouts;
};

inline void analyze_once(const uint8_t* data, size_t size, bool layouts, AnalyzedInput& result,
                         std::string& errors, std::string& report, std::string& documents) {
  Registry registry;
  Diagnostics diagnostics;
  diagnostics.error_stream = memory_text_stream(errors);
  diagnostics.keep_records = true;
  if (ObjectEntry* entry = record_object(registry, "fuzz.obj", "fuzz.obj")) {
    InputStream stream = memory_input_stream(data, size);
    Analysis analysis(diagnostics, registry);
    analysis.reader.read_layouts = layouts;
    // A thin archive's members name files: none is opened, whatever the input names.
    analysis.open_file = [](const std::string&, InputStream&) { return false; };
    analyze_file(analysis, stream, *entry);
    close_input_stream(stream);
  }
  const Findings findings = find_problems(registry, diagnostics.error_count, layouts);
  TextStream output = memory_text_stream(report);
  render_text(findings, false, output);
  render_text(findings, true, output);
  DocumentContext context;
  context.diagnostics = &diagnostics.records;
  TextStream document_stream = memory_text_stream(documents);
  render_json(findings, context, document_stream);
  render_sarif(findings, context, document_stream);
  free_lists(registry);
  if (!layouts) result.error_count = diagnostics.error_count;
}

inline AnalyzedInput analyze_input(const uint8_t* data, size_t size) {
  AnalyzedInput result;
  analyze_once(data, size, false, result, result.errors, result.report, result.documents);
  // Debug sections are found by name (".debug_info", "__debug_info"): without those bytes
  // the second pass would read nothing more.
  constexpr std::string_view kDebugInfo = "debug_info";
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.find(kDebugInfo) != std::string_view::npos) {
    analyze_once(data, size, true, result, result.layouts, result.layouts, result.layouts);
  }
  return result;
}

}  // namespace drelk::fuzz
