// Runs a program and collects what it printed and how it ended: the readers
// the tests check files with, and the real maquetor executable. On Linux
// fork/exec with an argument vector; on Windows CreateProcessW with pipes.
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

namespace testing_support {

class OracleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What a finished program left behind. `exit_code` is -1 when a signal ended
// it (`signal` says which) or when it could not be started.
struct ProcessResult {
  int exit_code = -1;
  int signal = 0;
  bool timed_out = false;
  std::string out;
  std::string err;
  bool ok() const { return exit_code == 0 && !timed_out; }
};

// Runs argv[0] (searched on PATH when it has no folder) with the given
// arguments, feeding it `input` on stdin, and waits at most `timeout`; a
// program still running then is killed. On Windows the arguments are quoted
// so that the program's own parsing gives them back. Never throws for the
// program's own failures: look at the result.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         std::chrono::seconds timeout = std::chrono::seconds(120));

#ifdef _WIN32
// Runs `program` (a path) with exactly `command_line` as its command line,
// program name included, as an installer that writes the line itself does.
ProcessResult RunCommandLine(const std::string& program, const std::string& command_line,
                             const std::string& input = {},
                             std::chrono::seconds timeout = std::chrono::seconds(120));

// `argv` as one Windows command line whose parsing gives `argv` back.
std::string QuoteCommandLine(const std::vector<std::string>& argv);
#endif

// The full path of a program found on PATH, or empty.
std::string FindOnPath(const std::string& program);

}  // namespace testing_support
