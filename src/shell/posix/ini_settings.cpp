// The settings store outside Windows: an INI file read and written with
// Qt's QSettings. The program reaches it through the window's library
// (window_module.h), so that runs without settings never load Qt.
#include <stdexcept>

#include <QSettings>
#include <QString>

#include "shell/posix/settings_file.h"
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

}  // namespace

std::unique_ptr<SettingsStore> OpenSettings(const std::string& application) {
  return std::make_unique<IniSettingsStore>(SettingsFilePath(application));
}

}  // namespace maquetor::shell
