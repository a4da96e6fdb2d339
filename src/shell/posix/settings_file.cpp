#include "shell/posix/settings_file.h"

#include <cstdlib>
#include <filesystem>

#include "db/file_name.h"
#include "shell/settings.h"

namespace maquetor::shell {
namespace {

std::filesystem::path ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return db::FsPath(xdg);
  if (const char* home = std::getenv("HOME"); home && *home) {
    return db::FsPath(home) / ".config";
  }
  return std::filesystem::current_path();
}

}  // namespace

std::string SettingsFilePath(const std::string& application) {
  return db::Utf8Name(ConfigHome() / db::FsPath(application) / db::FsPath(application + ".ini"));
}

std::string SettingsLocation(const std::string& application) {
  return "$XDG_CONFIG_HOME/" + application + "/" + application + ".ini (default ~/.config)";
}

}  // namespace maquetor::shell
