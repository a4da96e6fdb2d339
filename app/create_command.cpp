#include "create_command.h"

#include <iostream>
#include <memory>
#include <string>

#include "schema/buttons.h"

namespace maquetor {

void AddCreateCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "create", "Create the law-office database: its 38 tables, relations and seed rows.");
  cmd->add_option("DB", *path, "Path of the new database")->required();
  cmd->callback([path] {
    if (!schema::CrearBaseCompleta(*path)) {
      std::cerr << "La base de datos ya existe; no se ha modificado: " << *path << '\n';
    }
  });
}

}  // namespace maquetor
