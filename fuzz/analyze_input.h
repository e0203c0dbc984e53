// The pipeline that the analysis fuzz target runs on every input, shared with the
// regression test that replays the committed findings: one input file analysed as a run
// analyses a file it opened, from memory, then reported in both forms (full and -p).
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
  int error_count = 0;
};

inline AnalyzedInput analyze_input(const uint8_t* data, size_t size) {
  AnalyzedInput result;
  Registry registry;
  Diagnostics diagnostics;
  diagnostics.error_stream = memory_text_stream(result.errors);
  if (ObjectEntry* entry = record_object(registry, "fuzz.obj", "fuzz.obj")) {
    InputStream stream = memory_input_stream(data, size);
    Analysis analysis(diagnostics, registry);
    analyze_file(analysis, stream, *entry);
    close_input_stream(stream);
  }
  TextStream output = memory_text_stream(result.report);
  report_common_blocks(registry, diagnostics.error_count, false, output);
  report_common_blocks(registry, diagnostics.error_count, true, output);
  free_lists(registry);
  result.error_count = diagnostics.error_count;
  return result;
}

}  // namespace drelk::fuzz
