// The built maquetor executable run as a program, for the tests of its
// command words. Only test targets that define MAQUETOR_EXE (its path) may
// include this.
#pragma once

#include <string>
#include <vector>

#include "support/process.h"

#ifndef MAQUETOR_EXE
#error "MAQUETOR_EXE names the executable; only program tests include this header"
#endif

namespace testing_support {

// `maquetor ARGS...` with `input` on its standard input.
inline ProcessResult RunMaquetor(const std::vector<std::string>& args,
                                 const std::string& input = {}) {
  std::vector<std::string> argv = {MAQUETOR_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProcess(argv, input);
}

}  // namespace testing_support
