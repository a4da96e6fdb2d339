#include <filesystem>
#include <system_error>

#include "db/file_name.h"
#include "shell/platform.h"

namespace maquetor::shell::platform {

std::optional<std::string> ProcessCommandLine() { return std::nullopt; }

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string ExecutablePath() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return db::Utf8Name(exe);
}

void SetUpStandardStreams() {}

std::string InstallerLogText(const std::string& utf8) { return utf8; }

}  // namespace maquetor::shell::platform
