#include "migrate_command.h"

#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <unistd.h>

#include "commands.h"
#include "jet/error.h"
#include "migrate/migration.h"
#include "schema/buttons.h"

namespace maquetor {
namespace {

constexpr int kTableWidth = 20;
constexpr int kCountWidth = 10;

std::string Note(const migrate::TableResult& t) {
  switch (t.outcome) {
    case migrate::Outcome::kEmptyOrigin: return "vacía en el origen";
    case migrate::Outcome::kNotOpened:
      return std::string("no se pudo abrir en el ") +
             (t.not_opened->in_origin ? "origen" : "destino") + " (Error " +
             std::to_string(t.not_opened->number) + ": " + t.not_opened->message + ")";
    case migrate::Outcome::kStopped: return "detenida";
    case migrate::Outcome::kCopied: break;
  }
  if (t.fields_defaulted > 0) {
    return std::to_string(t.fields_defaulted) + " campos quedaron con su valor por defecto";
  }
  return "";
}

// One line of progress on a terminal, rewritten as each step starts.
class TerminalProgress {
 public:
  explicit TerminalProgress(size_t steps) : steps_(steps) {}
  void operator()(const migrate::TableResult& step, bool finished) {
    if (finished) return;
    ++n_;
    std::cerr << "\r\x1b[K[" << n_ << '/' << steps_ << "] " << step.table << "..." << std::flush;
  }
  static void Clear() { std::cerr << "\r\x1b[K" << std::flush; }

 private:
  size_t steps_;
  size_t n_ = 0;
};

}  // namespace

void PrintMigrationReport(const migrate::MigrationReport& report, std::ostream& out) {
  out << std::left << std::setw(kTableWidth) << "Tabla" << std::right << std::setw(kCountWidth)
      << "Copiadas" << std::setw(kCountWidth) << "Omitidas" << '\n';
  for (const auto& t : report.tables) {
    out << std::left << std::setw(kTableWidth) << t.table << std::right << std::setw(kCountWidth)
        << t.copied << std::setw(kCountWidth) << t.skipped;
    if (std::string note = Note(t); !note.empty()) out << "  " << note;
    out << '\n';
  }
  out << std::left << std::setw(kTableWidth) << "Total" << std::right << std::setw(kCountWidth)
      << report.TotalCopied() << std::setw(kCountWidth) << report.TotalSkipped() << '\n';
}

void PrintMigrationFailure(const migrate::Failure& failure, std::ostream& out) {
  out << "Migración detenida en la tabla " << failure.table;
  if (failure.row > 0) out << ", fila " << failure.row << " del origen";
  if (!failure.key.empty()) out << " (" << failure.key << ")";
  if (!failure.field.empty()) out << ", campo " << failure.field;
  out << ":\nError " << failure.number << ": " << failure.message << '\n';
}

void AddMigrateCommand(CLI::App& app) {
  struct Options {
    bool v8 = false;
    bool v7 = false;
    std::string origin;
    std::string dest;
  };
  auto opts = std::make_shared<Options>();
  CLI::App* cmd = app.add_subcommand(
      "migrate",
      "Copy every row of an office's database of the current version (--from-v8) or of the "
      "previous one (--from-v7) into a database of the current schema, keys included.");
  auto* version = cmd->add_option_group("version", "The origin's version (one is required)");
  version->add_flag("--from-v8", opts->v8, "The origin has the current layout (\"Pasar V8 V8\")");
  version->add_flag("--from-v7", opts->v7,
                    "The origin has the previous version's layout (\"Pasar V7 V8\")");
  version->require_option(1);
  cmd->add_option("ORIGIN", opts->origin, "The database to copy from; it is only read")->required();
  cmd->add_option("DEST", opts->dest,
                  "The database to copy into; built whole first when it does not exist")
      ->required();
  cmd->footer(
      "Rows already in DEST stay. Guarded tables (TClientes, TDocu, TAsuntos, TcContable,\n"
      "TGesNoJudicialSec) leave out rows DEST refuses and count them; in every other table\n"
      "the first refused row stops the run, keeping the rows copied before it, and the\n"
      "table, the origin row's key and \"Error NNNN: message\" are printed; the exit status\n"
      "is then 1.");
  cmd->callback([opts] {
    // A mistyped origin must not leave a new, empty destination behind.
    if (!opts->origin.empty() && !std::filesystem::exists(db::FsPath(opts->origin))) {
      throw jet::JetError(jet::kErrFileNotFound, opts->origin);
    }
    const auto variante = opts->v8 ? migrate::Variante::kV8V8 : migrate::Variante::kV7V8;
    // A destination built here stays open through the run, so that it
    // reaches its path once with the run's rows: a crash leaves no file.
    std::optional<jet::dao::Database> created;
    if (!opts->dest.empty() && !std::filesystem::exists(db::FsPath(opts->dest))) {
      // The configuration row records the document folder by its full path.
      created = schema::ConstruirBaseCompleta(WholePath(opts->dest));
      std::cerr << "Creada la base de datos de destino: " << opts->dest << '\n';
    }
    migrate::Progress progress;
    const bool terminal = ::isatty(::fileno(stderr)) != 0;
    if (terminal) progress = TerminalProgress(1 + migrate::Secuencia(variante).size());
    try {
      auto report = migrate::Migrar(variante, opts->origin, opts->dest, progress);
      if (created) created->Close();
      if (terminal) TerminalProgress::Clear();
      // The refusal was shown by the interface already.
      if (report.refused) throw CLI::RuntimeError(kExitUsage);
      PrintMigrationReport(report, std::cout);
    } catch (const migrate::MigrationStopped& e) {
      // The rows copied before the stop are kept.
      if (created) created->Close();
      if (terminal) TerminalProgress::Clear();
      PrintMigrationReport(e.report(), std::cout);
      std::cout.flush();
      PrintMigrationFailure(*e.report().failure, std::cerr);
      throw CLI::RuntimeError(kExitJetError);
    }
  });
}

}  // namespace maquetor
