// The file at a database's path is the file before a change or after it,
// whatever the disk does meanwhile: power cuts at every write and sync, I/O
// errors and full disks, through the fault-injecting file system.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/file.h"
#include "support/fault_file_system.h"
#include "support/fixtures.h"
#include "support/jet_error.h"

namespace {

using jet::JetError;
using jet::dao::Database;
using jet::dao::DBEngine;
using testing_support::FaultFileSystem;
using testing_support::ErrorOf;
using testing_support::FileContents;
using testing_support::InstalledFileSystem;
using testing_support::TempDir;

constexpr int kRows = 30;

std::filesystem::path Fs(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

jet::dao::Workspace& Ws() { return DBEngine::Instance().Workspaces(0); }

void Insert(Database& db, int from, int to) {
  for (int i = from; i <= to; ++i) {
    db.Execute("INSERT INTO T VALUES (" + std::to_string(i) + ", 'fila " + std::to_string(i) +
               "')");
  }
}

void Build(const std::string& path) {
  Database db = Ws().CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  db.Execute("CREATE TABLE T (Id LONG CONSTRAINT PK PRIMARY KEY, Nombre TEXT(50))");
  Insert(db, 1, kRows);
  db.Close();
}

// Rows kRows+1..2*kRows added, 1..10 deleted.
void Change(const std::string& path) {
  Database db = Ws().OpenDatabase(path);
  Insert(db, kRows + 1, 2 * kRows);
  db.Execute("DELETE FROM T WHERE Id <= 10");
  db.Close();
}

int64_t Rows(const std::string& path) {
  Database db = Ws().OpenDatabase(path, false, true);
  auto rs = db.OpenRecordset("T");
  const int64_t n = rs.RecordCount();
  int64_t seen = 0;
  for (; !rs.IsEOF(); rs.MoveNext()) ++seen;
  EXPECT_EQ(seen, n);
  rs.Close();
  db.Close();
  return n;
}

std::vector<std::string> Entries(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(e.path().filename().string());
  }
  return names;
}

struct Operation {
  const char* name;
  bool creates;              // before it, nothing at the path
  std::function<void(const std::string&)> run;
  int64_t rows_after;
};

const Operation kOperations[] = {
    {"creation", true, Build, kRows},
    {"change", false, Change, 2 * kRows - 10},
};

void Prepare(const Operation& op, const std::string& path) {
  if (!op.creates) Build(path);
}

// One statement, put in place by itself (what `maquetor sql` does).
void Statement(const std::string& path) {
  Database db = Ws().OpenDatabase(path);
  db.Execute("UPDATE T SET Nombre = 'otra' WHERE Id > 5");
  db.Commit();
  db.Close();
}

TEST(AtomicTest, PowerCutAtEveryWriteAndSyncLeavesTheOldFileOrTheWholeResult) {
  const Operation kCut[] = {kOperations[0], kOperations[1], {"statement", false, Statement, kRows}};
  for (const Operation& op : kCut) {
    SCOPED_TRACE(op.name);
    TempDir dir;
    const std::string path = dir.File("a.mdb");
    std::string old;
    FaultFileSystem fs;
    auto prepare = [&] {
      std::filesystem::remove_all(dir.path());
      std::filesystem::create_directories(dir.path());
      if (!op.creates) Build(path);
      old = op.creates ? "" : FileContents(Fs(path));
    };
    bool saw_after = false;
    const int points = testing_support::PowerCutAtEveryPoint(
        fs, prepare, [&] { op.run(path); },
        [&](const std::string& point) {
          SCOPED_TRACE(point);
          const bool exists = std::filesystem::exists(Fs(path));
          if (point == "none") {
            ASSERT_TRUE(exists);
            EXPECT_EQ(Rows(path), op.rows_after);
            return;
          }
          if (!exists) {
            EXPECT_TRUE(op.creates) << "the database is gone";
            op.run(path);  // a second run builds it whole
            EXPECT_EQ(Rows(path), op.rows_after);
          } else if (!op.creates && FileContents(Fs(path)) == old) {
            EXPECT_EQ(Rows(path), kRows);
          } else {
            EXPECT_EQ(Rows(path), op.rows_after);
            saw_after = true;
          }
          Ws().OpenDatabase(path).Close();  // clears copies left by the dead process
          EXPECT_EQ(Entries(dir), std::vector<std::string>{"a.mdb"});
        });
    EXPECT_GE(points, 3);
    // Nothing is durable before the folder's sync after the rename, the last
    // point: every cut finds the file as it was.
    EXPECT_FALSE(saw_after);
  }
}

TEST(AtomicTest, FailingWritesAndSyncsGiveTheirErrorAndKeepTheOriginal) {
  struct Fault {
    const char* name;
    bool sync;
    int error;
    bool sticky;
  };
  const Fault kFaults[] = {
      {"I/O error on a write", false, jet::kErrDiskIo, false},
      {"full disk", false, jet::kErrDiskFull, true},
      {"I/O error on a sync", true, jet::kErrDiskIo, false},
  };
  for (const Operation& op : kOperations) {
    // Writes fail at the first, a middle and the last write the operation
    // makes untouched (pages reach the copy in runs, so they are few).
    int writes = 0;
    {
      TempDir dir;
      const std::string path = dir.File("a.mdb");
      Prepare(op, path);
      FaultFileSystem fs;
      InstalledFileSystem installed(fs);
      op.run(path);
      writes = fs.writes();
    }
    ASSERT_GE(writes, 1) << op.name;
    for (const Fault& fault : kFaults) {
      const std::vector<int> points =
          fault.sync ? std::vector<int>{1, 3, 9} : std::vector<int>{1, (writes + 1) / 2, writes};
      for (int point : points) {
        SCOPED_TRACE(std::string(op.name) + ", " + fault.name + " at " + std::to_string(point));
        TempDir dir;
        const std::string path = dir.File("a.mdb");
        Prepare(op, path);
        const std::string old = op.creates ? "" : FileContents(Fs(path));
        FaultFileSystem fs;
        {
          InstalledFileSystem installed(fs);
          if (fault.sync) {
            fs.FailSync(point, fault.error);
          } else {
            fs.FailWrite(point, fault.error, fault.sticky);
          }
          const int error = ErrorOf([&] { op.run(path); });
          // An operation with fewer syncs than the point ends well.
          if (!(fault.sync && fs.syncs() < point)) {
            EXPECT_EQ(error, fault.error);
          }
          if (error == 0) continue;
        }
        EXPECT_TRUE(jet::TakeDeferredErrors().empty());
        if (op.creates) {
          EXPECT_TRUE(Entries(dir).empty()) << "a half-built file or a copy was left";
          op.run(path);
          EXPECT_EQ(Rows(path), op.rows_after);
        } else {
          EXPECT_EQ(FileContents(Fs(path)), old);
          EXPECT_EQ(Entries(dir), std::vector<std::string>{"a.mdb"});
        }
      }
    }
  }
}

TEST(AtomicTest, ACommitFailingWhereNobodyCanCatchItIsReportedAndChangesNothing) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  Build(path);
  const std::string old = FileContents(Fs(path));
  FaultFileSystem fs;
  {
    InstalledFileSystem installed(fs);
    Database db = Ws().OpenDatabase(path);
    Insert(db, kRows + 1, kRows + 1);
    fs.FailSync(1, jet::kErrDiskFull);
  }  // the handle goes without Close
  const std::vector<JetError> deferred = jet::TakeDeferredErrors();
  ASSERT_EQ(deferred.size(), 1u);
  EXPECT_EQ(deferred[0].number(), jet::kErrDiskFull);
  EXPECT_EQ(FileContents(Fs(path)), old);

