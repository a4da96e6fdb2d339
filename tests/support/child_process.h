// Pieces of a test run in another process, for what one process sees of
// another's open files: locks, share modes. A piece is a function of the
// test executable, registered by name with CHILD_PIECE. On POSIX it runs in
// a forked child; on Windows the test executable starts again with
// MAQUETOR_CHILD_PIECE naming the piece, runs it before any test and ends
// with its result as exit code.
//
// A piece must not use gtest assertions (they would fail the child, not the
// test): it returns a number for the test to check.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

using ChildPiece = int (*)(const std::vector<std::string>& args);

// Registers `piece` under `name`; called at static initialisation by
// CHILD_PIECE. Returns true.
bool RegisterChildPiece(const char* name, ChildPiece piece);

// A piece running in another process from construction until Wait.
class Child {
 public:
  Child(const std::string& piece, const std::vector<std::string>& args = {});
  ~Child();  // waits, if Wait was not called
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // The piece's result; -1 when the process could not start or died.
  int Wait();

 private:
  long long process_ = -1;  // POSIX: pid; Windows: the process handle
  int result_pipe_ = -1;    // POSIX: where the child writes its result
  int result_ = -1;
  bool waited_ = false;
};

// Runs a piece in another process and returns its result.
inline int RunInChild(const std::string& piece, const std::vector<std::string>& args = {}) {
  return Child(piece, args).Wait();
}

}  // namespace testing_support

// Defines a piece: CHILD_PIECE(OpenIt) { ... args[0] ...; return 0; }
#define CHILD_PIECE(name)                                                      \
  int name(const std::vector<std::string>& args);                             \
  [[maybe_unused]] const bool name##_registered =                             \
      ::testing_support::RegisterChildPiece(#name, name);                     \
  int name(const std::vector<std::string>& args)
