#include "documents/anexar.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "db/file_name.h"
#include "db/engine.h"
#include "db/program_state.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "jet/file.h"
#include "shell/paths.h"
#include "shell/ui.h"

namespace maquetor::documents {
namespace {

namespace fs = std::filesystem;
using jet::dao::Database;
using jet::dao::Recordset;

// The class of the kinds a database calls its own.
constexpr const char* kPropios = "PROPIOS";

Database Open(const std::string& path) {
  return jet::dao::DBEngine::Instance().OpenDatabase(path, false, false, db::kConnect);
}

std::string TextOf(const jet::Value& v) { return v.is_null() ? std::string() : v.ToString(); }

std::optional<int32_t> NumberOf(const jet::Value& v) {
  if (v.is<int32_t>()) return v.as<int32_t>();
  return std::nullopt;
}

Kind ReadKind(const Recordset& rs) {
  Kind k;
  k.number = NumberOf(rs.GetValue("FDoc01"));
  k.name = TextOf(rs.GetValue("FDoc02"));
  k.owner = TextOf(rs.GetValue("FDoc03"));
  return k;
}

// The template file of kind `n` in `folder`, found without regard to case
// as the office's Windows machines find it.
std::string TemplateFile(const std::string& folder, int32_t n) {
  return shell::ResolveCase(shell::JoinPath(folder, NombreDocumento(n)));
}

bool DeleteTemplate(const std::string& folder, int32_t n) {
  const fs::path path = db::FsPath(TemplateFile(folder, n));
  std::error_code ec;
  const auto status = fs::symlink_status(path, ec);
  if (ec || !(fs::is_regular_file(status) || fs::is_symlink(status))) return false;
  return jet::CurrentFileSystem().Remove(TemplateFile(folder, n));
}

// A failing disk, or the process's end met by the file layer: the attachment
// stops and the destination stays as it was.
bool DiskFailure(const jet::JetError& e) {
  return e.number() == jet::kErrDiskIo || e.number() == jet::kErrDiskFull;
}

// The copy is synced before it returns: the row that names it may reach the
// disk as soon as the destination is put in place.
bool CopyTemplate(const std::string& from_folder, int32_t from, const std::string& to_folder,
                  int32_t to) {
  const std::string source_name = TemplateFile(from_folder, from);
  const std::string target_name = TemplateFile(to_folder, to);
  const fs::path source = db::FsPath(source_name);
  const fs::path target = db::FsPath(target_name);
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return false;
  // Whatever sits at the target is replaced, but never written through: a
  // link there could lead outside the folder.
  const auto status = fs::symlink_status(target, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return false;
  jet::FileSystem& files = jet::CurrentFileSystem();
  try {
    auto in = files.Open(source_name, jet::FileAccess::kRead);
    if (fs::exists(status)) files.Remove(target_name);
    auto out = files.Create(target_name);
    out->CopyFrom(*in);
    out->Sync();
    return true;
  } catch (const jet::JetError& e) {
    if (DiskFailure(e)) throw;
    return false;
  }
}

bool SameDatabase(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::error_code ec;
  return fs::equivalent(db::FsPath(shell::ResolveCase(a)), db::FsPath(shell::ResolveCase(b)), ec);
}

// Two databases in one folder share its DOCS: removing the destination's
// files would take the origin's, and copying would overwrite them.
bool SameFolder(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(db::FsPath(shell::ResolveCase(a)), db::FsPath(shell::ResolveCase(b)), ec);
}

std::optional<Recordset> OpenDocu(Database& base) {
  try {
    return base.OpenRecordset("TDocu", jet::dao::dbOpenTable);
  } catch (const jet::JetError&) {
    return std::nullopt;
  }
}

// One row's turn: the hourglass while it is handled, then pending window
// events. False when the recordset cannot move on.
template <typename Work>
bool EachRow(Recordset& rs, Work&& work) {
  auto& ui = shell::CurrentUi();
  shell::BusyPointer busy;
  work();
  bool moved = true;
  try {
    rs.MoveNext();
  } catch (const jet::JetError&) {
    moved = false;
  }
  ui.ProcessEvents();
  return moved;
}

bool AtEnd(const Recordset& rs) {
  try {
    return rs.IsEOF();
  } catch (const jet::JetError&) {
    return true;
  }
}

void RemovalPass(Recordset& destino, AttachReport& report) {
  while (!AtEnd(destino)) {
    const bool moved = EachRow(destino, [&] {
      Kind kind;
      try {
        kind = ReadKind(destino);
        if (kind.owner == kPropios) {
          report.kept.push_back(std::move(kind));
          return;
        }
        destino.Delete();
      } catch (const jet::JetError& e) {
        if (DiskFailure(e)) throw;
        report.not_removed.push_back({std::move(kind), e.number(), e.what()});
        return;
      }
      // Its file goes once the destination without the row is in place.
      report.removed.push_back({std::move(kind), false});
    });
    if (!moved) break;
  }
}

void CopyPass(Recordset& origen, Recordset& destino, const std::string& from_folder,
              const std::string& to_folder, AttachReport& report) {
  while (!AtEnd(origen)) {
    const bool moved = EachRow(origen, [&] {
      Kind kind;
      std::optional<int32_t> new_number;
      try {
        kind = ReadKind(origen);
        destino.AddNew();
        try {
          destino.SetValue("FDoc02", origen.GetValue("FDoc02"));
          destino.SetValue("FDoc03", origen.GetValue("FDoc03"));
          // The counter's value is in the new row before it is saved.
          new_number = NumberOf(destino.GetValue("FDoc01"));
          destino.Update();
        } catch (const jet::JetError&) {
          destino.CancelUpdate();
          throw;
        }
      } catch (const jet::JetError& e) {
        if (DiskFailure(e)) throw;
        report.not_copied.push_back({std::move(kind), e.number(), e.what()});
        return;
      }
      CopiedKind copied{std::move(kind), new_number, false};
      if (copied.kind.number && new_number) {
        copied.file_copied = CopyTemplate(from_folder, *copied.kind.number, to_folder, *new_number);
      }
      report.copied.push_back(std::move(copied));
    });
    if (!moved) break;
  }
}

void CloseAll(std::optional<Recordset>& origen_rs, std::optional<Recordset>& destino_rs,
              Database& origen, Database& destino) {
  if (origen_rs) origen_rs->Close();
  if (destino_rs) destino_rs->Close();
  origen.Close();
  destino.Close();
}

}  // namespace

std::string NombreDocumento(int32_t numero) {
  std::string digits = std::to_string(numero);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return "Doc" + digits + ".TXM";
}

std::string CarpetaDocumentos(const std::string& base) {
  const auto at = base.find_last_of(shell::kSeparator);
  return (at == std::string::npos ? std::string() : base.substr(0, at + 1)) + "DOCS";
}

AttachReport AnexarDocumentos() {
  auto& state = db::ProgramState::Instance();
  AttachReport report;
  if (state.BDatosOrigen.empty() || state.BDatosDestino.empty()) return report;

  Database origen = Open(state.BDatosOrigen);
  Database destino = Open(state.BDatosDestino);
  auto origen_rs = OpenDocu(origen);
  auto destino_rs = OpenDocu(destino);
  report.origin_folder = CarpetaDocumentos(state.BDatosOrigen);
  report.destination_folder = CarpetaDocumentos(state.BDatosDestino);

  const char* refusal = nullptr;
  if (SameDatabase(state.BDatosOrigen, state.BDatosDestino)) {
    refusal = kMismaBase;
    report.outcome = Outcome::kSameDatabase;
  } else if (SameFolder(report.origin_folder, report.destination_folder)) {
    refusal = kMismaCarpeta;
    report.outcome = Outcome::kSameFolder;
  }
  if (refusal) {
    shell::CurrentUi().Message(refusal, "Error", shell::Icon::kCritical);
    CloseAll(origen_rs, destino_rs, origen, destino);
    return report;
  }

  // The destination's rows and its DOCS agree after a crash at any point:
  // the new templates are on disk before the rows naming them are put in
  // place (when the destination closes), and the removed kinds' files go
  // only after.
  if (origen_rs && destino_rs) {
    report.passes_run = true;
    try {
      RemovalPass(*destino_rs, report);
      CopyPass(*origen_rs, *destino_rs, report.origin_folder, report.destination_folder, report);
      jet::CurrentFileSystem().SyncFolder(report.destination_folder);
      // Put in place here rather than at the close below, so that a disk
      // failing at that last step still takes the new templates away.
      destino.Commit();
    } catch (const jet::JetError& e) {
      if (!DiskFailure(e)) throw;
      destino_rs->Close();
      destino.Discard();
      for (const CopiedKind& c : report.copied) {
        if (c.file_copied) DeleteTemplate(report.destination_folder, *c.new_number);
      }
      throw;
    }
  }
  CloseAll(origen_rs, destino_rs, origen, destino);
  for (RemovedKind& r : report.removed) {
    if (!r.kind.number) continue;
    const bool reused = std::any_of(report.copied.begin(), report.copied.end(), [&](const CopiedKind& c) {
      return c.file_copied && c.new_number == r.kind.number;
    });
    if (!reused) r.file_deleted = DeleteTemplate(report.destination_folder, *r.kind.number);
  }
  state.BDatosOrigen.clear();
  state.BDatosDestino.clear();
  report.outcome = Outcome::kAttached;
  return report;
}

}  // namespace maquetor::documents
