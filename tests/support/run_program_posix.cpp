#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "tests/support/run_program.h"

namespace drelk::test {

bool collect_output(int output_pipe, int error_pipe, ProgramResult& result,
                    std::chrono::steady_clock::time_point deadline) {
  pollfd fds[2] = {{output_pipe, POLLIN, 0}, {error_pipe, POLLIN, 0}};
  std::string* sinks[2] = {&result.standard_output, &result.standard_error};
  const bool unbounded = deadline == std::chrono::steady_clock::time_point::max();
  bool in_time = true;
  int open_pipes = 2;
  while (open_pipes > 0) {
    int timeout = -1;
    if (!unbounded) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        in_time = false;
        break;
      }
      timeout = static_cast<int>(left.count());
    }
    if (poll(fds, 2, timeout) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_pipes;
      }
    }
  }
  for (const pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  return in_time;
}

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& directory, const std::string* argv0) {
  int out_pipe[2];
  int err_pipe[2];
  if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int null_input = open("/dev/null", O_RDONLY);
    dup2(null_input, 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(err_pipe[0]);
    if (chdir(directory.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(argv0 ? argv0->c_str() : program.c_str()));
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  ProgramResult result;
  collect_output(out_pipe[0], err_pipe[0], result);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace drelk::test
