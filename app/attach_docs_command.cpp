#include "attach_docs_command.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "commands.h"
#include "db/program_state.h"

namespace maquetor {
namespace {

std::string Number(const std::optional<int32_t>& n) { return n ? std::to_string(*n) : "?"; }

std::string Describe(const documents::Kind& k) {
  return Number(k.number) + " " + k.name + " (" + k.owner + ")";
}

}  // namespace

void PrintAttachment(const documents::AttachReport& report, std::ostream& out) {
  for (const auto& k : report.kept) out << "Conservado: " << Describe(k) << '\n';
  for (const auto& r : report.removed) {
    out << "Eliminado: " << Describe(r.kind)
        << (r.file_deleted ? ", plantilla " + documents::NombreDocumento(*r.kind.number) + " borrada"
                           : ", sin plantilla")
        << '\n';
  }
  for (const auto& r : report.not_removed) {
    out << "No eliminado: " << Describe(r.kind) << ": Error " << r.error << ": " << r.message
        << '\n';
  }
  for (const auto& c : report.copied) {
    out << "Copiado: " << Describe(c.kind) << " -> " << Number(c.new_number);
    if (c.file_copied) {
      out << ", plantilla " << documents::NombreDocumento(*c.kind.number) << " -> "
          << documents::NombreDocumento(*c.new_number);
    } else {
      out << ", sin plantilla";
    }
    out << '\n';
  }
  for (const auto& r : report.not_copied) {
    out << "Omitido: " << Describe(r.kind) << ": Error " << r.error << ": " << r.message << '\n';
  }
  out << report.kept.size() << " conservados, " << report.removed.size() << " eliminados, "
      << report.copied.size() << " copiados, " << report.not_removed.size() + report.not_copied.size()
      << " omitidos\n";
}

void AddAttachDocsCommand(CLI::App& app) {
  struct Options {
    std::string origin;
    std::string destination;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "attach-docs",
      "Bring the document kinds (TDocu) of ORIGIN and their templates into DEST");
  cmd->add_option("ORIGIN", opts->origin, "The database whose kinds are copied")->required();
  cmd->add_option("DEST", opts->destination, "The database that receives them")->required();
  cmd->footer(
      "DEST keeps its kinds of class PROPIOS (exactly so: \"propios\" is not) and loses the\n"
      "others together with their templates; every kind of ORIGIN is appended under the\n"
      "number DEST gives it and its template copied under that number. Templates live in\n"
      "the folder DOCS beside each database, named Doc + six-digit number + .TXM\n"
      "(Doc000042.TXM). A kind whose name DEST already has is skipped, and so is any row\n"
      "or file that fails; each is reported and the rest goes on.\n"
      "Exit status 1, with nothing changed, when ORIGIN and DEST are one database, when\n"
      "they share one DOCS folder, or when either has no TDocu; a database that cannot be\n"
      "opened prints \"Error NNNN: message\".");
  cmd->callback([opts] {
    auto& state = db::ProgramState::Instance();
    state.BDatosOrigen = WholePath(opts->origin);
    state.BDatosDestino = WholePath(opts->destination);
    const auto report = documents::AnexarDocumentos();
    if (report.outcome != documents::Outcome::kAttached) {
      // The refusal itself has gone to stderr as a message.
      throw CLI::RuntimeError(kExitJetError);
    }
    if (!report.passes_run) {
      std::cerr << "Sin tabla TDocu en el origen o el destino: nada cambiado\n";
      throw CLI::RuntimeError(kExitJetError);
    }
    PrintAttachment(report, std::cout);
  });
}

}  // namespace maquetor
