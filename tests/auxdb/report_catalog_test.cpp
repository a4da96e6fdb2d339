// DBRPT.MDB as REPORT leaves it: encrypted, with the password, TList and its
// index, the 42 reports in order with the long code cut, the log entry after
// the file is closed, the hourglass on and off; a second press.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "auxdb/report_catalog.h"
#include "db/engine.h"
#include "program_folder.h"
#include "shell/ui.h"
#include "support/oracles.h"

namespace auxdb_test {
namespace {

using namespace jet::dao;
using maquetor::auxdb::REPORT;
using testing_support::TempDir;

// code|title|file|number, as stored, in the order of insertion.
const char* const kStored = R"(Abo|LISTADO DE ABOGADOS POR CODIGO|LSTABO002.RPT|2
Abo|LISTADO DE ABOGADOS POR NOMBRE|LSTABO001.RPT|3
Abo|LISTADO DE ASUNTOS POR ABOGADO|LSTABO003.RPT|2
Pro|LISTADO DE PROCURADORES POR CODIGO|LSTPRO002.RPT|2
Pro|LISTADO DE PROCURADORES POR NOMBRE|LSTPRO001.RPT|3
Pro|LISTADO DE ASUNTOS POR PROCURADOR|LSTPRO003.RPT|2
Juz|LISTADO DE JUZGADOS POR CODIGO|LSTJUZ001.RPT|2
Cli|LISTADO DE CLIENTES POR CODIGO|LSTCLI002.RPT|1
Cli|LISTADO DE CLIENTES POR NOMBRE|LSTCLI001.RPT|3
Cli|LISTADO DE PROFORMAS|LSTCLI003.RPT|8
Cli|LISTADO DE ASUNTOS POR CLIENTE|LSTCLI004.RPT|1
Con|LISTADO DE CONTRARIOS POR CODIGO|LSTCON002.RPT|1
Con|LISTADO DE CONTRARIOS POR NOMBRE|LSTCON001.RPT|3
Con|LISTADO DE PROFORMAS CONTRARIOS|LSTCON003.RPT|9
Int|LISTADO DE INTERVINIENTES POR CODIGO|LSTINT002.RPT|1
Int|LISTADO DE INTERVINIENTES POR NOMBRE|LSTINT001.RPT|3
Pod|LISTADO DE PODERES|LSTPOD001.RPT|1
Exh|LISTADO DE EXHORTOS|LSTEXH001.RPT|11
Asu|LISTADO DE PORTADA|LSTASU001.RPT|12
Asu|LISTADO DE CLIENTES|LSTASU002.RPT|11
Asu|LISTADO DE CONTRARIOS|LSTASU003.RPT|11
Asu|LISTADO DE INTERVINIENTES|LSTASU004.RPT|11
Asu|LISTADO DE GESTION JUDICIAL|LSTASU005.RPT|11
Asu|LISTADO DE GASTOS JUDICIALES|LSTASU006.RPT|12
Asu|LISTADO DE GASTOS NO JUDICIALES|LSTASU007.RPT|12
Asu|LISTADO DE GESTION DE COBROS|LSTASU008.RPT|12
Asu|LISTADO DE MINUTA|LSTASU009.RPT|12
Asu|LISTADO DE GESTIÓN DE DOCUMENTOS|LSTASU010.RPT|11
Asu|LISTADO DE GESTIÓN NO JUDICIAL|LSTASU011.RPT|11
Gas|LISTADO DE GASTOS|LSTGTS001.RPT|5
Usu|LISTADO DE USUARIOS|LSTUSU001.RPT|13
Cco|LISTADO DE CUENTA CONTABLE|LSTCCN001.RPT|13
Age|LISTADO POR ESTE ASUNTO|LSTASU011.RPT|11
Age|LISTADO RELACIONADOS A ASUNTOS|LSTAGE001.RPT|15
Age|LISTADO NO RELACIONADOS A ASUNTOS|LSTAGE001.RPT|14
Fac|FACTURAS PARA HACIENDA|LSTMIN001.RPT;LSTMIN002.RPT|5
Lib|IVA SOPORTADO|LSTIVA001.RPT|5
Lib|IVA REPERCUTIDO|LSTIVA002.RPT|5
Lib|RET SOPORTADA|LSTRET001.RPT|5
Lib|RET REPERCUTIDA|LSTRET002.RPT|5
Lib|PROVISIONES|LSTPROV.RPT|5
Lib|ESTADO DE CUENTAS|LSTRES.RPT|5
)";

std::vector<std::string> StoredRows() {
  std::vector<std::string> rows;
  std::istringstream in(kStored);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

// Records the pointer changes.
class PointerLog final : public maquetor::shell::Ui {
 public:
  PointerLog() : previous_(maquetor::shell::InstallUi(this)) {}
  ~PointerLog() override { maquetor::shell::InstallUi(previous_); }
  void Message(const std::string&, const std::string&, maquetor::shell::Icon) override {}
  std::string ChooseFile(const std::string&, const std::string&) override { return {}; }
  void SetBusy(bool busy) override { changes.push_back(busy); }
  void ProcessEvents() override {}
  std::vector<bool> changes;

 private:
  maquetor::shell::Ui* previous_;
};

using ReportCatalog = ProgramFolder;

TEST_F(ReportCatalog, TheStatementsNameTheLastColumnTwoWays) {
  const auto statements = maquetor::auxdb::ReportSeedStatements();
  ASSERT_EQ(statements.size(), 42u);
  EXPECT_EQ(statements[0],
            "INSERT INTO TList (FList01,FList02,FList03,Flist04) VALUES "
            "('Abo','LISTADO DE ABOGADOS POR CODIGO','LSTABO002.RPT',2)");
  EXPECT_NE(statements[31].find(",Flist04) VALUES ('Cco',"), std::string::npos);
  EXPECT_EQ(statements[32],
            "INSERT INTO TList (FList01,FList02,FList03,FList04) VALUES "
            "('Age','LISTADO POR ESTE ASUNTO','LSTASU011.RPT',11)");
  EXPECT_NE(statements[41].find("VALUES ('LibroIVA','ESTADO DE CUENTAS',"), std::string::npos);
}

TEST_F(ReportCatalog, BuildsTheEncryptedFileWithTheFortyTwoReportsInOrder) {
  REPORT();
  EXPECT_EQ(Listing(app_), std::vector<std::string>{"Bases"});
  const std::string path = OnDisk("DBRPT.MDB");
  ASSERT_TRUE(std::filesystem::exists(path));

  EXPECT_EQ(ErrorOf([&] { Open(path, ";pwd=otra"); }), 3031);
  Database db = Open(path);
  EXPECT_TRUE(db.Encrypted());
  EXPECT_TRUE(db.HasPassword());
  for (const char* text : {"LISTADO DE ABOGADOS", "LSTABO002", "TList", "FList02"}) {
    EXPECT_FALSE(Readable(path, text)) << text;
  }

  TableDef t = db.GetTableDef("TList");
  ASSERT_EQ(t.Fields().size(), 4u);
  const char* names[] = {"FList01", "FList02", "FList03"};
  const int sizes[] = {3, 40, 40};
  for (int i = 0; i < 3; ++i) {
    const Field f = t.Fields()[static_cast<size_t>(i)];
    EXPECT_EQ(f.Name(), names[i]);
    EXPECT_EQ(f.Type(), dbText);
    EXPECT_EQ(f.Size(), sizes[i]);
    EXPECT_TRUE(f.Required());
    EXPECT_FALSE(f.AllowZeroLength());
  }
  const Field number = t.Fields()[3];
  EXPECT_EQ(number.Name(), "FList04");
  EXPECT_EQ(number.Type(), dbByte);
  EXPECT_FALSE(number.Required());
  EXPECT_EQ(number.DefaultValue(), "0");
  ASSERT_EQ(t.Indexes().size(), 1u);
  const Index index = t.Indexes()[0];
  EXPECT_EQ(index.Name(), "IList");
  EXPECT_TRUE(index.Primary() && index.Unique() && index.Required());
  ASSERT_EQ(index.Fields().size(), 1u);
  EXPECT_EQ(index.Fields()[0].Name(), "FList02");

  std::vector<std::string> rows;
  for (Recordset rs = db.OpenRecordset("TList", dbOpenTable); !rs.IsEOF(); rs.MoveNext()) {
    std::string row;
    for (int c = 0; c < 4; ++c) row += (c ? "|" : "") + rs.GetValue(c).ToString();
    rows.push_back(row);
  }
  EXPECT_EQ(rows, StoredRows());
  db.Close();

  // The same search finds a title in a file that is not encrypted.
  TempDir plain;
  Database control = maquetor::db::Workspace0().CreateDatabase(plain.File("plain.mdb"), ";pwd=x");
  control.Execute("CREATE TABLE T (A TEXT(40))");
  control.Execute("INSERT INTO T VALUES ('LISTADO DE ABOGADOS')");
  control.Close();
  EXPECT_TRUE(Readable(plain.File("plain.mdb"), "LISTADO DE ABOGADOS"));
}

TEST_F(ReportCatalog, TheTitleIsTheKeyAndTheNumberDefaultsToZero) {
  REPORT();
  Database db = Open(OnDisk("DBRPT.MDB"));
  EXPECT_EQ(ErrorOf([&] {
              db.Execute("INSERT INTO TList (FList01,FList02,FList03,FList04) "
                         "VALUES ('Otr','LISTADO DE PODERES','OTRO.RPT',1)",
                         maquetor::db::kExecuteSeed);
            }),
            jet::kErrDuplicateKey);
  db.Execute("INSERT INTO TList (FList01,FList02,FList03) VALUES ('Otr','OTRO LISTADO','OTRO.RPT')",
             maquetor::db::kExecuteSeed);

  // A recordset refuses the long code that the statements cut.
  Recordset rs = db.OpenRecordset("TList", dbOpenTable);
  rs.AddNew();
  EXPECT_EQ(ErrorOf([&] { rs.SetValue("FList01", Value("LibroIVA")); }), jet::kErrFieldTooSmall);
  rs.CancelUpdate();

  ASSERT_EQ(rs.RecordCount(), 43);
  rs.MoveFirst();
  for (int i = 0; i < 42; ++i) rs.MoveNext();
  EXPECT_EQ(rs.GetValue("FList02"), Value("OTRO LISTADO"));
  EXPECT_EQ(rs.GetValue("FList04").ToString(), "0");
  rs.Close();
  db.Close();
}

TEST_F(ReportCatalog, ReadByMdbtoolsAndMdbReader) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  REPORT();
  const std::string path = OnDisk("DBRPT.MDB");

  EXPECT_EQ(testing_support::MdbTables(path), std::vector<std::string>{"TList"});
  auto csv = testing_support::MdbExport(path, "TList");
  EXPECT_EQ(csv.header, (std::vector<std::string>{"FList01", "FList02", "FList03", "FList04"}));
  std::vector<std::string> rows;
  for (const auto& r : csv.rows) rows.push_back(r[0] + "|" + r[1] + "|" + r[2] + "|" + r[3]);
  EXPECT_EQ(rows, StoredRows());

  auto props = testing_support::MdbProps(path, "TList");
  for (const char* text : {"FList01", "FList02", "FList03"}) {
    EXPECT_EQ(props[text]["Required"], "yes") << text;
    EXPECT_EQ(props[text]["AllowZeroLength"], "no") << text;
  }
  EXPECT_EQ(props["FList04"]["DefaultValue"], "0");
  const std::string ddl = testing_support::MdbSchema(path, "postgres");
  EXPECT_NE(ddl.find("\"flist01\"\t\t\tVARCHAR (3) NOT NULL"), std::string::npos) << ddl;
  EXPECT_NE(ddl.find("ADD CONSTRAINT \"tlist_pkey\" PRIMARY KEY (\"flist02\");"),
            std::string::npos)
      << ddl;

  auto dump = testing_support::MdbReaderDump(path, std::string("KTRW_BLM"));
  ASSERT_EQ(dump["tables"].size(), 1u);
  const auto& table = dump["tables"][0];
  EXPECT_EQ(table["name"], "TList");
  EXPECT_EQ(table["columns"][0]["size"], 6);
  EXPECT_EQ(table["columns"][3]["type"], "byte");
  rows.clear();
  for (const auto& r : table["rows"]) {
    rows.push_back(r["FList01"].get<std::string>() + "|" + r["FList02"].get<std::string>() + "|" +
                   r["FList03"].get<std::string>() + "|" + std::to_string(r["FList04"].get<int>()));
  }
  EXPECT_EQ(rows, StoredRows());
}

TEST_F(ReportCatalog, LogsTheClosedFileUnderTheHourglassAndASecondPressChangesNothing) {
  const std::string before = "ACTION: CreateDir: \"x\"\r\n";
  WriteLog(before);
  PointerLog pointer;
  REPORT();
  EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(Contents(LogPath()), before + FileEntry(Named("DBRPT.MDB")));

  const std::string file = Contents(OnDisk("DBRPT.MDB"));
  EXPECT_EQ(ErrorOf(REPORT), jet::kErrDatabaseExists);
  EXPECT_EQ(pointer.changes, (std::vector<bool>{true, false, true, false}));
  EXPECT_EQ(Contents(OnDisk("DBRPT.MDB")), file);
  EXPECT_EQ(Contents(LogPath()), before + FileEntry(Named("DBRPT.MDB")));

  UseProgramFolder("SinLog");
  REPORT();
  EXPECT_TRUE(std::filesystem::exists(OnDisk("DBRPT.MDB")));
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

}  // namespace
}  // namespace auxdb_test
