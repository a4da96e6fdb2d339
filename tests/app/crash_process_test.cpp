// The real `maquetor` killed with SIGKILL in the middle of a migration and
// of a euros conversion, and run on a "full disk" (a file-size limit on the
// process). Whatever stops it, the file at the database's path must be its
// content before the run, byte for byte (or no file, for a database the run
// was to create), or the whole result of an uninterrupted run, and both
// readers must read it; the next open leaves no copy of ours beside it.
// Kills are timed from the run's first write, spread over as long as an
// uninterrupted run writes: where a torn database could come from.
#include <gtest/gtest.h>

#ifndef _WIN32

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/pager.h"
#include "migrate/origin_filler.h"
#include "schema/buttons.h"
#include "support/fixtures.h"
#include "support/oracles.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using Clock = std::chrono::steady_clock;

// Rows per table of the origin: about 21,600 rows, memos over several pages.
constexpr int kOriginRows = 600;

// The first sign of a run's writing to a database: a copy of ours beside
// it, or the file at its path made, resized or rewritten.
class WriteWatch {
 public:
  explicit WriteWatch(fs::path path) : path_(std::move(path)), initial_(State()) {}
  bool Seen() const {
    if (State() != initial_) return true;
    for (const auto& e : fs::directory_iterator(path_.parent_path())) {
      if (e.path().filename().string().find(".~mq") != std::string::npos) return true;
    }
    return false;
  }

 private:
  std::tuple<bool, uintmax_t, fs::file_time_type> State() const {
    std::error_code ec;
    if (!fs::exists(path_, ec)) return {false, 0, {}};
    return {true, fs::file_size(path_, ec), fs::last_write_time(path_, ec)};
  }
  fs::path path_;
  std::tuple<bool, uintmax_t, fs::file_time_type> initial_;
};

// A maquetor run in the background, its output in `log`.out and .err. With
// `file_size_limit` every file it writes is held under that size
// (RLIMIT_FSIZE, SIGXFSZ ignored): a write past it fails with EFBIG, as on
// a full disk.
class Maquetor {
 public:
  Maquetor(const std::vector<std::string>& args, const std::string& log, rlim_t file_size_limit = 0)
      : log_(log), start_(Clock::now()) {
    std::vector<std::string> argv = {MAQUETOR_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const std::string out = log + ".out";
    const std::string err = log + ".err";
    pid_ = ::fork();
    if (pid_ == 0) {
      const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(126);
      if (file_size_limit != 0) {
        const rlimit limit{file_size_limit, file_size_limit};
        ::signal(SIGXFSZ, SIG_IGN);
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(126);
      }
      ::execv(cargv[0], cargv.data());
      ::_exit(127);
    }
  }

  // Waits for the end. With `kill_after` the process is killed first once
  // that long has passed since `watch` saw its first write (since the
  // start, without a watch). -1 when the kill ended it.
  int Wait(const WriteWatch* watch = nullptr,
           std::optional<Clock::duration> kill_after = std::nullopt) {
    // A flag beside a plain time rather than an optional: GCC at -O1 (the
    // thread sanitizer's build) takes the optional for uninitialised.
    bool kill_pending = kill_after && !watch;
    Clock::time_point kill_at = kill_pending ? start_ + *kill_after : Clock::time_point{};
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
      const auto now = Clock::now();
      if (watch && !first_write_ && watch->Seen()) {
        first_write_ = now - start_;
        if (kill_after) {
          kill_pending = true;
          kill_at = now + *kill_after;
        }
      }
      if (kill_pending && now >= kill_at) {
        ::kill(pid_, SIGKILL);
        kill_pending = false;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    elapsed_ = Clock::now() - start_;
    if (WIFSIGNALED(status)) return -1;
    return WEXITSTATUS(status);
  }

  // From the start to the first write the watch saw, if it saw one.
  std::optional<Clock::duration> first_write() const { return first_write_; }
  Clock::duration elapsed() const { return elapsed_; }
  std::string err() const { return ts::FileContents(log_ + ".err"); }

 private:
  std::string log_;
  Clock::time_point start_;
  Clock::duration elapsed_{};
  std::optional<Clock::duration> first_write_;
  pid_t pid_ = -1;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Names in `folder` of copies the engine writes beside a database.
std::vector<std::string> CopiesIn(const fs::path& folder) {
  std::vector<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.path().filename().string().find(".~mq") != std::string::npos) {
      out.push_back(e.path().filename().string());
    }
  }
  return out;
}

// What both readers see of a database's user tables.
struct Reading {
  std::vector<std::string> tables;
  std::map<std::string, std::string> exports;  // table -> mdb-export
  nlohmann::json dump;                         // mdb-reader's

