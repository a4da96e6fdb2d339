// Setup.MDB as CmdControl leaves it: encrypted, with the password, TSetup and
// its index, the demonstration row, the log entry; a second press, a file of
// another case, a folder with an apostrophe.
#include <gtest/gtest.h>

#include <filesystem>

#include "auxdb/user_control.h"
#include "program_folder.h"
#include "support/oracles.h"

namespace auxdb_test {
namespace {

using namespace jet::dao;
using maquetor::auxdb::CmdControl;
using maquetor::shell::JoinPath;

class UserControl : public ProgramFolder {
 protected:
  std::string DemoPath() const { return JoinPath(Named("Demo"), "Demo.mdb"); }
};

TEST_F(UserControl, BuildsTheEncryptedFileWithTSetupISetupAndTheDemonstrationRow) {
  CmdControl();

  // Into the existing Bases folder, though RutaBases names it BASES.
  EXPECT_EQ(Listing(app_), std::vector<std::string>{"Bases"});
  EXPECT_EQ(Listing(app_ / "Bases"), std::vector<std::string>{"Setup.MDB"});
  const std::string path = OnDisk("Setup.MDB");

  EXPECT_EQ(ErrorOf([&] { Open(path, ";pwd=otra"); }), 3031);
  Database db = Open(path);
  EXPECT_TRUE(db.Encrypted());
  EXPECT_TRUE(db.HasPassword());
  for (const char* text : {"TSetup", "FSetup01", "Demo.mdb", "DEMO"}) {
    EXPECT_FALSE(Readable(path, text)) << text;
  }

  TableDef t = db.GetTableDef("TSetup");
  struct Expect {
    const char* name;
    int type, size;
    bool required, allow_zero_length;
    int auto_increment;
  };
  const Expect fields[] = {
      {"FSetup01", dbText, 255, true, false, 0}, {"FSetup02", dbText, 255, true, false, 0},
      {"FSetup03", dbText, 255, true, false, 0}, {"FSetup04", dbInteger, 2, false, false, 0},
      {"FSetup05", dbLong, 4, true, false, 16},  {"FSetup06", dbInteger, 2, false, false, 0},
  };
  ASSERT_EQ(t.Fields().size(), std::size(fields));
  for (size_t i = 0; i < std::size(fields); ++i) {
    const Field f = t.Fields()[i];
    SCOPED_TRACE(fields[i].name);
    EXPECT_EQ(f.Name(), fields[i].name);
    EXPECT_EQ(f.Type(), fields[i].type);
    EXPECT_EQ(f.Size(), fields[i].size);
    EXPECT_EQ(f.Required(), fields[i].required);
    EXPECT_EQ(f.AllowZeroLength(), fields[i].allow_zero_length);
    EXPECT_EQ(f.Attributes() & dbAutoIncrField, fields[i].auto_increment);
    EXPECT_FALSE(f.HasDefaultValue());
  }
  ASSERT_EQ(t.Indexes().size(), 1u);
  const Index i = t.Indexes()[0];
  EXPECT_EQ(i.Name(), "ISetup");
  EXPECT_TRUE(i.Primary());
  EXPECT_TRUE(i.Unique());
  EXPECT_TRUE(i.Required());
  ASSERT_EQ(i.Fields().size(), 1u);
  EXPECT_EQ(i.Fields()[0].Name(), "FSetup05");

  Recordset rs = db.OpenRecordset("TSetup", dbOpenTable);
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.GetValue("FSetup01"), Value(DemoPath()));
  EXPECT_EQ(rs.GetValue("FSetup02"), Value("DEMO"));
  EXPECT_EQ(rs.GetValue("FSetup03"), Value("DEMO"));
  for (const char* number : {"FSetup04", "FSetup05", "FSetup06"}) {
    EXPECT_EQ(rs.GetValue(number).ToString(), "1") << number;
  }
  db.Close();
}

TEST_F(UserControl, RowsAddedLaterNumberOnFromTheSeedAndNeedTheirTexts) {
  CmdControl();
  Database db = Open(OnDisk("Setup.MDB"));
  Recordset rs = db.OpenRecordset("TSetup", dbOpenTable);
  rs.AddNew();
  rs.SetValue("FSetup01", Value("/otra/Base.mdb"));
  rs.SetValue("FSetup02", Value("OTRA"));
  rs.SetValue("FSetup03", Value("OTRA"));
  EXPECT_EQ(rs.GetValue("FSetup05").ToString(), "2");
  rs.Update();
  rs.Close();

  EXPECT_EQ(ErrorOf([&] {
              db.Execute("INSERT INTO TSetup (FSetup01,FSetup02,FSetup03,FSetup05) "
                         "VALUES ('a','b','c',1)",
                         128);
            }),
            jet::kErrDuplicateKey);
  EXPECT_EQ(ErrorOf([&] {
              db.Execute("INSERT INTO TSetup (FSetup01,FSetup03) VALUES ('a','c')", 128);
            }),
            jet::kErrRequired);
  EXPECT_EQ(ErrorOf([&] {
              db.Execute("INSERT INTO TSetup (FSetup01,FSetup02,FSetup03) VALUES ('a','','c')",
                         128);
            }),
            jet::kErrZeroLength);
  EXPECT_EQ(db.OpenRecordset("TSetup").RecordCount(), 2);
  db.Close();
}

TEST_F(UserControl, ReadByMdbtoolsAndMdbReader) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  CmdControl();
  const std::string path = OnDisk("Setup.MDB");

