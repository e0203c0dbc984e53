#include "tests/hostile/bounded_run.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace drelk::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kBuiltWithAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kBuiltWithAddressSanitizer = true;
#else
constexpr bool kBuiltWithAddressSanitizer = false;
#endif
#else
constexpr bool kBuiltWithAddressSanitizer = false;
#endif

void set_limit(int resource, uint64_t value) {
  const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  if (setrlimit(resource, &limit) != 0) _exit(126);
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const std::string& program, const std::vector<char*>& argv,
                             const std::string& directory, const Limits& limits, int out, int err) {
  const int null_input = open("/dev/null", O_RDONLY);
  dup2(null_input, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (chdir(directory.c_str()) != 0) _exit(127);
  if (limits.drop_root && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(126);
  }
  if (limits.open_files != 0) set_limit(RLIMIT_NOFILE, limits.open_files);
  if (limits.address_space_bytes != 0) set_limit(RLIMIT_AS, limits.address_space_bytes);
  execv(program.c_str(), argv.data());
  _exit(127);
}

}  // namespace

bool drelk_is_instrumented() {
  return kBuiltWithAddressSanitizer || std::getenv("DRELK_UNDER_TEST") != nullptr;
}

bool running_as_root() {
  return geteuid() == 0;
}

BoundedResult run_bounded(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& directory, const Limits& limits) {
  std::vector<char*> argv;
  const std::string argv0 = "drelk";
  argv.push_back(const_cast<char*>(argv0.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  int out_pipe[2];
  int err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) exec_child(program, argv, directory, limits, out_pipe[1], err_pipe[1]);
  close(out_pipe[1]);
  close(err_pipe[1]);

  BoundedResult result;
  const auto deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                    std::chrono::duration<double>(limits.deadline_seconds));
  if (!collect_output(out_pipe[0], err_pipe[0], result.program, deadline)) {
    result.timed_out = true;
    kill(pid, SIGKILL);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The processor time the input cost, user and system: the same on a loaded machine as on an
  // idle one, where the time on the wall clock grows with everything else that runs.
  const auto cpu = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  result.seconds = cpu(usage.ru_utime) + cpu(usage.ru_stime);
  result.peak_rss_kib = static_cast<uint64_t>(usage.ru_maxrss);
  result.program.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace drelk::test
