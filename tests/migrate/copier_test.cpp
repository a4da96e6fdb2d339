// The copier on its own: guarded and unguarded loops over rows the
// destination refuses, skipped tables, and origins of the older file format
// whose values must reach a Jet 4 destination unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/text.h"
#include "migrate/copier.h"
#include "migrate/migration.h"
#include "migrate/origin_filler.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {

namespace mig = maquetor::migrate;
namespace ts = testing_support;
namespace fs = std::filesystem;
using jet::Value;
using migrate_testing::Rows;
using migrate_testing::dao::Database;

Database Create(const std::string& path, const std::vector<std::string>& statements) {
  Database db = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  for (const auto& s : statements) db.Execute(s);
  return db;
}

mig::TableCopy Copy(const std::string& table, std::vector<std::string> fields, mig::Loop loop) {
  mig::TableCopy c;
  c.routine = "Pasar" + table;
  c.table = table;
  c.loop = loop;
  for (auto& f : fields) c.fields.push_back({std::move(f)});
  return c;
}

// A private copy of a Jet 3 fixture: a fault that wrote to the origin must
// not damage the shared file.
std::string Jet3Copy(const ts::TempDir& dir, const std::string& name) {
  const std::string path = dir.File(name);
  fs::copy_file(ts::FixturesDir() / "jet3" / name, path);
  return path;
}

// Four rows: the second has a name too long for the destination, the third
// no amount where the destination requires one.
class RefusedRows : public ::testing::TestWithParam<mig::Reading> {
 protected:
  void SetUp() override {
    origen_ = Create(dir_.File("o.mdb"), {
        "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(60), Importe DOUBLE)",
        "INSERT INTO TPartes VALUES (1, 'Peña', 10.5)",
        "INSERT INTO TPartes VALUES (2, 'Nombre demasiado largo', 20)",
        "INSERT INTO TPartes (Id, Nombre) VALUES (3, 'Ruiz')",
        "INSERT INTO TPartes VALUES (4, 'Sáez', 40)",
        "CREATE TABLE TLista (Id LONG)",
        "INSERT INTO TLista VALUES (1)",
        "INSERT INTO TLista VALUES (2)",
    });
    destino_ = Create(dir_.File("d.mdb"), {
        "CREATE TABLE TPartes (Id LONG PRIMARY KEY, Nombre TEXT(10), Importe DOUBLE NOT NULL)",
        "CREATE TABLE TLista (Id LONG)",
    });
  }
  ts::TempDir dir_;
  Database origen_, destino_;
};

TEST_P(RefusedRows, GuardedLoopDefaultsTheFieldAndLeavesTheRowOut) {
  mig::MigrationReport report;
  mig::CopyTable(origen_, destino_,
                 Copy("TPartes", {"Id", "Nombre", "Importe"}, mig::Loop::kGuarded), report, {},
                 GetParam());
  ASSERT_EQ(report.tables.size(), 1u);
  const auto& step = report.tables[0];
  EXPECT_EQ(step.copied, 3);
  EXPECT_EQ(step.skipped, 1);
  EXPECT_EQ(step.fields_defaulted, 1);
  auto rows = Rows(destino_, "TPartes");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[1], (std::vector<Value>{Value(2), Value(), Value(20.0)}));
  EXPECT_EQ(rows[2][0], Value(4));
}

TEST_P(RefusedRows, UnguardedLoopStopsAtTheFieldKeepingTheRowsBefore) {
  mig::MigrationReport report;
  try {
    mig::CopyTable(origen_, destino_,
                   Copy("TPartes", {"Id", "Nombre", "Importe"}, mig::Loop::kUnguarded), report,
                   {}, GetParam());
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrFieldTooSmall);
    ASSERT_TRUE(e.report().failure);
    const auto& f = *e.report().failure;
    EXPECT_EQ(f.table, "TPartes");
    EXPECT_EQ(f.key, "Id=2");
    EXPECT_EQ(f.row, 2);
    EXPECT_EQ(f.field, "Nombre");
    EXPECT_EQ(e.report().tables.at(0).copied, 1);
  }
  EXPECT_EQ(Rows(destino_, "TPartes").size(), 1u);

  // A field the destination lacks stops the copy at the first row.
  mig::MigrationReport again;
  try {
    mig::CopyTable(origen_, destino_, Copy("TPartes", {"Id", "Otro"}, mig::Loop::kUnguarded),
                   again, {}, GetParam());
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrItemNotFound);
    EXPECT_EQ(e.report().failure->field, "Otro");
    EXPECT_EQ(e.report().failure->key, "Id=1");
  }
}

