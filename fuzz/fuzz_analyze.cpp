// libFuzzer target over the whole analysis of one input file, exactly as a run analyses a
// file it opened: classification, archive walks, object headers and tables, section layout
// checks, symbol scan, registry, and the report in both of its text forms (full and -p)
// and as the JSON and SARIF documents, all from memory: no file is opened in the loop.
#include <cstddef>
#include <cstdint>

#include "fuzz/analyze_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  drelk::fuzz::analyze_input(data, size);
  return 0;
}
