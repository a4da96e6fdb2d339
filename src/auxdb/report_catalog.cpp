// TList and its 42 reports.
#include "auxdb/report_catalog.h"

#include <iterator>

#include "auxdb/bases_file.h"
#include "db/engine.h"
#include "schema/layout.h"
#include "shell/ui.h"

namespace maquetor::auxdb {
namespace {

using namespace schema;

const TableSpec kTList = {
    "TList",
    {
        {"FList01", Text, 3, Yes, No},
        {"FList02", Text, 40, Yes, No},
        {"FList03", Text, 40, Yes, No},
        {"FList04", Byte, 0, _, _, "0"},
    },
    {{"IList", {"FList02"}, Yes, Yes, Yes, true}},
};

struct Report {
  const char* code;   // the application's area
  const char* title;  // the key
  const char* file;   // one report file, or two separated by ";"
  int number;
};

// "LibroIVA" does not fit the three characters of FList01: the engine's SQL
// stores it cut to "Lib", so those rows arrive all the same.
constexpr Report kReports[] = {
    {"Abo", "LISTADO DE ABOGADOS POR CODIGO", "LSTABO002.RPT", 2},
    {"Abo", "LISTADO DE ABOGADOS POR NOMBRE", "LSTABO001.RPT", 3},
    {"Abo", "LISTADO DE ASUNTOS POR ABOGADO", "LSTABO003.RPT", 2},
    {"Pro", "LISTADO DE PROCURADORES POR CODIGO", "LSTPRO002.RPT", 2},
    {"Pro", "LISTADO DE PROCURADORES POR NOMBRE", "LSTPRO001.RPT", 3},
    {"Pro", "LISTADO DE ASUNTOS POR PROCURADOR", "LSTPRO003.RPT", 2},
    {"Juz", "LISTADO DE JUZGADOS POR CODIGO", "LSTJUZ001.RPT", 2},
    {"Cli", "LISTADO DE CLIENTES POR CODIGO", "LSTCLI002.RPT", 1},
    {"Cli", "LISTADO DE CLIENTES POR NOMBRE", "LSTCLI001.RPT", 3},
    {"Cli", "LISTADO DE PROFORMAS", "LSTCLI003.RPT", 8},
    {"Cli", "LISTADO DE ASUNTOS POR CLIENTE", "LSTCLI004.RPT", 1},
    {"Con", "LISTADO DE CONTRARIOS POR CODIGO", "LSTCON002.RPT", 1},
    {"Con", "LISTADO DE CONTRARIOS POR NOMBRE", "LSTCON001.RPT", 3},
    {"Con", "LISTADO DE PROFORMAS CONTRARIOS", "LSTCON003.RPT", 9},
    {"Int", "LISTADO DE INTERVINIENTES POR CODIGO", "LSTINT002.RPT", 1},
    {"Int", "LISTADO DE INTERVINIENTES POR NOMBRE", "LSTINT001.RPT", 3},
    {"Pod", "LISTADO DE PODERES", "LSTPOD001.RPT", 1},
    {"Exh", "LISTADO DE EXHORTOS", "LSTEXH001.RPT", 11},
    {"Asu", "LISTADO DE PORTADA", "LSTASU001.RPT", 12},
    {"Asu", "LISTADO DE CLIENTES", "LSTASU002.RPT", 11},
    {"Asu", "LISTADO DE CONTRARIOS", "LSTASU003.RPT", 11},
    {"Asu", "LISTADO DE INTERVINIENTES", "LSTASU004.RPT", 11},
    {"Asu", "LISTADO DE GESTION JUDICIAL", "LSTASU005.RPT", 11},
    {"Asu", "LISTADO DE GASTOS JUDICIALES", "LSTASU006.RPT", 12},
    {"Asu", "LISTADO DE GASTOS NO JUDICIALES", "LSTASU007.RPT", 12},
    {"Asu", "LISTADO DE GESTION DE COBROS", "LSTASU008.RPT", 12},
    {"Asu", "LISTADO DE MINUTA", "LSTASU009.RPT", 12},
    {"Asu", "LISTADO DE GESTIÓN DE DOCUMENTOS", "LSTASU010.RPT", 11},
    {"Asu", "LISTADO DE GESTIÓN NO JUDICIAL", "LSTASU011.RPT", 11},
    {"Gas", "LISTADO DE GASTOS", "LSTGTS001.RPT", 5},
    {"Usu", "LISTADO DE USUARIOS", "LSTUSU001.RPT", 13},
    {"Cco", "LISTADO DE CUENTA CONTABLE", "LSTCCN001.RPT", 13},
    {"Age", "LISTADO POR ESTE ASUNTO", "LSTASU011.RPT", 11},
    {"Age", "LISTADO RELACIONADOS A ASUNTOS", "LSTAGE001.RPT", 15},
    {"Age", "LISTADO NO RELACIONADOS A ASUNTOS", "LSTAGE001.RPT", 14},
    {"Fac", "FACTURAS PARA HACIENDA", "LSTMIN001.RPT;LSTMIN002.RPT", 5},
    {"LibroIVA", "IVA SOPORTADO", "LSTIVA001.RPT", 5},
    {"LibroIVA", "IVA REPERCUTIDO", "LSTIVA002.RPT", 5},
    {"LibroIVA", "RET SOPORTADA", "LSTRET001.RPT", 5},
    {"LibroIVA", "RET REPERCUTIDA", "LSTRET002.RPT", 5},
    {"LibroIVA", "PROVISIONES", "LSTPROV.RPT", 5},
    {"LibroIVA", "ESTADO DE CUENTAS", "LSTRES.RPT", 5},
};

// The statements name the last column "Flist04" up to here and "FList04"
// after; names match without regard to case, so both reach the same field.
constexpr size_t kFirstWithFList04 = 32;

}  // namespace

std::vector<std::string> ReportSeedStatements() {
  std::vector<std::string> statements;
  for (size_t i = 0; i < std::size(kReports); ++i) {
    const Report& r = kReports[i];
    statements.push_back(std::string("INSERT INTO TList (FList01,FList02,FList03,") +
                         (i < kFirstWithFList04 ? "Flist04" : "FList04") + ") VALUES ('" + r.code +
                         "','" + r.title + "','" + r.file + "'," + std::to_string(r.number) + ")");
  }
  return statements;
}

void REPORT() {
  // Restored on the way out whatever happens, so a refused press does not
  // leave the window showing the hourglass.
  shell::BusyPointer busy;
  // The file reaches its path with its table and seed rows, or not at all.
  jet::dao::Database base = CreateInBases("DBRPT.MDB");
  try {
    db::BuildTable(base, kTList);
    for (const std::string& statement : ReportSeedStatements()) {
      base.Execute(statement, db::kExecuteSeed);
    }
  } catch (...) {
    base.Discard();
    throw;
  }
  base.Close();
  LogCreatedInBases("DBRPT.MDB");
}

}  // namespace maquetor::auxdb
