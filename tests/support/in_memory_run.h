// Runs analyses in memory, without touching the disk: each input is read from a byte
// vector as if it were an opened file, and the diagnostics and the report are collected
// as text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/analyze.h"
#include "registry/registry.h"

namespace drelk::test {

class InMemoryRun {
 public:
  InMemoryRun();
  ~InMemoryRun();
  InMemoryRun(const InMemoryRun&) = delete;
  InMemoryRun& operator=(const InMemoryRun&) = delete;

  // Records an input under `path` (its name is the part after the last separator) and
  // analyses it; returns analyze_file's result.
  Outcome analyze(const std::vector<uint8_t>& bytes, const std::string& path);

  // The diagnostics so far, each with its "Drelk: " prefix.
  const std::string& diagnostics() const { return diagnostic_text_; }
  uint64_t error_count() const { return diagnostics_.error_count; }

  // Every registered name with its references in list order ("name size[I]@path ..."),
  // and the procedures in name order ("name@path").
  std::vector<std::string> blocks();
  std::vector<std::string> procedures();

  // The report as it would be printed now.
  std::string report(bool problems_only = false) const;

  Registry& registry() { return registry_; }
  Diagnostics& diagnostic_channel() { return diagnostics_; }

 private:
  std::string diagnostic_text_;
  Diagnostics diagnostics_;
  Registry registry_;
};

}  // namespace drelk::test
