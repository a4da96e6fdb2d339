// Document attachment: the document kinds of an origin database (table
// TDocu) and their template files brought into a destination database. The
// destination keeps its own kinds (class "PROPIOS", compared exactly) and
// loses the others with their files; every origin kind is appended under the
// number the destination gives it, its file copied under that number.
//
// Each database keeps its templates in the folder DOCS beside it, one file
// per kind named after the kind's number. File names are made from numbers
// only, so nothing read from a database can name a file outside those
// folders.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace maquetor::documents {

// "Doc", the number left-padded with zeros to six characters, ".TXM":
// 42 gives Doc000042.TXM. A number of seven digits or more keeps them all.
std::string NombreDocumento(int32_t numero);

// The document folder of the database at `base`: its path up to and
// including the last separator, then "DOCS" (a bare file name gives "DOCS").
std::string CarpetaDocumentos(const std::string& base);

// The refusal shown when origin and destination are one database.
inline constexpr const char* kMismaBase =
    "La base de origen y destino de los documentos no puede ser la misma";
// The refusal shown when two databases share one document folder.
inline constexpr const char* kMismaCarpeta =
    "La base de origen y destino de los documentos no pueden compartir la carpeta DOCS";

enum class Outcome {
  kNothingChosen,  // origin or destination empty: nothing was opened
  kSameDatabase,   // refused (kMismaBase): nothing changed
  kSameFolder,     // refused (kMismaCarpeta): nothing changed
  kAttached,       // the work is done; the program ends
};

// A kind as read from TDocu. `number` is empty when FDoc01 does not hold a
// whole number, and then the kind has no file.
struct Kind {
  std::optional<int32_t> number;
  std::string name;
  std::string owner;  // FDoc03
};

struct RemovedKind {
  Kind kind;
  bool file_deleted = false;
};

struct CopiedKind {
  Kind kind;  // as in the origin
  std::optional<int32_t> new_number;  // as the destination numbered it
  bool file_copied = false;
};

// A row the engine refused (a name already present, a value too long) or
// that could not be read; the pass went on with the next one.
struct RefusedKind {
  Kind kind;
  int error = 0;
  std::string message;
};

struct AttachReport {
  Outcome outcome = Outcome::kNothingChosen;
  std::string origin_folder;
  std::string destination_folder;
  // False when either TDocu could not be opened: no pass ran.
  bool passes_run = false;
  std::vector<Kind> kept;
  std::vector<RemovedKind> removed;
  std::vector<RefusedKind> not_removed;
  std::vector<CopiedKind> copied;
  std::vector<RefusedKind> not_copied;
};

// The attachment proper, on BDatosOrigen and BDatosDestino; the window asks
// for them first and ends the program after kAttached.
//
// Opening either database (shared, writable, with the password) is not
// guarded: a failure throws jet::JetError. After that no error stops the
// work: a row or file that fails is reported and the pass goes on. A row is
// removed before its file, so a row that stays keeps its file; a file is
// copied once its row is saved, so a refused row leaves no file behind. The
// hourglass shows and pending window events run once per row.
//
// Refusals (same database, also when named two ways; one DOCS folder for
// both) show a critical message titled "Error", change nothing and leave
// both paths set. kAttached clears BDatosOrigen and BDatosDestino.
AttachReport AnexarDocumentos();

}  // namespace maquetor::documents
