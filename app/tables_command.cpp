// tables DB: the user tables, one per line, in catalogue order (the order
// mdb-tables -1 prints them in).
#include <iostream>
#include <memory>
#include <string>

#include "commands.h"
#include "table_rows.h"

namespace maquetor {

void AddTablesCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string password = kProgramPassword;
    bool system = false;
  };
  auto o = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("tables", "List a database's tables, one per line");
  cmd->add_option("DB", o->path, "The .mdb file")->required();
  cmd->add_option("--password", o->password,
                  "Database password (default: the program's own; \"\" for none)");
  cmd->add_flag("-S,--system", o->system, "Include the system tables (MSys...)");
  cmd->footer(
      "Example:\n"
      "  for t in $(maquetor tables datos.mdb); do maquetor export datos.mdb \"$t\" > \"$t.csv\"; done");
  cmd->callback([o] {
    ReadOnlyDatabase db(o->path, o->password);
    std::string out;
    for (const auto& name : db.TableNames(o->system)) out += name + '\n';
    std::cout << out << std::flush;
  });
}

}  // namespace maquetor