// A destination that cannot be written fails every row alike: a guarded
// loop stops instead of counting each row as refused.
TEST_P(RefusedRows, GuardedLoopDoesNotPassOverAFileFailure) {
  destino_.Close();
  Database read_only = jet::dao::DBEngine::Instance().OpenDatabase(dir_.File("d.mdb"), false, true);
  mig::MigrationReport report;
  try {
    mig::CopyTable(origen_, read_only, Copy("TLista", {"Id"}, mig::Loop::kGuarded), report, {},
                   GetParam());
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrReadOnly);
    EXPECT_EQ(e.report().tables.at(0).skipped, 0);
  }
}

// A destination table whose definition page cannot be read stops the run
// with 3049, as an unreadable origin does, instead of being passed over.
TEST_P(RefusedRows, ADestinationTableThatCannotBeReadStopsTheRun) {
  destino_.Close();
  const uint32_t page =
      jet::FileState::Open(dir_.File("d.mdb"), false, true, "")->GetTable("TLista").def().page;
  {
    std::fstream f(dir_.File("d.mdb"), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff{page} * 4096);
    const std::string zeros(4096, '\0');
    f.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  }
  Database damaged = jet::dao::DBEngine::Instance().OpenDatabase(dir_.File("d.mdb"), false, false);
  mig::MigrationReport report;
  try {
    mig::CopyTable(origen_, damaged, Copy("TLista", {"Id"}, mig::Loop::kGuarded), report, {},
                   GetParam());
    FAIL() << "the table was passed over";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrCorrupt);
    EXPECT_EQ(e.report().tables.at(0).outcome, mig::Outcome::kStopped);
  }
}

INSTANTIATE_TEST_SUITE_P(Reading, RefusedRows,
                         ::testing::Values(mig::Reading::kAhead, mig::Reading::kInStep));

// Jet 4 to Jet 4, text, memo and binary fields move as stored bytes: short
// text, memos kept in the row, on one page and over several,
// binary and OLE values, nulls. Each reads back as the origin's; an indexed
// text field, whose value is decoded for its key, still refuses a duplicate.
TEST(StoredBytes, EveryKindOfValueArrivesUnchanged) {
  ts::TempDir dir;
  const std::string table =
      "CREATE TABLE TNotas (Id LONG PRIMARY KEY, Corto TEXT(20), Nota MEMO, Datos LONGBINARY, "
      "Huella BINARY(16), Codigo TEXT(10) UNIQUE)";
  Database origen = Create(dir.File("o.mdb"), {table});
  Database destino = Create(dir.File("d.mdb"), {table});
  std::string largo;
  while (jet::Utf16Length(largo) < 9000) largo += "Ejecución «hipotecaria» — ";
  jet::Binary ole(20000);
  for (size_t i = 0; i < ole.size(); ++i) ole[i] = static_cast<uint8_t>(i * 7);
  const std::vector<std::vector<Value>> rows = {
      {Value(1), Value("Peña"), Value("breve"), Value(jet::Binary{1, 2, 3}),
       Value(jet::Binary{0, 255}), Value("A1")},
      {Value(2), Value("ñ"), Value("\xC3\xA1"), Value(ole), Value(), Value("A2")},
      {Value(3), Value(), Value(largo), Value(), Value(jet::Binary(16, 9)), Value()},
      {Value(4), Value("Ωμέγα"), Value(largo.substr(0, 3000)), Value(jet::Binary{}), Value(),
       Value("A4")},
      {Value(5), Value("x"), Value(), Value(jet::Binary{7}), Value(), Value("A5")},
  };
  auto rs = origen.OpenRecordset("TNotas");
  for (const auto& row : rows) {
    rs.AddNew();
    for (size_t c = 0; c < row.size(); ++c) rs.SetValue(static_cast<int>(c), row[c]);
    rs.Update();
  }
  rs.Close();
  mig::MigrationReport report;
  mig::CopyTable(origen, destino,
                 Copy("TNotas", {"Id", "Corto", "Nota", "Datos", "Huella", "Codigo"},
                      mig::Loop::kGuarded),
                 report);
  EXPECT_EQ(report.tables.at(0).copied, 5);
  EXPECT_EQ(Rows(destino, "TNotas"), Rows(origen, "TNotas"));

  // Copied again, every unique code is already there: the rows are refused.
  destino.Execute("DELETE FROM TNotas WHERE Id = 5");
  destino.Execute("UPDATE TNotas SET Id = Id + 10");
  mig::MigrationReport again;
  mig::CopyTable(origen, destino,
                 Copy("TNotas", {"Id", "Corto", "Nota", "Datos", "Huella", "Codigo"},
                      mig::Loop::kGuarded),
                 again);
  EXPECT_EQ(again.tables.at(0).copied, 2);  // row 3 (no code) and row 5
  EXPECT_EQ(again.tables.at(0).skipped, 3);
}

