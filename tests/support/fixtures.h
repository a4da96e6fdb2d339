// Where the test inputs are: the shared fixtures of real databases written by
// other software, and a fresh temporary folder per test.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace testing_support {

// The source tree, in this system's form (under Wine, Z: and backslashes).
std::filesystem::path SourceDir();

// ../shared/fixtures beside the project, or empty when it is absent.
std::filesystem::path FixturesDir();

// The .mdb files of the fixtures' jet3 and jet4 folders, sorted; the
// encrypted ones (named so) only when asked.
enum class Encrypted { kLeftOut, kIncluded };
std::vector<std::filesystem::path> FixtureFiles(Encrypted encrypted,
                                                std::vector<std::string> folders = {"jet3", "jet4"});

// True under CI (CI=true): a missing fixture or oracle is then a failure.
bool UnderCi();

// A file's bytes; empty when it cannot be read.
std::string FileContents(const std::filesystem::path& path);

// A new empty folder under the build tree, removed when the object goes. Its
// path uses this system's separator.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // The UTF-8 path of `name` in the folder.
  std::string File(const std::string& name) const;

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
