#include "schema/buttons.h"

#include <array>
#include <filesystem>

#include "db/engine.h"

namespace maquetor::schema {
namespace {

constexpr std::array kCreationOrder = {
    NamedButton{"Paises", Paises},
    NamedButton{"Abogados", Abogados},
    NamedButton{"Procuradores", Procuradores},
    NamedButton{"Juzgados", Juzgados},
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

bool CrearBaseCompleta(const std::string& BDatosTrabajo) {
  if (std::filesystem::exists(BDatosTrabajo)) return false;
  // The buttons open the file again exclusively; ours need not stay open.
  db::CreateMainDatabase(BDatosTrabajo).Close();
  for (const auto& b : kCreationOrder) b.press(BDatosTrabajo);
  return true;
}

}  // namespace maquetor::schema
