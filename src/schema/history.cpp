// Matter history and non-judicial steps: an entry table and a secondary
// table of one record per entry, built together on one handle.
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTHistorico = {
    "THistorico",
    {
        {"FHist01", Long, 0, Yes},
        {"FHist02", Long, 0, Yes},
        {"FHist03", Date, 0, Yes},
        {"FHist04", Long, 0, _, _, {}, AutoIncrement},
    },
    {{"IHisto1", {"FHist04"}, Yes, Yes, _, true, AutoIncrement}},
    {{"RHistoricoAsu", "TAsuntos", "THistorico", {{"FAsu01", "FHist01"}, {"FAsu02", "FHist02"}},
      CascadeDeletes}},
    WithTable,
};

const TableSpec kTHistoricoSec = {
    "THistoricoSec",
    {
        {"FHistSec01", Long, 0, Yes},
        {"FHistSec02", Text, 5, _, Yes},
        {"FHistSec03", Memo, 0, _, Yes},
        {"FHistSec04", Boolean},
        {"FHistSec05", Text, 10, _, Yes},
        {"FHistSec06", Text, 5, _, Yes},
        {"FHistSec07", Byte, 0, _, _, "0"},
    },
    {{"Ind_HistSec", {"FHistSec01"}, Yes}},
    {{"RHistoricoSec", "THistorico", "THistoricoSec", {{"FHist04", "FHistSec01"}},
      CascadeDeletes}},
};

const TableSpec kTGesNoJudicial = {
    "TGesNoJudicial",
    {
        // A step need not belong to a matter.
        {"FGesNJ01", Long},
        {"FGesNJ02", Long},
        {"FGesNJ03", Date, 0, Yes},
        {"FGesNJ04", Long, 0, _, _, {}, AutoIncrement},
    },
    {{"Ind_GesNJ", {"FGesNJ04"}, Yes, Yes}},
    {{"RGesNoJudicial", "TAsuntos", "TGesNoJudicial",
      {{"FAsu01", "FGesNJ01"}, {"FAsu02", "FGesNJ02"}}, CascadeDeletes}},
};

const TableSpec kTGesNoJudicialSec = {
    "TGesNoJudicialSec",
    {
        {"FGesNJS01", Long, 0, Yes},
        {"FGesNJS02", Text, 5, No},
        {"FGesNJS03", Memo, 0, No},
        {"FGesNJS04", Boolean},
        {"FGesNJS05", Text, 10, No, Yes},
        {"FGesNJS06", Text, 5, No, Yes},
        {"FGesNJS07", Byte, 0, _, _, "0"},
    },
    {{"Ind_GesNJS", {"FGesNJS01"}, Yes, Yes}},
    {{"RGesNoJudicialSec", "TGesNoJudicial", "TGesNoJudicialSec", {{"FGesNJ04", "FGesNJS01"}},
      CascadeDeletes}},
};

}  // namespace

void historico(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, "Historico");
  builder.Build(kTHistorico);
  builder.Build(kTHistoricoSec);
}

void GNoJudicial(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, "GesNoJudicial");
  builder.Build(kTGesNoJudicial);
  builder.Build(kTGesNoJudicialSec);
}

}  // namespace maquetor::schema
