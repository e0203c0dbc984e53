// Win32 program runner: CreateProcessA with the child's standard output and standard
// error on two pipes and its standard input on NUL.
#include <windows.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/support/run_program.h"

namespace drelk::test {
namespace {

// Appends `argument` quoted so that the C runtime's command-line parser gives it back
// unchanged: backslashes are literal except before a '"', where they are doubled.
void append_argument(std::string& command_line, const std::string& argument) {
  command_line += ' ';
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    command_line += argument;
    return;
  }
  command_line += '"';
  size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    command_line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    command_line += c;
  }
  command_line.append(2 * backslashes, '\\');
  command_line += '"';
}

// The runtime takes argv[0] up to the next '"' when it starts with one, with no escapes.
std::string program_name_argument(const std::string& argv0) {
  if (argv0.find('"') != std::string::npos) {
    throw std::invalid_argument("a Windows program name cannot hold '\"': " + argv0);
  }
  return '"' + argv0 + '"';
}

// Reads a pipe until every writer has closed it.
void drain(HANDLE pipe, std::string& sink) {
  char buffer[65536];
  DWORD n = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink.append(buffer, n);
}

// An anonymous pipe whose write end the child inherits and whose read end it does not.
void make_pipe(HANDLE& read_end, HANDLE& write_end) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!CreatePipe(&read_end, &write_end, &inheritable, 0) ||
      !SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
}

// A process ended by an exception has a system error status for its exit code:
// severity "error", neither the customer nor the reserved bit set (0xC0000005 for an
// access violation, 0xC0000409 for a failed stack check). exit(-1) gives 0xFFFFFFFF,
// which has the customer bit and is an ordinary exit.
bool is_exception_status(DWORD code) {
  return (code & 0xF0000000u) == 0xC0000000u;
}

// The exit status as a POSIX shell on Windows shows it: the low eight bits, so that
// exit(-1) is 255. An exception status is kept whole, negative here, so that no test
// takes a crash for an ordinary exit.
int shell_exit_status(DWORD code) {
  if (is_exception_status(code)) return static_cast<int>(code);
  return static_cast<int>(code & 0xFFu);
}

}  // namespace

ProgramResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& directory, const std::string* argv0) {
  std::string command_line = program_name_argument(argv0 ? *argv0 : program);
  for (const std::string& argument : arguments) append_argument(command_line, argument);

  HANDLE out_read, out_write, err_read, err_write;
  make_pipe(out_read, out_write);
  make_pipe(err_read, err_write);
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const HANDLE null_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inheritable, OPEN_EXISTING, 0, nullptr);
  if (null_input == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open NUL");

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input;
  startup.hStdOutput = out_write;
  startup.hStdError = err_write;
  PROCESS_INFORMATION process{};
  // Under wine a busy server now and then refuses a start that succeeds a moment later;
  // a start still refused after a few tries is reported with the system's error code.
  bool started = false;
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    if (attempt > 0) Sleep(200);
    started = CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, directory.c_str(), &startup, &process) != 0;
    if (!started) start_error = GetLastError();
  }
  // Only the child may hold the write ends now, so that the reads end when it does.
  CloseHandle(out_write);
  CloseHandle(err_write);
  CloseHandle(null_input);

  ProgramResult result;
  if (!started) {
    // As the POSIX runner reports a program that could not be executed.
    CloseHandle(out_read);
    CloseHandle(err_read);
    result.exit_status = 127;
    result.standard_error =
        "CreateProcess(" + program + ") failed with error " + std::to_string(start_error) + "\n";
    return result;
  }
  CloseHandle(process.hThread);
  std::thread error_reader(drain, err_read, std::ref(result.standard_error));
  drain(out_read, result.standard_output);
  error_reader.join();
  CloseHandle(out_read);
  CloseHandle(err_read);

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  result.exit_status = shell_exit_status(code);
  return result;
}

}  // namespace drelk::test
