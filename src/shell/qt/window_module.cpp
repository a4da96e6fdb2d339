#include "shell/window_module.h"

#include "shell/desktop.h"

extern "C" const maquetor::shell::WindowModule* maquetor_window_module() {
  static const maquetor::shell::WindowModule module{
      sizeof(maquetor::shell::WindowModule), &maquetor::shell::OpenSettings,
      &maquetor::shell::RunWithWindow};
  return &module;
}
