#include "support/fixtures.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>

#include <unistd.h>

#include "db/file_name.h"

namespace testing_support {

std::filesystem::path SourceDir() {
  return maquetor::db::FsPath(MAQUETOR_SOURCE_DIR).make_preferred();
}

std::filesystem::path FixturesDir() {
  if (const char* env = std::getenv("MAQUETOR_FIXTURES")) {
    const auto dir = maquetor::db::FsPath(env).make_preferred();
    if (std::filesystem::is_directory(dir)) return dir;
  }
  auto dir = SourceDir().parent_path() / "shared" / "fixtures";
  if (std::filesystem::is_directory(dir)) return dir;
  return {};
}

std::vector<std::filesystem::path> FixtureFiles(Encrypted encrypted,
                                                std::vector<std::string> folders) {
  std::vector<std::filesystem::path> files;
  for (const auto& folder : folders) {
    for (const auto& entry : std::filesystem::directory_iterator(FixturesDir() / folder)) {
      const auto& path = entry.path();
      if (path.extension() != ".mdb") continue;
      if (encrypted == Encrypted::kLeftOut && path.filename().string().find("encrypted") != std::string::npos)
        continue;
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool UnderCi() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  std::random_device rd;
  auto base = maquetor::db::FsPath(MAQUETOR_BINARY_DIR).make_preferred() / "test-tmp";
  std::filesystem::create_directories(base);
  path_ = base / ("t" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
                  std::to_string(rd() % 100000));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!std::getenv("MAQUETOR_KEEP_TMP")) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return maquetor::db::Utf8Name(path_ / maquetor::db::FsPath(name));
}

std::string FileContents(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace testing_support
