// The modern command line: one registration function per command word. Each
// command lives in its own file and adds a subcommand with its options and
// callback; main() only lists them here and in main.cpp.
#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "db/file_name.h"

namespace maquetor {

// The password the program protects its databases with.
inline constexpr const char* kProgramPassword = "KTRW_BLM";

// `path` (UTF-8) made absolute: the configuration row and the shell's
// program-wide paths record whole paths.
inline std::string WholePath(const std::string& path) {
  return db::Utf8Name(std::filesystem::absolute(db::FsPath(path)));
}

// Exit codes shared by every command.
inline constexpr int kExitOk = 0;
inline constexpr int kExitJetError = 1;
inline constexpr int kExitNotACommand = 2;
// Wrong options or arguments to a command.
inline constexpr int kExitUsage = 2;

// inspect DB [--password PWD] [--json] [--rows]
void AddInspectCommand(CLI::App& app);

// sql DB [--create] [--password PWD] [--verbose] [STATEMENT]
void AddSqlCommand(CLI::App& app);

// setup [--dir DIR]
void AddSetupCommand(CLI::App& app);

// migrate (--from-v8 | --from-v7) ORIGIN DEST
void AddMigrateCommand(CLI::App& app);

// euros [DB] [--program-dir DIR]
void AddEurosCommand(CLI::App& app);

// attach-docs ORIGIN DEST
void AddAttachDocsCommand(CLI::App& app);

// export DB (TABLE | --all DIR) [--format csv|json|jsonl] [mdb-export's options]
void AddExportCommand(CLI::App& app);
// The name of TABLE's file under export --all's folder, without extension.
std::string TableFileName(const std::string& table);

// tables DB [--system]
void AddTablesCommand(CLI::App& app);

// schema DB
void AddSchemaCommand(CLI::App& app);

// compact DB [OUT] [--origin-password PWD] [--password NEW] [--encrypt | --decrypt]
void AddCompactCommand(CLI::App& app);

// repair DB OUT [--password PWD] [--json]; exits 0 clean, 3 repaired, 4 hopeless
void AddRepairCommand(CLI::App& app);

}  // namespace maquetor
