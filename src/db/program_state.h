// The program-wide strings every part of the program shares: the folders,
// the databases chosen for the current operation, and the base name of the
// table being built.
#pragma once

#include <string>

namespace maquetor::db {

struct ProgramState {
  // The program's folder, without a trailing separator.
  std::string RutaApp;
  // RutaApp + "BASES": the auxiliary databases' folder; set in setup mode only.
  std::string RutaBases;
  // The working database; empty when none is chosen, "Exit" when the
  // selection dialog was closed without a choice.
  std::string BDatosTrabajo;
  // Origin and destination of a migration or a document attachment.
  std::string BDatosOrigen;
  std::string BDatosDestino;
  // The base name of the table being built: a party button stores it and
  // the address-table builder reads it. It keeps the last value stored.
  std::string NombreBase;

  static ProgramState& Instance() {
    static ProgramState state;
    return state;
  }
};

// The marker the selection dialog leaves in BDatosTrabajo when it was closed
// without a choice.
inline constexpr const char* kExitMarker = "Exit";

}  // namespace maquetor::db
