#include "table_command.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "schema/buttons.h"

namespace maquetor {

void AddTableCommand(CLI::App& app) {
  struct Args {
    std::string path;
    std::vector<std::string> buttons;
  };
  auto args = std::make_shared<Args>();
  CLI::App* cmd = app.add_subcommand(
      "table", "Press table buttons (Paises, Abogados, ..., direcciones) on an existing database.");
  cmd->add_option("DB", args->path, "Path of the working database")->required();
  cmd->add_option("BUTTON", args->buttons, "Button names, exactly as on the main window")
      ->required()
      ->check([](const std::string& name) {
        return schema::FindButton(name) ? std::string() : "unknown button '" + name + "'";
      });
  cmd->callback([args] {
    const std::string path = WholePath(args->path);
    for (const auto& name : args->buttons) schema::FindButton(name)(path);
  });
}

}  // namespace maquetor
