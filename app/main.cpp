// maquetor: when the first argument is a command word it runs that command;
// anything else is the installer's switch text.
#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.h"
#include "create_command.h"
#include "switch_run.h"
#include "table_command.h"
#include "jet/error.h"
#include "shell/platform.h"
#include "shell/settings.h"
#include "shell/startup.h"

namespace {

constexpr const char* kVersion = "maquetor " MAQUETOR_VERSION;

void RegisterCommands(CLI::App& app) {
  maquetor::AddInspectCommand(app);
  maquetor::AddCreateCommand(app);
  maquetor::AddTableCommand(app);
  maquetor::AddSqlCommand(app);
  maquetor::AddSetupCommand(app);
  maquetor::AddMigrateCommand(app);
  maquetor::AddEurosCommand(app);
  maquetor::AddAttachDocsCommand(app);
  maquetor::AddExportCommand(app);
  maquetor::AddTablesCommand(app);
  maquetor::AddSchemaCommand(app);
  maquetor::AddCompactCommand(app);
  maquetor::AddRepairCommand(app);
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

// The help's closing text: the switches as this system reads them.
std::string Footer() {
  using maquetor::shell::PathRule;
  const bool windows = maquetor::shell::kPlatformPathRule == PathRule::kWindows;
#ifdef MAQUETOR_WITH_WINDOW
  const std::string mostrar = "  /M            show the window (alone: the interactive window)\n";
#else
  const std::string mostrar =
      "  /M            the window; this build has none, so /M alone fails and\n"
      "                the other runs go on without it\n";
#endif
  const std::string path_end =
      windows ? "                path ends at the next '/' (none: at the end)\n"
              : "                path ends at a blank followed by '/', or at the end\n";
  const std::string examples =
      windows ? "  maquetor /BD:C:\\Despachos\\Despacho.mdb     what the installer runs\n"
                "  maquetor /Setup                            setup mode for this program's folder\n"
                "  maquetor create C:\\Datos\\datos.mdb         the whole database, from the command line\n"
                "  maquetor setup --dir C:\\Corvanta           setup mode for another folder\n"
              : "  maquetor /BD:/srv/despacho/datos.mdb       what the installer runs\n"
                "  maquetor /Setup                            setup mode for this program's folder\n"
                "  maquetor /M                                the desktop window\n"
                "  maquetor create datos.mdb                  the whole database, from the command line\n"
                "  maquetor setup --dir /opt/corvanta         setup mode for another folder\n";
  return "Installer switches (when the first argument is not a command; case matters,\n"
         "found anywhere in the text, first occurrence):\n"
         "  /Setup        setup mode: the BASES folder, Setup.MDB and DBRPT.MDB when\n"
         "                missing, entries in St6unst.log; then end\n"
         "  /BD:PATH      build the whole law-office database at PATH, then end; the\n" +
         path_end + mostrar +
         "  /Tipo:Abog    accepted for the installer; changes nothing\n"
         "  With none of these the program only seeds the office application's\n"
         "  settings (once) and ends. Settings live in\n"
         "  " + maquetor::shell::SettingsLocation(maquetor::shell::kSettingsApplication) + ".\n"
         "  A failure prints 'Error NNNN: message' and ends with status 1.\n"
         "\n"
         "Examples:\n" + examples +
         "  maquetor inspect datos.mdb                 tables, columns and indexes\n"
         "  maquetor inspect datos.mdb --json --rows   everything, rows included, as JSON\n"
         "  maquetor sql datos.mdb \"SELECT * FROM T\"   a query's rows as CSV\n"
         "  maquetor export datos.mdb T > t.csv        a table as mdb-export writes it\n"
         "  maquetor export datos.mdb --all volcado    every table, one file each\n"
         "  maquetor tables datos.mdb                  the user tables, one per line\n"
         "  maquetor schema datos.mdb > esquema.sql    DDL that 'sql NEW --create' replays\n"
         "  maquetor repair datos.mdb nueva.mdb        what a damaged file still holds, into a new one\n"
         "Run 'maquetor COMMAND --help' for a command's options.";
}

int Run(int argc, char** argv) {
  namespace platform = maquetor::shell::platform;
  platform::SetUpStandardStreams();
  // The arguments in UTF-8, whatever the system handed to main.
  std::vector<std::string> args = platform::Arguments(argc, argv);
  std::vector<char*> utf8_argv;
  for (auto& a : args) utf8_argv.push_back(a.data());
  utf8_argv.push_back(nullptr);
  argc = static_cast<int>(args.size());
  argv = utf8_argv.data();

  CLI::App app{"Maintenance of the office application's Jet (.mdb) databases.", "maquetor"};
  app.set_version_flag("--version", kVersion);
  app.require_subcommand(0, 1);
  app.footer(Footer());
  RegisterCommands(app);

  const std::string first = argc > 1 ? argv[1] : "";
  if (!IsCommandWord(app, first) && !IsHelpOrVersion(first)) {
    return maquetor::RunSwitches(argc, argv);
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

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
  // Past a file-size limit (ulimit -f) a write then fails with EFBIG, which
  // the engine reports as a full disk (3026), instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  int status = Run(argc, argv);
  // A database let go without an explicit close whose changes could not be
  // put in place: the file was left as it was, and the run did not succeed.
  for (const jet::JetError& e : jet::TakeDeferredErrors()) {
    std::cerr << "Error " << e.number() << ": " << e.what() << '\n';
    if (status == maquetor::kExitOk) status = maquetor::kExitJetError;
  }
  return status;
}
