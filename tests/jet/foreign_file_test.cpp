// Writing into files another program wrote. Inserts and deletes grow and
// shrink its index trees, which must keep listing exactly what the rows say
// and stay readable by the independent readers. A copy damaged at an index
// page or a usage map refuses every change with 3049, without a crash, and
// every page is afterwards as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>

#include "jet/data_page.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_page.h"
#include "support/fixtures.h"
#include "support/index_check.h"
#include "support/oracles.h"

namespace {

namespace ts = testing_support;
namespace fs = std::filesystem;
using jet::FileState;
using jet::RowId;
using jet::Value;

struct Foreign {
  const char* fixture;  // under jet4/
  const char* table;
};

std::string CopyOf(const ts::TempDir& dir, const std::string& fixture, const std::string& name) {
  const std::string path = dir.File(name);
  fs::copy_file(ts::FixturesDir() / "jet4" / fixture, path);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  return path;
}

// Row `n` of the table: long texts sharing little of their start, so that
// trees of texts grow several levels in a few hundred rows; numbers far
// from any a fixture holds.
std::vector<Value> RowNumber(const jet::TableDef& def, int n) {
  std::vector<Value> values;
  for (const auto& c : def.columns) {
    if (c.type == jet::ColumnType::kLong) {
      values.emplace_back(int32_t{1000000 + n});
    } else if (c.type == jet::ColumnType::kText) {
      std::string s = std::to_string(n * 7919 % 100003) + "-" + std::to_string(n);
      s.resize(std::min<size_t>(c.length / 2, 200), static_cast<char>('a' + n % 26));
      values.emplace_back(s);
    } else {
      values.emplace_back(Value::Null());
    }
  }
  return values;
}

std::vector<std::pair<RowId, std::vector<Value>>> LiveRows(jet::Table& t) {
  std::vector<std::pair<RowId, std::vector<Value>>> rows;
  std::vector<Value> values;
  for (jet::Table::Scan scan(t); scan.Next();) {
    t.DecodeRow(scan.bytes(), values);
    rows.emplace_back(scan.row_id(), values);
  }
  return rows;
}

// The batches of changes both tests make: inserts in scattered key order,
// then deletes of every third live row, then inserts again.
void Batch(FileState& file, jet::Table& t, int batch) {
  if (batch % 2 == 1) {
    auto rows = LiveRows(t);
    for (size_t i = 0; i < rows.size(); i += 3) file.DeleteRow(t, rows[i].first, rows[i].second);
    return;
  }
  for (int i = 0; i < 300; ++i) file.InsertRow(t, RowNumber(t.def(), batch * 1000 + i * 37 % 300));
}

// The first column's values as text, sorted, as both readers render texts
// and longs.
std::vector<std::string> FirstColumn(const std::vector<std::pair<RowId, std::vector<Value>>>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows) out.push_back(r.second[0].is_null() ? "" : r.second[0].ToString());
  std::sort(out.begin(), out.end());
  return out;
}

class ForeignTrees : public ::testing::TestWithParam<Foreign> {};

TEST_P(ForeignTrees, InsertsAndDeletesKeepEveryIndexWhatTheRowsSay) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string path = CopyOf(dir, GetParam().fixture, "f.mdb");
  for (int batch = 0; batch < 4; ++batch) {
    std::vector<std::string> ours;
    {
      auto file = FileState::Open(path, false, false, "");
      jet::Table& t = file->GetTable(GetParam().table);
      ASSERT_FALSE(t.def().real_indexes.empty());
      Batch(*file, t, batch);
      file->Flush(true);
      ASSERT_EQ(ts::IndexFaults(*file, GetParam().table), "") << "after batch " << batch;
      ours = FirstColumn(LiveRows(t));
    }
    if (ts::UseMdbtools()) {
      const ts::CsvTable csv = ts::MdbExport(path, GetParam().table);
      std::vector<std::string> theirs;
      for (const auto& r : csv.rows) theirs.push_back(r.at(0));
      std::sort(theirs.begin(), theirs.end());
      EXPECT_EQ(theirs, ours) << "mdb-export after batch " << batch;
    }
    if (ts::UseMdbReader()) {
      const auto dump = ts::MdbReaderDump(path);
      ASSERT_EQ(dump["tables"].size(), 1u);
      EXPECT_EQ(dump["tables"][0]["rows"].size(), ours.size()) << "mdb-reader after batch " << batch;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ForeignTrees,
                         ::testing::Values(Foreign{"bigIndexTestV2000.mdb", "Table1"},
                                           Foreign{"compIndexTestV2000.mdb", "Table1"}),
                         [](const auto& info) {
                           return std::string(info.param.fixture).substr(0, 8);
                         });

// ---- damaged copies ----


void Patch(const std::string& path, size_t at, const std::string& bytes) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Where the damage goes, in a copy of bigIndexTestV2000 grown to a tree of
// several levels: the page to change and its new bytes.
struct Damage {
  const char* name;
  // Given the grown file's pages, the page number and its new image.
  std::function<std::pair<uint32_t, std::string>(FileState&, const std::string& image_of_all)> make;
};

constexpr size_t kPage = 4096;

std::string PageOf(const std::string& all, uint32_t page) { return all.substr(page * kPage, kPage); }

// Pages of the first index's tree: the root, a node in the middle of the
// level below it, and a leaf in the middle of its level.
struct TreePages {
  uint32_t root = 0, node = 0, leaf = 0, first_leaf = 0;
};

TreePages PagesOf(FileState& file) {
  jet::Table& t = file.GetTable("Table1");
  const jet::Format& f = file.pager().format();
  TreePages out;
  out.root = t.def().real_indexes.at(0).first_page;
  uint32_t page = out.root;
  for (int depth = 0;; ++depth) {
    const jet::IndexPage p = jet::ParseIndexPage(f, file.pager().Copy(page));
    if (p.leaf) {
      out.leaf = page;
      break;
    }
    if (depth == 1) out.node = page;
    page = p.entries.at(p.entries.size() / 2).child;
  }
  page = out.root;
  for (;;) {
    const jet::IndexPage p = jet::ParseIndexPage(f, file.pager().Copy(page));
    if (p.leaf) break;
    page = p.entries.front().child;
  }
  out.first_leaf = page;
  return out;
}

std::string WithU32(std::string image, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) image[at + i] = static_cast<char>(v >> (8 * i));
  return image;
}

