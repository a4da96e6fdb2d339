// What the main window keeps between button presses.
#pragma once

#include <string>

namespace maquetor::db {

struct ProgramState {
  // The base name of the table being built: a party button stores it and
  // the address-table builder reads it. It keeps the last value stored.
  std::string NombreBase;

  static ProgramState& Instance() {
    static ProgramState state;
    return state;
  }
};

}  // namespace maquetor::db
