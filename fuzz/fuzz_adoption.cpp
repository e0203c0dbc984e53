// libFuzzer target of what a team keeps beside its build: bytes read as a baseline (a drelk
// JSON report) and as a suppressions file, and a baseline's findings compared with
// themselves. The readers must refuse what is not theirs with a diagnostic, never crash,
// hang or allocate without bound.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "report/baseline.h"
#include "report/suppressions.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  drelk::Baseline baseline;
  std::string why;
  if (drelk::read_baseline(text, baseline, why)) {
    // Every finding of the baseline is compared with it, as a run's findings are.
    const std::vector<drelk::FindingPrint> findings = baseline.findings;
    for (const drelk::FindingPrint& print : findings) drelk::match_baseline(baseline, print);
  }
  static const std::vector<std::string_view> kinds = {"size-mismatch", "procedure-clash", "extent"};
  std::vector<drelk::Suppression> entries;
  drelk::SuppressionError error;
  if (drelk::parse_suppressions(text, kinds, entries, error)) {
    for (drelk::Suppression& entry : entries) {
      drelk::name_pattern_match(entry.pattern, text.substr(0, 256));
    }
  }
  return 0;
}
