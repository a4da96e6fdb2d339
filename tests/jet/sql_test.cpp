#include "jet/sql.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {

using testing_support::ErrorOf;
using testing_support::JetErrorText;

using jet::Value;
using jet::sql::kFailOnError;
using namespace jet::dao;

constexpr const char* kLocale = ";LANGID=0x0409;CP=1252;COUNTRY=0";

std::string Text(const Value& v) { return v.is_null() ? "Null" : v.ToString(); }

// Every row of a SELECT as text, cells joined by '|'.
std::vector<std::string> RowsOf(const jet::sql::ResultSet& result) {
  std::vector<std::string> out;
  for (const auto& row : result.rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + Text(row[i]);
    out.push_back(line);
  }
  return out;
}

class SqlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.File("sql.mdb");
    db_ = DBEngine::Instance().Workspaces(0).CreateDatabase(path_, kLocale);
  }

  int64_t Exec(const std::string& sql, int options = 0) {
    db_.Execute(sql, options);
    return db_.RecordsAffected();
  }

  jet::sql::ResultSet Query(const std::string& sql) {
    return jet::sql::Query(*jet::FileState::Open(path_, false, false, ""), sql);
  }

  std::vector<std::string> Rows(const std::string& sql) { return RowsOf(Query(sql)); }

  // The single value of a one-row, one-column SELECT on table Uno.
  Value Eval(const std::string& expr) {
    auto rs = Query("SELECT " + expr + " FROM Uno");
    EXPECT_EQ(rs.rows.size(), 1u) << expr;
    return rs.rows.empty() ? Value::Null() : rs.rows[0][0];
  }

  int ExecError(const std::string& sql, int options = 0) {
    return ErrorOf([&] { db_.Execute(sql, options); });
  }

  testing_support::TempDir dir_;
  std::string path_;
  Database db_;
};

// ---- definitions ----

TEST_F(SqlTest, CreateTableMapsTypesSizesAndConstraints) {
  EXPECT_EQ(Exec("CREATE TABLE [Clientes Año] (Id COUNTER CONSTRAINT PK PRIMARY KEY, "
                 "Nombre TEXT(20) NOT NULL, Notas MEMO, Edad BYTE, Piso SHORT, Núm LONG, "
                 "Peso SINGLE, Saldo DOUBLE, Deuda CURRENCY, Alta DATETIME, Activo BIT, "
                 "Foto LONGBINARY, Clave BINARY(8), Lema VARCHAR, Código INTEGER, "
                 "CONSTRAINT UnNombre UNIQUE (Nombre, Edad));"),
            0);
  TableDef t = db_.GetTableDef("clientes año");
  struct Expect {
    const char* name;
    int type;
    int size;
  };
  for (const Expect& e : {Expect{"Id", dbLong, 4}, Expect{"Nombre", dbText, 20},
                          Expect{"Notas", dbMemo, -1}, Expect{"Edad", dbByte, 1},
                          Expect{"Piso", dbInteger, 2}, Expect{"Núm", dbLong, 4},
                          Expect{"Peso", dbSingle, 4}, Expect{"Saldo", dbDouble, 8},
                          Expect{"Deuda", dbCurrency, 8}, Expect{"Alta", dbDate, 8},
                          Expect{"Activo", dbBoolean, 1}, Expect{"Foto", dbLongBinary, -1},
                          Expect{"Clave", dbBinary, 8}, Expect{"Lema", dbText, kDefaultTextSize},
                          Expect{"Código", dbLong, 4}}) {
    Field f = t.GetField(e.name);
    EXPECT_EQ(f.Type(), e.type) << e.name;
    if (e.size >= 0) {
      EXPECT_EQ(f.Size(), e.size) << e.name;
    }
  }
  EXPECT_TRUE(t.GetField("Id").Attributes() & dbAutoIncrField);
  EXPECT_TRUE(t.GetField("Nombre").Required());
  EXPECT_FALSE(t.GetField("Notas").Required());
  bool primary = false, unique = false;
  for (const Index& i : t.Indexes()) {
    if (i.Name() == "PK") primary = i.Primary() && i.Fields().size() == 1;
    if (i.Name() == "UnNombre") unique = i.Unique() && !i.Primary() && i.Fields().size() == 2;
  }
  EXPECT_TRUE(primary);
  EXPECT_TRUE(unique);

  EXPECT_EQ(ExecError("CREATE TABLE [CLIENTES AÑO] (X LONG)"), jet::kErrTableExists);
  EXPECT_EQ(ExecError("CREATE TABLE Otra (X VARIANTE)"), jet::kErrInvalidFieldType);
  EXPECT_EQ(ExecError("CREATE TABLE Otra (X LONG, CONSTRAINT pk PRIMARY KEY (Y))"),
            jet::kErrItemNotFound);
  EXPECT_FALSE(db_.HasTable("Otra"));
}

// Needs the integrity rules to leave zero-length text alone when the field
// has no AllowZeroLength property at all.
TEST_F(SqlTest, DdlTextFieldsTakeZeroLengthStrings) {
  Exec("CREATE TABLE T (Nombre TEXT(10), Notas MEMO)");
  // The engine writes no AllowZeroLength property for DDL fields: DAO reads
  // False, yet zero-length strings go in.
  EXPECT_FALSE(db_.GetTableDef("T").GetField("Nombre").AllowZeroLength());
  EXPECT_EQ(Exec("INSERT INTO T VALUES ('', '')", kFailOnError), 1);
  EXPECT_EQ(Rows("SELECT Len(Nombre), Len(Notas) FROM T"), (std::vector<std::string>{"0|0"}));
}

