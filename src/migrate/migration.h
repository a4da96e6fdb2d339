// Migration: copies every row of an origin law-office database, of the
// previous version ("Pasar V7 V8") or of the current one ("Pasar V8 V8"),
// into an existing destination of the current schema, table by table, keys
// included, so every link between tables still points at the same rows.
//
// The destination is neither rebuilt nor emptied; rows saved stay saved
// whatever happens later (there is no transaction). The origin is opened
// read-only: a migration never changes it.
#pragma once

#include <optional>
#include <string>

#include "jet/dao.h"
#include "migrate/copier.h"
#include "migrate/report.h"
#include "migrate/routines.h"

namespace maquetor::migrate {

// The two databases of a run, open for all of it.
struct BasesMigracion {
  jet::dao::Database DBOrigen;   // read-only
  jet::dao::Database DBDestino;  // shared, writable
};

// Opens the origin read-only and the destination for writing, both with the
// program's password. Opens nothing, tells the user through the current
// interface and returns nullopt when either path is empty or both name the
// same file (the origin would then be written). An engine failure (missing
// file, wrong password, not a database) propagates.
std::optional<BasesMigracion> AbrirBasesMigracion(const std::string& origen,
                                                  const std::string& destino);

// Gives the destination's one configuration row the four values of the
// origin's first row. An assignment that fails (a field the origin lacks)
// leaves that value as it was; a missing or empty TConfig on either side,
// or a refused save, stops the run (MigrationStopped).
void PasarTConfig(BasesMigracion& bases, MigrationReport& report, const Progress& progress = {});

// Opens both databases and runs the configuration row and the variant's
// copy routines in order. Returns the report; a refused start returns with
// `refused` set; an unguarded failure throws MigrationStopped.
MigrationReport Migrar(Variante variante, const std::string& origen, const std::string& destino,
                       const Progress& progress = {});

// The drivers of the main window's options: Migrar on BDatosOrigen and
// BDatosDestino of the program state.
MigrationReport MigrarV8V8(const Progress& progress = {});
MigrationReport MigrarV7V8(const Progress& progress = {});

}  // namespace maquetor::migrate
