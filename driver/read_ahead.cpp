// Parallel reading. The input expansion runs on the run's own thread and hands every file
// it finds, in order, to a window of inputs ahead. Worker threads take the inputs of the
// window in order: each opens its file and reads its first bytes (which waits on the file
// system, so more files are opened at once than there are jobs), then, holding one of the
// `jobs` reading slots, analyses it with a reader of its own into a log: the entries it
// makes, what each object declares, and its diagnostics, captured rather than written.
// The run takes the window's inputs in order and replays each log into the registry and
// the diagnostic channel, so that registration and every diagnostic happen in the order
// of the single-threaded run. The window is bounded by its count of inputs and by the
// bytes its logs hold; a file larger than a log should hold is analysed by the run itself
// in its turn, exactly as by the single-threaded run.
#include "driver/read_ahead.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/driver.h"

namespace drelk {
namespace {

// Files opened ahead at once, whatever the count of jobs: on a network file system each
// open waits for a round trip, which costs no processor time.
constexpr unsigned kOpensAtOnce = 16;
// The share of the process's limit of open files that files opened ahead may take: the
// rest is the run's own (its standard streams, the -o and -e files, the file read in its
// turn, a directory open at each level of a search).
constexpr uint64_t kShareOfOpenFiles = 4;
// Inputs the window holds: taken in order, so a few more than the threads keep every one
// busy while the run replays.
constexpr size_t kWindowInputs = 128;
// The bytes the logs of the window may hold before no further input is read ahead.
constexpr size_t kWindowBytes = size_t{16} << 20;
// A file of more bytes than this is analysed by the run itself in its turn: its log could
// hold as much as the registry takes from it.
constexpr uint64_t kLargestLoggedFile = uint64_t{1} << 20;

}  // namespace

// One input of the window.
struct AheadInput {
  enum Kind : uint8_t { kFile, kMessage, kDirectory };
  enum State : uint8_t { kWaiting, kOpening, kOpened, kReading, kDone };
  enum Outcome : uint8_t {
    kPassedOver,  // no regular file, or, in a directory, no object or library
    kNotOpened,   // "Error opening input file"
    kLogged,      // read ahead: `log` holds what it made
    kInTurn,      // open in `stream`, to be analysed by the run itself in its turn
    kReadInTurn,  // too large to log: closed again, the run reads it itself in its turn
    kNoMemory,    // memory ran out before its analysis began
  };
  Kind kind = kFile;
  State state = kWaiting;
  uint64_t pattern = 0;  // the run's pattern it belongs to
  Outcome outcome = kPassedOver;
  FoundInput input;     // kFile
  std::string message;  // kMessage's text, kDirectory's directory
  InputStream stream;
  ObjectEntry top;  // the file's entry as the log knows it; the run makes its own
  ReadLog log;
  uint64_t unlisted = 0;  // diagnostics counted but not listed
  bool out_of_memory = false;
  bool stop_reading = false;
  bool capture_failed = false;
  std::vector<bool> written;  // which of the run's written files the file turned out to be
  size_t bytes = 0;           // what the input holds while it waits: the window's bound
  ~AheadInput() { close_input_stream(stream); }
};

// A reading slot: a reader of its own with the channel that captures its diagnostics.
struct ReadingSlot {
  explicit ReadingSlot(Registry& unused) : analysis(diagnostics, unused) {}
  Diagnostics diagnostics;
  Analysis analysis;  // its log set for each input; the registry is never touched
  bool busy = false;
};

struct ReadAhead {
  ReadAhead(Run& run_, unsigned jobs_) : run(run_), jobs(jobs_) {}
  ~ReadAhead();
  Run& run;
  unsigned jobs;
  unsigned thread_limit = 0;
  unsigned threads_opening = 0;  // threads waiting for an open (and the first bytes)
  std::vector<std::thread> threads;
  // Never touched: the slots' analyses log what they read.
  Registry unused_registry;
  std::vector<std::unique_ptr<ReadingSlot>> slots;

