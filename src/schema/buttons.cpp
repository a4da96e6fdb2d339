#include "schema/buttons.h"

#include <array>
#include <filesystem>
#include <set>

#include "db/engine.h"
#include "db/file_name.h"

namespace maquetor::schema {
namespace {

// Every relation finds the tables it names already built.
constexpr std::array kCreationOrder = {
    NamedButton{"CmdConfig", CmdConfig},
    NamedButton{"Paises", Paises},
    NamedButton{"Abogados", Abogados},
    NamedButton{"Procuradores", Procuradores},
    NamedButton{"Juzgados", Juzgados},
    NamedButton{"Documentos", Documentos},
    NamedButton{"clienteAsunto", clienteAsunto},
    NamedButton{"Poder", Poder},
    NamedButton{"CLIENTEPODER", CLIENTEPODER},
    NamedButton{"ContrarioAsunto", ContrarioAsunto},
    NamedButton{"Contrarios", Contrarios},
    NamedButton{"IntervinienteAsunto", IntervinienteAsunto},
    NamedButton{"Intervinientes", Intervinientes},
    NamedButton{"Clientes", Clientes},
    NamedButton{"CmdDocAsun", CmdDocAsun},
    NamedButton{"Materias", Materias},
    NamedButton{"SubMaterias", SubMaterias},
    NamedButton{"Asuntos", Asuntos},
    NamedButton{"Minuta", Minuta},
    NamedButton{"Derechos", Derechos},
    NamedButton{"contable", contable},
    NamedButton{"historico", historico},
    NamedButton{"GNJudiciales", GNJudiciales},
    NamedButton{"GCobros", GCobros},
    NamedButton{"GProvi", GProvi},
    NamedButton{"GNoJudicial", GNoJudicial},
    NamedButton{"Gastos", Gastos},
    NamedButton{"cContable", cContable},
    NamedButton{"EProcesales", EProcesales},
    NamedButton{"Laboral", Laboral},
};

constexpr std::array kOtherButtons = {
    NamedButton{"direcciones", direcciones},
};

}  // namespace

std::span<const NamedButton> CreationOrder() { return kCreationOrder; }

Button FindButton(const std::string& name) {
  for (const auto& b : kCreationOrder) {
    if (name == b.name) return b.press;
  }
  for (const auto& b : kOtherButtons) {
    if (name == b.name) return b.press;
  }
  return nullptr;
}

namespace {

std::set<std::filesystem::path> FoldersAt(const std::string& path) {
  std::set<std::filesystem::path> out;
  std::error_code ec;
  const std::filesystem::path folder = db::FsPath(path).parent_path();
  std::filesystem::directory_iterator it(folder.empty() ? "." : folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) out.insert(it->path());
  }
  return out;
}

}  // namespace

FoldersBeside::FoldersBeside(const std::string& BDatosTrabajo)
    : path_(BDatosTrabajo), before_(FoldersAt(BDatosTrabajo)) {}

void FoldersBeside::RemoveNewEmpty() const {
  for (const auto& folder : FoldersAt(path_)) {
    std::error_code ec;
    if (!before_.count(folder) && std::filesystem::is_empty(folder, ec)) {
      std::filesystem::remove(folder, ec);
    }
  }
}

jet::dao::Database ConstruirBaseCompleta(const std::string& BDatosTrabajo) {
  // Ours stays open while the buttons open the file again, so that the
  // database is put at its path once.
  const FoldersBeside folders(BDatosTrabajo);
  jet::dao::Database db = db::CreateMainDatabase(BDatosTrabajo);
  try {
    for (const auto& b : kCreationOrder) b.press(BDatosTrabajo);
  } catch (...) {
    db.Discard();
    folders.RemoveNewEmpty();
    throw;
  }
  return db;
}

bool CrearBaseCompleta(const std::string& BDatosTrabajo) {
  if (std::filesystem::exists(db::FsPath(BDatosTrabajo))) return false;
  const FoldersBeside folders(BDatosTrabajo);
  jet::dao::Database db = ConstruirBaseCompleta(BDatosTrabajo);
  try {
    db.Close();  // the commit: its writes and syncs may fail too
  } catch (...) {
    folders.RemoveNewEmpty();
    throw;
  }
  return true;
}

}  // namespace maquetor::schema