  EXPECT_EQ(testing_support::MdbTables(path), std::vector<std::string>{"TSetup"});
  auto csv = testing_support::MdbExport(path, "TSetup");
  EXPECT_EQ(csv.header, (std::vector<std::string>{"FSetup01", "FSetup02", "FSetup03", "FSetup04",
                                                  "FSetup05", "FSetup06"}));
  ASSERT_EQ(csv.rows.size(), 1u);
  EXPECT_EQ(csv.rows[0], (std::vector<std::string>{DemoPath(), "DEMO", "DEMO", "1", "1", "1"}));

  auto props = testing_support::MdbProps(path, "TSetup");
  for (const char* text : {"FSetup01", "FSetup02", "FSetup03"}) {
    EXPECT_EQ(props[text]["Required"], "yes") << text;
    EXPECT_EQ(props[text]["AllowZeroLength"], "no") << text;
  }
  EXPECT_EQ(props["FSetup05"]["Required"], "yes");
  EXPECT_EQ(props["FSetup04"].count("Required"), 0u);

  const std::string ddl = testing_support::MdbSchema(path, "postgres");
  EXPECT_NE(ddl.find("\"fsetup05\"\t\t\tSERIAL NOT NULL"), std::string::npos) << ddl;
  EXPECT_NE(ddl.find("ADD CONSTRAINT \"tsetup_pkey\" PRIMARY KEY (\"fsetup05\");"),
            std::string::npos)
      << ddl;

  auto dump = testing_support::MdbReaderDump(path, std::string("KTRW_BLM"));
  ASSERT_EQ(dump["tables"].size(), 1u);
  const auto& table = dump["tables"][0];
  EXPECT_EQ(table["name"], "TSetup");
  ASSERT_EQ(table["columns"].size(), 6u);
  EXPECT_EQ(table["columns"][0]["size"], 510);
  EXPECT_EQ(table["columns"][3]["type"], "integer");
  EXPECT_EQ(table["columns"][4]["autoLong"], true);
  ASSERT_EQ(table["rows"].size(), 1u);
  EXPECT_EQ(table["rows"][0]["FSetup01"], DemoPath());
  EXPECT_EQ(table["rows"][0]["FSetup05"], 1);
}

TEST_F(UserControl, LogsTheFileOnlyWhenTheLogExists) {
  const std::string before = "\r\nACTION: CreateDir: \"" + JoinPath(app_.string(), "Bases") + "\"";
  WriteLog(before);
  CmdControl();
  EXPECT_EQ(Contents(LogPath()), before + FileEntry(Named("Setup.Mdb")));

  UseProgramFolder("SinLog");
  CmdControl();
  EXPECT_TRUE(std::filesystem::exists(OnDisk("Setup.MDB")));
  EXPECT_FALSE(std::filesystem::exists(LogPath()));
}

TEST_F(UserControl, ASecondPressIsRefusedAndChangesNothing) {
  WriteLog("");
  CmdControl();
  const std::string file = Contents(OnDisk("Setup.MDB"));
  const std::string log = Contents(LogPath());
  EXPECT_EQ(ErrorOf(CmdControl), jet::kErrDatabaseExists);
  EXPECT_EQ(Contents(OnDisk("Setup.MDB")), file);
  EXPECT_EQ(Contents(LogPath()), log);

  // A file that differs only in case is the same file, as on Windows.
  UseProgramFolder("Mayusculas");
  WriteLog("");
  std::ofstream(OnDisk("SETUP.MDB"), std::ios::binary) << "no es una base";
  EXPECT_EQ(ErrorOf(CmdControl), jet::kErrDatabaseExists);
  EXPECT_EQ(Listing(app_ / "Bases"), std::vector<std::string>{"SETUP.MDB"});
  EXPECT_EQ(Contents(OnDisk("SETUP.MDB")), "no es una base");
  EXPECT_EQ(Contents(LogPath()), "");
}

TEST_F(UserControl, AnApostropheInTheFolderReachesTheRowAndTheLog) {
  const std::string sep(1, maquetor::shell::kSeparator);
  EXPECT_EQ(maquetor::auxdb::SetupSeedStatement("C:\\Despacho d'Abogados\\BASES"),
            "INSERT INTO TSetup (FSetup01,FSetup02,FSetup03,FSetup04,FSetup05,FSetup06) VALUES "
            "('C:\\Despacho d''Abogados\\BASES" + sep + "Demo" + sep +
                "Demo.mdb','DEMO','DEMO',1,1,1)");

  UseProgramFolder("Despacho d'Abogados");
  WriteLog("");
  CmdControl();
  Database db = Open(OnDisk("Setup.MDB"));
  Recordset rs = db.OpenRecordset("TSetup", dbOpenTable);
  ASSERT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.GetValue("FSetup01"), Value(DemoPath()));
  EXPECT_NE(DemoPath().find("d'Abogados"), std::string::npos);
  db.Close();
  EXPECT_EQ(Contents(LogPath()), FileEntry(Named("Setup.Mdb")));
}

}  // namespace
}  // namespace auxdb_test
