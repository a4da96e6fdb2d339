// compact DB [OUT]: the database written again as a fresh Jet 4 file, as
// jet/compact.h describes; without OUT it takes DB's place.
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "commands.h"
#include "jet/compact.h"

namespace maquetor {

void AddCompactCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string out;
    std::string password = kProgramPassword;
    std::optional<std::string> new_password;
    bool encrypt = false;
    bool decrypt = false;
  };
  auto o = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "compact", "Write a database again without deleted rows and unused pages (Jet 4)");
  cmd->add_option("DB", o->path, "The .mdb file (Jet 3 or Jet 4)")->required();
  cmd->add_option("OUT", o->out,
                  "Where to write the result, which must not exist; without it the result "
                  "takes DB's place");
  cmd->add_option("--origin-password", o->password,
                  "DB's password (default: the program's own; \"\" for none)");
  cmd->add_option("--password", o->new_password,
                  "The result's password (\"\" for none; default: DB's)");
  auto* enc = cmd->add_flag("--encrypt", o->encrypt, "Encrypt the result's pages");
  cmd->add_flag("--decrypt", o->decrypt, "Write the result's pages unencrypted")->excludes(enc);
  cmd->footer(
      "Examples:\n"
      "  maquetor compact datos.mdb                  in place\n"
      "  maquetor compact datos.mdb copia.mdb --password \"\"\n"
      "Keeps every user table with its columns, properties, indexes and rows (in\n"
      "primary-key order), the relations, the saved queries, the database's\n"
      "properties, password and encryption (unless changed). Auto-numbers go on\n"
      "from the highest number kept. A Jet 3 database comes out as Jet 4. DB is\n"
      "opened exclusively; without OUT its path holds the old file or the whole\n"
      "new one at every moment. A damaged DB fails with Error 3049 and is left as\n"
      "it is: that is for repair.");
  cmd->callback([o] {
    jet::CompactOptions options;
    options.password = o->password;
    options.new_password = o->new_password;
    if (o->encrypt) options.encryption = jet::CompactOptions::Encryption::kEncrypt;
    if (o->decrypt) options.encryption = jet::CompactOptions::Encryption::kDecrypt;
    const jet::CompactResult r = jet::CompactDatabase(o->path, o->out, options);
    if (!r.left_out.empty()) {
      std::string names;
      for (const auto& n : r.left_out) names += (names.empty() ? "" : ", ") + n;
      std::cerr << "Not carried over (the desktop application's objects, linked tables): " << names
                << "\n";
    }
    std::cout << r.tables << " tables, " << r.rows << " rows; " << r.bytes_before << " -> "
              << r.bytes_after << " bytes\n"
              << std::flush;
  });
}

}  // namespace maquetor
