// Expenses of a matter, expenses of the office and the expense accounts.
#include <array>

#include "db/engine.h"
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

// Judicial and non-judicial expenses share one record layout, field names
// included; only the default of FContable10 differs.
std::vector<FieldSpec> ExpenseFields(const char* default10) {
  return {
      {"FContable01", Long, 0, Yes},
      {"FContable02", Long, 0, Yes},
      {"FContable03", Date, 0, Yes},
      {"FContable04", Text, 40, Yes},
      {"FContable05", Double},
      {"FContable06", Boolean},
      {"FContable07", Long, 0, _, _, {}, AutoIncrement},
      {"FContable08", Single, 0, _, _, "0"},
      {"FContable09", Single, 0, _, _, "0"},
      {"FContable10", Boolean, 0, _, _, default10},
      {"FContable11", Text, 9, _, Yes},
      {"FContable12", Long},
  };
}

const IndexSpec kIContable1 = {"IContable1", {"FContable07"}, Yes, Yes, _, true, AutoIncrement};

const TableSpec kTContable = {
    "TContable",
    ExpenseFields("True"),
    {kIContable1, {"IContable2", {"FContable12"}}},
    {
        {"RContableAsu", "TAsuntos", "TContable",
         {{"FAsu01", "FContable01"}, {"FAsu02", "FContable02"}}, CascadeDeletes},
        {"RContableFac", "TMinuta", "TContable", {{"FMinuta19", "FContable12"}}, CascadeDeletes},
    },
};

const TableSpec kTGastosNo = {
    "TGastosNo",
    ExpenseFields(nullptr),
    {kIContable1},
    {
        {"RGastosNoAsu", "TAsuntos", "TGastosNo",
         {{"FAsu01", "FContable01"}, {"FAsu02", "FContable02"}}, CascadeDeletes},
        {"RGastosNoFac", "TMinuta", "TGastosNo", {{"FMinuta19", "FContable12"}}, CascadeDeletes},
    },
};

// No index: FGastos01 numbers the rows but is not a key.
const TableSpec kTGastos = {
    "TGastos",
    {
        {"FGastos01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FGastos02", Date, 0, Yes},
        {"FGastos03", Text, 40},
        {"FGastos04", Integer, 0, Yes},
        {"FGastos05", Double, 0, Yes},
        {"FGastos06", Single, 0, _, _, "0"},
        {"FGastos07", Single, 0, _, _, "0"},
        {"FGastos08", Boolean, 0, _, _, "True"},
        {"FGastos09", Text, 9, _, Yes},
        {"FGastos10", Long, 0, Yes, _, "1"},
    },
};

const TableSpec kTcContable = {
    "TcContable",
    {
        {"FcContable01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FcContable02", Text, 9, Yes},
        {"FcContable03", Text, 50, Yes},
    },
    {{"Indice", {"FcContable02"}, Yes, Yes}},
    {},
    WithTable,
};

// The standard accounts, in this order (the engine numbers them so). The
// second name has two blanks after CUOTAS.
constexpr std::array<const char*, 7> kCuentas = {
    " (FcContable02,FcContable03) VALUES ('46','COSTE DE PERSONAL A SU SERVICIO')",
    " (FcContable02,FcContable03) VALUES ('642','CUOTAS  OBLIGATORIAS S.S. TITULAR')",
    " (FcContable02,FcContable03) VALUES ('66','GASTOS FINANCIEROS')",
    " (FcContable02,FcContable03) VALUES ('63','TRIBUTOS NO ESTATALES')",
    " (FcContable02,FcContable03) VALUES ('607','TRABAJOS SUMINISTROS Y SERV. EXT.')",
    " (FcContable02,FcContable03) VALUES ('624','TRANSPORTES Y FLETES')",
    " (FcContable02,FcContable03) VALUES ('631','OTROS')",
};

}  // namespace

void contable(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Contable", kTContable); }
void GNJudiciales(const std::string& BDatosTrabajo) {
  Press(BDatosTrabajo, "GastosNo", kTGastosNo);
}
void Gastos(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Gastos", kTGastos); }

void cContable(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, "cContable");
  builder.Build(kTcContable);
  for (const char* row : kCuentas) {
    builder.database().Execute(std::string("Insert Into ") + kTcContable.name + row,
                               db::kExecuteSeed);
  }
  builder.Close();
}

}  // namespace maquetor::schema
