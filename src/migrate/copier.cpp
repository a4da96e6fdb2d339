#include "migrate/copier.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
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
  // Moved by RowMaker::CopyStored with the other planned fields.
  bool planned = false;
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
    case jet::kErrDiskFull:
    case jet::kErrDatabaseFull:
    case jet::kErrCorrupt:
    case jet::kErrReadOnly:
    case jet::kErrObjectClosed: return true;
    default: return false;
  }
}

// The fields that name an origin row in a report: its primary key's, or
// the first copied field when the table has none.
std::vector<std::string> KeyFields(Database& origen, const TableCopy& copy) {
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
  return fields;
}

// "Id=2, Clave='A'"; an unreadable value shows as "?".
std::string KeyTextOf(const std::vector<std::string>& fields,
                      const std::vector<std::optional<Value>>& values) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!out.empty()) out += ", ";
    out += fields[i] + "=";
    const std::optional<Value>& v = values[i];
    if (!v) {
      out += "?";
    } else if (v->is_null()) {
      out += "Null";
    } else if (v->is<std::string>()) {
      out += "'" + v->as<std::string>() + "'";
    } else {
      out += v->ToString();
    }
  }
  return out;
}

// The key fields' values of the current origin row, by position (kAbsent:
// a field the recordset lacks).
void ReadKey(const Recordset& rs, const std::vector<int>& positions,
             std::vector<std::optional<Value>>& out) {
  out.resize(positions.size());
  for (size_t i = 0; i < positions.size(); ++i) {
    out[i].reset();
    if (positions[i] == kAbsent) continue;
    try {
      out[i] = rs.GetValue(positions[i]);
    } catch (const JetError&) {
    }
  }
}

// The key of the origin's `n`th row in stored order (from 1), read again
// once nothing reads ahead: a row is named only when the run stops there,
// so keys are not read for every row. Values that cannot be read stay
// unknown.
std::vector<std::optional<Value>> KeyOfRow(Recordset& rs, int64_t n,
                                           const std::vector<int>& positions) {
  std::vector<std::optional<Value>> key(positions.size());
  try {
    rs.MoveFirst();
    for (int64_t i = 1; i < n && !rs.IsEOF(); ++i) rs.MoveNext();
    if (!rs.IsEOF()) ReadKey(rs, positions, key);
  } catch (const JetError&) {
  }
  return key;
}

std::vector<int> KeyPositions(const Recordset& rs, const std::vector<std::string>& fields) {
  std::vector<int> positions;
  for (const auto& f : fields) positions.push_back(Position(rs, f));
  return positions;
}

// ---- reading ahead ----

// Up to this many rows are read ahead of the row being stored.
constexpr size_t kAheadBatches = 4;
constexpr size_t kAheadRows = 128;

using jet::dao::PreparedRow;
using jet::dao::RowMaker;

// One origin row made ready for the destination, with what the loop needs
// to account for it.
struct AheadRow {
  PreparedRow row;
  int64_t defaulted = 0;
  // The assignment that stops the run and its error.
  const Slot* failed = nullptr;
  std::optional<JetError> error;
  // An error that is not the engine's, thrown on as it is.
  std::exception_ptr other;
  // Set on the item after the last row when the origin could not be read
  // further: its error, thrown on as it is.
  std::exception_ptr read_error;
};

struct Batch {
  std::vector<AheadRow> rows;
  size_t count = 0;
  bool last = false;
};

// Batches going back and forth between the reading thread and the storing
// one. A fixed set of them bounds how far ahead reading gets.
class Channel {
 public:
  Channel(size_t batches, size_t rows) : pool_(batches) {
    free_.reserve(batches);
    for (auto& b : pool_) {
      b.rows.resize(rows);
      free_.push_back(&b);
    }
  }
  // For the reader: an empty batch (one the storer is done with), or
  // nullptr once stopped.
  Batch* TakeEmpty() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return stopped_ || !free_.empty(); });
    if (stopped_) return nullptr;
    Batch* b = free_.back();
    free_.pop_back();
    b->count = 0;
    b->last = false;
    return b;
  }
  void PutFull(Batch* b) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      full_.push_back(b);
      waiting_.store(full_.size(), std::memory_order_relaxed);
    }
    cv_.notify_all();
  }
  // For the storer: the next batch in reading order.
  Batch* TakeFull() {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return !full_.empty(); });
    Batch* b = full_.front();
    full_.pop_front();
    waiting_.store(full_.size(), std::memory_order_relaxed);
    return b;
  }
  // Batches handed over and not yet taken (a hint, read without the lock).
  size_t Waiting() const { return waiting_.load(std::memory_order_relaxed); }
  void PutEmpty(Batch* b) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      free_.push_back(b);
    }
    cv_.notify_all();
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stopped_ = true;
    }
    cv_.notify_all();
  }

 private:
  std::vector<Batch> pool_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Batch*> free_;
  std::deque<Batch*> full_;  // handed over, in reading order
  std::atomic<size_t> waiting_{0};
  bool stopped_ = false;
};

