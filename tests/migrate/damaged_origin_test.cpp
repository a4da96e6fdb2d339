// An origin damaged at one page: the copy stops there with 3049 whichever
// way it reads, with the same report, keeping the rows copied before.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "jet/dao.h"
#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "migrate/copier.h"
#include "migrate/origin_filler.h"
#include "support/fixtures.h"

namespace {

namespace mig = maquetor::migrate;
namespace ts = testing_support;
namespace fs = std::filesystem;
using jet::Value;
using migrate_testing::dao::Database;

constexpr int kRows = 600;
// TCasos's TDEF page in the origin.
uint32_t table_page = 0;

Database Create(const std::string& path, const std::string& statement) {
  Database db = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
      path, ";LANGID=0x0409;CP=1252;COUNTRY=0");
  db.Execute(statement);
  return db;
}

const char* const kTable =
    "CREATE TABLE TCasos (Id LONG PRIMARY KEY, Nombre TEXT(40), Nota MEMO)";

// Every row has a memo too long to stay in the row, so long-value pages
// come between the data pages.
void Fill(const std::string& path) {
  Database db = Create(path, kTable);
  auto rs = db.OpenRecordset("TCasos");
  for (int i = 1; i <= kRows; ++i) {
    rs.AddNew();
    rs.SetValue("Id", Value(i));
    rs.SetValue("Nombre", Value("Núñez " + std::to_string(i)));
    rs.SetValue("Nota", Value(std::string(900 + i % 50, static_cast<char>('a' + i % 26))));
    rs.Update();
  }
  rs.Close();
  db.Close();
  table_page = jet::FileState::Open(path, false, true, "")->GetTable("TCasos").def().page;
}

// The file's pages of one kind, in file order.
std::vector<uint32_t> PagesWhere(const std::string& all,
                                 const std::function<bool(jet::ByteView)>& want) {
  std::vector<uint32_t> out;
  const jet::Format& f = jet::Jet4Format();
  for (uint32_t p = 1; p < all.size() / f.page_size; ++p) {
    jet::ByteView page(reinterpret_cast<const uint8_t*>(all.data()) + size_t{p} * f.page_size,
                       f.page_size);
    if (want(page)) out.push_back(p);
  }
  return out;
}

bool IsRowPage(jet::ByteView page) {
  return page[0] == 1 && jet::OwnerPage(jet::Jet4Format(), page) == table_page;
}

bool IsLongValue(jet::ByteView page) { return jet::IsLongValuePage(jet::Jet4Format(), page); }

std::string Middle(const std::vector<uint32_t>& pages, const std::string& all) {
  return all.substr(size_t{pages.at(pages.size() / 2)} * 4096, 4096);
}

// The damage done to a copy of the origin: the file's new bytes.
struct Damage {
  const char* name;
  std::function<std::string(std::string)> apply;
};

std::string Put(std::string all, uint32_t page, const std::string& image) {
  all.replace(size_t{page} * 4096, 4096, image);
  return all;
}

const std::vector<Damage>& Damages() {
  static const std::vector<Damage> all = {
      {"GarbageRowPage",
       [](std::string all) {
         const uint32_t page = PagesWhere(all, IsRowPage).at(PagesWhere(all, IsRowPage).size() / 2);
         std::mt19937 rng(7);
         std::string image(4096, '\0');
         for (char& c : image) c = static_cast<char>(rng());
         image[0] = '\xa5';
         return Put(all, page, image);
       }},
      {"RowTableOutOfThePage",
       [](std::string all) {
         const auto pages = PagesWhere(all, IsRowPage);
         std::string image = Middle(pages, all);
         // Row offsets pointing below the offset table and past the page.
         for (size_t at = 14 + 2; at < 14 + 2 * 4; at += 2) {
           image[at] = '\x05';
           image[at + 1] = '\x1f';
         }
         return Put(all, pages.at(pages.size() / 2), image);
       }},
      {"LongValuePageZeroed",
       [](std::string all) {
         const auto pages = PagesWhere(all, IsLongValue);
         return Put(all, pages.at(pages.size() / 2), std::string(4096, '\0'));
       }},
      {"CutShort",
       [](std::string all) {
         const auto pages = PagesWhere(all, IsRowPage);
         all.resize(size_t{pages.at(pages.size() / 2)} * 4096);
         return all;
       }},
  };
  return all;
}

struct Outcome {
  int number = 0;
  std::string message, key;
  int64_t row = 0, copied = 0, stored = 0;
};

class DamagedOrigin : public ::testing::TestWithParam<size_t> {};

TEST_P(DamagedOrigin, StopsWith3049AtTheSameRowWhicheverWayItReads) {
  const Damage& damage = Damages()[GetParam()];
  ts::TempDir dir;
  const std::string clean = dir.File("clean.mdb");
  Fill(clean);
  const std::string origin = dir.File("o.mdb");
  {
    std::ofstream out(origin, std::ios::binary);
    out << damage.apply(ts::FileContents(clean));
  }
  const std::string damaged = ts::FileContents(origin);

  for (mig::Loop loop : {mig::Loop::kUnguarded, mig::Loop::kGuarded}) {
    std::vector<Outcome> outcomes;
    for (mig::Reading reading : {mig::Reading::kAhead, mig::Reading::kInStep}) {
      const std::string dest = dir.File(std::string("d") + std::to_string(outcomes.size()) +
                                        (loop == mig::Loop::kGuarded ? "g" : "u") + ".mdb");
      Create(dest, kTable).Close();
      Outcome o;
      {
        Database origen = jet::dao::DBEngine::Instance().OpenDatabase(origin, false, true, "");
        Database destino = jet::dao::DBEngine::Instance().OpenDatabase(dest, false, false, "");
        mig::TableCopy copy{"PasarTCasos", "TCasos", {{"Id"}, {"Nombre"}, {"Nota"}}, loop};
        mig::MigrationReport report;
        try {
          mig::CopyTable(origen, destino, copy, report, {}, reading);
          ADD_FAILURE() << damage.name << ": the copy did not stop";
        } catch (const mig::MigrationStopped& e) {
          ASSERT_TRUE(e.report().failure);
          const auto& f = *e.report().failure;
          o = {e.number(), f.message, f.key, f.row, e.report().tables.at(0).copied, 0};
          EXPECT_EQ(e.report().tables.at(0).outcome, mig::Outcome::kStopped);
          EXPECT_EQ(f.table, "TCasos");
        }
        o.stored = static_cast<int64_t>(migrate_testing::Rows(destino, "TCasos").size());
      }
      EXPECT_EQ(o.number, jet::kErrCorrupt) << damage.name;
      EXPECT_EQ(o.stored, o.copied) << damage.name;
      EXPECT_EQ(o.row, o.copied + 1) << damage.name;
      // The damage lies in the middle of the table.
      EXPECT_GT(o.copied, 0) << damage.name;
      EXPECT_LT(o.copied, kRows) << damage.name;
      outcomes.push_back(o);
    }
    EXPECT_EQ(outcomes[0].message, outcomes[1].message) << damage.name;
    EXPECT_EQ(outcomes[0].key, outcomes[1].key) << damage.name;
    EXPECT_EQ(outcomes[0].row, outcomes[1].row) << damage.name;
    EXPECT_EQ(outcomes[0].copied, outcomes[1].copied) << damage.name;
  }
  // Read-only: the damaged origin is as it was.
  EXPECT_TRUE(ts::FileContents(origin) == damaged) << damage.name;
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedOrigin, ::testing::Range(size_t{0}, Damages().size()),
                         [](const auto& info) { return std::string(Damages()[info.param].name); });

}  // namespace
