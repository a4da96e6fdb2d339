// The two auxiliary databases setup mode makes in BASES: Setup.MDB
// (CmdControl: TSetup, the databases the application lists) and DBRPT.MDB
// (REPORT: TList, its printable reports). Both are encrypted and carry the
// application's password, one table with a one-field primary key, an entry
// in the installer's log when there is one, and refuse a second press.
// What is particular to each follows the shared cases.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include "auxdb/report_catalog.h"
#include "auxdb/user_control.h"
#include "db/engine.h"
#include "program_folder.h"
#include "support/fault_file_system.h"
#include "support/jet_error.h"
#include "support/recording_ui.h"

namespace auxdb_test {
namespace {

using namespace jet::dao;
using maquetor::shell::JoinPath;
using testing_support::TempDir;

struct AuxFile {
  const char* name;
  void (*press)();
  const char* file;    // as made in Bases
  const char* logged;  // as the log names it
  const char* table;
  const char* key;  // the primary index's one field
  const char* index;
  int64_t rows;  // seeded
};

const AuxFile kAuxFiles[] = {
    {"Setup", maquetor::auxdb::CmdControl, "Setup.MDB", "Setup.Mdb", "TSetup", "FSetup05", "ISetup",
     1},
    {"Reports", maquetor::auxdb::REPORT, "DBRPT.MDB", "DBRPT.MDB", "TList", "FList02", "IList", 42},
};

// Each row's values as text, through our engine, in table order.
std::vector<std::vector<std::string>> RowsAsText(Database& db, const std::string& table) {
  const int columns = static_cast<int>(db.GetTableDef(table).Fields().size());
  std::vector<std::vector<std::string>> rows;
  for (Recordset rs = db.OpenRecordset(table, dbOpenTable); !rs.IsEOF(); rs.MoveNext()) {
    rows.emplace_back();
    for (int c = 0; c < columns; ++c) rows.back().push_back(rs.GetValue(c).ToString());
  }
  return rows;
}

class AuxDatabase : public ProgramFolder, public ::testing::WithParamInterface<AuxFile> {};

TEST_P(AuxDatabase, IsEncryptedWithThePasswordAndKeyedOnOneField) {
  const AuxFile& a = GetParam();
  a.press();
  // Into the existing Bases folder, though RutaBases names it BASES.
  EXPECT_EQ(Listing(app_), std::vector<std::string>{"Bases"});
  EXPECT_EQ(Listing(app_ / "Bases"), std::vector<std::string>{a.file});
  const std::string path = OnDisk(a.file);

  EXPECT_JET_ERROR(Open(path, ";pwd=otra"), jet::kErrBadPassword);
  Database db = Open(path);
  EXPECT_TRUE(db.Encrypted());
  EXPECT_TRUE(db.HasPassword());
  TableDef t = db.GetTableDef(a.table);
  ASSERT_EQ(t.Indexes().size(), 1u);
  const Index index = t.Indexes()[0];
  EXPECT_EQ(index.Name(), a.index);
  EXPECT_TRUE(index.Primary() && index.Unique() && index.Required());
  ASSERT_EQ(index.Fields().size(), 1u);
  EXPECT_EQ(index.Fields()[0].Name(), a.key);
  const auto rows = RowsAsText(db, a.table);
  EXPECT_EQ(static_cast<int64_t>(rows.size()), a.rows);
  db.Close();

  // No name or text of a row shows in the file's bytes; the same search
  // finds them in a file that is not encrypted.
  std::vector<std::string> texts = {a.table, t.Fields()[0].Name()};
  for (const auto& value : rows.at(0)) {
    if (value.size() > 3) texts.push_back(value);
  }
  for (const auto& text : texts) EXPECT_FALSE(Readable(path, text)) << text;
  TempDir plain;
  Database control = maquetor::db::Workspace0().CreateDatabase(plain.File("plain.mdb"), ";pwd=x");
  control.Execute("CREATE TABLE T (A TEXT(200))");
  control.Execute("INSERT INTO T VALUES ('" + texts.back() + "')");
  control.Close();
  EXPECT_TRUE(Readable(plain.File("plain.mdb"), texts.back()));
}

TEST_P(AuxDatabase, ASecondPressIsRefusedAndChangesNothing) {
  const AuxFile& a = GetParam();
  WriteLog("");
  a.press();
  const std::string file = Contents(OnDisk(a.file));
  const std::string log = Contents(LogPath());
  EXPECT_JET_ERROR(a.press(), jet::kErrDatabaseExists);
  EXPECT_EQ(Contents(OnDisk(a.file)), file);
  EXPECT_EQ(Contents(LogPath()), log);

  // A file whose name differs only in case is the same file, as on Windows.
  UseProgramFolder("Minusculas");
  WriteLog("");
  std::string other = a.file;
  std::transform(other.begin(), other.end(), other.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  std::ofstream(OnDisk(other), std::ios::binary) << "no es una base";
  EXPECT_JET_ERROR(a.press(), jet::kErrDatabaseExists);
  EXPECT_EQ(Listing(app_ / "Bases"), std::vector<std::string>{other});
  EXPECT_EQ(Contents(OnDisk(other)), "no es una base");
  EXPECT_EQ(Contents(LogPath()), "");
}

// A power cut at any write or sync of a press leaves BASES empty or holding
// the whole file: never a file without its table or its rows.
TEST_P(AuxDatabase, APowerCutLeavesNoFileOrTheWholeOne) {
  const AuxFile& a = GetParam();
  const std::filesystem::path bases = app_ / "Bases";
  testing_support::FaultFileSystem faults;
  int whole = 0;
  const int points = testing_support::PowerCutAtEveryPoint(
      faults,
      [&] {
        std::filesystem::remove_all(bases);
        std::filesystem::create_directories(bases);
      },
      [&] { a.press(); },
      [&](const std::string& point) {
        SCOPED_TRACE(point);
        const auto files = Listing(bases);
        if (files.empty()) return;
        ASSERT_EQ(files, std::vector<std::string>{a.file});
        ++whole;
        Database db = Open(OnDisk(a.file));
        EXPECT_EQ(static_cast<int64_t>(RowsAsText(db, a.table).size()), a.rows);
        db.Close();
      });
  EXPECT_GE(points, 3);
  EXPECT_GE(whole, 1);
}

INSTANTIATE_TEST_SUITE_P(Both, AuxDatabase, ::testing::ValuesIn(kAuxFiles),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Setup.MDB -------------------------------------------------------------

class UserControl : public ProgramFolder {
 protected:
  std::string DemoPath() const { return JoinPath(Named("Demo"), "Demo.mdb"); }
};

// The demonstration row names Demo/Demo.mdb under the BASES folder, whose
// name may hold an apostrophe; the log names the file under it too.
TEST_F(UserControl, TheDemonstrationRowNamesDemoUnderTheBasesFolder) {
  UseProgramFolder("Despacho d'Abogados");
  WriteLog("");
  maquetor::auxdb::CmdControl();
  Database db = Open(OnDisk("Setup.MDB"));
  EXPECT_EQ(RowsAsText(db, "TSetup"),
            (std::vector<std::vector<std::string>>{{DemoPath(), "DEMO", "DEMO", "1", "1", "1"}}));
  EXPECT_NE(DemoPath().find("d'Abogados"), std::string::npos);
  db.Close();
  EXPECT_EQ(Contents(LogPath()), FileEntry(Named("Setup.Mdb")));
}

TEST_F(UserControl, RowsAddedLaterNumberOnFromTheSeedAndNeedTheirTexts) {
  maquetor::auxdb::CmdControl();
  Database db = Open(OnDisk("Setup.MDB"));
  Recordset rs = db.OpenRecordset("TSetup", dbOpenTable);
  rs.AddNew();
  rs.SetValue("FSetup01", Value("/otra/Base.mdb"));
  rs.SetValue("FSetup02", Value("OTRA"));
  rs.SetValue("FSetup03", Value("OTRA"));
  EXPECT_EQ(rs.GetValue("FSetup05").ToString(), "2");
  rs.Update();
  rs.Close();

  EXPECT_JET_ERROR(
      db.Execute("INSERT INTO TSetup (FSetup01,FSetup02,FSetup03,FSetup05) VALUES ('a','b','c',1)",
                 dbFailOnError),
      jet::kErrDuplicateKey);
  EXPECT_JET_ERROR(
      db.Execute("INSERT INTO TSetup (FSetup01,FSetup03) VALUES ('a','c')", dbFailOnError),
      jet::kErrRequired);
  EXPECT_JET_ERROR(db.Execute("INSERT INTO TSetup (FSetup01,FSetup02,FSetup03) VALUES ('a','','c')",
                              dbFailOnError),
                   jet::kErrZeroLength);
  EXPECT_EQ(db.OpenRecordset("TSetup").RecordCount(), 2);
  db.Close();
}

// --- DBRPT.MDB -------------------------------------------------------------

using ReportCatalog = ProgramFolder;

// The rows come in the order of their statements, under the hourglass, and
// a code longer than FList01's three characters is cut, not refused.
TEST_F(ReportCatalog, StoresTheReportsInStatementOrderCuttingLongCodes) {
  testing_support::RecordingUi ui;
  maquetor::auxdb::REPORT();
  EXPECT_EQ(ui.pointer, (std::vector<bool>{true, false}));
  Database db = Open(OnDisk("DBRPT.MDB"));
  const auto rows = RowsAsText(db, "TList");
  db.Close();
  const auto statements = maquetor::auxdb::ReportSeedStatements();
  ASSERT_EQ(rows.size(), statements.size());
  int cut = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    // VALUES ('code','title','file',number)
    const std::string& s = statements[i];
    const size_t code_at = s.find("VALUES ('") + 9;
    const std::string code = s.substr(code_at, s.find('\'', code_at) - code_at);
    const size_t title_at = code_at + code.size() + 3;
    const std::string title = s.substr(title_at, s.find('\'', title_at) - title_at);
    EXPECT_EQ(rows[i][0], code.substr(0, 3)) << s;
    EXPECT_EQ(rows[i][1], title) << s;
    cut += code.size() > 3;
  }
  EXPECT_GT(cut, 0) << "no statement has a long code";
}

TEST_F(ReportCatalog, TheTitleIsTheKeyAndTheNumberDefaultsToZero) {
  maquetor::auxdb::REPORT();
  Database db = Open(OnDisk("DBRPT.MDB"));
  EXPECT_JET_ERROR(db.Execute("INSERT INTO TList (FList01,FList02,FList03,FList04) "
                              "VALUES ('Otr','LISTADO DE PODERES','OTRO.RPT',1)",
                              maquetor::db::kExecuteSeed),
                   jet::kErrDuplicateKey);
  db.Execute("INSERT INTO TList (FList01,FList02,FList03) VALUES ('Otr','OTRO LISTADO','OTRO.RPT')",
             maquetor::db::kExecuteSeed);

  // A recordset refuses the long code that the statements cut.
  Recordset rs = db.OpenRecordset("TList", dbOpenTable);
  rs.AddNew();
  EXPECT_JET_ERROR(rs.SetValue("FList01", Value("LibroIVA")), jet::kErrFieldTooSmall);
  rs.CancelUpdate();

  ASSERT_EQ(rs.RecordCount(), 43);
  rs.MoveFirst();
  for (int i = 0; i < 42; ++i) rs.MoveNext();
  EXPECT_EQ(rs.GetValue("FList02"), Value("OTRO LISTADO"));
  EXPECT_EQ(rs.GetValue("FList04").ToString(), "0");
  rs.Close();
  db.Close();
}

// A refused second press still turns the hourglass off.
TEST_F(ReportCatalog, ARefusedPressRestoresThePointer) {
  maquetor::auxdb::REPORT();
  testing_support::RecordingUi ui;
  EXPECT_JET_ERROR(maquetor::auxdb::REPORT(), jet::kErrDatabaseExists);
  EXPECT_EQ(ui.pointer, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace auxdb_test