  std::mutex mutex;
  std::condition_variable work;                    // an input to open, or the end
  std::condition_variable slot_free;               // a reading slot free, or the end
  std::condition_variable finished;                // an input done
  std::deque<std::unique_ptr<AheadInput>> window;  // front: the next in turn
  size_t first_waiting = 0;  // index in `window` of the first input no thread has taken
  size_t bytes_ahead = 0;    // of the inputs done and waiting for their turn
  bool stopping = false;
  // The pattern the run is in, and whether an input's failed entry ended it.
  uint64_t pattern = 0;
  uint64_t ended_pattern = UINT64_MAX;
  // The run's diagnostics so far: a log need not compose what the run will only count.
  std::atomic<uint64_t> diagnostics_so_far{0};
};

void ReadAheadDelete::operator()(ReadAhead* read_ahead) const {
  delete read_ahead;
}

namespace {

// Opens the input's file and reads its first bytes; decides whether a slot reads it or the
// run itself does. Without the lock.
void open_input(AheadInput& item, bool layouts) {
  const FoundInput& input = item.input;
  if (input.in_directory && !input.regular_file && !is_native_regular_file(input.native)) {
    item.outcome = AheadInput::kPassedOver;
    return;
  }
  if (!open_native_file(input.native, item.stream, input.regular_file)) {
    item.outcome = AheadInput::kNotOpened;
    return;
  }
  // The first bytes: what identification reads first, and most objects whole.
  if (!prime_input_stream(item.stream)) {
    item.outcome = AheadInput::kNoMemory;
    return;
  }
  if (input.in_directory && !holds_object_or_library(item.stream, layouts)) {
    close_input_stream(item.stream);
    item.outcome = AheadInput::kPassedOver;
    return;
  }
  item.outcome = item.stream.size > kLargestLoggedFile ? AheadInput::kInTurn : AheadInput::kLogged;
}

// Analyses the opened input with the slot's reader into its log. Without the lock.
void read_input(ReadAhead& ahead, ReadingSlot& slot, AheadInput& item) {
  Diagnostics& diagnostics = slot.diagnostics;
  diagnostics.error_count = 0;
  diagnostics.unlisted = 0;
  const uint64_t so_far = ahead.diagnostics_so_far.load(std::memory_order_relaxed);
  const uint64_t limit = ahead.run.diagnostics.listing_limit;
  // The run will have reported at least `so_far` diagnostics when it comes to this input.
  diagnostics.listing_limit = limit > so_far ? limit - so_far : 0;
  diagnostics.subject = {};
  diagnostics.out_of_memory = false;
  diagnostics.stop_reading = false;
  diagnostics.capture = &item.log.diagnostics;
  diagnostics.capture_failed = false;
  Analysis& analysis = slot.analysis;
  analysis.log = &item.log;
  for (WrittenFile& file : analysis.written_files) file.is_input = false;
  try {
    item.top.path = item.input.path;
    item.top.name = item.input.name;
    analyze_file(analysis, item.stream, item.top);
  } catch (const std::bad_alloc&) {
    diagnostics.subject = {};
    report_out_of_memory(diagnostics, item.top.path);
  }
  close_input_stream(item.stream);
  // The read cache goes too: the log alone waits for the input's turn.
  item.stream.cache = ReadBuffer();
  item.unlisted = diagnostics.unlisted;
  item.out_of_memory = diagnostics.out_of_memory;
  item.stop_reading = diagnostics.stop_reading;
  item.capture_failed = diagnostics.capture_failed;
  try {
    for (const WrittenFile& file : analysis.written_files) item.written.push_back(file.is_input);
    item.log.bytes += item.log.diagnostics.size() * sizeof(CapturedDiagnostic);
    for (const CapturedDiagnostic& captured : item.log.diagnostics) {
      item.log.bytes += captured.text.size() + captured.subject.size();
    }
  } catch (const std::bad_alloc&) {
    item.capture_failed = true;
  }
  analysis.log = nullptr;
  diagnostics.capture = nullptr;
}

// Moves `first_waiting` past the inputs that threads have taken or that need none.
void skip_taken(ReadAhead& ahead) {
  while (ahead.first_waiting < ahead.window.size() &&
         ahead.window[ahead.first_waiting]->state != AheadInput::kWaiting) {
    ++ahead.first_waiting;
  }
}

// What a worker thread does: takes the first input no thread has taken, opens it, and
// reads it in a free slot; until the read-ahead stops.
void work(ReadAhead& ahead) {
  std::unique_lock<std::mutex> lock(ahead.mutex);
  while (true) {
    ahead.work.wait(lock, [&] {
      return ahead.stopping ||
             (ahead.first_waiting < ahead.window.size() && ahead.bytes_ahead < kWindowBytes);
    });
    if (ahead.stopping) return;
    AheadInput& item = *ahead.window[ahead.first_waiting];
    item.state = AheadInput::kOpening;
    skip_taken(ahead);
    ++ahead.threads_opening;
    lock.unlock();
    open_input(item, ahead.run.layouts);
    if (item.outcome == AheadInput::kInTurn) {
      // A file waiting for its turn must not hold a descriptor: a window of large files
      // would hold as many as the window holds inputs.
      close_input_stream(item.stream);
      item.stream.cache = ReadBuffer();
      item.outcome = AheadInput::kReadInTurn;
    }
    lock.lock();
    --ahead.threads_opening;
    if (item.outcome == AheadInput::kLogged) {
      item.state = AheadInput::kOpened;
      ReadingSlot* slot = nullptr;
      ahead.slot_free.wait(lock, [&] {
        if (ahead.stopping) return true;
        for (const auto& candidate : ahead.slots) {
          if (!candidate->busy) {
            slot = candidate.get();
            return true;
          }
        }
        return false;
      });
      if (ahead.stopping) return;
      slot->busy = true;
      item.state = AheadInput::kReading;
      lock.unlock();
      read_input(ahead, *slot, item);
      lock.lock();
      slot->busy = false;
      item.bytes = item.log.bytes;
      ahead.bytes_ahead += item.bytes;
      ahead.slot_free.notify_one();
    }
    item.state = AheadInput::kDone;
    // Only the run waits, and only for the input at the front: waking it for any other
    // would cost a switch of threads for every file.
    if (ahead.window.front().get() == &item) ahead.finished.notify_one();
  }
}

// Starts one more thread while the window holds inputs that no thread has taken. A thread
// that cannot be started leaves the input to the run itself.
void add_thread(ReadAhead& ahead) {
  if (ahead.threads.size() >= ahead.thread_limit) return;
  if (ahead.first_waiting >= ahead.window.size()) return;
  // A run of one file reads it on its own thread, as one job does.
  if (ahead.threads.empty() && ahead.window.size() < 2) return;
  // Beyond one thread a job, only while every thread waits for an open: where opens are
  // quick (a local disk, a warm cache) more threads would only wait for a reading slot
  // and take turns at the lock; where each open waits on a server they keep it busy.
  if (ahead.threads.size() >= ahead.jobs && ahead.threads_opening < ahead.threads.size()) return;
  try {
    ahead.threads.emplace_back(work, std::ref(ahead));
  } catch (const std::system_error&) {
    ahead.thread_limit = static_cast<unsigned>(ahead.threads.size());
  } catch (const std::bad_alloc&) {
    ahead.thread_limit = static_cast<unsigned>(ahead.threads.size());
  }
}

// Takes the log of a file read ahead into the run: its entries kept and its declarations
// registered, each after the diagnostics that came before it. False, after its diagnostic,
// when the file's own entry cannot be made, which ends the pattern.
bool replay_log(Run& run, AheadInput& item) {
  Diagnostics& diagnostics = run.diagnostics;
  const FoundInput& input = item.input;
  if (input.in_directory) ++run.directory_inputs.back().files_read;
  ObjectEntry* entry = record_object(run.registry, input.path, input.name);
  if (entry == nullptr) {
    report_entry_failure(diagnostics, input.path);
    return false;
  }
  size_t next = 0;
  const auto report_up_to = [&](size_t end) {
    for (; next < end; ++next) replay_diagnostic(diagnostics, item.log.diagnostics[next]);
  };
  // A shared library met before (by a link, or another name of the same file) is read
  // once: what its second reading gave is passed over, as one job does not read it again.
  const ReadLog& log = item.log;
  if (log.identified && run.analysis.libraries_read.count(log.identity) != 0) {
    report_up_to(std::min(log.diagnostics_before_object, log.diagnostics.size()));
    return true;
  }
  bool whole = true;
  for (ReadStep& step : item.log.steps) {
    report_up_to(step.diagnostics_before);
    if (step.entry != nullptr) {
      const ObjectEntry& parent = step.parent == &item.top ? *entry : *step.parent;
      if (keep_entry(run.registry, std::move(step.entry)) == nullptr) {
        diagnostics.subject = parent.path;
        report_entry_failure(diagnostics, parent.path);
        diagnostics.subject = {};
        whole = false;
        break;
      }
      continue;
    }
    const ObjectEntry& object = step.object == &item.top ? *entry : *step.object;
    diagnostics.subject = object.path;
    const bool registered =
        register_declarations(run.registry, diagnostics, object, step.declarations);
    diagnostics.subject = {};
    if (!registered) {
      whole = false;
      break;
    }
  }
  if (whole) report_up_to(item.log.diagnostics.size());
  entry->format = item.top.format;
  entry->role = item.top.role;
  entry->versioned_exports = std::move(item.top.versioned_exports);
  if (log.identified && entry->role == InputRole::kLibrary) {
    run.analysis.libraries_read.insert(log.identity);
  }
  diagnostics.error_count += item.unlisted;
  diagnostics.unlisted += item.unlisted;
  if (item.out_of_memory) diagnostics.out_of_memory = true;
  if (item.stop_reading) diagnostics.stop_reading = true;
  for (size_t i = 0; i < item.written.size() && i < run.analysis.written_files.size(); ++i) {
    if (item.written[i]) run.analysis.written_files[i].is_input = true;
  }
  if (item.capture_failed) report_out_of_memory(diagnostics, input.path);
  return true;
}

// Takes one input of the window into the run, in its turn. Without the lock.
void replay(ReadAhead& ahead, AheadInput& item, uint64_t pattern) {
  Run& run = ahead.run;
  if (pattern == ahead.ended_pattern) return;
  bool pattern_goes_on = true;
  switch (item.kind) {
    case AheadInput::kMessage:
      report_error(run.diagnostics, item.message);
      break;
    case AheadInput::kDirectory:
      run.directory_inputs.push_back(DirectoryInput{item.message, 0});
      break;
    case AheadInput::kFile:
      switch (item.outcome) {
        case AheadInput::kPassedOver:
          break;
        case AheadInput::kNotOpened:
          report_open_failure(run.diagnostics, item.input.name);
          break;
        case AheadInput::kNoMemory:
          report_out_of_memory(run.diagnostics, item.input.path);
          break;
        case AheadInput::kInTurn:
          if (item.input.in_directory) ++run.directory_inputs.back().files_read;
          pattern_goes_on = analyze_opened_file(run, item.stream, item.input.path, item.input.name);
          // Its diagnostics stop the reading as the single-threaded run's do; what ends
          // only the pattern is the entry that cannot be made.
          if (!pattern_goes_on && run.diagnostics.stop_reading) pattern_goes_on = true;
          break;
        case AheadInput::kReadInTurn:
          // Opened again, as one job opens it: a file that went meanwhile is reported
          // as one that was never there.
          pattern_goes_on = read_found_input(run, item.input);
          if (!pattern_goes_on && run.diagnostics.stop_reading) pattern_goes_on = true;
          break;
        case AheadInput::kLogged:
          pattern_goes_on = replay_log(run, item);
          break;
      }
      break;
  }
  if (!pattern_goes_on) ahead.ended_pattern = pattern;
  ahead.diagnostics_so_far.store(run.diagnostics.error_count, std::memory_order_relaxed);
}

// Takes the input at the front of the window into the run: waits for it, or, when no
// thread has taken it, opens it and analyses it in its turn itself. With the lock, which
// is let go while the input is taken in.
void replay_front(ReadAhead& ahead, std::unique_lock<std::mutex>& lock) {
  AheadInput& front = *ahead.window.front();
  if (front.state == AheadInput::kWaiting) {
    front.state = AheadInput::kOpening;
    skip_taken(ahead);
    lock.unlock();
    open_input(front, ahead.run.layouts);
    if (front.outcome == AheadInput::kLogged) front.outcome = AheadInput::kInTurn;
    lock.lock();
    front.state = AheadInput::kDone;
  }
  ahead.finished.wait(lock, [&] { return front.state == AheadInput::kDone; });
  std::unique_ptr<AheadInput> item = std::move(ahead.window.front());
  ahead.window.pop_front();
  --ahead.first_waiting;
  // The threads wait for the window's bytes to fall below its bound, never for its front
  // to go: waking them all for every input taken would cost more than reading it.
  const bool was_full = ahead.bytes_ahead >= kWindowBytes;
  ahead.bytes_ahead -= item->bytes;
  if (was_full && ahead.bytes_ahead < kWindowBytes) ahead.work.notify_all();
  lock.unlock();
  replay(ahead, *item, item->pattern);
  item.reset();
  lock.lock();
}

// Puts an input at the end of the window, once the window has room: inputs are taken into
// the run until it has. False, with the input dropped, when the run reads no further.
bool push(ReadAhead& ahead, std::unique_ptr<AheadInput> item) {
  const Diagnostics& diagnostics = ahead.run.diagnostics;
  std::unique_lock<std::mutex> lock(ahead.mutex);
  while (!diagnostics.stop_reading && !ahead.window.empty() &&
         (ahead.window.size() >= kWindowInputs || ahead.bytes_ahead >= kWindowBytes)) {
    replay_front(ahead, lock);
  }
  if (diagnostics.stop_reading) return false;
  item->pattern = ahead.pattern;
  if (item->kind != AheadInput::kFile) item->state = AheadInput::kDone;
  ahead.window.push_back(std::move(item));
  skip_taken(ahead);
  add_thread(ahead);
  ahead.work.notify_one();
  return ahead.ended_pattern != ahead.pattern;
}

// Stops the threads once they are done with the inputs they read.
void stop_threads(ReadAhead& ahead) {
  {
    const std::lock_guard<std::mutex> lock(ahead.mutex);
    ahead.stopping = true;
  }
  ahead.work.notify_all();
  ahead.slot_free.notify_all();
  for (std::thread& thread : ahead.threads) thread.join();
  ahead.threads.clear();
}

}  // namespace

ReadAhead::~ReadAhead() {
  stop_threads(*this);
}

ReadAheadHandle start_read_ahead(Run& run, unsigned jobs) {
  ReadAheadHandle ahead(new ReadAhead(run, jobs));
  // Each thread holds one file open at most.
  const uint64_t open_files_ahead = std::max<uint64_t>(1, open_files_limit() / kShareOfOpenFiles);
  ahead->thread_limit =
      static_cast<unsigned>(std::min<uint64_t>(std::max(jobs, kOpensAtOnce), open_files_ahead));
  for (unsigned i = 0; i < jobs; ++i) {
    auto slot = std::make_unique<ReadingSlot>(ahead->unused_registry);
    slot->analysis.reader.read_layouts = run.analysis.reader.read_layouts;
    slot->analysis.open_file = run.analysis.open_file;
    slot->analysis.written_files = run.analysis.written_files;
    ahead->slots.push_back(std::move(slot));
  }
  return ahead;
}

bool take_input(ReadAhead& read_ahead, FoundInput input) {
  auto item = std::make_unique<AheadInput>();
  item->input = std::move(input);
  return push(read_ahead, std::move(item));
}

void report_in_turn(ReadAhead& read_ahead, std::string message) {
  auto item = std::make_unique<AheadInput>();
  item->kind = AheadInput::kMessage;
  item->message = std::move(message);
  push(read_ahead, std::move(item));
}

void begin_directory_in_turn(ReadAhead& read_ahead, std::string directory) {
  auto item = std::make_unique<AheadInput>();
  item->kind = AheadInput::kDirectory;
  item->message = std::move(directory);
  push(read_ahead, std::move(item));
}

void begin_pattern(ReadAhead& read_ahead) {
  const std::lock_guard<std::mutex> lock(read_ahead.mutex);
  ++read_ahead.pattern;
}

void finish_read_ahead(ReadAhead& read_ahead) {
  {
    std::unique_lock<std::mutex> lock(read_ahead.mutex);
    while (!read_ahead.window.empty() && !read_ahead.run.diagnostics.stop_reading) {
      replay_front(read_ahead, lock);
    }
  }
  drop_read_ahead(read_ahead);
}

void drop_read_ahead(ReadAhead& read_ahead) {
  stop_threads(read_ahead);
  read_ahead.window.clear();
  read_ahead.first_waiting = 0;
  read_ahead.bytes_ahead = 0;
}

}  // namespace drelk