TEST_F(SqlTest, CreateIndexOptionsAndAlterTableConstraints) {
  Exec("CREATE TABLE T (A LONG, B TEXT(10), C LONG)");
  Exec("INSERT INTO T VALUES (1, 'x', 5)");
  Exec("INSERT INTO T VALUES (2, 'x', Null)");
  Exec("CREATE UNIQUE INDEX UA ON T (A DESC) WITH DISALLOW NULL");
  Exec("CREATE INDEX IC ON T (C) WITH IGNORE NULL");
  Exec("ALTER TABLE T ADD CONSTRAINT KB UNIQUE (A, B)");
  std::map<std::string, Index> by_name;
  for (const Index& i : db_.GetTableDef("T").Indexes()) by_name.emplace(i.Name(), i);
  ASSERT_EQ(by_name.size(), 3u);
  EXPECT_TRUE(by_name.at("UA").Unique());
  EXPECT_TRUE(by_name.at("UA").Required());
  EXPECT_FALSE(by_name.at("IC").Unique());
  EXPECT_TRUE(by_name.at("IC").IgnoreNulls());
  EXPECT_TRUE(by_name.at("KB").Unique());

  EXPECT_EQ(ExecError("CREATE UNIQUE INDEX UB ON T (B)"), jet::kErrDuplicateKey);
  EXPECT_EQ(ExecError("CREATE INDEX UA ON T (B)"), jet::kErrIndexExists);
  EXPECT_EQ(ExecError("CREATE INDEX IX ON Nada (B)"), jet::kErrNoTableOrConstraint);
  EXPECT_EQ(ExecError("CREATE INDEX P ON T (C) WITH PRIMARY"), jet::kErrRequired);
  Exec("CREATE INDEX P ON T (A) WITH PRIMARY");
  EXPECT_EQ(ExecError("ALTER TABLE T ADD CONSTRAINT P2 PRIMARY KEY (B)"), jet::kErrPrimaryKeyExists);
}

// Needs FileState::CreateRelation, Relations, DropIndex and DropTable.
TEST_F(SqlTest, ForeignKeysAndDrops) {
  Exec("CREATE TABLE Clientes (Id LONG CONSTRAINT PK PRIMARY KEY, Nombre TEXT(50))");
  Exec("CREATE TABLE Facturas (Num LONG, Cliente LONG, "
       "CONSTRAINT FKC FOREIGN KEY (Cliente) REFERENCES Clientes ON DELETE CASCADE)");
  Exec("CREATE TABLE Pagos (Factura LONG)");
  Exec("CREATE UNIQUE INDEX UNum ON Facturas (Num)");
  Exec("ALTER TABLE Pagos ADD CONSTRAINT FKP FOREIGN KEY (Factura) REFERENCES Facturas (Num) "
       "ON UPDATE CASCADE");
  // The referenced field defaults to the primary key's.
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  std::vector<std::tuple<std::string, std::string, std::string, Pairs, int>> relations;
  for (const auto& r : jet::FileState::Open(path_, false, false, "")->Relations()) {
    relations.emplace_back(r.name, r.table, r.foreign_table, r.fields,
                           r.attributes & (dbRelationUpdateCascade | dbRelationDeleteCascade));
  }
  EXPECT_EQ(relations,
            (decltype(relations){{"FKC", "Clientes", "Facturas", {{"Id", "Cliente"}}, dbRelationDeleteCascade},
                                 {"FKP", "Facturas", "Pagos", {{"Num", "Factura"}}, dbRelationUpdateCascade}}));
  EXPECT_EQ(ExecError("ALTER TABLE Pagos ADD CONSTRAINT F2 FOREIGN KEY (Factura) REFERENCES Nada"),
            jet::kErrNoTableOrConstraint);
  EXPECT_EQ(ExecError("DROP INDEX NoHay ON Facturas"), jet::kErrNoTableOrConstraint);
  EXPECT_EQ(ExecError("DROP TABLE Nada"), jet::kErrTableNotFound);

  Exec("DROP TABLE Pagos");
  EXPECT_FALSE(db_.HasTable("Pagos"));
  Exec("DROP INDEX UNum ON Facturas");
  for (const Index& i : db_.GetTableDef("Facturas").Indexes()) EXPECT_NE(i.Name(), "UNum");
}

// ---- rows ----