// Bytes taken from the origin stand for their value: read back during the
// AddNew, replaced by an assignment, and held to the destination's rules on
// empty and missing text as a value would be.
TEST(StoredBytes, DestinationRulesStillRefuseEmptyAndMissingText) {
  ts::TempDir dir;
  Database origen = Create(dir.File("o.mdb"), {
      "CREATE TABLE TNotas (Id LONG, Nota MEMO, Titulo TEXT(30))",
      "INSERT INTO TNotas VALUES (1, 'una nota', 'título')",
      "INSERT INTO TNotas VALUES (2, '', 'vacía')",
      "INSERT INTO TNotas (Id, Nota) VALUES (3, 'sin título')",
      "INSERT INTO TNotas VALUES (4, 'otra', 'bien')",
  });
  Database destino = Create(dir.File("d.mdb"), {});
  auto def = destino.CreateTableDef("TNotas");
  def.AppendField(def.CreateField("Id", jet::dao::dbLong));
  def.AppendField(def.CreateField("Nota", jet::dao::dbMemo));  // refuses ""
  auto titulo = def.CreateField("Titulo", jet::dao::dbText, 30);
  titulo.SetRequired(true);
  def.AppendField(titulo);
  destino.AppendTableDef(def);

  auto from = origen.OpenRecordset("TNotas");
  auto to = destino.OpenRecordset("TNotas");
  to.AddNew();
  to.CopyField(1, from, 1);
  EXPECT_EQ(to.GetValue("Nota"), Value("una nota"));
  to.CopyField(2, from, 2);
  to.SetValue("Titulo", Value("otro"));
  to.SetValue("Id", Value(1));
  to.Update();
  to.Close();
  from.Close();
  EXPECT_EQ(Rows(destino, "TNotas"),
            (std::vector<std::vector<Value>>{{Value(1), Value("una nota"), Value("otro")}}));
  destino.Execute("DELETE FROM TNotas");

  mig::MigrationReport report;
  mig::CopyTable(origen, destino, Copy("TNotas", {"Id", "Nota", "Titulo"}, mig::Loop::kGuarded),
                 report);
  EXPECT_EQ(report.tables.at(0).copied, 2);
  EXPECT_EQ(report.tables.at(0).skipped, 2);
  EXPECT_EQ(Rows(destino, "TNotas"),
            (std::vector<std::vector<Value>>{{Value(1), Value("una nota"), Value("título")},
                                             {Value(4), Value("otra"), Value("bien")}}));
  try {
    mig::CopyTable(origen, destino, Copy("TNotas", {"Id", "Nota", "Titulo"}, mig::Loop::kUnguarded),
                   report);
    FAIL() << "the copy did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.number(), jet::kErrZeroLength);
    EXPECT_EQ(e.report().failure->row, 2);
  }
}

// Stored bytes belong to the row they were copied for: a later edit of
// another row that fails keeps that row's own value.
TEST(StoredBytes, AFailedEditOfAnotherRowKeepsItsValue) {
  ts::TempDir dir;
  Database origen = Create(dir.File("o.mdb"), {
      "CREATE TABLE TNotas (Id LONG, Titulo TEXT(30))",
      "INSERT INTO TNotas VALUES (2, 'copiado')",
  });
  Database destino = Create(dir.File("d.mdb"), {"CREATE TABLE TNotas (Id LONG, Titulo TEXT(30))"});
  auto from = origen.OpenRecordset("TNotas");
  auto to = destino.OpenRecordset("TNotas");
  to.AddNew();
  to.SetValue("Id", Value(1));
  to.SetValue("Titulo", Value("propio"));
  to.Update();
  to.AddNew();
  to.CopyField(0, from, 0);
  to.CopyField(1, from, 1);
  to.Update();
  to.MoveFirst();
  to.Edit();
  EXPECT_JET_ERROR(to.SetValue("Titulo", Value(std::string(40, 'x'))), jet::kErrFieldTooSmall);
  EXPECT_EQ(to.GetValue("Titulo"), Value("propio"));
  to.Update();
  to.Close();
  from.Close();
  EXPECT_EQ(Rows(destino, "TNotas"),
            (std::vector<std::vector<Value>>{{Value(1), Value("propio")},
                                             {Value(2), Value("copiado")}}));
}

