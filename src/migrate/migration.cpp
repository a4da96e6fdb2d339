#include "migrate/migration.h"

#include <array>
#include <filesystem>

#include "db/file_name.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "jet/text.h"
#include "shell/ui.h"

namespace maquetor::migrate {
namespace {

using jet::JetError;
using jet::dao::DBEngine;
using jet::dao::Recordset;

constexpr std::array<const char*, 4> kConfigFields = {"FConfig01", "FConfig02", "FConfig03",
                                                      "FConfig04"};

// Why a run must not start, or nothing when it may.
std::optional<std::string> Refusal(const std::string& origen, const std::string& destino) {
  if (origen.empty()) {
    return "No se ha elegido la base de datos de origen. La migración no se ha realizado.";
  }
  if (destino.empty()) {
    return "No se ha elegido la base de datos de destino. La migración no se ha realizado.";
  }
  // The engine shares one file state between handles of the same file, so
  // the destination's writable open would make the origin writable too.
  std::error_code ec;
  if (std::filesystem::equivalent(db::FsPath(origen), db::FsPath(destino), ec)) {
    return "La base de datos de origen y la de destino son el mismo archivo. La migración no se "
           "ha realizado.";
  }
  return std::nullopt;
}

void Tell(const std::string& text) { shell::CurrentUi().Message(text, "", shell::Icon::kCritical); }

}  // namespace

std::optional<BasesMigracion> AbrirBasesMigracion(const std::string& origen,
                                                  const std::string& destino) {
  if (auto why = Refusal(origen, destino)) {
    Tell(*why);
    return std::nullopt;
  }
  BasesMigracion bases;
  bases.DBOrigen = DBEngine::Instance().OpenDatabase(origen, false, true, db::kConnect);
  bases.DBDestino = DBEngine::Instance().OpenDatabase(destino, false, false, db::kConnect);
  return bases;
}

void PasarTConfig(BasesMigracion& bases, MigrationReport& report, const Progress& progress) {
  TableResult step;
  step.routine = "PasarTConfig";
  step.table = "TConfig";
  if (progress) progress(step, false);
  const char* field = nullptr;
  int64_t row = 0;
  try {
    Recordset rs_origen = bases.DBOrigen.OpenRecordset("TConfig");
    Recordset rs_destino = bases.DBDestino.OpenRecordset("TConfig");
    // An edit of the row the destination's build seeded, never a new row;
    // only the origin's first row is read.
    rs_destino.MoveFirst();
    rs_origen.MoveFirst();
    row = 1;
    rs_destino.Edit();
    for (const char* name : kConfigFields) {
      field = name;
      try {
        rs_destino.SetValue(name, rs_origen.GetValue(name));
      } catch (const JetError&) {
        ++step.fields_defaulted;
      }
    }
    field = nullptr;
    rs_destino.Update();
    step.copied = 1;
    rs_origen.Close();
    rs_destino.Close();
  } catch (const JetError& e) {
    step.outcome = Outcome::kStopped;
    report.failure = Failure{"TConfig", "", row, field ? field : "", e.number(), e.what()};
    report.tables.push_back(step);
    if (progress) progress(step, true);
    throw MigrationStopped(e, report);
  }
  report.tables.push_back(step);
  if (progress) progress(step, true);
}

MigrationReport Migrar(Variante variante, const std::string& origen, const std::string& destino,
                       const Progress& progress) {
  MigrationReport report;
  if (auto why = Refusal(origen, destino)) {
    Tell(*why);
    report.refused = *why;
    return report;
  }
  // Rows already saved reach the file when the handles go, also when a
  // failure ends the run.
  BasesMigracion bases = *AbrirBasesMigracion(origen, destino);
  PasarTConfig(bases, report, progress);
  for (const Rutina* r : Secuencia(variante)) {
    CopyTable(bases.DBOrigen, bases.DBDestino, r->Copy(), report, progress);
  }
  bases.DBDestino.Close();
  bases.DBOrigen.Close();
  return report;
}

MigrationReport MigrarV8V8(const Progress& progress) {
  const auto& state = db::ProgramState::Instance();
  return Migrar(Variante::kV8V8, state.BDatosOrigen, state.BDatosDestino, progress);
}

MigrationReport MigrarV7V8(const Progress& progress) {
  const auto& state = db::ProgramState::Instance();
  return Migrar(Variante::kV7V8, state.BDatosOrigen, state.BDatosDestino, progress);
}

int64_t MigrationReport::TotalCopied() const {
  int64_t n = 0;
  for (const auto& t : tables) n += t.copied;
  return n;
}

int64_t MigrationReport::TotalSkipped() const {
  int64_t n = 0;
  for (const auto& t : tables) n += t.skipped;
  return n;
}

const TableResult* MigrationReport::Find(const std::string& table) const {
  for (const auto& t : tables) {
    if (jet::NamesEqual(t.table, table)) return &t;
  }
  return nullptr;
}

}  // namespace maquetor::migrate
