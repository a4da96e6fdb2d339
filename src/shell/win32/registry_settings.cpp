// The settings store on Windows: the registry key the office application
// reads its own settings from, one REG_SZ value per setting.
#include <windows.h>

#include <stdexcept>

#include "shell/settings.h"
#include "shell/win32/utf16.h"

namespace maquetor::shell {
namespace {

constexpr const char* kRoot = "Software\\VB and VBA Program Settings\\";

std::runtime_error Failure(const char* what, const std::string& key, LSTATUS status) {
  return std::runtime_error(std::string(what) + " HKEY_CURRENT_USER\\" + key + " (error " +
                            std::to_string(status) + ")");
}

class RegistrySettingsStore final : public SettingsStore {
 public:
  explicit RegistrySettingsStore(const std::string& application)
      : application_key_(kRoot + application) {}

  std::string Read(const std::string& section, const std::string& key) override {
    const std::string path = application_key_ + "\\" + section;
    const std::wstring subkey = win32::Widen(path);
    const std::wstring name = win32::Widen(key);
    // The value may change size between the two calls: ask again then.
    for (;;) {
      DWORD bytes = 0;
      LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name.c_str(),
                                    RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
      if (status == ERROR_FILE_NOT_FOUND || status == ERROR_UNSUPPORTED_TYPE) return {};
      if (status != ERROR_SUCCESS) throw Failure("No se puede leer", path, status);
      std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
      bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
      status = RegGetValueW(HKEY_CURRENT_USER, subkey.c_str(), name.c_str(), RRF_RT_REG_SZ,
                            nullptr, value.data(), &bytes);
      if (status == ERROR_MORE_DATA) continue;
      if (status == ERROR_FILE_NOT_FOUND) return {};
      if (status != ERROR_SUCCESS) throw Failure("No se puede leer", path, status);
      // `bytes` counts the terminating null.
      value.resize(bytes / sizeof(wchar_t));
      while (!value.empty() && value.back() == L'\0') value.pop_back();
      return win32::Narrow(value);
    }
  }

  void Write(const std::string& section, const std::string& key,
             const std::string& value) override {
    const std::string path = application_key_ + "\\" + section;
    HKEY handle = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, win32::Widen(path).c_str(), 0, nullptr,
                                     REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &handle,
                                     nullptr);
    if (status != ERROR_SUCCESS) throw Failure("No se puede crear", path, status);
    const std::wstring text = win32::Widen(value);
    status = RegSetValueExW(handle, win32::Widen(key).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) throw Failure("No se puede escribir en", path, status);
  }

 private:
  std::string application_key_;
};

}  // namespace

std::unique_ptr<SettingsStore> OpenSettings(const std::string& application) {
  return std::make_unique<RegistrySettingsStore>(application);
}

std::string SettingsLocation(const std::string& application) {
  return "the registry, HKEY_CURRENT_USER\\" + std::string(kRoot) + application;
}

}  // namespace maquetor::shell
