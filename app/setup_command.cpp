#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "db/program_state.h"
#include "shell/forms/maquetor_abog.h"
#include "shell/paths.h"
#include "shell/settings.h"
#include "shell/startup.h"

namespace maquetor {
namespace {

struct Entry {
  std::string path;  // as the existence test asks for it
  shell::Listing listing;
  bool existed = false;
};

// What setup mode may create in the program folder.
std::vector<Entry> SetupEntries(const std::string& ruta_app) {
  const std::string bases = shell::JoinPath(ruta_app, "BASES");
  return {{bases, shell::Listing::kWithDirectories},
          {shell::JoinPath(bases, "SETUP.Mdb"), shell::Listing::kFilesOnly},
          {shell::JoinPath(bases, "DBRPT.Mdb"), shell::Listing::kFilesOnly}};
}

}  // namespace

void AddSetupCommand(CLI::App& app) {
  auto dir = std::make_shared<std::string>();
  CLI::App* cmd = app.add_subcommand(
      "setup",
      "Setup mode, as the installer's /Setup: ensure the BASES folder of the program folder, "
      "build Setup.MDB and DBRPT.MDB there when missing, record what was created in "
      "St6unst.log when that log exists.");
  cmd->add_option("--dir", *dir, "Program folder (default: the folder of this executable)");
  cmd->callback([dir] {
    const std::string folder = dir->empty() ? shell::ExecutableFolder()
                                            : WholePath(*dir);
    const std::string ruta_app = shell::ProgramFolder(folder);
    auto entries = SetupEntries(ruta_app);
    for (auto& e : entries) e.existed = shell::ExistsAsListed(e.path, e.listing);
    auto settings = shell::OpenProgramSettings();
    shell::forms::MaquetorAbog window;
    shell::Switches switches;
    switches.Setup = true;
    shell::Load(window, *settings, ruta_app, switches);
    int created = 0;
    for (const auto& e : entries) {
      if (!e.existed && shell::ExistsAsListed(e.path, e.listing)) {
        std::cout << "Creado: " << shell::ResolveCase(e.path) << '\n';
        ++created;
      }
    }
    if (!created) std::cout << "Nada que crear en " << ruta_app << '\n';
  });
}

}  // namespace maquetor
