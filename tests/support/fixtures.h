// Where the test inputs are: the shared fixtures of real databases written by
// other software, and a fresh temporary folder per test.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// ../shared/fixtures beside the project, or empty when it is absent.
std::filesystem::path FixturesDir();

// True under CI (CI=true): a missing fixture or oracle is then a failure.
bool UnderCi();

// A file's bytes; empty when it cannot be read.
std::string FileContents(const std::filesystem::path& path);

// A new empty folder under the build tree, removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support

// Skips the test when the fixtures folder is absent (fails under CI).
#define REQUIRE_FIXTURES()                                                        \
  do {                                                                           \
    if (::testing_support::FixturesDir().empty()) {                              \
      if (::testing_support::UnderCi()) FAIL() << "fixtures folder missing under CI"; \
      GTEST_SKIP() << "../shared/fixtures is absent";                            \
    }                                                                            \
  } while (0)