// Text the other application stored, compressed as its fields ask, in rows
// some of which were moved to other pages, copied into a file of the same
// layout: the bytes move as they are and an independent reader sees the
// origin's text.
TEST(StoredBytes, CompressedTextOfAnotherWriterReadsTheSame) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  ts::TempDir dir;
  const std::string origin = dir.File("o.mdb");
  const std::string dest = dir.File("d.mdb");
  fs::copy_file(ts::FixturesDir() / "jet4" / "overflowTestV2000.mdb", origin);
  fs::copy_file(ts::FixturesDir() / "jet4" / "overflowTestV2000.mdb", dest);
  Database origen = jet::dao::DBEngine::Instance().OpenDatabase(origin, false, true, "");
  Database destino = jet::dao::DBEngine::Instance().OpenDatabase(dest);
  mig::MigrationReport report;
  destino.Execute("DELETE FROM Table1");
  std::vector<std::string> fields;
  for (const auto& f : origen.GetTableDef("Table1").Fields()) fields.push_back(f.Name());
  mig::CopyTable(origen, destino, Copy("Table1", fields, mig::Loop::kUnguarded), report);
  EXPECT_EQ(report.tables.at(0).copied, 7);
  EXPECT_EQ(Rows(destino, "Table1"), Rows(origen, "Table1"));
  origen.Close();
  destino.Close();
  // The reader lists moved rows where they now lie: compare as sets of lines.
  auto lines = [](const std::string& text) {
    std::multiset<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.insert(line);
    return out;
  };
  EXPECT_EQ(lines(ts::MdbExportRaw(dest, "Table1")), lines(ts::MdbExportRaw(origin, "Table1")));
}

// A Jet 3 table of every scalar type, copied into a Jet 4 table of the same
// layout: each value reads back as the origin's.
TEST(Jet3Origin, EveryTypeArrivesUnchanged) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testV1997.mdb");
  const std::string before = ts::FileContents(fixture);
  Database origen = jet::dao::DBEngine::Instance().OpenDatabase(fixture, false, true, "");
  ASSERT_EQ(origen.JetVersion(), 3);
  Database destino =
      Create(dir.File("d.mdb"), {"CREATE TABLE Table1 (A TEXT(50), B TEXT(100), C BYTE, D SHORT, "
                                 "E LONG, F DOUBLE, G DATETIME, H CURRENCY, I BIT)"});
  mig::MigrationReport report;
  mig::CopyTable(
      origen, destino,
      Copy("Table1", {"A", "B", "C", "D", "E", "F", "G", "H", "I"}, mig::Loop::kUnguarded), report);
  auto want = Rows(origen, "Table1");
  ASSERT_EQ(want.size(), 2u);
  EXPECT_EQ(Rows(destino, "Table1"), want);
  origen.Close();
  destino.Close();
  EXPECT_TRUE(ts::FileContents(fixture) == before);
}

// Code-page text of a Jet 3 file against an independent reader of both files.
TEST(Jet3Origin, CodePageTextReadsTheSameInTheDestination) {
  REQUIRE_FIXTURES();
  REQUIRE_MDBTOOLS();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testIndexCodesV1997.mdb");
  const std::string dest = dir.File("d.mdb");
  Database origen = jet::dao::DBEngine::Instance().OpenDatabase(fixture, false, true, "");
  Database destino = Create(dest, {"CREATE TABLE Table1 (name TEXT(50), data TEXT(100))"});
  mig::MigrationReport report;
  mig::CopyTable(origen, destino, Copy("Table1", {"name", "data"}, mig::Loop::kUnguarded), report);
  EXPECT_EQ(report.tables.at(0).copied, 275);
  EXPECT_EQ(Rows(destino, "Table1"), Rows(origen, "Table1"));
  origen.Close();
  destino.Close();
  // mdbtools reads the five bytes the code page leaves undefined as '?' in a
  // Jet 3 file; the destination holds them as the C1 controls of the same
  // value, as the system's converter decodes them.
  std::string got = ts::MdbExportRaw(dest, "Table1");
  for (const char* c1 : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"}) {
    for (size_t at; (at = got.find(c1)) != std::string::npos;) got.replace(at, 2, "?");
  }
  EXPECT_EQ(got, ts::MdbExportRaw(fixture, "Table1"));
}

