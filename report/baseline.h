// Baselines: the findings of an earlier run, read back from its JSON report, so that a team
// adopting drelk on a code base with a backlog fails its builds only on what is new.
//
// A finding is identified across runs by what stays when the tree is rebuilt elsewhere: its
// block and its kind. What may change under that identity (its class, the sizes declared,
// the files that declare it, where its layouts part) makes it `updated`; declarers are
// compared by their file names and archive members, never by object numbers or folders.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace drelk {

enum class BaselineState : uint8_t { kNew, kUnchanged, kUpdated, kAbsent };

// "new", "unchanged", "updated", "absent": as JSON and the text report name the states;
// SARIF's baselineState has the same names.
std::string_view baseline_state_name(BaselineState state);

// What a baseline compares of one finding.
struct FindingPrint {
  std::string kind;                  // "size-mismatch", "procedure-clash", ...
  std::string block;                 // the block's name as the symbols spell it
  std::string finding_class;         // its class, where the document carries one
  std::vector<uint64_t> sizes;       // the sizes declared, each once, sorted
  std::vector<std::string> files;    // the declarers' (or definers') file names, each once
  std::string layouts;               // where the layouts part, as the report says it, or empty
  std::vector<uint64_t> alignments;  // of an alignment finding's objects, each once, sorted
};

// Sorts the sizes and files and keeps each once, so that prints compare whatever the order
// of the objects.
void normalise(FindingPrint& print);

// The file name that identifies a declarer: the last component of its path, with the
// archive member where there is one ("lib/physics.lib (setup.obj)" is
// "physics.lib (setup.obj)").
std::string declarer_name(std::string_view path);

struct Baseline {
  std::string name;                    // the file, as the user named it
  std::vector<FindingPrint> findings;  // in the document's order
  std::vector<bool> matched;           // findings[i] has a finding in this run
  // The findings by kind and block ("kind\0block"), for a look-up that no set of names makes
  // slow.
  std::multimap<std::string, size_t> index;
  std::string guid;  // a GUID derived from the document's bytes
};

// Reads a baseline from the text of a drelk JSON report of any version that carries
// findings. Returns false with `why` (a phrase: "is not a drelk JSON report", ...) where it
// is not one.
bool read_baseline(std::string_view text, Baseline& baseline, std::string& why);

struct BaselineMatch {
  BaselineState state = BaselineState::kNew;
  std::string change;  // for `updated`: what changed, e.g. "sizes 804, 964 (were 804, 900)"
};

// The state of a finding of this run against the baseline; marks the baseline's finding as
// matched.
BaselineMatch match_baseline(Baseline& baseline, const FindingPrint& print);

}  // namespace drelk
