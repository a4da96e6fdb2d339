#include "shell/forms/control.h"

namespace maquetor::shell::forms {

std::string ControlName(const Control& control) {
  std::string name(control.name);
  if (control.index >= 0) name += "(" + std::to_string(control.index) + ")";
  return name;
}

}  // namespace maquetor::shell::forms
