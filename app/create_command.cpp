#include "create_command.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "schema/buttons.h"

namespace maquetor {

void AddCreateCommand(CLI::App& app) {
  auto path = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "create", "Create the law-office database: its 38 tables, relations and seed rows.");
  cmd->add_option("DB", *path, "Path of the new database")->required();
  cmd->callback([path] {
    // The configuration row records the document folder by its full path.
    if (!schema::CrearBaseCompleta(WholePath(*path))) {
      std::cerr << "La base de datos ya existe; no se ha modificado: " << *path << '\n';
    }
  });
}

}  // namespace maquetor
