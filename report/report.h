// The renderers of the findings: the analysis report as text, and the documents for
// programs (JSON, and SARIF for code scanning).
#pragma once

#include <string_view>
#include <vector>

#include "platform/diagnostics.h"
#include "platform/text_stream.h"
#include "registry/registry.h"
#include "report/findings.h"

namespace drelk {

struct Adoption;

// Prints the findings as the text report on `output`; `problems_only` prints only the
// COMMON block errors. `quiet` (-q) leaves out the note that processing was incomplete: the
// exit status says it. With a baseline or suppressions (`adoption`), each finding says its
// state; suppressed findings are left out unless `show_suppressed`.
void render_text(const Findings& findings, bool problems_only, TextStream& output,
                 bool quiet = false, const Adoption* adoption = nullptr,
                 bool show_suppressed = false);

// Finds and prints in one call. `error_count` is the number of diagnostics reported
// during the analysis.
void report_common_blocks(const Registry& registry, uint64_t error_count, bool problems_only,
                          TextStream& output);

// What the documents for programs tell beside the findings.
struct DocumentContext {
  std::string_view tool_name;     // the program's name, "drelk"
  std::string_view tool_title;    // its title and version, as the banner shows them
  std::string_view tool_version;  // its version alone
  // The diagnostics of the run, kept as records (Diagnostics::keep_records).
  const std::vector<DiagnosticRecord>* diagnostics = nullptr;
  bool problems_only = false;               // -p: only the blocks with COMMON block errors
  int exit_status = 0;                      // as the caller of the run sees it
  std::vector<std::string_view> arguments;  // the command line after the program name
  // The baseline states and suppressions of the findings, or null.
  const Adoption* adoption = nullptr;
};

// The findings as one JSON document (the schema in docs/drelk-report.schema.json).
void render_json(const Findings& findings, const DocumentContext& context, TextStream& output);

// The findings as one SARIF 2.1.0 log for code scanning.
void render_sarif(const Findings& findings, const DocumentContext& context, TextStream& output);

// The findings as one self-contained HTML page for a person to browse.
void render_html(const Findings& findings, const DocumentContext& context, TextStream& output);

}  // namespace drelk