void AssignAhead(RowMaker& maker, PreparedRow& row, const Recordset& origen, const Slot& s) {
  if (!s.present()) throw JetError(jet::kErrItemNotFound, s.field->name);
  if (!s.field->convert) return maker.CopyField(row, s.to, origen, s.from);
  Value v = origen.GetValue(s.from);
  maker.SetValue(row, s.to, s.field->convert(v));
}

// The assignments of the current origin row, as the loop in step makes
// them; a failure that stops the run is recorded instead of thrown.
void Prepare(AheadRow& a, RowMaker& maker, const Recordset& rs, const std::vector<Slot>& slots,
             bool guarded, bool build_keys) {
  a.defaulted = 0;
  a.failed = nullptr;
  a.error.reset();
  a.other = nullptr;
  a.read_error = nullptr;
  try {
    maker.Begin(a.row);
    // The planned fields together; should that fail, every field again one
    // by one, each meeting its own error.
    bool one_by_one = false;
    try {
      maker.CopyStored(a.row, rs);
    } catch (const JetError&) {
      one_by_one = true;
    }
    for (const Slot& s : slots) {
      if (s.planned && !one_by_one) continue;
      try {
        if (!guarded) {
          AssignAhead(maker, a.row, rs, s);
          continue;
        }
        if (!s.present()) {
          ++a.defaulted;
          continue;
        }
        try {
          AssignAhead(maker, a.row, rs, s);
        } catch (const JetError& e) {
          if (IsFileFailure(e.number())) throw;
          ++a.defaulted;
        }
      } catch (const JetError& e) {
        a.failed = &s;
        a.error = e;
        break;
      }
    }
    if (!a.error) {
      try {
        maker.Finish(a.row, build_keys);
      } catch (const JetError&) {
        // The row is encoded and its keys built again when it is stored,
        // where the error belongs.
      }
    }
  } catch (...) {
    a.other = std::current_exception();
  }
}

// The reading thread: every origin row from the first, in stored order,
// until the end, a row that stops the run, or Stop.
void ReadAhead(Recordset& rs, RowMaker& maker, const std::vector<Slot>& slots, bool guarded,
               Channel& ch) {
  Batch* b = ch.TakeEmpty();
  if (!b) return;
  for (bool first = true;; first = false) {
    try {
      if (first) {
        rs.MoveFirst();
      } else {
        rs.MoveNext();
      }
      if (rs.IsEOF()) break;
    } catch (...) {
      AheadRow& a = b->rows[b->count++];
      a.failed = nullptr;
      a.error.reset();
      a.other = nullptr;
      a.read_error = std::current_exception();
      break;
    }
    AheadRow& a = b->rows[b->count++];
    // Rows are encoded here; index keys too while reading keeps ahead: when
    // the storing thread has caught up, it builds them itself.
    Prepare(a, maker, rs, slots, guarded, ch.Waiting() > 0);
    if (a.error || a.other) break;
    // A full batch goes at once, so the one in hand always has room.
    if (b->count == b->rows.size()) {
      ch.PutFull(b);
      b = ch.TakeEmpty();
      if (!b) return;
    }
  }
  b->last = true;
  ch.PutFull(b);
  // Nothing more is read: the rows of the batches the storer hands back
  // are let go here, where they were made, rather than on the storing
  // thread when the table ends.
  while (Batch* done = ch.TakeEmpty()) std::vector<AheadRow>().swap(done->rows);
}

}  // namespace

