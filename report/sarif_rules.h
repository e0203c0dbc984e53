// The rules of drelk's SARIF log: one a class of finding, in the order of the driver's
// "rules" array, whose index a result's ruleIndex is.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "report/findings.h"
#include "report/json_writer.h"

namespace drelk::sarif {

struct Rule {
  std::string_view id;
  std::string_view name;
  FindingClass finding_class;
  std::string_view short_description;
  std::string_view full_description;
  std::string_view help;
};

std::span<const Rule> rules();

// The index of the class's rule in rules().
size_t rule_of(FindingClass finding_class);

// SARIF's level of a class, and code scanning's problem.severity.
std::string_view level_of(FindingClass finding_class);
std::string_view problem_severity(FindingClass finding_class);

// The driver's "rules" array, every rule with its texts and default level.
void write_rules(JsonWriter& out);

}  // namespace drelk::sarif