// A Jet 3 file as the origin of a whole run: it opens read-only, and a run
// over a file without the office's tables stops at the configuration row.
TEST(Jet3Origin, WholeRunOpensItReadOnlyAndStopsAtTheMissingConfiguration) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string fixture = Jet3Copy(dir, "testV1997.mdb");
  const std::string dest = dir.File("Destino.mdb");
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
  const std::string before = ts::FileContents(fixture);

  auto bases = mig::AbrirBasesMigracion(fixture, dest);
  ASSERT_TRUE(bases);
  EXPECT_JET_ERROR(bases->DBOrigen.Execute("DELETE FROM Table1", jet::dao::dbFailOnError),
                   jet::kErrReadOnly);
  bases->DBOrigen.Close();
  bases->DBDestino.Close();

  try {
    mig::Migrar(mig::Variante::kV8V8, fixture, dest);
    ADD_FAILURE() << "the run did not stop";
  } catch (const mig::MigrationStopped& e) {
    EXPECT_EQ(e.report().failure->table, "TConfig");
    EXPECT_EQ(e.number(), jet::kErrNoSuchTable);
  }
  EXPECT_TRUE(ts::FileContents(fixture) == before);
}

// Several thousand rows, more than are ever read ahead, copied both ways
// into the same destination layout: an auto-number and a defaulted field
// the copy leaves alone, a unique code, a short name, a required amount and
// memos. Refusals are scattered through the table; the unguarded copy stops
// far past the first rows read ahead. Both ways leave the same rows, the
// same counters and the same report.
class ReadingWays : public ::testing::Test {
 protected:
  static constexpr int kRows = 3000;

  void SetUp() override {
    origen_ = Create(dir_.File("o.mdb"), {
        "CREATE TABLE TCasos (Id LONG PRIMARY KEY, Codigo TEXT(20), Nombre TEXT(40), "
        "Nota MEMO, Importe DOUBLE)",
    });
    auto rs = origen_.OpenRecordset("TCasos");
    for (int i = 1; i <= kRows; ++i) {
      rs.AddNew();
      rs.SetValue("Id", Value(i));
      // Every 97th code repeats the one before it.
      rs.SetValue("Codigo", Value("C" + std::to_string(i % 97 == 0 ? i - 1 : i)));
      // Every 101st name is too long for the destination.
      rs.SetValue("Nombre", Value(i % 101 == 0 ? std::string("Nombre demasiado largo")
                                                 : "Núñez " + std::to_string(i)));
      if (i % 3 == 0) rs.SetValue("Nota", Value(std::string(static_cast<size_t>(i % 5000), 'n')));
      // Every 89th amount is missing.
      if (i % 89 != 0) rs.SetValue("Importe", Value(i * 1.5));
      rs.Update();
    }
    rs.Close();
  }

  Database Destination(const std::string& name) {
    Database d = Create(dir_.File(name), {});
    auto def = d.CreateTableDef("TCasos");
    auto num = def.CreateField("Num", jet::dao::dbLong);
    num.SetAttributes(jet::dao::dbFixedField | jet::dao::dbAutoIncrField);
    def.AppendField(num);
    def.AppendField(def.CreateField("Id", jet::dao::dbLong));
    def.AppendField(def.CreateField("Codigo", jet::dao::dbText, 20));
    def.AppendField(def.CreateField("Nombre", jet::dao::dbText, 12));
    def.AppendField(def.CreateField("Nota", jet::dao::dbMemo));
    auto importe = def.CreateField("Importe", jet::dao::dbDouble);
    importe.SetRequired(true);
    def.AppendField(importe);
    auto estado = def.CreateField("Estado", jet::dao::dbText, 10);
    estado.SetDefaultValue("\"abierto\"");
    def.AppendField(estado);
    auto pk = def.CreateIndex("PrimaryKey");
    pk.SetPrimary(true);
    pk.AppendField(pk.CreateField("Id"));
    def.AppendIndex(pk);
    auto codigo = def.CreateIndex("Codigo");
    codigo.SetUnique(true);
    codigo.AppendField(codigo.CreateField("Codigo"));
    def.AppendIndex(codigo);
    d.AppendTableDef(def);
    return d;
  }

