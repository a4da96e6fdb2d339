// The links between parties and matters, powers of attorney and documents.
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTCliAsu = {
    "TCliAsu",
    {
        {"FCliAsu01", Long},
        {"FCliAsu02", Long},
        {"FCliAsu03", Long},
        {"FCliAsu04", Integer},
    },
    {{"ICliAsu1", {"FCliAsu01", "FCliAsu02", "FCliAsu03"}, Yes, Yes, Yes}},
    {},
    WithTable,
};

const TableSpec kTConAsu = {
    "TConAsu",
    {
        {"FConAsu01", Long},
        {"FConAsu02", Long},
        {"FConAsu03", Long},
        {"FConAsu04", Long},
        {"FConAsu05", Long},
    },
    {{"IConAsu1", {"FConAsu01", "FConAsu02", "FConAsu03"}, Yes, Yes, Yes}},
    {
        {"RConAsuAboCon", "TAbogados", "TConAsu", {{"FAbo01", "FConAsu04"}}, CascadeDeletes},
        {"RConAsuProCon", "TProcuradores", "TConAsu", {{"FPro01", "FConAsu05"}}, CascadeDeletes},
    },
    WithTable,
};

const TableSpec kTIntAsu = {
    "TIntAsu",
    {
        {"FInAsu01", Long},
        {"FInAsu02", Long},
        {"FInAsu03", Long},
    },
    {{"IIntAsu1", {"FInAsu01", "FInAsu02", "FInAsu03"}, Yes, Yes, Yes}},
    {},
    WithTable,
};

const TableSpec kTPoder = {
    "TPoder",
    {
        {"FPod01", Integer},
        {"FPod02", Text, 20, _, Yes},
        {"FPod03", Date},
        {"FPod04", Text, 40, _, Yes},
        {"FPod05", Text, 30, _, Yes},
        {"FPod06", Text, 100, _, Yes},
    },
    {{"IPoder1", {"FPod01"}, Yes, Yes, Yes}},
    // A power still named by a client cannot be deleted, only renumbered.
    {{"RPoderPod", "TPoder", "TCliAsu", {{"FPod01", "FCliAsu04"}}, CascadeUpdates}},
};

const TableSpec kTCliPod = {
    "TCliPod",
    {
        {"FCliPod01", Long},
        {"FCliPod02", Integer},
    },
    {{"ICliPod1", {"FCliPod01", "FCliPod02"}, Yes, Yes, Yes}},
    {{"RCliPod", "TPoder", "TCliPod", {{"FPod01", "FCliPod02"}}, CascadeUpdates}},
    WithTable,
};

const TableSpec kTDocu = {
    "TDocu",
    {
        {"FDoc01", Long, 0, _, _, {}, AutoIncrement},
        {"FDoc02", Text, 50, _, No},
        {"FDoc03", Text, 10, _, No, "PROPIOS"},
    },
    {
        {"IDoc01", {"FDoc01"}, Yes, Yes, Yes},
        // Named like its field: no two catalogue entries share a name.
        {"FDoc02", {"FDoc02"}, _, Yes},
    },
    {},
    WithTable,
};

const TableSpec kTDocAsu = {
    "TDocAsu",
    {
        {"FDocAsu01", Long, 0, No},
        {"FDocAsu02", Long, 0, Yes},
        {"FDocAsu03", Long, 0, Yes},
        {"FDocAsu04", Date, 0, Yes},
        {"FDocAsu05", Long, 0, _, _, {}, AutoIncrement},
        {"FDocAsu06", Text, 50, No, _, ""},
        {"FDocAsu07", Text, 0, No, Yes, ""},
        {"FDocAsu08", Byte, 0, _, _, "0"},
    },
    {
        {"IDocAsu", {"FDocAsu01", "FDocAsu02", "FDocAsu03"}, No, No, Yes},
        {"IDocAsuAuto", {"FDocAsu05"}, Yes, Yes, Yes},
    },
    {},
    WithTable,
};

}  // namespace

void clienteAsunto(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "CliAsu", kTCliAsu); }
void ContrarioAsunto(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "ConAsu", kTConAsu); }
void IntervinienteAsunto(const std::string& BDatosTrabajo) {
  Press(BDatosTrabajo, "IntAsu", kTIntAsu);
}
void Poder(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "Poder", kTPoder); }
void CLIENTEPODER(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "CliPod", kTCliPod); }
void CmdDocAsun(const std::string& BDatosTrabajo) { Press(BDatosTrabajo, "DocAsu", kTDocAsu); }

// Keeps its base name to itself, leaving NombreBase alone, and closes the
// database when done.
void Documentos(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, std::nullopt);
  builder.Build(kTDocu);
  builder.Close();
}

}  // namespace maquetor::schema