  static Reading Of(const std::string& path) {
    Reading r;
    r.tables = ts::MdbTables(path);
    for (const auto& t : r.tables) r.exports[t] = ts::MdbExportRaw(path, t);
    r.dump = ts::MdbReaderDump(path, std::string("KTRW_BLM"));
    return r;
  }
  bool operator==(const Reading&) const = default;
};

// The database at `path` before a run and after an uninterrupted one.
class BeforeOrAfter {
 public:
  BeforeOrAfter(std::string path, std::vector<std::string> args, fs::path logs)
      : path_(std::move(path)), args_(std::move(args)), logs_(std::move(logs)) {
    if (fs::exists(path_)) {
      before_ = ts::FileContents(path_);
      Reading::Of(path_);  // the readers take it
    }
    Restore();
    const WriteWatch watch(path_);
    Maquetor run(args_, (logs_ / "whole").string());
    EXPECT_EQ(run.Wait(&watch), 0) << run.err();
    EXPECT_TRUE(run.first_write()) << "the run wrote nothing";
    writing_ = run.elapsed() - run.first_write().value_or(Clock::duration{});
    after_ = Reading::Of(path_);
    Restore();
  }

  // Puts the state before a run back.
  void Restore() {
    fs::remove(path_);
    for (const auto& e : fs::directory_iterator(FolderOf())) {
      if (e.is_directory() && e.path().filename().string().rfind("Docs", 0) == 0) {
        fs::remove_all(e.path());
      }
    }
    if (before_) WriteFile(path_, *before_);
  }

  // Checks the path after a run ended at any point; true when it holds the
  // result.
  bool Check(const std::string& what) {
    SCOPED_TRACE(what);
    bool after = false;
    if (!fs::exists(path_)) {
      EXPECT_FALSE(before_) << "the database is gone";
      // The next creation clears what a killed one left.
      jet::Pager::Create(path_, jet::HeaderInfo{}, false)->Discard();
    } else {
      const std::string bytes = ts::FileContents(path_);
      if (!before_ || bytes != *before_) {
        after = true;
        EXPECT_TRUE(Reading::Of(path_) == after_) << "neither the database before nor after";
      }
      auto db = jet::dao::DBEngine::Instance().OpenDatabase(path_, false, true,
                                                            maquetor::db::kConnect);
      db.Close();
    }
    EXPECT_EQ(CopiesIn(FolderOf()), std::vector<std::string>{});
    return after;
  }

  // Runs the operation `kills` times from the state before it, killing it
  // at moments spread from its first write to a little past the length of
  // an uninterrupted run's writing, and checks the path after each. On a
  // loaded machine a run can outlast its kill moment's window; more runs,
  // killed early in the writing, follow until half the kills have landed.
  void KillRepeatedly(int kills) {
    int runs = 0, killed = 0, whole = 0;
    const auto run_once = [&](Clock::duration at) {
      const WriteWatch watch(path_);
      Maquetor run(args_, (logs_ / ("kill-" + std::to_string(runs++))).string());
      const int status = run.Wait(&watch, at);
      if (status == -1) {
        ++killed;
      } else {
        EXPECT_EQ(status, 0) << run.err();
      }
      whole += Check("killed " + std::to_string(std::chrono::duration<double>(at).count()) +
                     " s after its first write") ? 1 : 0;
      Restore();
    };
    for (int k = 0; k < kills; ++k)
      run_once(std::chrono::duration_cast<Clock::duration>(writing_ * (1.1 * k / (kills - 1))));
    for (int extra = 0; killed < kills / 2 && extra < 2 * kills; ++extra)
      run_once(std::chrono::duration_cast<Clock::duration>(writing_ * (0.5 * (extra % kills) / kills)));
    std::cout << runs << " runs, " << killed << " killed before their end, " << whole
              << " left the whole result; an uninterrupted run wrote for "
              << std::chrono::duration<double>(writing_).count() << " s\n";
    // Most kills must land inside the run for the test to test anything.
    EXPECT_GE(killed, kills / 2);
  }

 private:
  fs::path FolderOf() const { return fs::path(path_).parent_path(); }

  std::string path_;
  std::vector<std::string> args_;
  fs::path logs_;
  std::optional<std::string> before_;
  Reading after_;
  Clock::duration writing_{};
};

struct Folders {
  ts::TempDir dir;
  fs::path origin = dir.path() / "origen";
  fs::path dest = dir.path() / "destino";
  fs::path logs = dir.path() / "logs";
  Folders() {
    for (const auto& f : {origin, dest, logs}) fs::create_directories(f);
  }
};

// A law-office database with rows in every table, the fourteen money fields
// among them.
std::string Origin(const Folders& f) {
  const std::string path = (f.origin / "Origen.mdb").string();
  migrate_testing::BuildOrigin(path, kOriginRows);
  return path;
}

TEST(CrashProcessTest, KilledMigrationsLeaveTheDestinationAsItWasOrWhole) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  Folders f;
  const std::string origin = Origin(f);
  const std::string dest = (f.dest / "Destino.mdb").string();
  const std::vector<std::string> args = {"migrate", "--from-v8", origin, dest};
  {
    SCOPED_TRACE("a destination the run builds");
    BeforeOrAfter(dest, args, f.logs).KillRepeatedly(12);
  }
  {
    SCOPED_TRACE("an existing destination");
    ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(dest));
    BeforeOrAfter(dest, args, f.logs).KillRepeatedly(12);
  }
}