TEST_F(SqlTest, InsertFillsDefaultsAutoNumbersAndCutsText) {
  Exec("CREATE TABLE Exp (Id COUNTER, Nombre TEXT(5), País TEXT(10) DEFAULT 'España', "
       "N LONG DEFAULT 7, Activo YESNO, Alta DATETIME)");
  EXPECT_EQ(Exec("INSERT INTO Exp (Nombre) VALUES ('Abcdefghij')"), 1);
  EXPECT_EQ(Exec("INSERT INTO Exp (Id, Nombre, Alta) VALUES (10, 'ñandú', #3/1/2024 10:30#)"), 1);
  EXPECT_EQ(Exec("INSERT INTO Exp (nombre) VALUES ('z')"), 1);
  EXPECT_EQ(Exec("INSERT INTO Exp VALUES (Null, 'úéíóáñÑ', Null, '3', True, '2024-02-29')"), 1);
  EXPECT_EQ(Exec("INSERT INTO Exp (Id, Nombre) VALUES (4, 'bajo')"), 1);
  EXPECT_EQ(Exec("INSERT INTO Exp (Nombre) VALUES (12345678)"), 1);
  EXPECT_EQ(Rows("SELECT * FROM Exp"),
            (std::vector<std::string>{"1|Abcde|España|7|False|Null",
                                      "10|ñandú|España|7|False|2024-03-01 10:30:00",
                                      "11|z|España|7|False|Null",
                                      "12|úéíóá|Null|3|True|2024-02-29 00:00:00",
                                      "4|bajo|España|7|False|Null",
                                      "13|12345|España|7|False|Null"}));

  // The same rows as a table-type recordset reads them back.
  Recordset rs = db_.OpenRecordset("Exp");
  EXPECT_EQ(rs.RecordCount(), 6);
  EXPECT_EQ(Text(rs.GetValue("Nombre")), "Abcde");

  EXPECT_EQ(ExecError("INSERT INTO Exp (Nombre, N) VALUES ('a')"), jet::kErrValueCountMismatch);
  EXPECT_EQ(ExecError("INSERT INTO Exp VALUES (1, 'a')"), jet::kErrValueCountMismatch);
  const std::string unknown =
      JetErrorText([&] { db_.Execute("INSERT INTO Exp (Nombre, Apellido) VALUES ('a', 'b')"); });
  EXPECT_EQ(unknown.rfind(std::to_string(jet::kErrInsertUnknownField) + ": ", 0), 0u) << unknown;
  EXPECT_NE(unknown.find("'Apellido'"), std::string::npos) << unknown;
  EXPECT_EQ(JetErrorText([&] { db_.Execute("INSERT INTO Exp (Nombre, N) VALUES (Fulano, Mengano + Fulano)"); }),
            std::to_string(jet::kErrTooFewParameters) + ": Pocos parámetros. Se esperaba 2.");
  EXPECT_EQ(ExecError("INSERT INTO Nada VALUES (1)"), jet::kErrNoSuchTable);
  EXPECT_EQ(Query("SELECT * FROM Exp").rows.size(), 6u);
}

TEST_F(SqlTest, InsertSelectCopiesRows) {
  Exec("CREATE TABLE A (X LONG, Y TEXT(20))");
  Exec("CREATE TABLE B (Id COUNTER, Y TEXT(3), X DOUBLE)");
  Exec("INSERT INTO A VALUES (1, 'uno')");
  Exec("INSERT INTO A VALUES (2, 'dos')");
  Exec("INSERT INTO A VALUES (3, Null)");
  EXPECT_EQ(Exec("INSERT INTO B (Y, X) SELECT Y & '-' & X, X / 2 FROM A WHERE X > 1 ORDER BY X DESC"), 2);
  EXPECT_EQ(Rows("SELECT * FROM B"), (std::vector<std::string>{"1|-3|1.5", "2|dos|1"}));
  EXPECT_EQ(ExecError("INSERT INTO B (Y) SELECT X, Y FROM A"), jet::kErrValueCountMismatch);
}

TEST_F(SqlTest, UpdateAndDeleteCountRowsAndReadOldValues) {
  Exec("CREATE TABLE T (Id AUTOINCREMENT, A LONG, B LONG, Txt TEXT(4))");
  Exec("INSERT INTO T (A, B, Txt) VALUES (1, 10, 'uno')");
  Exec("INSERT INTO T (A, B, Txt) VALUES (2, 20, Null)");
  Exec("INSERT INTO T (A, B, Txt) VALUES (3, Null, 'TRES')");
  EXPECT_EQ(Exec("UPDATE T SET A = B, B = A WHERE A >= 2"), 2);
  EXPECT_EQ(Exec("UPDATE T SET Txt = Txt & 'xyz' WHERE B > 100"), 0);  // Null B never matches
  EXPECT_EQ(Exec("UPDATE [t] SET t.Txt = 'tres' & '!!!' WHERE Txt = 'tres'"), 1);
  EXPECT_EQ(Rows("SELECT A, B, Txt FROM T"),
            (std::vector<std::string>{"1|10|uno", "20|2|Null", "Null|3|tres"}));
  EXPECT_EQ(ExecError("UPDATE T SET Id = 5"), jet::kErrFieldNotUpdatable);
  EXPECT_EQ(ExecError("UPDATE T SET Nada = 5"), jet::kErrTooFewParameters);
  EXPECT_EQ(ExecError("UPDATE T SET A = 1 WHERE Txt = 5"), jet::kErrDataTypeMismatch);

  EXPECT_EQ(Exec("DELETE FROM T WHERE Txt IS NULL OR A = 99"), 1);
  EXPECT_EQ(Exec("DELETE FROM T WHERE Nz(A, 0) = 0"), 1);
  EXPECT_EQ(Exec("DELETE * FROM T"), 1);
  EXPECT_EQ(Query("SELECT * FROM T").rows.size(), 0u);
  EXPECT_EQ(db_.GetTableDef("T").RecordCount(), 0);
}

