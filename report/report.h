// The analysis report as text: every COMMON block with its declarations, the blocks
// declared with different sizes or named like a procedure, and a closing verdict.
#pragma once

#include "platform/text_stream.h"
#include "registry/registry.h"
#include "report/findings.h"

namespace drelk {

// Prints the findings as the text report on `output`; `problems_only` prints only the
// COMMON block errors.
void render_text(const Findings& findings, bool problems_only, TextStream& output);

// Finds and prints in one call. `error_count` is the number of diagnostics reported
// during the analysis.
void report_common_blocks(const Registry& registry, int error_count, bool problems_only,
                          TextStream& output);

}  // namespace drelk
