// maquetor: when the first argument is a command word it runs that command;
// anything else is the installer's switch text, which is not handled yet.
#include <exception>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "create_command.h"
#include "table_command.h"
#include "jet/error.h"

namespace {

constexpr const char* kVersion = "maquetor 0.1.0";

void RegisterCommands(CLI::App& app) {
  maquetor::AddInspectCommand(app);
  maquetor::AddCreateCommand(app);
  maquetor::AddTableCommand(app);
  maquetor::AddSqlCommand(app);
  // Later commands register here, each from its own file through commands.h:
  // setup, migrate, euros, attach-docs.
}

bool IsCommandWord(const CLI::App& app, const std::string& word) {
  for (const auto* sub : app.get_subcommands([](const CLI::App*) { return true; })) {
    if (sub->get_name() == word) return true;
  }
  return false;
}

bool IsHelpOrVersion(const std::string& arg) {
  return arg == "-h" || arg == "--help" || arg == "--version";
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Maintenance of the office application's Jet (.mdb) databases.", "maquetor"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(0, 1);
  app.footer(
      "Examples:\n"
      "  maquetor inspect datos.mdb                 tables, columns and indexes\n"
      "  maquetor inspect datos.mdb --json --rows   everything, rows included, as JSON\n"
      "  maquetor sql datos.mdb \"SELECT * FROM T\"   a query's rows as CSV\n"
      "Run 'maquetor COMMAND --help' for a command's options.");
  RegisterCommands(app);

  if (argc < 2) {
    std::cout << app.help();
    return maquetor::kExitOk;
  }
  const std::string first = argv[1];
  if (!IsCommandWord(app, first) && !IsHelpOrVersion(first)) {
    std::cerr << "maquetor: '" << first
              << "' is not a command; installer switches are not supported yet. "
                 "See 'maquetor --help'.\n";
    return maquetor::kExitNotACommand;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::RuntimeError& e) {
    return e.get_exit_code();  // a command's own outcome, already reported
  } catch (const CLI::ParseError& e) {
    // Help and version end well; every usage error ends with one status.
    return app.exit(e) == 0 ? maquetor::kExitOk : maquetor::kExitUsage;
  } catch (const jet::JetError& e) {
    std::cerr << "Error " << e.number() << ": " << e.what() << '\n';
    return maquetor::kExitJetError;
  } catch (const std::exception& e) {
    std::cerr << "Error: " << e.what() << '\n';
    return maquetor::kExitJetError;
  }
  return maquetor::kExitOk;
}
