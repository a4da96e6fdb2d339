// The per-user settings store of the office application: application
// "Corvanta", sections "AppPrincipal" and "Avisos", every value a string.
// On Windows it is the registry key the application itself reads; elsewhere
// an INI file, $XDG_CONFIG_HOME/Corvanta/Corvanta.ini.
#pragma once

#include <memory>
#include <string>

namespace maquetor::shell {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // An absent key reads as the empty string.
  virtual std::string Read(const std::string& section, const std::string& key) = 0;
  // Writes through at once; throws std::runtime_error when the store
  // cannot be written.
  virtual void Write(const std::string& section, const std::string& key,
                     const std::string& value) = 0;
};

// The application's store on this platform.
std::unique_ptr<SettingsStore> OpenProgramSettings();

}  // namespace maquetor::shell
