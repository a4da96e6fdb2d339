// Matters, their subject areas, procedural events and labour-case data.
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTMaterias = {
    "TMaterias",
    {
        {"FMateria01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FMateria02", Text, 0, Yes},
    },
    {{"IMaterias1", {"FMateria01"}, Yes, Yes, Yes}},
};

const TableSpec kTSubMaterias = {
    "TSubMaterias",
    {
        {"FSubMateria01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FSubMateria02", Text, 0, Yes},
        {"FSubMateria03", Long, 0, Yes},
    },
    {{"ISubMaterias1", {"FSubMateria01"}, Yes, Yes, Yes}},
    {{"RSubMateriaMateria", "TMaterias", "TSubMaterias", {{"FMateria01", "FSubMateria03"}},
      CascadeDeletes}},
};

// The matter key is the pair FAsu01, FAsu02, supplied by the application.
const TableSpec kTAsuntos = {
    "TAsuntos",
    {
        {"FAsu01", Long, 0, Yes},
        {"FAsu02", Long, 0, Yes},
        {"FAsu03", Text, 12, _, Yes},
        {"FAsu04", Date},
        {"FAsu05", Long},
        {"FAsu06", Long},
        {"FAsu07", Long},
        {"FAsu08", Long},
        {"FAsu09", Long},
        {"FAsu10", Text, 8, _, Yes},
        {"FAsu11", Text, 3, _, Yes},
        {"FAsu12", Text, 50, _, Yes},
        {"FAsu13", Boolean, 0, _, _, "0"},
        {"FAsu14", Byte, 0, _, _, "0"},
        {"FAsu15", Long},
        {"FAsu16", Double, 0, _, _, "0"},
        {"FAsu17", Double, 0, _, _, "0"},
        {"FAsu18", Text, 50, _, Yes},
        {"FAsu19", Date},
        {"FAsu20", Text, 50, _, Yes},
        {"FAsu21", Double, 0, _, _, "0"},
        {"FAsu22", Double, 0, _, _, "0"},
        {"FAsu23", Text, 8, _, Yes},
        {"FAsu24", Single, 0, _, _, "0"},
        {"FAsu25", Single, 0, _, _, "0"},
        {"FAsu26", Text, 25, _, Yes},
        {"FAsu27", Text, 25, _, Yes},
    },
    {{"IAsuntos1", {"FAsu01", "FAsu02"}, Yes, Yes, Yes}},
    {
        {"RAsuntosCon", "TAsuntos", "TConAsu", {{"FAsu01", "FConAsu02"}, {"FAsu02", "FConAsu03"}},
         CascadeDeletes},
        {"RAsuntosDoc", "TAsuntos", "TDocAsu", {{"FAsu01", "FDocAsu02"}, {"FAsu02", "FDocAsu03"}},
         CascadeDeletes},
        {"RAsuntosCli", "TAsuntos", "TCliAsu", {{"FAsu01", "FCliAsu02"}, {"FAsu02", "FCliAsu03"}},
         CascadeDeletes},
        {"RAsuntosInt", "TAsuntos", "TIntAsu", {{"FAsu01", "FInAsu02"}, {"FAsu02", "FInAsu03"}},
         CascadeDeletes},
        {"RAsuntosAboCli", "TAbogados", "TAsuntos", {{"FAbo01", "FAsu05"}}, CascadeDeletes},
        {"RAsuntosProCli", "TProcuradores", "TAsuntos", {{"FPro01", "FAsu06"}}, CascadeDeletes},
        {"RAsuntosJuz", "TJuzgados", "TAsuntos", {{"FJuz07", "FAsu09"}}, CascadeDeletes},
        {"RAsuntosAud", "TJuzgados", "TAsuntos", {{"FJuz07", "FAsu15"}}, CascadeDeletes},
        // A classification in use cannot be deleted, only renumbered.
        {"RAsuntosMAt", "TMaterias", "TAsuntos", {{"FMateria01", "FAsu07"}}, CascadeUpdates},
        {"RAsuntossubMAt", "TSubMaterias", "TAsuntos", {{"FSubMateria01", "FAsu08"}},
         CascadeUpdates},
    },
};

const TableSpec kTProcesales = {
    "TProcesales",
    {
        {"FProcesales01", Long, 0, Yes},
        {"FProcesales02", Long, 0, Yes},
        {"FProcesales03", Date, 0, No},
        // The empty text as default leaves the field without one.
        {"FProcesales04", Text, 100, _, _, ""},
        {"FProcesales05", Text, 50, _, _, ""},
        {"FProcesales06", Long, 0, _, _, {}, AutoIncrement},
    },
    {{"IProcesales", {"FProcesales06"}, Yes, Yes, Yes}},
    {{"RProcesalesProcesales", "TAsuntos", "TProcesales",
      {{"FAsu01", "FProcesales01"}, {"FAsu02", "FProcesales02"}}, CascadeDeletes}},
    WithTable,
};

const TableSpec kTLaboral = {
    "TLaboral",
    {
        {"FLab01", Long, 0, Yes, _, {}, AutoIncrement},
        {"FLab02", Date},
        {"FLab03", Byte, 0, _, _, "0"},
        {"FLab04", Text, 10, _, Yes},
        {"FLab05", Text, 10, _, Yes},
        {"FLab06", Text, 50, _, Yes},
        {"FLab07", Text, 10, _, Yes},
        {"FLab08", Long, 0, _, _, "0"},
        {"FLab09", Date},
        {"FLab10", Date},
        {"FLab11", Text, 50, _, Yes},
        {"FLab12", Text, 50, _, Yes},
        {"FLab13", Memo, 0, _, Yes},
    },
    {{"ILaboral1", {"FLab01"}, Yes, Yes, Yes}},
    // The client whose FCli12 holds the record's FLab01 owns it.
    {{"RCliLAb", "TClientes", "TLaboral", {{"FCli12", "FLab01"}}, CascadeDeletes}},
};

}  // namespace

void Materias(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Materias", kTMaterias); }
void SubMaterias(const std::string& BDatosTrabajo) {
  Press(BDatosTrabajo, "SubMaterias", kTSubMaterias);
}
void Asuntos(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Asuntos", kTAsuntos); }
void EProcesales(const std::string& BDatosTrabajo) {
  Press(BDatosTrabajo, "Procesales", kTProcesales);
}
void Laboral(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Laboral", kTLaboral); }

}  // namespace maquetor::schema
