// What the engine's DDL says beyond Jet's own words, as `maquetor schema`
// writes it: stored AllowZeroLength both ways, a default stored as exact
// text, descending index columns, relations kept but not enforced, and
// Decimal columns; each checked by what the engine then does.
#include <gtest/gtest.h>

#include <string>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace {

namespace dao = jet::dao;
namespace ts = testing_support;

int ErrorNumber(dao::Database& db, const std::string& sql) {
  return ts::ErrorOf([&] { db.Execute(sql, dao::dbFailOnError); });
}

TEST(SqlDdlTest, SaysWhatJetsDdlCannot) {
  ts::TempDir dir;
  const std::string path = dir.File("ddl.mdb");
  auto db = dao::DBEngine::Instance().Workspaces(0).CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  db.Execute("CREATE TABLE P (Id LONG, Nombre TEXT(10) ALLOW ZERO LENGTH, "
             "Tipo TEXT(5) NOT NULL DISALLOW ZERO LENGTH DEFAULT EXPRESSION 'V8', "
             "Nota TEXT(5) DEFAULT EXPRESSION '', Importe DECIMAL(10, 2))");
  db.Execute("CREATE UNIQUE INDEX PK ON P (Id DESC, Nombre) WITH PRIMARY");
  db.Execute("CREATE TABLE H (Id LONG, Padre LONG)");
  db.Execute("ALTER TABLE H ADD CONSTRAINT PH FOREIGN KEY (Padre) REFERENCES P (Id) NOT ENFORCED");

  auto p = db.GetTableDef("P");
  EXPECT_TRUE(p.GetField("Nombre").AllowZeroLength());
  EXPECT_FALSE(p.GetField("Tipo").AllowZeroLength());
  EXPECT_EQ(p.GetField("Tipo").DefaultValue(), "V8");
  EXPECT_TRUE(p.GetField("Nota").HasDefaultValue());
  EXPECT_EQ(p.GetField("Nota").DefaultValue(), "");
  // The default is evaluated as stored; "" is refused where it is disallowed.
  db.Execute("INSERT INTO P (Id, Nombre) VALUES (1, '')", dao::dbFailOnError);
  EXPECT_EQ(ErrorNumber(db, "INSERT INTO P (Id, Nombre, Tipo) VALUES (2, 'b', '')"), jet::kErrZeroLength);
  auto rs = db.OpenRecordset("SELECT Tipo FROM P");
  EXPECT_EQ(rs.GetValue(0), jet::Value("V8"));
  rs.Close();

  auto file = jet::FileState::Open(path, false, false, "");
  const jet::TableDef& def = file->GetTable("P").def();
  ASSERT_EQ(def.real_indexes.size(), 1u);
  EXPECT_FALSE(def.real_indexes[0].columns[0].ascending);
  EXPECT_TRUE(def.real_indexes[0].columns[1].ascending);
  const jet::ColumnDef* importe = def.FindColumn("Importe");
  ASSERT_NE(importe, nullptr);
  EXPECT_EQ(importe->type, jet::ColumnType::kDecimal);
  EXPECT_EQ(importe->precision, 10);
  EXPECT_EQ(importe->scale, 2);

  // Kept in the catalogue, not enforced: a row without its parent goes in.
  ASSERT_EQ(db.Relations().size(), 1u);
  EXPECT_EQ(db.Relations()[0].Attributes() & dao::dbRelationDontEnforce, dao::dbRelationDontEnforce);
  EXPECT_EQ(ErrorNumber(db, "INSERT INTO H VALUES (1, 99)"), 0);

  EXPECT_EQ(ErrorNumber(db, "CREATE TABLE D (a DECIMAL(29, 2))"), jet::kErrInvalidArgument);
  EXPECT_EQ(ErrorNumber(db, "CREATE TABLE D (a DECIMAL(4, 5))"), jet::kErrInvalidArgument);
  db.Close();
}

}  // namespace
