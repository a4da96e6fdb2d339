// The table buttons of the main window, one operation each, named after its
// control. Each builds its tables in the database at BDatosTrabajo, which
// must exist; an engine error ends the button at the failing step and what
// was appended before it stays.
#pragma once

#include <filesystem>
#include <set>
#include <span>
#include <string>

#include "jet/dao.h"

namespace maquetor::schema {

using Button = void (*)(const std::string& BDatosTrabajo);

// Parties, addresses and countries.
void Paises(const std::string& BDatosTrabajo);
void direcciones(const std::string& BDatosTrabajo);  // base name from NombreBase
void Abogados(const std::string& BDatosTrabajo);
void Procuradores(const std::string& BDatosTrabajo);
void Juzgados(const std::string& BDatosTrabajo);
void Clientes(const std::string& BDatosTrabajo);
void Contrarios(const std::string& BDatosTrabajo);
void Intervinientes(const std::string& BDatosTrabajo);
// Empties TPaises and writes the 207 countries again.
void InsertarPaises(const std::string& BDatosTrabajo);

// Matters and classifications.
void Materias(const std::string& BDatosTrabajo);
void SubMaterias(const std::string& BDatosTrabajo);
void Asuntos(const std::string& BDatosTrabajo);
void EProcesales(const std::string& BDatosTrabajo);
void Laboral(const std::string& BDatosTrabajo);

// Matter participants, powers and documents.
void clienteAsunto(const std::string& BDatosTrabajo);
void ContrarioAsunto(const std::string& BDatosTrabajo);
void IntervinienteAsunto(const std::string& BDatosTrabajo);
void Poder(const std::string& BDatosTrabajo);
void CLIENTEPODER(const std::string& BDatosTrabajo);
void Documentos(const std::string& BDatosTrabajo);
void CmdDocAsun(const std::string& BDatosTrabajo);

// Billing.
void Minuta(const std::string& BDatosTrabajo);
void Derechos(const std::string& BDatosTrabajo);
void GProvi(const std::string& BDatosTrabajo);
void GCobros(const std::string& BDatosTrabajo);

// History and non-judicial management.
void historico(const std::string& BDatosTrabajo);
void GNoJudicial(const std::string& BDatosTrabajo);

// Configuration row and document folder.
void CmdConfig(const std::string& BDatosTrabajo);

// Expenses and accounts.
void contable(const std::string& BDatosTrabajo);
void GNJudiciales(const std::string& BDatosTrabajo);
void Gastos(const std::string& BDatosTrabajo);
void cContable(const std::string& BDatosTrabajo);

struct NamedButton {
  const char* name;
  Button press;
};

// Every button by its control name, `direcciones` included, for the command
// line; nullptr when there is none of that name (compared exactly).
Button FindButton(const std::string& name);

// The 30 buttons of the whole-database creation, in an order in which every
// relation finds the tables it names.
std::span<const NamedButton> CreationOrder();

// The folders beside a database about to be built, taken before it: a
// creation that fails, in its buttons or in its commit, removes the empty
// ones made since (its document folder), so that a second run makes and
// records the same one.
class FoldersBeside {
 public:
  explicit FoldersBeside(const std::string& BDatosTrabajo);
  void RemoveNewEmpty() const;

 private:
  std::string path_;
  std::set<std::filesystem::path> before_;
};

// Creates the main database at BDatosTrabajo with the password and presses
// the 30 buttons. Returns false, doing nothing, when the file exists. The
// database appears at its path whole, or (a failure, a crash) not at all.
bool CrearBaseCompleta(const std::string& BDatosTrabajo);

// The same, returning the new database still open and not yet at its path:
// work done through any handle of it before the last one closes reaches
// the path together with the creation (a migration into a destination it
// builds). A failure leaves nothing at the path.
jet::dao::Database ConstruirBaseCompleta(const std::string& BDatosTrabajo);

}  // namespace maquetor::schema