TEST(CrashProcessTest, KilledConversionsLeaveTheDatabaseInPesetasOrInEuros) {
  REQUIRE_MDBTOOLS();
  REQUIRE_MDB_READER();
  Folders f;
  const std::string db = (f.dest / "Despacho.mdb").string();
  fs::copy_file(Origin(f), db);
  BeforeOrAfter(db, {"euros", db}, f.logs).KillRepeatedly(20);
}

std::vector<std::string> Listing(const fs::path& folder) {
  std::vector<std::string> out;
  if (!fs::exists(folder)) return out;
  for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// Each operation on a disk that fills up part way: 3026, the database as it
// was (or no database), its document folder as it was, no copy left.
TEST(FullDiskProcessTest, EndsWith3026AndLeavesTheDatabaseAsItWas) {
  REQUIRE_MDBTOOLS();
  Folders f;
  const std::string origin = Origin(f);
  fs::create_directories(f.origin / "DOCS");
  for (const char* name : {"Doc000001.TXM", "Doc000002.TXM", "Doc000003.TXM"}) {
    std::ofstream(f.origin / "DOCS" / name) << "plantilla";
  }
  const std::string whole = (f.origin / "Vacia.mdb").string();
  ASSERT_TRUE(maquetor::schema::CrearBaseCompleta(whole));
  const std::string db = (f.dest / "Despacho.mdb").string();
  const auto size = [](const std::string& p) { return static_cast<rlim_t>(fs::file_size(p)); };

  struct Case {
    const char* name;
    std::string copy_of;  // the database before the run; empty: none
    std::vector<std::string> args;
    // The limit, from the size of the database before the run.
    std::function<rlim_t(rlim_t)> limit;
  };
  const Case cases[] = {
      {"create", "", {"create", db}, [](rlim_t) { return rlim_t{256} << 10; }},
      {"migrate into a new database", "", {"migrate", "--from-v8", origin, db},
       [](rlim_t) { return rlim_t{256} << 10; }},
      // The copy is made, and the rows overflow the disk.
      {"migrate", whole, {"migrate", "--from-v8", origin, db},
       [](rlim_t before) { return before + (rlim_t{64} << 10); }},
      // The copy itself overflows the disk.
      {"euros", origin, {"euros", db}, [](rlim_t before) { return before / 2; }},
      {"attach-docs", whole, {"attach-docs", origin, db},
       [](rlim_t before) { return before - 4096; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(f.dest);
    fs::create_directories(f.dest / "DOCS");
    std::ofstream(f.dest / "DOCS" / "Doc000009.TXM") << "propia";
    std::optional<std::string> before;
    if (!c.copy_of.empty()) {
      fs::copy_file(c.copy_of, db);
      before = ts::FileContents(db);
    }
    const auto docs = Listing(f.dest / "DOCS");
    Maquetor run(c.args, (f.logs / "full").string(), c.limit(before ? size(db) : 0));
    EXPECT_EQ(run.Wait(), 1);
    const std::string err = run.err();
    EXPECT_NE(err.find("Error 3026: "), std::string::npos) << err;
    EXPECT_EQ(fs::exists(db), before.has_value());
    if (before) {
      EXPECT_TRUE(ts::FileContents(db) == *before) << "the database changed";
    }
    EXPECT_EQ(Listing(f.dest / "DOCS"), docs);
    EXPECT_EQ(CopiesIn(f.dest), std::vector<std::string>{});
  }

  // With room again a creation builds the whole database.
  fs::remove_all(f.dest);
  fs::create_directories(f.dest);
  Maquetor retry({"create", db}, (f.logs / "retry").string());
  ASSERT_EQ(retry.Wait(), 0) << retry.err();
  auto built = jet::dao::DBEngine::Instance().OpenDatabase(db, false, true, maquetor::db::kConnect);
  std::vector<std::string> tables;
  for (const auto& t : built.TableDefs()) {
    if (t.Name().rfind("MSys", 0) != 0) tables.push_back(t.Name());
  }
  built.Close();
  EXPECT_EQ(tables.size(), 38u);
  auto seen = ts::MdbTables(db);
  std::sort(tables.begin(), tables.end());
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, tables);
}

}  // namespace

#else

TEST(CrashProcessTest, LinuxOnly) {
  GTEST_SKIP() << "killing and limiting a child process is tested on Linux; the engine's "
                  "atomic replace on Windows is covered by the fault-injecting file system";
}

#endif