TEST_F(SqlTest, FailingRowsAreSkippedOrUndoTheWholeStatement) {
  Exec("CREATE TABLE T (N LONG, Txt TEXT(10), Poco BYTE)");
  for (const char* v : {"'1'", "'x'", "'3'"}) Exec(std::string("INSERT INTO T (Txt) VALUES (") + v + ")");

  // The second row cannot take 'x' as a number.
  EXPECT_EQ(ExecError("UPDATE T SET N = Txt", kFailOnError), jet::kErrDataTypeMismatch);
  EXPECT_EQ(Rows("SELECT N FROM T"), (std::vector<std::string>{"Null", "Null", "Null"}));
  EXPECT_EQ(Exec("UPDATE T SET N = Txt"), 2);
  EXPECT_EQ(Rows("SELECT N FROM T"), (std::vector<std::string>{"1", "Null", "3"}));

  // Inserted rows go away again when a later one fails.
  Exec("UPDATE T SET N = 300 WHERE Txt = '3'");
  EXPECT_EQ(ExecError("INSERT INTO T (Poco) SELECT N FROM T WHERE N IS NOT NULL", kFailOnError),
            jet::kErrOverflow);
  EXPECT_EQ(Query("SELECT * FROM T").rows.size(), 3u);
  EXPECT_EQ(Exec("INSERT INTO T (Poco) SELECT N FROM T WHERE N IS NOT NULL"), 1);
  EXPECT_EQ(Rows("SELECT Poco FROM T WHERE Poco IS NOT NULL"), (std::vector<std::string>{"1"}));

  // Syntax and name errors raise with or without the option.
  EXPECT_EQ(ExecError("UPDATE T SET N = Nada"), jet::kErrTooFewParameters);
  EXPECT_EQ(ExecError("DELETE FROM T WHERE"), jet::kErrSyntaxExpression);
}

