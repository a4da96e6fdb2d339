// What a migration run did, table by table, and how it ended. A run that an
// unguarded routine stops raises MigrationStopped, which is the engine's own
// error (callers that only know JetError still see its number and text) and
// carries the report of everything done up to that row.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/error.h"

namespace maquetor::migrate {

enum class Outcome {
  kCopied,       // every origin row was offered to the destination
  kEmptyOrigin,  // the origin table holds no row: nothing to copy
  kNotOpened,    // the table could not be opened on one side: step skipped
  kStopped,      // an unguarded failure ended the run in this table
};

// A table that could not be opened: which side, and the engine's answer.
struct OpenFailure {
  bool in_origin = true;
  int number = 0;
  std::string message;
};

// One step of a run: the configuration row or one copy routine.
struct TableResult {
  std::string routine;  // "PasarTAbogados"
  std::string table;    // "TAbogados"
  Outcome outcome = Outcome::kCopied;
  int64_t copied = 0;
  // Rows a guarded routine left out because the destination refused them.
  int64_t skipped = 0;
  // Assignments a guarded routine let fail: that field of the new row kept
  // its default (a text too long, a field the origin lacks).
  int64_t fields_defaulted = 0;
  std::optional<OpenFailure> not_opened;
};

// The row that stopped a run.
struct Failure {
  std::string table;
  // The origin row's primary key as "FAsu01=12, FAsu02=2004" (text values
  // quoted); the first copied field when the table has no primary key.
  std::string key;
  // 1-based position of the row in the origin's stored order.
  int64_t row = 0;
  // The field being assigned when the failure came; empty when the
  // destination refused the whole row on saving it.
  std::string field;
  int number = 0;
  std::string message;
};

struct MigrationReport {
  // Steps in the order they ran; the last one is kStopped when `failure` is set.
  std::vector<TableResult> tables;
  std::optional<Failure> failure;
  // Set, with the text the user was shown, when the run refused to start
  // (an empty path, origin and destination the same file).
  std::optional<std::string> refused;

  int64_t TotalCopied() const;
  int64_t TotalSkipped() const;
  // The step of a table, or nullptr when the run did not reach it.
  const TableResult* Find(const std::string& table) const;
};

class MigrationStopped : public jet::JetError {
 public:
  MigrationStopped(const jet::JetError& cause, MigrationReport report)
      : jet::JetError(cause), report_(std::move(report)) {}
  const MigrationReport& report() const { return report_; }

 private:
  MigrationReport report_;
};

}  // namespace maquetor::migrate