  // An explicit Close reports it to its caller instead.
  {
    InstalledFileSystem installed(fs);
    fs.Reboot();
    Database db = Ws().OpenDatabase(path);
    Insert(db, kRows + 1, kRows + 1);
    fs.FailSync(1, jet::kErrDiskIo);
    EXPECT_EQ(ErrorOf([&] { db.Close(); }), jet::kErrDiskIo);
  }
  EXPECT_TRUE(jet::TakeDeferredErrors().empty());
  EXPECT_EQ(FileContents(Fs(path)), old);
}

TEST(AtomicTest, CopiesLeftByADeadProcessGoAtTheNextOpen) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  Build(path);
  std::filesystem::copy_file(dir.path() / "a.mdb", dir.path() / "a.mdb.~mq0badc0de");
  std::filesystem::copy_file(dir.path() / "a.mdb", dir.path() / "a.mdb.~mqnothex!");
  Ws().OpenDatabase(path, false, true).Close();
  std::vector<std::string> left = Entries(dir);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.mdb", "a.mdb.~mqnothex!"}));
}

TEST(AtomicTest, ADamagedPageNamesTheFile) {
  TempDir dir;
  const std::string path = dir.File("a.mdb");
  Build(path);
  const std::string good = FileContents(Fs(path));
  constexpr size_t kPage = 4096;
  int named = 0;
  for (size_t page = 3; page < good.size() / kPage; ++page) {
    std::string bad = good;
    std::fill(bad.begin() + static_cast<std::ptrdiff_t>(page * kPage),
              bad.begin() + static_cast<std::ptrdiff_t>((page + 1) * kPage), '\xA5');
    const std::string damaged = dir.File("d" + std::to_string(page) + ".mdb");
    {
      std::ofstream out(Fs(damaged), std::ios::binary);
      out << bad;
    }
    try {
      Database db = Ws().OpenDatabase(damaged, false, true);
      for (const auto& def : db.TableDefs()) {
        auto rs = db.OpenRecordset(def.Name());
        for (; !rs.IsEOF(); rs.MoveNext()) {
          for (int i = 0; i < rs.FieldCount(); ++i) rs.GetValue(i);
        }
      }
    } catch (const JetError& e) {
      if (e.number() != jet::kErrCorrupt) continue;
      EXPECT_NE(std::string(e.what()).find("d" + std::to_string(page) + ".mdb"), std::string::npos)
          << e.what();
      ++named;
    }
  }
  EXPECT_GT(named, 0);
}

}  // namespace
