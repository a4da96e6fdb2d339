#include "currency/moneda.h"

#include <filesystem>
#include <system_error>

#include "db/engine.h"
#include "db/file_name.h"
#include "db/program_state.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "shell/paths.h"
#include "shell/ui.h"

namespace maquetor::currency {
namespace {

// The money fields, table by table in the order they are converted. A table
// with a `condition` field converts its fields only in rows where that field
// is not zero; the others test each field itself.
struct MoneyTable {
  const char* table;
  std::vector<const char*> fields;
  const char* condition = nullptr;
};

const std::vector<MoneyTable>& MoneyTables() {
  // All six fee-note amounts follow FMinuta07: a note whose FMinuta07 is zero
  // keeps every amount as it is, which the office application relies on.
  static const std::vector<MoneyTable> tables = {
      {"TMinuta",
       {"FMinuta07", "FMinuta08", "FMinuta09", "FMinuta12", "FMinuta13", "FMinuta14"},
       "FMinuta07"},
      {"TAsuntos", {"FAsu16", "FAsu17", "FAsu21", "FAsu22"}},
      {"TContable", {"FContable05"}},
      {"TDerecho", {"FDerecho04"}},
      {"TGCobros", {"FGCobros05"}},
      // Non-judicial expenses share the judicial ones' field names.
      {"TGastosNo", {"FContable05"}},
  };
  return tables;
}

bool KnownDirection(int sentido) { return sentido == kAEuros || sentido == kAPesetas; }

std::string Statement(const std::string& table, const std::string& field,
                      const std::string& condition, int sentido) {
  const std::string op = std::string(sentido == kAEuros ? "/" : "*") + kCambioTexto;
  return "UPDATE " + table + " SET " + field + " = " + field + " " + op + " WHERE " + condition +
         " <> 0";
}

std::vector<std::string> TableStatements(const MoneyTable& t, int sentido) {
  std::vector<std::string> out;
  for (const char* field : t.fields) {
    out.push_back(Statement(t.table, field, t.condition ? t.condition : field, sentido));
  }
  return out;
}

// The program creates Setup.MDB with its password, but the office may keep
// one without; either opens.
jet::dao::Database OpenSetup(const std::string& path) {
  try {
    return db::Workspace0().OpenDatabase(path);
  } catch (const jet::JetError& e) {
    if (e.number() != jet::kErrBadPassword) throw;
  }
  return db::Workspace0().OpenDatabase(path, false, false, db::kConnect);
}

// Several TSetup rows may name one database, in any case or spelling: it is
// still divided once per run.
bool AlreadyConverted(const ConversionReport& report, const std::string& path) {
  for (const auto& done : report.converted) {
    std::error_code ec;
    if (done.path == path || std::filesystem::equivalent(db::FsPath(done.path), db::FsPath(path), ec)) return true;
  }
  return false;
}

}  // namespace

ConvertedDatabase ConvertirBase(std::string& ruta, int& sentido) {
  if (!KnownDirection(sentido)) {
    shell::CurrentUi().Message("Tipo de moneda incorrecto", "Cambiar Moneda", shell::Icon::kNone);
    throw shell::EndOfProgram{1};
  }
  ConvertedDatabase done;
  done.path = ruta;
  auto base = db::OpenShared(ruta);
  for (const auto& t : MoneyTables()) {
    auto& table = done.tables.emplace_back();
    table.table = t.table;
    auto rs = base.OpenRecordset(t.table, jet::dao::dbOpenTable);
    table.had_rows = !rs.IsEOF();
    rs.Close();
    if (!table.had_rows) continue;
    for (auto& sql : TableStatements(t, sentido)) {
      base.Execute(sql, db::kExecuteFailOnError);
      table.statements.push_back({std::move(sql), base.RecordsAffected()});
    }
  }
  base.Close();
  return done;
}

ConversionReport ConvertirBasesSetup() {
  ConversionReport report;
  report.from_setup = true;
  report.setup_path =
      shell::ResolveCase(shell::JoinPath(db::ProgramState::Instance().RutaApp, "Setup.mdb"));
  auto setup = OpenSetup(report.setup_path);
  auto rs = setup.OpenRecordset("TSetup", jet::dao::dbOpenTable);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    const jet::Value listed = rs.GetValue("FSetup01");
    std::string ruta = shell::ResolveCase(listed.is_null() ? std::string() : listed.ToString());
    if (AlreadyConverted(report, ruta)) {
      report.repeated.push_back(ruta);
      continue;
    }
    int sentido = kAEuros;
    report.converted.push_back(ConvertirBase(ruta, sentido));
  }
  rs.Close();
  setup.Close();
  shell::CurrentUi().Message("Proceso finalizado", "Cambio a Euros", shell::Icon::kNone);
  return report;
}

ConversionReport CambiarMoneda() {
  shell::BusyPointer busy;
  auto& state = db::ProgramState::Instance();
  if (state.BDatosTrabajo.empty()) return ConvertirBasesSetup();
  ConversionReport report;
  int sentido = kAEuros;
  report.converted.push_back(ConvertirBase(state.BDatosTrabajo, sentido));
  return report;
}

}  // namespace maquetor::currency
