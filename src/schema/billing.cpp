// Fee notes, fee items, provisions of funds and collections of a matter.
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTMinuta = {
    "TMinuta",
    {
        {"FMinuta01", Long, 0, Yes},
        {"FMinuta02", Long, 0, Yes},
        {"FMinuta03", Byte},
        {"FMinuta04", Long, 0, Yes},
        {"FMinuta05", Long, 0, Yes},
        {"FMinuta06", Date},
        {"FMinuta07", Double},
        {"FMinuta08", Double},
        {"FMinuta09", Double},
        {"FMinuta10", Single},
        {"FMinuta11", Single},
        {"FMinuta12", Double},
        {"FMinuta13", Double},
        {"FMinuta14", Double},
        {"FMinuta15", Long},
        {"FMinuta16", Boolean},
        {"FMinuta17", Boolean},
        {"FMinuta18", Long},
        {"FMinuta19", Long, 0, _, _, {}, AutoIncrement},
    },
    {
        {"IMinuta1", {"FMinuta04", "FMinuta05", "FMinuta16", "FMinuta18"}, No, No, Yes},
        // The fee note number that fee items, provisions and expenses carry.
        {"IMinuta2", {"FMinuta19"}, Yes, Yes, Yes},
    },
    {{"RMinuAsu", "TAsuntos", "TMinuta", {{"FAsu01", "FMinuta01"}, {"FAsu02", "FMinuta02"}},
      CascadeDeletes}},
};

const TableSpec kTDerecho = {
    "TDerecho",
    {
        {"FDerecho01", Long, 0, Yes},
        {"FDerecho02", Long, 0, Yes},
        {"FDerecho03", Text, 255, Yes},
        {"FDerecho04", Double, 0, Yes},
        {"FDerecho05", Single, 0, _, _, "0"},
        {"FDerecho06", Single, 0, _, _, "0"},
        {"FDerecho07", Long, 0, _, _, {}, AutoIncrement},
        {"FDerecho08", Long},
        {"FDerecho09", Date, 0, Yes},
        {"FDerecho10", Memo, 0, _, Yes},
    },
    {{"IDerecho", {"FDerecho07"}, Yes, Yes, Yes}},
    {
        {"RDerechoFac", "TMinuta", "TDerecho", {{"FMinuta19", "FDerecho08"}}, CascadeDeletes},
        {"RDerechodere", "TAsuntos", "TDerecho",
         {{"FAsu01", "FDerecho01"}, {"FAsu02", "FDerecho02"}}, CascadeDeletes},
    },
    WithTable,
};

const TableSpec kTGprovi = {
    "TGprovi",
    {
        {"FGprovi01", Long, 0, Yes},
        {"FGprovi02", Long, 0, Yes},
        {"FGprovi03", Date, 0, Yes},
        {"FGprovi04", Text, 40, _, Yes},
        {"FGprovi05", Double, 0, _, _, "0"},
        {"FGprovi06", Double, 0, _, _, "0"},
        {"FGprovi07", Long},
    },
    {{"IGprovi01", {"FGprovi01", "FGprovi02", "FGprovi03"}, Yes, No}},
    {
        {"RGproviAsu", "TAsuntos", "TGprovi", {{"FAsu01", "FGprovi01"}, {"FAsu02", "FGprovi02"}},
         CascadeDeletes},
        {"RGproviFac", "TMinuta", "TGprovi", {{"FMinuta19", "FGprovi07"}}, CascadeDeletes},
    },
    WithTable,
};

const TableSpec kTGCobros = {
    "TGCobros",
    {
        {"FGCobros01", Long, 0, Yes},
        {"FGCobros02", Long, 0, Yes},
        {"FGCobros03", Date, 0, Yes},
        {"FGCobros04", Text, 100, _, Yes},
        {"FGCobros05", Double, 0, _, _, "0"},
        {"FGCobros06", Single, 0, _, _, "0"},
        {"FGCobros07", Single, 0, _, _, "0"},
    },
    {{"IGCobros01", {"FGCobros01", "FGCobros02", "FGCobros03"}, Yes, No}},
    {{"RGCobrosAsu", "TAsuntos", "TGCobros", {{"FAsu01", "FGCobros01"}, {"FAsu02", "FGCobros02"}},
      CascadeDeletes}},
    WithTable,
};

}  // namespace

void Minuta(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Minuta", kTMinuta); }
void Derechos(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Derecho", kTDerecho); }
void GProvi(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Gprovi", kTGprovi); }
void GCobros(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "GCobros", kTGCobros); }

}  // namespace maquetor::schema
