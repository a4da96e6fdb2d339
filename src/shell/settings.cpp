#include "shell/settings.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include <QSettings>
#include <QString>

namespace maquetor::shell {
namespace {

QString Key(const std::string& section, const std::string& key) {
  return QString::fromStdString(section + "/" + key);
}

class QtSettingsStore final : public SettingsStore {
 public:
  QtSettingsStore(const QString& location, QSettings::Format format)
      : settings_(location, format) {}

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

#ifndef _WIN32
// $XDG_CONFIG_HOME/Corvanta/Corvanta.ini, ~/.config when it is not set.
std::string IniPath() {
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    base = std::filesystem::current_path();
  }
  return (base / "Corvanta" / "Corvanta.ini").string();
}
#endif

}  // namespace

std::unique_ptr<SettingsStore> OpenProgramSettings() {
#ifdef _WIN32
  // The key the office application reads its own settings from.
  return std::make_unique<QtSettingsStore>(
      QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Corvanta"),
      QSettings::NativeFormat);
#else
  return std::make_unique<QtSettingsStore>(QString::fromStdString(IniPath()),
                                           QSettings::IniFormat);
#endif
}

}  // namespace maquetor::shell
