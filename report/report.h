// The analysis report: every COMMON block with its declarations, the blocks declared
// with different sizes or named like a procedure, and a closing verdict.
#pragma once

#include "platform/text_stream.h"
#include "registry/registry.h"

namespace drelk {

// Prints the report on `output`. `error_count` is the number of diagnostics reported
// during the analysis; `problems_only` prints only the COMMON block errors.
void report_common_blocks(const Registry& registry, int error_count, bool problems_only,
                          TextStream& output);

}  // namespace drelk