std::string Garbage(uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::string s(kPage, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

const std::vector<Damage>& Damages() {
  static const std::vector<Damage> all = {
      {"ZeroedLeaf", [](FileState& f, const std::string&) {
         return std::pair{PagesOf(f).leaf, std::string(kPage, '\0')};
       }},
      {"GarbageNode", [](FileState& f, const std::string&) {
         return std::pair{PagesOf(f).node, Garbage(1)};
       }},
      {"GarbageRoot", [](FileState& f, const std::string&) {
         return std::pair{PagesOf(f).root, Garbage(2)};
       }},
      // Entries whose bytes no longer rise: the header and mask still parse.
      {"ScrambledLeafEntries", [](FileState& f, const std::string& all) {
         const uint32_t leaf = PagesOf(f).leaf;
         std::string image = PageOf(all, leaf);
         const size_t first = f.pager().format().index_first_entry_offset;
         std::reverse(image.begin() + static_cast<ptrdiff_t>(first),
                      image.begin() + static_cast<ptrdiff_t>(first + 200));
         return std::pair{leaf, image};
       }},
      // The middle leaf names the first as the next one: a cycle.
      {"LeafLinkCycle", [](FileState& f, const std::string& all) {
         const TreePages t = PagesOf(f);
         return std::pair{t.leaf, WithU32(PageOf(all, t.leaf),
                                          f.pager().format().index_offset_next_page, t.first_leaf)};
       }},
      // The root's last child lies past the end of the file.
      {"TailPastTheEnd", [](FileState& f, const std::string& all) {
         const uint32_t root = PagesOf(f).root;
         return std::pair{root, WithU32(PageOf(all, root), f.pager().format().index_offset_tail_page,
                                        static_cast<uint32_t>(all.size() / kPage + 5))};
       }},
      // The table's owned-pages map starts so far on that its pages would
      // wrap round past 2^32 to pages it never meant.
      {"OwnedMapWrapsRound", [](FileState& f, const std::string& all) {
         const RowId map = RowId::FromPacked(f.GetTable("Table1").def().owned_pages);
         const std::string image = PageOf(all, map.page);
         const jet::ByteView row =
             jet::RowBytes(f.pager().format(), jet::ByteView(reinterpret_cast<const uint8_t*>(image.data()),
                                                             image.size()),
                           map.row);
         const size_t at = static_cast<size_t>(row.data() - reinterpret_cast<const uint8_t*>(image.data()));
         return std::pair{map.page, WithU32(image, at + 1, 0xfffffff8)};
       }},
      // The index's map row is of no known kind.
      {"IndexMapOfNoKind", [](FileState& f, const std::string& all) {
         const RowId map = RowId::FromPacked(f.GetTable("Table1").def().real_indexes.at(0).used_pages);
         std::string image = PageOf(all, map.page);
         const jet::ByteView row =
             jet::RowBytes(f.pager().format(), jet::ByteView(reinterpret_cast<const uint8_t*>(image.data()),
                                                             image.size()),
                           map.row);
         image[static_cast<size_t>(row.data() - reinterpret_cast<const uint8_t*>(image.data()))] = 7;
         return std::pair{map.page, image};
       }},
      // The database's map page zeroed.
      {"ZeroedGlobalMap", [](FileState& f, const std::string&) {
         return std::pair{f.pager().format().global_usage_map_page, std::string(kPage, '\0')};
       }},
  };
  return all;
}

class DamagedCopy : public ::testing::TestWithParam<size_t> {
 protected:
  static void SetUpTestSuite() {
    if (ts::FixturesDir().empty()) return;
    grown_dir_ = new ts::TempDir;
    grown_ = CopyOf(*grown_dir_, "bigIndexTestV2000.mdb", "grown.mdb");
    auto file = FileState::Open(grown_, false, false, "");
    jet::Table& t = file->GetTable("Table1");
    for (int batch = 0; batch < 3; ++batch) Batch(*file, t, batch);
  }
  static void TearDownTestSuite() {
    delete grown_dir_;
    grown_dir_ = nullptr;
  }
  static ts::TempDir* grown_dir_;
  static std::string grown_;
};
ts::TempDir* DamagedCopy::grown_dir_ = nullptr;
std::string DamagedCopy::grown_;

TEST_P(DamagedCopy, EveryChangeIs3049AndNoOtherPageChanges) {
  REQUIRE_FIXTURES();
  const Damage& damage = Damages()[GetParam()];
  ts::TempDir dir;
  const std::string path = dir.File("d.mdb");
  fs::copy_file(grown_, path);
  const std::string all = ts::FileContents(path);
  std::pair<uint32_t, std::string> change;
  {
    auto file = FileState::Open(path, false, true, "");
    ASSERT_EQ(ts::IndexFaults(*file, "Table1"), "");
    change = damage.make(*file, all);
  }
  ASSERT_NE(change.first, 0u);
  ASSERT_NE(PageOf(all, change.first), change.second) << damage.name << " changes nothing";
  Patch(path, size_t{change.first} * kPage, change.second);
  const std::string before = ts::FileContents(path);

  try {
    auto file = FileState::Open(path, false, false, "");
    jet::Table& t = file->GetTable("Table1");
    // Rows to delete, read before the damage could stop the scan.
    std::vector<std::pair<RowId, std::vector<Value>>> rows;
    try {
      rows = LiveRows(t);
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::kErrCorrupt);
    }
    auto expect_3049 = [&](const std::function<void()>& change_it, const std::string& what) {
      try {
        change_it();
        ADD_FAILURE() << damage.name << ": " << what << " went through";
      } catch (const jet::JetError& e) {
        EXPECT_EQ(e.number(), jet::kErrCorrupt) << damage.name << ": " << what << ": " << e.what();
      }
    };
    for (int i = 0; i < 5; ++i) {
      expect_3049([&] { file->InsertRow(t, RowNumber(t.def(), 5000 + i * 811)); }, "an insert");
      if (static_cast<size_t>(i * 97) < rows.size()) {
        const auto& r = rows[static_cast<size_t>(i) * 97];
        expect_3049([&] { file->DeleteRow(t, r.first, r.second); }, "a delete");
        expect_3049([&] { file->UpdateRow(t, r.first, r.second, RowNumber(t.def(), 9000 + i)); },
                    "an update");
      }
    }
  } catch (const jet::JetError& e) {
    // Refused as it opened: nothing could change.
    EXPECT_EQ(e.number(), jet::kErrCorrupt) << damage.name << ": " << e.what();
  }
  const std::string after = ts::FileContents(path);
  ASSERT_EQ(after.size(), before.size());
  for (size_t p = 0; p < before.size() / kPage; ++p)
    EXPECT_EQ(PageOf(after, static_cast<uint32_t>(p)), PageOf(before, static_cast<uint32_t>(p)))
        << damage.name << ": page " << p << " changed";
}

// Bytes changed at random in one page, a hundred times over: whatever the
// damage, reading and changing the table either works or is a JetError.
TEST_F(DamagedCopy, RandomDamageIsAnErrorOrNothing) {
  REQUIRE_FIXTURES();
  ts::TempDir dir;
  const std::string clean = ts::FileContents(grown_);
  const size_t pages = clean.size() / kPage;
  std::mt19937 rng(2026);
  for (int round = 0; round < 100; ++round) {
    std::string image = clean;
    const size_t page = 1 + rng() % (pages - 1);
    for (int i = 0; i < 8; ++i) image[page * kPage + rng() % kPage] = static_cast<char>(rng());
    const std::string path = dir.File("r" + std::to_string(round) + ".mdb");
    {
      std::ofstream out(path, std::ios::binary);
      out << image;
    }
    try {
      auto file = FileState::Open(path, false, false, "");
      jet::Table& t = file->GetTable("Table1");
      auto rows = LiveRows(t);
      for (int i = 0; i < 3; ++i) {
        try {
          file->InsertRow(t, RowNumber(t.def(), 7000 + round * 10 + i));
          if (rows.size() > static_cast<size_t>(i) * 50) {
            const auto& r = rows[static_cast<size_t>(i) * 50];
            file->DeleteRow(t, r.first, r.second);
          }
        } catch (const jet::JetError&) {
        }
      }
      file->Flush(true);
    } catch (const jet::JetError&) {
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Damages, DamagedCopy, ::testing::Range(size_t{0}, Damages().size()),
                         [](const auto& info) { return std::string(Damages()[info.param].name); });

}  // namespace
