#include "euros_command.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>

#include "commands.h"
#include "db/program_state.h"
#include "shell/startup.h"

namespace maquetor {

void PrintConversion(const currency::ConversionReport& report, std::ostream& out) {
  if (report.from_setup) {
    out << "Bases de TSetup en " << report.setup_path << '\n';
    if (report.converted.empty()) out << "TSetup no lista ninguna base\n";
  }
  for (const auto& done : report.converted) {
    out << "Base convertida: " << done.path << '\n';
    for (const auto& table : done.tables) {
      if (!table.had_rows) out << "  Sin filas: " << table.table << '\n';
      for (const auto& s : table.statements) {
        out << "  " << s.rows << (s.rows == 1 ? " fila afectada: " : " filas afectadas: ")
            << s.sql << '\n';
      }
    }
  }
  for (const auto& path : report.repeated) {
    out << "Repetida en TSetup, ya convertida: " << path << '\n';
  }
}

void AddEurosCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string program_dir;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "euros",
      "Convert a database's money amounts from pesetas to euros (divided by 166.386); without "
      "DB, every database listed in TSetup of the program folder's Setup.mdb");
  auto* db = cmd->add_option("DB", opts->path, "The database to convert");
  cmd->add_option("--program-dir", opts->program_dir,
                  "Program folder holding Setup.mdb, used without DB (default: the folder of "
                  "this executable)")
      ->excludes(db);
  cmd->footer(
      "Each run divides again: nothing in a database records that it is already in euros.\n"
      "A fee note (TMinuta) whose FMinuta07 is zero keeps all its amounts. A database listed\n"
      "more than once in TSetup is converted once. Setup.mdb is opened without a password\n"
      "and, when that is refused, with the program's.\n"
      "Prints each database and statement with the rows it changed. A failure prints\n"
      "\"Error NNNN: message\" on stderr and ends with status 1; the statements already run\n"
      "stay applied.");
  cmd->callback([opts] {
    auto& state = db::ProgramState::Instance();
    if (!opts->path.empty()) {
      state.BDatosTrabajo = WholePath(opts->path);
    } else {
      const std::string folder = opts->program_dir.empty()
                                     ? shell::ExecutableFolder()
                                     : WholePath(opts->program_dir);
      state.RutaApp = shell::ProgramFolder(folder);
      state.BDatosTrabajo.clear();
    }
    PrintConversion(currency::CambiarMoneda(), std::cout);
  });
}

}  // namespace maquetor
