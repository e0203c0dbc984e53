// The pipeline that the analysis fuzz target runs on every input, shared with the
// regression test that replays the committed findings: one input file analysed as a run
// analyses a file it opened, from memory, then reported in both text forms (full and -p)
// and as the JSON and SARIF documents, whose names and paths are the input's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/analyze.h"
#include "platform/diagnostics.h"
#include "platform/input_stream.h"
#include "platform/text_stream.h"
#include "registry/registry.h"
#include "report/report.h"

namespace drelk::fuzz {

struct AnalyzedInput {
  std::string errors;  // the diagnostics, as the error stream would show them
  std::string report;  // the full report, then the -p report
  std::string documents;  // the JSON document, then the SARIF log
  int error_count = 0;
};

inline AnalyzedInput analyze_input(const uint8_t* data, size_t size) {
  AnalyzedInput result;
  Registry registry;
  Diagnostics diagnostics;
  diagnostics.error_stream = memory_text_stream(result.errors);
  diagnostics.keep_records = true;
  if (ObjectEntry* entry = record_object(registry, "fuzz.obj", "fuzz.obj")) {
    InputStream stream = memory_input_stream(data, size);
    Analysis analysis(diagnostics, registry);
    // A thin archive's members name files: none is opened, whatever the input names.
    analysis.open_file = [](const std::string&, InputStream&) { return false; };
    analyze_file(analysis, stream, *entry);
    close_input_stream(stream);
  }
  TextStream output = memory_text_stream(result.report);
  report_common_blocks(registry, diagnostics.error_count, false, output);
  report_common_blocks(registry, diagnostics.error_count, true, output);
  const Findings findings = find_problems(registry, diagnostics.error_count);
  DocumentContext context;
  context.diagnostics = &diagnostics.records;
  TextStream documents = memory_text_stream(result.documents);
  render_json(findings, context, documents);
  render_sarif(findings, context, documents);
  free_lists(registry);
  result.error_count = diagnostics.error_count;
  return result;
}

}  // namespace drelk::fuzz
