// Pesetas to euros: every money field of a law-office database divided by
// the fixed rate, one UPDATE statement per field. Nothing records which
// currency a database is in, so converting a database twice divides twice.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace maquetor::currency {

// Pesetas per euro, as the statements write it.
inline constexpr const char* kCambioTexto = "166.386";

// Directions ConvertirBase accepts: divide (to euros) or multiply (back).
inline constexpr int kAEuros = 1;
inline constexpr int kAPesetas = 0;

struct ExecutedStatement {
  std::string sql;
  int64_t rows = 0;  // rows the statement changed
};

// One table of the list, in the order converted. A table without rows
// gets no statement.
struct ConvertedTable {
  std::string table;
  bool had_rows = false;
  std::vector<ExecutedStatement> statements;
};

// What one database went through.
struct ConvertedDatabase {
  std::string path;
  std::vector<ConvertedTable> tables;
};

// What an operation did, for whoever started it to show.
struct ConversionReport {
  // True when the databases came from TSetup rather than the working one.
  bool from_setup = false;
  std::string setup_path;  // the Setup.mdb read, when from_setup
  std::vector<ConvertedDatabase> converted;
  // TSetup rows naming a database already converted in this run; converting
  // it again would divide its amounts a second time.
  std::vector<std::string> repeated;
};

// Converts the database at `ruta` (opened shared, writable, with the
// program's password) in direction `sentido`: fourteen statements, six on
// TMinuta all conditioned on FMinuta07, then TAsuntos, TContable, TDerecho,
// TGCobros and TGastosNo each on its own field. A table's statements run only
// when it has rows, each with options 160, so a failing row undoes its own
// statement and raises the engine's error; statements before it stay. Any
// direction but 0 or 1 shows "Tipo de moneda incorrecto" and throws
// shell::EndOfProgram before anything is opened. No message on success.
ConvertedDatabase ConvertirBase(std::string& ruta, int& sentido);

// Converts to euros every database TSetup lists in the Setup.mdb of the
// program folder (RutaApp, the file found without regard to case), each one
// once, then shows "Proceso finalizado" (title "Cambio a Euros"), also when
// TSetup is empty. Setup.mdb is opened without a password and, when the
// engine refuses it for the password, again with the program's.
ConversionReport ConvertirBasesSetup();

// The window's option "Pasar Base a Euros": under the hourglass, the working
// database (BDatosTrabajo) when one is chosen, without a final message, else
// every database of TSetup.
ConversionReport CambiarMoneda();

}  // namespace maquetor::currency
