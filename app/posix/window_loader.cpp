// The executable's side of the window's library (shell/window_module.h):
// OpenSettings and RunWithWindow load maquetor-window.so on first use and
// hand over to it. Command words that need neither never load it, nor Qt.
#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "db/file_name.h"
#include "shell/desktop.h"
#include "shell/platform.h"
#include "shell/window_module.h"

namespace maquetor::shell {
namespace {

const WindowModule* Load() {
  // Beside the executable; then in the folder it was built in, for the
  // copies of the program that the tests install elsewhere (named here, not
  // through the run path, which a sanitizer's dlopen does not read); then
  // where the system finds libraries.
  const std::string beside = db::Utf8Name(
      db::FsPath(platform::ExecutablePath()).parent_path() / db::FsPath(kWindowModuleFile));
  const std::string built = db::Utf8Name(db::FsPath(MAQUETOR_BUILD_DIR) / db::FsPath(kWindowModuleFile));
  std::string failure;
  for (const std::string& name : {beside, built, std::string(kWindowModuleFile)}) {
    void* library = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      failure += (failure.empty() ? "" : "; ") + std::string(::dlerror());
      continue;
    }
    using Entry = const WindowModule* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(library, kWindowModuleEntry));
    const WindowModule* module = entry ? entry() : nullptr;
    if (module && module->size == sizeof(WindowModule)) return module;
    failure += (failure.empty() ? "" : "; ") + name + " is not this build's window library";
  }
  throw std::runtime_error("No se puede cargar " + std::string(kWindowModuleFile) + ": " + failure);
}

const WindowModule& Module() {
  static const WindowModule* module = Load();
  return *module;
}

}  // namespace

std::unique_ptr<SettingsStore> OpenSettings(const std::string& application) {
  return Module().open_settings(application);
}

int RunWithWindow(int& argc, char** argv, SettingsStore& settings, const std::string& RutaApp,
                  const Switches& switches) {
  return Module().run_with_window(argc, argv, settings, RutaApp, switches);
}

}  // namespace maquetor::shell