  ts::TempDir dir_;
  Database origen_;
};

TEST_F(ReadingWays, GuardedCopiesMatch) {
  std::vector<std::vector<std::vector<Value>>> tables;
  std::vector<mig::TableResult> steps;
  for (auto reading : {mig::Reading::kAhead, mig::Reading::kInStep}) {
    Database destino = Destination(reading == mig::Reading::kAhead ? "a.mdb" : "s.mdb");
    mig::MigrationReport report;
    mig::CopyTable(origen_, destino,
                   Copy("TCasos", {"Id", "Codigo", "Nombre", "Nota", "Importe", "Falta"},
                        mig::Loop::kGuarded),
                   report, {}, reading);
    steps.push_back(report.tables.at(0));
    // The counter goes on after the copied rows.
    auto rs = destino.OpenRecordset("TCasos");
    rs.AddNew();
    rs.SetValue("Id", Value(kRows + 1));
    rs.SetValue("Importe", Value(1.0));
    rs.Update();
    rs.Close();
    tables.push_back(Rows(destino, "TCasos"));
  }
  const int refused = kRows / 97 + kRows / 89 - kRows / (97 * 89);
  EXPECT_EQ(steps[0].copied, kRows - refused);
  EXPECT_EQ(steps[0].skipped, refused);
  // The absent field in every row, and each long name.
  EXPECT_EQ(steps[0].fields_defaulted, kRows + kRows / 101);
  for (const auto& s : steps) {
    EXPECT_EQ(s.copied, steps[0].copied);
    EXPECT_EQ(s.skipped, steps[0].skipped);
    EXPECT_EQ(s.fields_defaulted, steps[0].fields_defaulted);
  }
  ASSERT_EQ(tables[0].size(), tables[1].size());
  EXPECT_TRUE(tables[0] == tables[1]);
  // Numbers run on, a long name was left at its default, and the field the
  // copy leaves alone has its default.
  const auto& rows = tables[0];
  for (size_t i = 1; i < rows.size(); ++i) {
    ASSERT_GT(rows[i][0].as<int32_t>(), rows[i - 1][0].as<int32_t>());
  }
  auto with_id = [&](int id) {
    for (const auto& r : rows) {
      if (r[1] == Value(id)) return r;
    }
    return std::vector<Value>{};
  };
  EXPECT_EQ(with_id(101).at(3), Value());
  EXPECT_EQ(with_id(102).at(3), Value("Núñez 102"));
  EXPECT_EQ(with_id(102).at(6), Value("abierto"));
  EXPECT_TRUE(with_id(97).empty());
  EXPECT_TRUE(with_id(89).empty());
}

TEST_F(ReadingWays, UnguardedCopiesStopAtTheSameRow) {
  // Only the amount can fail: the first missing one, row 89... and past the
  // rows read ahead, with the origin's first 2000 rows' amounts present.
  origen_.Execute("UPDATE TCasos SET Importe = 1 WHERE Id < 2000");
  std::vector<std::string> reports;
  for (auto reading : {mig::Reading::kAhead, mig::Reading::kInStep}) {
    Database destino = Destination(reading == mig::Reading::kAhead ? "a.mdb" : "s.mdb");
    mig::MigrationReport report;
    try {
      mig::CopyTable(origen_, destino,
                     Copy("TCasos", {"Id", "Importe", "Nota"}, mig::Loop::kUnguarded), report,
                     {}, reading);
      FAIL() << "the copy did not stop";
    } catch (const mig::MigrationStopped& e) {
      EXPECT_EQ(e.number(), jet::kErrRequired);
      const auto& f = *e.report().failure;
      EXPECT_EQ(f.key, "Id=2047");  // 2047 = 23 * 89
      EXPECT_EQ(f.row, 2047);
      EXPECT_EQ(f.field, "");
      EXPECT_EQ(e.report().tables.at(0).copied, 2046);
      reports.push_back(f.message);
    }
    EXPECT_EQ(Rows(destino, "TCasos").size(), 2046u);
  }
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], reports[1]);
}


}  // namespace