void CopyTable(Database& origen, Database& destino, const TableCopy& copy, MigrationReport& report,
               const Progress& progress, Reading reading) {
  TableResult step;
  step.routine = copy.routine;
  step.table = copy.table;
  if (progress) progress(step, false);
  auto finish = [&] {
    report.tables.push_back(step);
    if (progress) progress(step, true);
  };

  std::optional<JetError> open_error;
  auto open = [&](Database& db, bool in_origin) -> Recordset {
    try {
      return db.OpenRecordset(copy.table, jet::dao::dbOpenTable);
    } catch (const JetError& e) {
      step.outcome = Outcome::kNotOpened;
      step.not_opened = OpenFailure{in_origin, e.number(), e.what()};
      open_error = e;
      return {};
    }
  };
  int64_t row = 0;
  // Ends the run at `row`; `k` is the origin row's key, unknown (nullopt)
  // when the row could not be read.
  auto stop = [&](const Slot* at, const JetError& e, const std::vector<std::optional<Value>>& k,
                  const std::vector<std::string>& key_fields) {
    step.outcome = Outcome::kStopped;
    step.not_opened.reset();
    report.failure = Failure{copy.table, KeyTextOf(key_fields, k),
                             row,        at ? at->field->name : std::string(),
                             e.number(), e.what()};
    finish();
    throw MigrationStopped(e, report);
  };
  auto unreadable = [&](const JetError& e, const std::vector<std::string>& key_fields) {
    ++row;
    stop(nullptr, e, std::vector<std::optional<Value>>(key_fields.size()), key_fields);
  };

  Recordset rs_origen = open(origen, true);
  // Opening reads the first row. A failure of the file rather than of the
  // table (a damaged page, a failing disk) stops the run there: skipping
  // the table would lose its rows without a word.
  if (open_error && IsFileFailure(open_error->number()))
    unreadable(*open_error, KeyFields(origen, copy));
  if (step.not_opened) return finish();
  Recordset rs_destino = open(destino, false);
  // The same holds for the destination: a table it cannot read is not one
  // to pass over, since the rows meant for it would be lost unsaid.
  if (open_error && IsFileFailure(open_error->number())) {
    rs_origen.Close();
    stop(nullptr, *open_error, {}, {});
  }
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

  const std::vector<std::string> key_fields = KeyFields(origen, copy);
  const std::vector<int> key_positions = KeyPositions(rs_origen, key_fields);
  std::vector<std::optional<Value>> key;

  std::optional<RowMaker> maker;
  if (reading == Reading::kAhead && !origen.SharesFileWith(destino)) {
    try {
      maker.emplace(rs_destino);
    } catch (const JetError&) {
      // The loop in step meets the same failure where it belongs.
    }
  }
  if (maker) {
    std::vector<std::pair<int, int>> pairs;
    std::vector<Slot*> paired;
    for (Slot& s : slots) {
      if (!s.present() || s.field->convert) continue;
      pairs.emplace_back(s.to, s.from);
      paired.push_back(&s);
    }
    const std::vector<bool> planned = maker->PlanStored(rs_origen, pairs);
    for (size_t i = 0; i < paired.size(); ++i) paired[i]->planned = planned[i];
    Channel ch(kAheadBatches, kAheadRows);
    std::thread reader(
        [&] { ReadAhead(rs_origen, *maker, slots, guarded, ch); });
    struct Join {
      Channel& ch;
      std::thread& t;
      void Now() {
        ch.Stop();
        if (t.joinable()) t.join();
      }
      ~Join() { Now(); }
    } join{ch, reader};
    for (bool done = false; !done;) {
      Batch* b = ch.TakeFull();
      done = b->last;
      for (size_t i = 0; i < b->count; ++i) {
        AheadRow& a = b->rows[i];
        // Whatever ends the run here, reading has stopped before the report
        // goes out, so that nothing else uses the origin meanwhile.
        if (a.read_error) {
          join.Now();
          try {
            std::rethrow_exception(a.read_error);
          } catch (const JetError& e) {
            unreadable(e, key_fields);
          }
        }
        ++row;
        step.fields_defaulted += a.defaulted;
        if (a.other) {
          join.Now();
          std::rethrow_exception(a.other);
        }
        if (a.error) {
          join.Now();
          stop(a.failed, *a.error, KeyOfRow(rs_origen, row, key_positions), key_fields);
        }
        try {
          rs_destino.AddPrepared(a.row);
          ++step.copied;
        } catch (const JetError& e) {
          if (guarded && !IsFileFailure(e.number())) {
            ++step.skipped;
            continue;
          }
          join.Now();
          stop(nullptr, e, KeyOfRow(rs_origen, row, key_positions), key_fields);
        }
      }
      ch.PutEmpty(b);
    }
    join.Now();
  } else {
    // Moving to a row reads it: a failure there is the next row's.
    auto move = [&](bool first) {
      try {
        if (first) {
          rs_origen.MoveFirst();
        } else {
          rs_origen.MoveNext();
        }
      } catch (const JetError& e) {
        unreadable(e, key_fields);
      }
    };
    for (move(true); !rs_origen.IsEOF(); move(false)) {
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
        ReadKey(rs_origen, key_positions, key);
        stop(current, e, key, key_fields);
      }
    }
  }
  rs_origen.Close();
  rs_destino.Close();
  finish();
}

}  // namespace maquetor::migrate
