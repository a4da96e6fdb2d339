// The settings store outside Windows: an INI file read and written with
// Qt's QSettings.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <QSettings>
#include <QString>

#include "db/file_name.h"
#include "shell/settings.h"

namespace maquetor::shell {
namespace {

QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section + "/" + key);
}

class IniSettingsStore final : public SettingsStore {
 public:
  explicit IniSettingsStore(const std::string& path)
      : settings_(QString::fromStdString(path), QSettings::IniFormat) {}

  std::string Read(const std::string& section, const std::string& key) override {
    return settings_.value(Key(section, key), QString()).toString().toStdString();
  }

  void Write(const std::string& section, const std::string& key,
             const std::string& value) override {
    settings_.setValue(Key(section, key), QString::fromStdString(value));
    settings_.sync();
    if (settings_.status() != QSettings::NoError) {
      throw std::runtime_error("No se puede escribir la configuraci\xC3\xB3n en " +
                               settings_.fileName().toStdString());
    }
  }

 private:
  QSettings settings_;
};

// $XDG_CONFIG_HOME, ~/.config when it is not set.
std::filesystem::path ConfigHome() {
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) return db::FsPath(xdg);
  if (const char* home = std::getenv("HOME"); home && *home) {
    return db::FsPath(home) / ".config";
  }
  return std::filesystem::current_path();
}

}  // namespace

std::unique_ptr<SettingsStore> OpenSettings(const std::string& application) {
  return std::make_unique<IniSettingsStore>(
      db::Utf8Name(ConfigHome() / db::FsPath(application) / db::FsPath(application + ".ini")));
}

std::string SettingsLocation(const std::string& application) {
  return "$XDG_CONFIG_HOME/" + application + "/" + application + ".ini (default ~/.config)";
}

}  // namespace maquetor::shell
