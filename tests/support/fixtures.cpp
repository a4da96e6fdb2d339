#include "support/fixtures.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

namespace testing_support {

std::filesystem::path FixturesDir() {
  if (const char* env = std::getenv("MAQUETOR_FIXTURES")) {
    if (std::filesystem::is_directory(env)) return env;
  }
  auto dir = std::filesystem::path(MAQUETOR_SOURCE_DIR).parent_path() / "shared" / "fixtures";
  if (std::filesystem::is_directory(dir)) return dir;
  return {};
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  auto base = std::filesystem::path(MAQUETOR_BINARY_DIR) / "test-tmp";
  std::filesystem::create_directories(base);
  path_ = base / ("t" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                  std::to_string(rd() % 100000));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!std::getenv("MAQUETOR_KEEP_TMP")) std::filesystem::remove_all(path_, ec);
}

std::string FileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace testing_support
