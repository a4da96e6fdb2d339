// The DAO-shaped objects: recordset movement and editing, errors at the
// point of the call, SELECT recordsets, and handles sharing one file.
#include "jet/dao.h"

#include <gtest/gtest.h>

#include "jet/error.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace jet::dao {
namespace {

const char* const kCreate = ";LANGID=0x0409;CP=1252;COUNTRY=0;pwd=KTRW_BLM";
const char* const kConnect = ";PWD=KTRW_BLM";


Database NewDatabase(const std::string& path) {
  Database db = DBEngine::Instance().Workspaces(0).CreateDatabase(path, kCreate);
  TableDef t = db.CreateTableDef("TClientes");
  Field id = t.CreateField("FCli01", dbLong);
  id.SetAttributes(dbAutoIncrField);
  t.AppendField(id);
  Field name = t.CreateField("FCli02", dbText, 10);
  name.SetRequired(true);
  t.AppendField(name);
  Field note = t.CreateField("FCli03", dbText);
  note.SetDefaultValue("\"sin nota\"");
  t.AppendField(note);
  db.AppendTableDef(t);
  return db;
}

TEST(DaoTest, RecordsetMovesEditsAndRefusesAtTheCall) {
  testing_support::TempDir dir;
  Database db = NewDatabase(dir.File("a.mdb"));
  Recordset rs = db.OpenRecordset("tclientes");  // names match without regard to case
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_TRUE(rs.IsBOF());
  EXPECT_JET_ERROR(rs.MoveFirst(), kErrNoCurrentRecord);
  EXPECT_JET_ERROR(rs.SetValue("FCli02", Value("x")), kErrUpdateWithoutEdit);

  rs.AddNew();
  EXPECT_EQ(rs.GetValue("FCli01"), Value(int32_t{1}));
  EXPECT_EQ(rs.GetValue("FCli03"), Value("sin nota"));
  EXPECT_JET_ERROR(rs.SetValue("FCli02", Value("demasiado largo")), kErrFieldTooSmall);
  EXPECT_JET_ERROR(rs.Update(), kErrRequired);
  rs.SetValue("fcli02", Value("Ana"));
  rs.Update();
  rs.AddNew();
  rs.SetValue(1, Value("Luis"));
  rs.Update();
  EXPECT_EQ(rs.RecordCount(), 2);
  EXPECT_JET_ERROR(rs.GetValue("FNoExiste"), kErrItemNotFound);

  rs.MoveFirst();
  rs.Edit();
  rs.SetValue("FCli02", Value("Ana María"));
  rs.Update();
  rs.MoveNext();
  EXPECT_EQ(rs.GetValue("FCli02"), Value("Luis"));
  rs.Delete();
  rs.MoveNext();
  EXPECT_TRUE(rs.IsEOF());
  EXPECT_EQ(rs.RecordCount(), 1);
  rs.Close();
  EXPECT_JET_ERROR(rs.MoveFirst(), kErrObjectClosed);

  Recordset q = db.OpenRecordset("SELECT FCli02 AS Nombre FROM TClientes WHERE FCli01 = 1");
  ASSERT_FALSE(q.IsEOF());
  EXPECT_EQ(q.FieldName(0), "Nombre");
  EXPECT_EQ(q.GetValue("Nombre"), Value("Ana María"));
  EXPECT_JET_ERROR(q.AddNew(), kErrReadOnly);
  db.Close();
  EXPECT_JET_ERROR(db.OpenRecordset("TClientes"), kErrObjectClosed);
}

TEST(DaoTest, HandlesOfOneProgramShareTheFile) {
  testing_support::TempDir dir;
  std::string path = dir.File("b.mdb");
  NewDatabase(path).Close();
  Workspace& ws = DBEngine::Instance().Workspaces(0);
  Database exclusive = ws.OpenDatabase(path, true, false, kConnect);
  Database second = ws.OpenDatabase(path, false, false, kConnect);  // same program: allowed
  Recordset rs = exclusive.OpenRecordset("TClientes");
  rs.AddNew();
  rs.SetValue("FCli02", Value("Eva"));
  rs.Update();
  EXPECT_EQ(second.OpenRecordset("TClientes").RecordCount(), 1);
  EXPECT_EQ(second.GetTableDef("TCLIENTES").RecordCount(), 1);
  EXPECT_JET_ERROR(second.AppendTableDef(second.CreateTableDef("TClientes")), kErrTableExists);
  EXPECT_JET_ERROR(ws.OpenDatabase(dir.File("nada.mdb")), kErrFileNotFound);
  EXPECT_JET_ERROR(ws.CreateDatabase(path, kCreate), kErrDatabaseExists);
  EXPECT_JET_ERROR(ws.OpenDatabase(path, false, false, ";pwd=ktrw_blm"), kErrBadPassword);
}

}  // namespace
}  // namespace jet::dao
