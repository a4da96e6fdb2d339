// The command words start without Qt: it belongs to the window and the
// settings store (maquetor-window.so, loaded by the runs that need them),
// and resolving its libraries at start-up would cost a creation more than
// a third of its time.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fixtures.h"
#include "support/maquetor_program.h"

namespace {

namespace ts = testing_support;

TEST(StartUp, CommandWordsLoadNoQt) {
#ifndef __linux__
  GTEST_SKIP() << "the window's library is Linux's";
#else
  ts::TempDir dir;
  const std::string db = (dir.path() / "Despacho.mdb").string();
  const std::vector<std::vector<std::string>> runs = {
      {"create", db}, {"tables", db}, {"sql", db, "SELECT COUNT(*) FROM TPaises"}, {"--help"}};
  for (const auto& args : runs) {
    SCOPED_TRACE(args.front());
    // The loader lists every library it looks for on standard error.
    std::vector<std::string> argv = {"env", "LD_DEBUG=libs", MAQUETOR_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    const ts::ProcessResult r = ts::RunProcess(argv);
    ASSERT_TRUE(r.ok()) << r.err;
    ASSERT_NE(r.err.find("libstdc++"), std::string::npos) << "the loader listed nothing";
    EXPECT_EQ(r.err.find("libQt6"), std::string::npos);
  }
#endif
}

}  // namespace
