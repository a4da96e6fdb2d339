#include "migrate/copier.h"

#include <utility>

#include "jet/error.h"
#include "jet/text.h"

namespace maquetor::migrate {
namespace {

using jet::JetError;
using jet::Value;
using jet::dao::Database;
using jet::dao::Recordset;

constexpr int kAbsent = -1;

int Position(const Recordset& rs, const std::string& name) {
  for (int i = 0; i < rs.FieldCount(); ++i) {
    if (jet::NamesEqual(rs.FieldName(i), name)) return i;
  }
  return kAbsent;
}

// A copied field resolved to its position on each side.
struct Slot {
  int from = kAbsent;
  int to = kAbsent;
  const FieldCopy* field = nullptr;
  bool present() const { return from != kAbsent && to != kAbsent; }
};

void Assign(const Recordset& origen, Recordset& destino, const Slot& s) {
  // A field missing on either side fails as the engine's lookup by name does.
  if (!s.present()) throw JetError(jet::kErrItemNotFound, s.field->name);
  if (!s.field->convert) return destino.CopyField(s.to, origen, s.from);
  Value v = origen.GetValue(s.from);
  destino.SetValue(s.to, s.field->convert(v));
}

// Failures of the file or the engine rather than of one row: a guarded loop
// does not pass over these, since every later row would meet them too and
// the destination could be left half-written.
bool IsFileFailure(int number) {
  switch (number) {
    case jet::kErrDiskIo:
    case jet::kErrDatabaseFull:
    case jet::kErrCorrupt:
    case jet::kErrReadOnly:
    case jet::kErrObjectClosed: return true;
    default: return false;
  }
}

// The origin row as a report names it: its primary key's fields, or the
// first copied field when the table has none.
std::string KeyText(Database& origen, const Recordset& rs, const TableCopy& copy) {
  std::vector<std::string> fields;
  try {
    for (const auto& index : origen.GetTableDef(copy.table).Indexes()) {
      if (!index.Primary()) continue;
      for (const auto& f : index.Fields()) fields.push_back(f.Name());
      break;
    }
  } catch (const JetError&) {
  }
  if (fields.empty() && !copy.fields.empty()) fields.push_back(copy.fields.front().name);
  std::string out;
  for (const auto& name : fields) {
    if (!out.empty()) out += ", ";
    out += name + "=";
    try {
      Value v = rs.GetValue(name);
      if (v.is_null()) {
        out += "Null";
      } else if (v.is<std::string>()) {
        out += "'" + v.as<std::string>() + "'";
      } else {
        out += v.ToString();
      }
    } catch (const JetError&) {
      out += "?";
    }
  }
  return out;
}

}  // namespace

void CopyTable(Database& origen, Database& destino, const TableCopy& copy, MigrationReport& report,
               const Progress& progress) {
  TableResult step;
  step.routine = copy.routine;
  step.table = copy.table;
  if (progress) progress(step, false);
  auto finish = [&] {
    report.tables.push_back(step);
    if (progress) progress(step, true);
  };

  auto open = [&](Database& db, bool in_origin) -> Recordset {
    try {
      return db.OpenRecordset(copy.table, jet::dao::dbOpenTable);
    } catch (const JetError& e) {
      step.outcome = Outcome::kNotOpened;
      step.not_opened = OpenFailure{in_origin, e.number(), e.what()};
      return {};
    }
  };
  Recordset rs_origen = open(origen, true);
  if (step.not_opened) return finish();
  Recordset rs_destino = open(destino, false);
  if (step.not_opened) return finish();
  if (rs_origen.IsEOF()) {
    step.outcome = Outcome::kEmptyOrigin;
    rs_origen.Close();
    rs_destino.Close();
    return finish();
  }

  std::vector<Slot> slots;
  for (const auto& f : copy.fields) {
    slots.push_back(Slot{Position(rs_origen, f.name), Position(rs_destino, f.name), &f});
  }
  const bool guarded = copy.loop == Loop::kGuarded;

  int64_t row = 0;
  rs_origen.MoveFirst();
  for (; !rs_origen.IsEOF(); rs_origen.MoveNext()) {
    ++row;
    const Slot* current = nullptr;
    try {
      rs_destino.AddNew();
      for (const Slot& s : slots) {
        current = &s;
        if (!guarded) {
          Assign(rs_origen, rs_destino, s);
          continue;
        }
        if (!s.present()) {
          ++step.fields_defaulted;
          continue;
        }
        try {
          Assign(rs_origen, rs_destino, s);
        } catch (const JetError& e) {
          if (IsFileFailure(e.number())) throw;
          ++step.fields_defaulted;
        }
      }
      current = nullptr;
      rs_destino.Update();
      ++step.copied;
    } catch (const JetError& e) {
      if (guarded && !IsFileFailure(e.number())) {
        rs_destino.CancelUpdate();
        ++step.skipped;
        continue;
      }
      step.outcome = Outcome::kStopped;
      report.failure = Failure{copy.table, KeyText(origen, rs_origen, copy),
                               row,        current ? current->field->name : std::string(),
                               e.number(), e.what()};
      finish();
      throw MigrationStopped(e, report);
    }
  }
  rs_origen.Close();
  rs_destino.Close();
  finish();
}

}  // namespace maquetor::migrate