// Needs integrity in FileState::InsertRow/UpdateRow/DeleteRow (unique
// indexes, required fields, relations).
TEST_F(SqlTest, IntegrityFailuresSkipRowsOrUndoTheStatement) {
  Exec("CREATE TABLE T (K LONG, R TEXT(10) NOT NULL)");
  Exec("CREATE UNIQUE INDEX UK ON T (K)");
  for (int k = 1; k <= 3; ++k) Exec("INSERT INTO T VALUES (" + std::to_string(k) + ", 'r')");

  EXPECT_EQ(ExecError("UPDATE T SET K = 5", kFailOnError), jet::kErrDuplicateKey);
  EXPECT_EQ(Rows("SELECT K FROM T ORDER BY K"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Exec("UPDATE T SET K = 5"), 1);
  EXPECT_EQ(Rows("SELECT K FROM T ORDER BY K"), (std::vector<std::string>{"2", "3", "5"}));

  EXPECT_EQ(ExecError("INSERT INTO T (K) VALUES (9)", kFailOnError), jet::kErrRequired);
  EXPECT_EQ(Exec("INSERT INTO T (K) VALUES (9)"), 0);
  EXPECT_EQ(Exec("INSERT INTO T (K, R) VALUES (2, 'dup')"), 0);
  EXPECT_EQ(ExecError("INSERT INTO T (K, R) SELECT K - 1, 'n' FROM T", kFailOnError),
            jet::kErrDuplicateKey);  // 2-1 is free, 3-1 = 2 is not
  EXPECT_EQ(Query("SELECT * FROM T").rows.size(), 3u);

  // Deleting parents that have children fails row by row.
  Exec("CREATE TABLE P (Id LONG CONSTRAINT PK PRIMARY KEY)");
  Exec("CREATE TABLE H (P LONG, CONSTRAINT FK FOREIGN KEY (P) REFERENCES P (Id))");
  for (int id = 1; id <= 3; ++id) Exec("INSERT INTO P VALUES (" + std::to_string(id) + ")");
  Exec("INSERT INTO H VALUES (2)");
  EXPECT_EQ(ExecError("DELETE FROM P", kFailOnError), jet::kErrRelatedRecordsExist);
  EXPECT_EQ(Rows("SELECT Id FROM P ORDER BY Id"), (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(Exec("DELETE FROM P"), 2);
  EXPECT_EQ(Rows("SELECT Id FROM P"), (std::vector<std::string>{"2"}));
}

// Needs relations with cascading deletes in FileState.
TEST_F(SqlTest, UndoPutsBackRowsThatCascadesDeleted) {
  Exec("CREATE TABLE P (Id LONG CONSTRAINT PK PRIMARY KEY)");
  Exec("CREATE TABLE H (Id COUNTER CONSTRAINT PKH PRIMARY KEY, P LONG, "
       "CONSTRAINT FKH FOREIGN KEY (P) REFERENCES P (Id) ON DELETE CASCADE)");
  Exec("CREATE TABLE N (H LONG, CONSTRAINT FKN FOREIGN KEY (H) REFERENCES H (Id) ON DELETE CASCADE)");
  Exec("CREATE TABLE G (P LONG, CONSTRAINT FKG FOREIGN KEY (P) REFERENCES P (Id))");
  Exec("INSERT INTO P VALUES (1)");
  Exec("INSERT INTO P VALUES (2)");
  for (int p : {1, 1, 2}) Exec("INSERT INTO H (P) VALUES (" + std::to_string(p) + ")");
  Exec("INSERT INTO N VALUES (1)");
  Exec("INSERT INTO N VALUES (3)");
  Exec("INSERT INTO G VALUES (2)");

  EXPECT_EQ(ExecError("DELETE FROM P", kFailOnError), jet::kErrRelatedRecordsExist);
  EXPECT_EQ(Rows("SELECT Id FROM P ORDER BY Id"), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(Rows("SELECT Id, P FROM H ORDER BY Id"), (std::vector<std::string>{"1|1", "2|1", "3|2"}));
  EXPECT_EQ(Rows("SELECT H FROM N ORDER BY H"), (std::vector<std::string>{"1", "3"}));

  EXPECT_EQ(Exec("DELETE FROM P"), 1);
  EXPECT_EQ(Rows("SELECT P FROM H"), (std::vector<std::string>{"2"}));
  EXPECT_EQ(Rows("SELECT H FROM N"), (std::vector<std::string>{"3"}));
}

// ---- updates written in place ----

// Unindexed fixed-size columns are written over the stored bytes; a failing
// row later in the statement puts every value (Nulls included) back.
TEST_F(SqlTest, InPlaceUpdatesUndoToTheOldValuesAndNulls) {
  Exec("CREATE TABLE T (K LONG CONSTRAINT UK UNIQUE, D DOUBLE, Poco BYTE, R LONG NOT NULL)");
  Exec("INSERT INTO T VALUES (1, 10, 1, 0)");
  Exec("INSERT INTO T VALUES (2, Null, 2, 0)");
  Exec("INSERT INTO T VALUES (3, 30, 200, 0)");
  const std::vector<std::string> before = {"1|10|1|0", "2|Null|2|0", "3|30|200|0"};

  EXPECT_EQ(ExecError("UPDATE T SET D = Nz(D, 5) * 2, Poco = Poco + 60", kFailOnError),
            jet::kErrOverflow);
  EXPECT_EQ(Rows("SELECT * FROM T"), before);
  EXPECT_EQ(ExecError("UPDATE T SET D = Null, R = Null", kFailOnError), jet::kErrRequired);
  EXPECT_EQ(Rows("SELECT * FROM T"), before);
  EXPECT_EQ(Exec("UPDATE T SET R = Null"), 0);

  EXPECT_EQ(Exec("UPDATE T SET D = Nz(D, 5) * 2, Poco = Poco + 60"), 2);
  EXPECT_EQ(Exec("UPDATE T SET D = Null WHERE K = 1"), 1);
  // The third row overflows Poco and keeps its D too.
  EXPECT_EQ(Rows("SELECT * FROM T"), (std::vector<std::string>{"1|Null|61|0", "2|10|62|0",
                                                                "3|30|200|0"}));
  // The unique index was not touched and still refuses a second 2.
  EXPECT_EQ(ExecError("UPDATE T SET K = 2 WHERE K = 3", kFailOnError), jet::kErrDuplicateKey);
  EXPECT_EQ(Exec("UPDATE T SET K = K + 10, D = 1 WHERE K = 3"), 1);
  EXPECT_EQ(Rows("SELECT K, D FROM T WHERE K > 10"), (std::vector<std::string>{"13|1"}));
}

// Thousands of rows written before the failing one: their old bytes span
// several blocks of the undo records, and all of them go back.
TEST_F(SqlTest, InPlaceUndoCoversManyRows) {
  Exec("CREATE TABLE T (D DOUBLE, Poco BYTE)");
  Exec("INSERT INTO T VALUES (1, 1)");
  for (int i = 0; i < 13; ++i) Exec("INSERT INTO T SELECT * FROM T");  // 8,192 rows
  Exec("INSERT INTO T VALUES (1, 255)");
  EXPECT_EQ(ExecError("UPDATE T SET D = D / 3, Poco = Poco + 1", kFailOnError), jet::kErrOverflow);
  EXPECT_TRUE(Query("SELECT D FROM T WHERE D <> 1 OR Poco = 2").rows.empty());
  EXPECT_EQ(Exec("UPDATE T SET D = D / 3, Poco = Poco + 1"), 8192);
  EXPECT_EQ(Query("SELECT D FROM T WHERE Poco = 2 AND D = 1 / 3").rows.size(), 8192u);
}

// A row that moved (its first slot a pointer) is written at its new home,
// and undone there.
TEST_F(SqlTest, InPlaceUpdatesFollowMovedRows) {
  Exec("CREATE TABLE T (D DOUBLE, Poco BYTE, Txt TEXT(200))");
  Exec("INSERT INTO T VALUES (1, 1, 'a')");
  Exec("INSERT INTO T VALUES (2, 250, 'b')");
  Exec("UPDATE T SET Txt = '" + std::string(200, 'x') + "' WHERE D = 1");
  EXPECT_EQ(ExecError("UPDATE T SET D = D + 1, Poco = Poco + 10", kFailOnError), jet::kErrOverflow);
  EXPECT_EQ(Rows("SELECT D, Poco FROM T"), (std::vector<std::string>{"1|1", "2|250"}));
  EXPECT_EQ(Exec("UPDATE T SET D = D * 3 WHERE Len(Txt) = 200"), 1);
  db_.Close();

  REQUIRE_MDBTOOLS();
  auto csv = testing_support::MdbExport(path_, "T");
  ASSERT_EQ(csv.rows.size(), 2u);
  const size_t moved = csv.At(0, "Txt") == "b" ? 1 : 0;
  EXPECT_EQ(std::stod(csv.At(moved, "D")), 3.0);
  EXPECT_EQ(csv.At(moved, "Txt"), std::string(200, 'x'));
  EXPECT_EQ(std::stod(csv.At(1 - moved, "D")), 2.0);
}

// Columns a relation uses go the whole way, cascades included; the others
// are written in place beside them.
TEST_F(SqlTest, RelationColumnsCascadeWhileOtherColumnsGoInPlace) {
  Exec("CREATE TABLE P (Id LONG CONSTRAINT PK PRIMARY KEY, Importe DOUBLE)");
  Exec("CREATE TABLE H (P LONG, Importe DOUBLE, "
       "CONSTRAINT FK FOREIGN KEY (P) REFERENCES P (Id) ON UPDATE CASCADE)");
  Exec("INSERT INTO P VALUES (1, 100)");
  Exec("INSERT INTO P VALUES (2, 200)");
  Exec("INSERT INTO H VALUES (1, 10)");
  Exec("INSERT INTO H VALUES (2, 20)");

  EXPECT_EQ(Exec("UPDATE P SET Importe = Importe / 4", kFailOnError), 2);
  EXPECT_EQ(Exec("UPDATE H SET Importe = Importe / 4 WHERE Importe <> 0", kFailOnError), 2);
  EXPECT_EQ(Exec("UPDATE P SET Id = Id + 10, Importe = 0 WHERE Id = 2", kFailOnError), 1);
  EXPECT_EQ(Rows("SELECT Id, Importe FROM P"), (std::vector<std::string>{"1|25", "12|0"}));
  EXPECT_EQ(Rows("SELECT P, Importe FROM H"), (std::vector<std::string>{"1|2.5", "12|5"}));
  EXPECT_EQ(ExecError("UPDATE H SET P = 7", kFailOnError), jet::kErrNoRelatedRecord);
  EXPECT_EQ(Rows("SELECT P FROM H"), (std::vector<std::string>{"1", "12"}));
}

// A row stored before a column existed has no bytes for it: that row is
// rewritten whole, and undo handles both kinds of row in one statement.
TEST_F(SqlTest, InPlaceUpdatesRewriteRowsOlderThanTheColumn) {
  Exec("CREATE TABLE T (A LONG, D DOUBLE, Poco BYTE)");
  db_.Close();
  auto file = jet::FileState::Open(path_, false, false, "");
  jet::Table& t = file->GetTable("T");
  const jet::TableDef full = t.def();
  t.mutable_def().columns.resize(1);  // a row as the table had one column
  t.mutable_def().max_columns = 1;
  t.Insert({Value(int32_t{1})});
  t.mutable_def() = full;
  for (const char* row : {"INSERT INTO T VALUES (2, 20, 2)", "INSERT INTO T VALUES (3, 30, 250)"}) {
    jet::sql::Execute(*file, row, 0);
  }

  EXPECT_JET_ERROR(jet::sql::Execute(*file, "UPDATE T SET D = 7, Poco = Nz(Poco, 0) + 10", kFailOnError),
                   jet::kErrOverflow);
  auto values = [&] { return RowsOf(jet::sql::Query(*file, "SELECT A, D, Poco FROM T")); };
  EXPECT_EQ(values(), (std::vector<std::string>{"1|Null|Null", "2|20|2", "3|30|250"}));
  EXPECT_EQ(jet::sql::Execute(*file, "UPDATE T SET D = 7 WHERE A < 3", kFailOnError), 2);
  EXPECT_EQ(values(), (std::vector<std::string>{"1|7|Null", "2|7|2", "3|30|250"}));
}

// ---- queries and expressions ----

TEST_F(SqlTest, SelectFiltersOrdersAndNamesColumns) {
  Exec("CREATE TABLE Gente (Nombre TEXT(20), Edad LONG, Alta DATETIME)");
  Exec("INSERT INTO Gente VALUES ('bea', 30, #2020-05-01#)");
  Exec("INSERT INTO Gente VALUES ('Álvaro', Null, #2019-01-15#)");
  Exec("INSERT INTO Gente VALUES ('ANA', 25, Null)");
  Exec("INSERT INTO Gente VALUES ('carlos', 30, #2021-12-31#)");
  auto rs = Query("SELECT Nombre, Edad + 1 AS Prox, Edad * 2, [Gente].Edad FROM Gente AS g "
                  "WHERE Edad >= 25 ORDER BY Edad DESC, Nombre");
  EXPECT_EQ(rs.columns, (std::vector<std::string>{"Nombre", "Prox", "Expr1000", "Edad"}));
  EXPECT_EQ(Rows("SELECT Nombre FROM Gente ORDER BY Edad, Nombre DESC"),
            (std::vector<std::string>{"Álvaro", "ANA", "carlos", "bea"}));
  EXPECT_EQ(Rows("SELECT Nombre FROM Gente ORDER BY Nombre"),
            (std::vector<std::string>{"Álvaro", "ANA", "bea", "carlos"}));
  EXPECT_EQ(Rows("SELECT g.Nombre FROM Gente g WHERE Nombre LIKE 'b*' OR Nombre LIKE '?N?'"),
            (std::vector<std::string>{"bea", "ANA"}));
  EXPECT_EQ(Rows("SELECT Nombre FROM Gente WHERE Alta BETWEEN #1/1/2020# AND #12/31/2021#"),
            (std::vector<std::string>{"bea", "carlos"}));
  EXPECT_EQ(Rows("SELECT Nombre FROM Gente WHERE Edad NOT IN (25, 99)"),
            (std::vector<std::string>{"bea", "carlos"}));
  EXPECT_EQ(Rows("SELECT DISTINCT Edad FROM Gente ORDER BY Edad"),
            (std::vector<std::string>{"Null", "25", "30"}));
  EXPECT_EQ(Rows("SELECT TOP 1 Nombre FROM Gente WHERE Alta > '2020-01-01' ORDER BY Alta DESC"),
            (std::vector<std::string>{"carlos"}));
  EXPECT_EQ(Rows("SELECT Nombre FROM Gente WHERE Nombre = 'álvaro'"),
            (std::vector<std::string>{"Álvaro"}));
  EXPECT_TRUE(Rows("SELECT Nombre FROM Gente WHERE Nombre = 'alvaro'").empty());
  EXPECT_JET_ERROR(Query("SELECT Edad FROM Gente WHERE Edad = Nadie"), jet::kErrTooFewParameters);
  EXPECT_JET_ERROR(Query("SELECT Gente.Edad FROM Gente AS x WHERE y.Edad = 1"),
                   jet::kErrTooFewParameters);
}

TEST_F(SqlTest, ExpressionsFollowTheEngine) {
  Exec("CREATE TABLE Uno (X LONG, N LONG, T TEXT(10))");
  Exec("INSERT INTO Uno (X, T) VALUES (1, 'abc')");
  struct Case {
    const char* expr;
    const char* text;
  };
  for (const Case& c : {
           // Null through arithmetic, comparison and logic.
           Case{"N + 1", "Null"}, Case{"-N", "Null"}, Case{"N = N", "Null"},
           Case{"N & 'x'", "x"}, Case{"N & N", "Null"}, Case{"'a' & 1 & True", "a1-1"},
           Case{"N OR True", "True"}, Case{"N AND False", "False"}, Case{"N AND True", "Null"},
           Case{"NOT N", "Null"}, Case{"N IS NULL", "True"}, Case{"X IS NOT NULL", "True"},
           // Numbers.
           Case{"2147483647 + 1", "2147483648"}, Case{"3000000000 & ''", "3000000000"}, Case{"0.1 + 0.2 & ''", "0.3"},
           Case{"7 \\ 2", "3"}, Case{"7.5 MOD 2", "0"}, Case{"1 / 4", "0.25"}, Case{"1.5e3", "1500"},
           Case{"2 ^ 10", "1024"}, Case{"-2 + 3 * 4", "10"}, Case{"(2 + 3) * 4", "20"},
           Case{"'5' + 3", "8"}, Case{"'a' + 'b'", "ab"}, Case{"X - -1", "2"},
           // Text compares without regard to case.
           Case{"T = 'ABC'", "True"}, Case{"'a' < 'B'", "True"}, Case{"'b' > 'A'", "True"},
           Case{"T <> 'abd'", "True"}, Case{"'It''s'", "It's"}, Case{"\"di \"\"hola\"\"\"", "di \"hola\""},
           // Dates: ISO and month first; day first when the month cannot be.
           Case{"#12/31/2001# = #2001-12-31#", "True"}, Case{"#1/2/2001#", "2001-01-02 00:00:00"},
           Case{"#13/1/2001#", "2001-01-13 00:00:00"}, Case{"#3/4/05 2:30 PM#", "2005-03-04 14:30:00"},
           Case{"#2001-12-31 18:00# - #2001-12-31#", "0.75"},
           Case{"#2001-12-31# + 1", "2002-01-01 00:00:00"}, Case{"Year(#7/4/1999#)", "1999"},
           // Functions.
           Case{"Nz(N, 5)", "5"}, Case{"IIf(X = 1, 'sí', 'no')", "sí"}, Case{"Len(T)", "3"},
           Case{"UCase(T) & LCase('ÑO')", "ABCño"}, Case{"Mid('abcdef', 2, 3)", "bcd"},
           Case{"Left(T, 2) & Right(T, 1)", "abc"}, Case{"Trim('  a ')", "a"},
       }) {
    EXPECT_EQ(Text(Eval(c.expr)), c.text) << c.expr;
  }
  EXPECT_TRUE(Eval("1").is<int32_t>());
  EXPECT_TRUE(Eval("2147483648").is<double>());
  EXPECT_TRUE(Eval("1.0").is<double>());
  EXPECT_JET_ERROR(Eval("1 / 0"), jet::kErrDivisionByZero);
  EXPECT_JET_ERROR(Eval("T + 1"), jet::kErrDataTypeMismatch);
  EXPECT_JET_ERROR(Eval("Foo(X)"), jet::kErrUndefinedFunction);

  // A condition that is Null matches nothing, negated or not.
  EXPECT_TRUE(Rows("SELECT X FROM Uno WHERE N = 1").empty());
  EXPECT_TRUE(Rows("SELECT X FROM Uno WHERE NOT (N = 1)").empty());
  EXPECT_TRUE(Rows("SELECT X FROM Uno WHERE Null").empty());
  EXPECT_EQ(Rows("SELECT X FROM Uno WHERE 5").size(), 1u);
}

TEST_F(SqlTest, SyntaxErrorsCarryTheEnginesNumbers) {
  Exec("CREATE TABLE T (A LONG, B TEXT(10))");
  struct Case {
    const char* sql;
    int number;
  };
  for (const Case& c : {
           Case{"SELEC * FROM T", jet::kErrInvalidSqlStatement},
           Case{"", jet::kErrInvalidSqlStatement},
           Case{"INSERT T VALUES (1, 'a')", jet::kErrSyntaxInsert},
           Case{"INSERT INTO T VALUES (1, 'a'", jet::kErrSyntaxInsert},
           Case{"INSERT INTO T (A B) VALUES (1, 2)", jet::kErrSyntaxInsert},
           Case{"UPDATE T A = 1", jet::kErrSyntaxUpdate},
           Case{"UPDATE T SET A = 1 WHERE", jet::kErrSyntaxExpression},
           Case{"DELETE T WHERE A = 1", jet::kErrSyntaxFrom},
           Case{"DELETE FROM T WHERE A = 'x", jet::kErrSyntaxExpression},
           Case{"DELETE FROM T WHERE A = #32/13/2001#", jet::kErrSyntaxExpression},
           Case{"DELETE FROM T WHERE A = 1 B", jet::kErrSyntaxFrom},
           Case{"CREATE TABLE X (A TEXT(10)", jet::kErrSyntaxCreateTable},
           Case{"CREATE TABLE X (A TEXT(10) PRIMARY)", jet::kErrSyntaxConstraint},
           Case{"CREATE TABLE X (A LONG, CONSTRAINT pk PRIMARY (A))", jet::kErrSyntaxConstraint},
           Case{"CREATE TABLE X (A)", jet::kErrSyntaxFieldDefinition},
           Case{"CREATE INDEX ON T (A)", jet::kErrSyntaxCreateIndex},
           Case{"CREATE INDEX I ON T (A) WITH NOTHING", jet::kErrSyntaxCreateIndex},
           Case{"ALTER TABLE T DROP A", jet::kErrSyntaxAlterTable},
           Case{"DROP VIEW V", jet::kErrSyntaxDrop},
           Case{"DROP INDEX I", jet::kErrSyntaxDrop},
           Case{"SELECT * FROM T", jet::kErrCannotExecuteSelect},
           Case{"INSERT INTO T (A) SELECT A FROM T UNION SELECT 1 FROM T", jet::kErrSyntaxInsert},
       }) {
    EXPECT_EQ(ExecError(c.sql), c.number) << c.sql;
  }
  struct QueryCase {
    const char* sql;
    int number;
  };
  for (const QueryCase& c : {
           QueryCase{"SELECT * FROM", jet::kErrSyntaxFrom},
           QueryCase{"SELECT A B C FROM T", jet::kErrSyntaxFrom},
           QueryCase{"SELECT A, FROM T", jet::kErrSyntaxExpression},
           QueryCase{"SELECT * FROM T ORDER A", jet::kErrSyntaxOrderBy},
           QueryCase{"SELECT * FROM T ORDER BY", jet::kErrSyntaxExpression},
           QueryCase{"SELECT * FROM T ORDER BY A DESC B", jet::kErrSyntaxOrderBy},
       }) {
    EXPECT_JET_ERROR(Query(c.sql), c.number) << c.sql;
  }
  EXPECT_EQ(JetErrorText([&] { Query("SELECT * FROM T WHERE A = = 1 ORDER BY A"); }),
            std::to_string(jet::kErrSyntaxExpression) +
                ": Error de sintaxis (falta operador) en la expresión de consulta 'A = = 1'.");
  EXPECT_TRUE(jet::sql::IsSelect("  select 1"));
  EXPECT_FALSE(jet::sql::IsSelect("SELECTX"));
}

// ---- other readers ----

TEST_F(SqlTest, RowsWrittenBySqlReadTheSameInMdbtoolsAndMdbReader) {
  Exec("CREATE TABLE [Expedientes Año] (Id COUNTER CONSTRAINT PK PRIMARY KEY, "
       "Cliente TEXT(8) NOT NULL, Importe CURRENCY, Alta DATETIME, Notas MEMO)");
  Exec("INSERT INTO [Expedientes Año] (Cliente, Importe, Alta, Notas) "
       "VALUES ('Muñoz Pérez', 12.5, #2024-03-01 09:15#, 'nota larga')");
  Exec("INSERT INTO [Expedientes Año] (Cliente, Importe) VALUES ('Ibáñez', 3)");
  Exec("INSERT INTO [Expedientes Año] (Cliente) VALUES ('Borrar')");
  Exec("UPDATE [Expedientes Año] SET Importe = Importe * 2 WHERE Cliente LIKE 'I*'");
  Exec("DELETE FROM [Expedientes Año] WHERE Cliente = 'borrar'");
  db_.Close();

  REQUIRE_MDBTOOLS();
  auto csv = testing_support::MdbExport(path_, "Expedientes Año");
  ASSERT_EQ(csv.rows.size(), 2u);
  EXPECT_EQ(csv.At(0, "Cliente"), "Muñoz Pé");
  EXPECT_EQ(csv.At(0, "Notas"), "nota larga");
  EXPECT_EQ(csv.At(1, "Cliente"), "Ibáñez");
  EXPECT_EQ(csv.At(1, "Id"), "2");
  EXPECT_EQ(std::stod(csv.At(1, "Importe")), 6.0);
  EXPECT_EQ(testing_support::MdbCount(path_, "Expedientes Año"), 2);

  REQUIRE_MDB_READER();
  auto dump = testing_support::MdbReaderDump(path_);
  EXPECT_NE(dump.dump().find("Muñoz Pé\""), std::string::npos);
  EXPECT_NE(dump.dump().find("Ibáñez"), std::string::npos);
  EXPECT_EQ(dump.dump().find("Borrar"), std::string::npos);
}

}  // namespace
