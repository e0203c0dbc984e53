// Parallel reading (-j): the files that the input expansion finds are opened and read by
// worker threads ahead of their turn, and what each gave (its entries, its declarations, its
// diagnostics) is taken into the run in the order of the single-threaded run, so that every
// output is the same byte for byte whatever the count of jobs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace drelk {

struct Run;

// One input file the expansion found.
struct FoundInput {
  std::string path;           // as the report shows it
  std::string name;           // as the search found it
  std::string native;         // as the file system takes it
  bool regular_file = false;  // the search found it to be a regular file
  // Found by the search of a directory input: read only when its first bytes make it an
  // object or a library, and then counted among the directory's files.
  bool in_directory = false;
};

struct ReadAhead;
struct ReadAheadDelete {
  void operator()(ReadAhead* read_ahead) const;
};
using ReadAheadHandle = std::unique_ptr<ReadAhead, ReadAheadDelete>;

// The read-ahead of a run of `jobs` jobs (2 or more): at most `jobs` objects are read at
// once, and more files than that are opened ahead, since opening waits on the file system
// rather than the processor. Nothing starts before the first input is taken.
ReadAheadHandle start_read_ahead(Run& run, unsigned jobs);

// Takes one input file in its turn: read ahead, and taken into the run once every input
// before it is. False when the run reads no further, or no further of the pattern at hand.
bool take_input(ReadAhead& read_ahead, FoundInput input);

// A diagnostic of the input expansion ("Can't find file"), reported in its turn.
void report_in_turn(ReadAhead& read_ahead, std::string message);

// A directory input begins here: the files found in it from here on count as its own.
void begin_directory_in_turn(ReadAhead& read_ahead, std::string directory);

// A command-line pattern begins here: an input whose entry cannot be made ends the
// pattern, as the single-threaded run's does.
void begin_pattern(ReadAhead& read_ahead);

// Takes every input still ahead into the run, in order (until one stops the reading).
void finish_read_ahead(ReadAhead& read_ahead);

// Forgets the inputs still ahead, after memory ran out in the run itself.
void drop_read_ahead(ReadAhead& read_ahead);

}  // namespace drelk
