// The per-user settings store of the office application: application
// "Corvanta", sections "AppPrincipal" and "Avisos", every value a string.
// On Windows it is the registry key the application itself reads,
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\<application>\<section>,
// one REG_SZ value per key (src/shell/win32/); elsewhere an INI file,
// $XDG_CONFIG_HOME/<application>/<application>.ini (src/shell/posix/).
#pragma once

#include <memory>
#include <string>

namespace maquetor::shell {

// The office application's name in the store.
inline constexpr const char* kSettingsApplication = "Corvanta";

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // An absent key (or a value that is not text) reads as the empty string;
  // throws std::runtime_error when the store cannot be read.
  virtual std::string Read(const std::string& section, const std::string& key) = 0;
  // Writes through at once; throws std::runtime_error when the store
  // cannot be written.
  virtual void Write(const std::string& section, const std::string& key,
                     const std::string& value) = 0;
};

// The store of `application` on this platform.
std::unique_ptr<SettingsStore> OpenSettings(const std::string& application);

// The office application's store.
inline std::unique_ptr<SettingsStore> OpenProgramSettings() {
  return OpenSettings(kSettingsApplication);
}

// Where the store of `application` lives, for the help text.
std::string SettingsLocation(const std::string& application);

}  // namespace maquetor::shell
