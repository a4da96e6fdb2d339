// Index pages and trees: the engine's own pages from the fixtures must parse
// and come back byte for byte from our writer, and the builder's trees must
// hold exactly the entries put in, through bulk builds, inserts and deletes.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/format.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/integrity.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"
#include "support/raw_pages.h"

namespace {

using jet::Bytes;
using jet::IndexEntry;
using jet::IndexPage;
using jet::RowId;

// Unencrypted fixtures only: page types of encrypted files are noise.
struct FixtureFile : testing_support::RawPages {
  std::string name;
};

std::vector<FixtureFile> AllFixtures() {
  std::vector<FixtureFile> out;
  for (const auto& path : testing_support::FixtureFiles(testing_support::Encrypted::kLeftOut))
    out.push_back({testing_support::ReadRawPages(path), path.filename().string()});
  return out;
}

bool IsIndexPage(const Bytes& page) { return page[0] == 0x03 || page[0] == 0x04; }

// The bytes the engine left after the last entry are old data, not ours to
// reproduce; compare up to the end of the entries.
size_t UsedLength(const jet::Format& f, const IndexPage& p) {
  return f.page_size - p.free_space;
}

std::vector<RowId> RowsOf(const IndexPage& p) {
  std::vector<RowId> rows;
  for (const IndexEntry& e : p.entries) rows.push_back(e.row);
  return rows;
}

std::vector<RowId> LeafRows(const jet::Format& f, const Bytes& page) {
  std::vector<RowId> rows;
  jet::AppendLeafRows(f, page, rows);
  return rows;
}

TEST(IndexPageTest, FixturePagesRewriteByteForByte) {
  REQUIRE_FIXTURES();
  int pages = 0, identical = 0, entries = 0;
  for (const FixtureFile& file : AllFixtures()) {
    const jet::Format& f = *file.format;
    for (size_t n = 0; n < file.pages.size(); ++n) {
      if (!IsIndexPage(file.pages[n])) continue;
      IndexPage p = jet::ParseIndexPage(f, file.pages[n]);
      ++pages;
      entries += static_cast<int>(p.entries.size());
      if (p.leaf) {
        EXPECT_EQ(LeafRows(f, file.pages[n]), RowsOf(p)) << file.name << " page " << n;
      }
      for (size_t i = 1; i < p.entries.size(); ++i)
        EXPECT_LT(jet::CompareEntries(p.entries[i - 1], p.entries[i]), 0)
            << file.name << " page " << n << " entry " << i;
      Bytes out = jet::WriteIndexPage(f, p);
      size_t used = UsedLength(f, p);
      ASSERT_LE(used, f.page_size);
      bool same = std::equal(out.begin(), out.begin() + used, file.pages[n].begin()) &&
                  std::all_of(out.begin() + used, out.end(), [](uint8_t b) { return b == 0; });
      EXPECT_TRUE(same) << file.name << " page " << n;
      identical += same;
    }
  }
  std::cout << "index pages parsed: " << pages << " (" << entries << " entries), rewritten identically: "
            << identical << "\n";
  EXPECT_GT(pages, 100);
}

// Rebuild each fixture tree from its entries and compare every page.
TEST(IndexPageTest, FixtureTreesRebuildAsTheEngineLaidThemOut) {
  REQUIRE_FIXTURES();
  int trees = 0, same_trees = 0, multi_page = 0;
  for (const FixtureFile& file : AllFixtures()) {
    const jet::Format& f = *file.format;
    std::map<uint32_t, IndexPage> parsed;
    std::set<uint32_t> children;
    for (uint32_t n = 0; n < file.pages.size(); ++n) {
      if (!IsIndexPage(file.pages[n])) continue;
      parsed[n] = jet::ParseIndexPage(f, file.pages[n]);
      for (const auto& e : parsed[n].entries)
        if (!parsed[n].leaf) children.insert(e.child);
      if (parsed[n].tail_page) children.insert(parsed[n].tail_page);
      if (parsed[n].prev_page) children.insert(n);  // not a root either
    }
    auto read = [&](uint32_t n) -> Bytes {
      if (n >= file.pages.size()) throw jet::JetError(jet::kErrCorrupt);
      return file.pages[n];
    };
    for (const auto& [root, page] : parsed) {
      if (children.count(root)) continue;
      std::vector<IndexEntry> entries = jet::ReadIndexEntries(f, root, read);
      // Rebuild with the engine's page numbers: they are allocated in the
      // order our writer asks, so hand them out from the original tree.
      std::vector<uint32_t> numbers{root};
      for (size_t i = 0; i < numbers.size(); ++i) {
        const IndexPage& p = parsed.at(numbers[i]);
        if (!p.leaf) {
          for (const auto& e : p.entries) numbers.push_back(e.child);
          if (p.tail_page) numbers.push_back(p.tail_page);
        }
      }
      jet::IndexLayout layout = jet::LayoutIndex(f, entries);
      size_t count = 0;
      for (const auto& level : layout.levels) count += level.size();
      ++trees;
      if (count > 1) ++multi_page;
      if (count != numbers.size()) {
        ADD_FAILURE() << file.name << " tree at " << root << ": " << count << " pages, engine "
                      << numbers.size();
        continue;
      }
      size_t next = 0;
      bool same = true;
      jet::WriteIndexLayout(
          f, layout, page.tdef_page, [&] { return numbers[next++]; },
          [&](uint32_t n, jet::ByteView data) {
            const Bytes& orig = file.pages[n];
            size_t used = UsedLength(f, parsed.at(n));
            bool ok = std::equal(data.begin(), data.begin() + used, orig.begin());
            EXPECT_TRUE(ok) << file.name << " tree " << root << " page " << n;
            same = same && ok;
          });
      same_trees += same;
    }
  }
  std::cout << "index trees rebuilt: " << trees << " (" << multi_page
            << " with several pages), identical: " << same_trees << "\n";
  EXPECT_GT(trees, 50);
}

TEST(IndexPageTest, MalformedPagesAreCorruptNotCrashes) {
  const jet::Format& f = jet::Jet4Format();
  IndexPage p;
  for (int i = 0; i < 40; ++i) p.entries.push_back({{0x7f, 0x80, 0, 0, static_cast<uint8_t>(i)}, {5, 1}, 0});
  p.prefix_len = 4;
  Bytes good = jet::WriteIndexPage(f, p);
  EXPECT_EQ(jet::ParseIndexPage(f, good).entries, p.entries);
  EXPECT_EQ(LeafRows(f, good), RowsOf(p));
  // Entries of one key on one page share part of their row pointers too.
  IndexPage same = p;
  for (size_t i = 0; i < same.entries.size(); ++i)
    same.entries[i] = {{0x7f, 0x80}, {5, static_cast<uint8_t>(i)}, 0};
  same.prefix_len = 5;
  EXPECT_EQ(LeafRows(f, jet::WriteIndexPage(f, same)), RowsOf(same));

  auto expect_corrupt = [&](Bytes page, const char* what) {
    EXPECT_JET_ERROR(jet::ParseIndexPage(f, page), jet::kErrCorrupt) << what;
  };
  expect_corrupt(Bytes(good.begin(), good.begin() + 100), "short page");
  Bytes bad = good;
  bad[0] = 0x01;
  expect_corrupt(bad, "wrong page type");
  bad = good;
  bad[f.index_offset_prefix_len] = 200;  // longer than the first entry
  expect_corrupt(bad, "prefix too long");
  bad = good;
  bad[f.index_offset_entry_mask + f.index_entry_mask_size - 1] = 0x80;  // past the page
  expect_corrupt(bad, "entry ends past the page");
  bad = good;
  std::fill(bad.begin() + f.index_offset_entry_mask, bad.begin() + f.index_first_entry_offset, 0);
  bad[f.index_offset_entry_mask] = 0x02;  // a 1-byte entry cannot hold a row pointer
  expect_corrupt(bad, "entry shorter than its row pointer");

  // Random damage must end in a parse or a 3049, never anything else.
  std::mt19937 rng(7);
  for (int round = 0; round < 2000; ++round) {
    Bytes page = good;
    for (int k = 0; k < 8; ++k)
      page[rng() % f.index_first_entry_offset] = static_cast<uint8_t>(rng());
    page[0] = (rng() & 1) ? 0x03 : 0x04;
    try {
      const IndexPage parsed = jet::ParseIndexPage(f, page);
      if (parsed.leaf) {
        EXPECT_EQ(LeafRows(f, page), RowsOf(parsed));
      }
    } catch (const jet::JetError& e) {
      ASSERT_EQ(e.number(), jet::kErrCorrupt);
    }
    try {
      LeafRows(f, page);
    } catch (const jet::JetError& e) {
      ASSERT_EQ(e.number(), jet::kErrCorrupt);
    }
  }
}

// An in-memory file for the tree operations.
struct MemPages {
  std::map<uint32_t, Bytes> pages;
  uint32_t next = 10;
  jet::AllocatePage allocate = [this] { return next++; };
  jet::WritePage write = [this](uint32_t n, jet::ByteView d) { pages[n] = Bytes(d.begin(), d.end()); };
  jet::ReadPage read = [this](uint32_t n) {
    auto it = pages.find(n);
    if (it == pages.end()) throw jet::JetError(jet::kErrCorrupt);
    return it->second;
  };
};

// Sized up front: GCC 12 at -O3 misreads an insert after a five-byte list
// as an out-of-bounds move.
Bytes LongKey(int32_t v, size_t pad = 0) {
  Bytes k(5 + pad, 0x41);
  k[0] = 0x7f;
  k[1] = static_cast<uint8_t>((v >> 24) ^ 0x80);
  k[2] = static_cast<uint8_t>(v >> 16);
  k[3] = static_cast<uint8_t>(v >> 8);
  k[4] = static_cast<uint8_t>(v);
  return k;
}

// Structure checks: every page reachable from the root exactly once and no
// other page held; each page coming back byte for byte from
// WriteIndexPage(ParseIndexPage(page)), so its entry mask, prefix and free
// space agree with its entries; entries in order within and across pages,
// node entries bounding their children; each level's pages linked both
// ways; a page's prefix shared by all its entries, and left out only on the
// last page of a level; no empty page but the root.
void CheckTree(const jet::Format& f, const MemPages& m, uint32_t root) {
  std::set<uint32_t> seen;
  std::vector<std::vector<uint32_t>> levels;  // pages of each depth, left to right
  std::function<IndexEntry(uint32_t, size_t)> walk = [&](uint32_t n, size_t depth) -> IndexEntry {
    auto stored = m.pages.find(n);
    if (depth >= 10 || !seen.insert(n).second || stored == m.pages.end()) {
      ADD_FAILURE() << "page " << n << " reached twice, too deep or not held";
      return {};
    }
    IndexPage p = jet::ParseIndexPage(f, stored->second);
    EXPECT_EQ(jet::WriteIndexPage(f, p), stored->second) << "page " << n << " does not rewrite as stored";
    if (levels.size() <= depth) levels.resize(depth + 1);
    levels[depth].push_back(n);
    if (n != root) {
      EXPECT_FALSE(p.entries.empty() && p.tail_page == 0) << "empty page " << n;
    }
    const size_t shared = jet::SharedPrefix(p.entries, p.leaf);
    if (p.prefix_len != shared) {
      EXPECT_TRUE(p.prefix_len == 0 && p.next_page == 0)
          << "page " << n << " shares " << p.prefix_len << " bytes of " << shared;
    }
    for (size_t i = 1; i < p.entries.size(); ++i)
      EXPECT_LT(jet::CompareEntries(p.entries[i - 1], p.entries[i]), 0) << "page " << n;
    if (p.leaf) {
      EXPECT_EQ(p.tail_page, 0u);
      return p.entries.empty() ? IndexEntry{} : p.entries.back();
    }
    IndexEntry last;
    for (const auto& e : p.entries) {
      IndexEntry child_max = walk(e.child, depth + 1);
      EXPECT_LE(jet::CompareEntries(child_max, e), 0) << "entry below its child's maximum";
      last = e;
    }
    if (p.tail_page) last = walk(p.tail_page, depth + 1);
    return last;
  };
  walk(root, 0);
  std::set<uint32_t> held;
  for (const auto& [n, bytes] : m.pages) held.insert(n);
  EXPECT_EQ(seen, held) << "pages held but not reachable from the root";
  for (const auto& level : levels) {
    for (size_t i = 0; i < level.size(); ++i) {
      IndexPage p = jet::ParseIndexPage(f, m.pages.at(level[i]));
      EXPECT_EQ(p.prev_page, i == 0 ? 0 : level[i - 1]) << "page " << level[i];
      EXPECT_EQ(p.next_page, i + 1 == level.size() ? 0 : level[i + 1]) << "page " << level[i];
    }
  }
  std::vector<IndexEntry> forward = jet::ReadIndexEntries(f, root, m.read);
  for (size_t i = 1; i < forward.size(); ++i)
    EXPECT_LT(jet::CompareEntries(forward[i - 1], forward[i]), 0);
}

// The checker itself: a sound tree passes, and each kind of damage a
// faulty edit could leave fails it.
TEST(IndexBuilderTest, TheTreeCheckerFailsOnDamagedTrees) {
  const jet::Format& f = jet::Jet4Format();
  auto failures_of = [](const std::function<void()>& check) {
    testing::TestPartResultArray results;
    {
      testing::ScopedFakeTestPartResultReporter reporter(
          testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &results);
      check();
    }
    return results.size();
  };
  MemPages built;
  jet::IndexBuilder b(f, 2);
  for (int i = 0; i < 3000; ++i) b.Add(LongKey(i, 30), {uint32_t(100 + i / 50), uint8_t(i % 50)});
  const uint32_t root = b.Build(built.allocate, built.write);
  ASSERT_EQ(failures_of([&] { CheckTree(f, built, root); }), 0);
  const IndexPage top = jet::ParseIndexPage(f, built.read(root));
  ASSERT_FALSE(top.leaf);
  const uint32_t leaf = top.entries.at(0).child;  // the first leaf, with a right neighbour

  const std::pair<const char*, std::function<void(MemPages&)>> damages[] = {
      {"free space miscounted", [&](MemPages& m) { m.pages[leaf][f.index_offset_free_space] ^= 1; }},
      {"next link broken", [&](MemPages& m) { jet::Put32(m.pages[leaf], f.index_offset_next_page, 0); }},
      {"prefix not shared",
       [&](MemPages& m) {
         IndexPage p = jet::ParseIndexPage(f, m.read(leaf));
         p.entries.resize(p.entries.size() / 2);  // room for the longer entries
         p.prefix_len = static_cast<uint16_t>(jet::SharedPrefix(p.entries, true) - 1);
         m.pages[leaf] = jet::WriteIndexPage(f, p);
       }},
      {"entries out of order",
       [&](MemPages& m) {
         IndexPage p = jet::ParseIndexPage(f, m.read(leaf));
         std::swap(p.entries[1].key, p.entries[2].key);
         p.prefix_len = static_cast<uint16_t>(jet::SharedPrefix(p.entries, true));
         m.pages[leaf] = jet::WriteIndexPage(f, p);
       }},
      {"a page no parent names", [&](MemPages& m) { m.write(9999, m.read(leaf)); }},
  };
  for (const auto& [what, damage] : damages) {
    MemPages m;
    m.pages = built.pages;
    damage(m);
    EXPECT_GT(failures_of([&] { CheckTree(f, m, root); }), 0) << what;
  }
}

TEST(IndexBuilderTest, BulkBuildHoldsEveryEntryInOrder) {
  for (const jet::Format* f : {&jet::Jet4Format(), &jet::Jet3Format()}) {
    for (int n : {0, 1, 300, 5000}) {
      MemPages m;
      jet::IndexBuilder b(*f, 2);
      std::vector<IndexEntry> expected;
      std::mt19937 rng(n);
      for (int i = 0; i < n; ++i) {
        IndexEntry e{LongKey(static_cast<int32_t>(rng() % 1000) - 500, i % 7), {uint32_t(100 + i / 50), uint8_t(i % 50)}, 0};
        expected.push_back(e);
        b.Add(e.key, e.row);
      }
      std::sort(expected.begin(), expected.end(),
                [](const auto& a, const auto& c) { return jet::CompareEntries(a, c) < 0; });
      uint32_t root = b.Build(m.allocate, m.write);
      EXPECT_EQ(root, 10u) << "root is allocated first";
      EXPECT_EQ(jet::ReadIndexEntries(*f, root, m.read), expected);
      CheckTree(*f, m, root);
      IndexPage r = jet::ParseIndexPage(*f, m.read(root));
      EXPECT_EQ(r.leaf, m.pages.size() == 1);
      if (n == 0) {
        EXPECT_EQ(r.free_space, jet::IndexPageCapacity(*f));
      }
    }
  }
}

// Written leaf by leaf from entries in order, a tree comes out as the bulk
// builder lays it out: page for page the same entries, prefixes, tails and
// links, whatever numbers the pages got.
TEST(IndexBuilderTest, SortedWriterLaysOutWhatTheBuilderLaysOut) {
  for (const jet::Format* f : {&jet::Jet4Format(), &jet::Jet3Format()}) {
    for (int n : {0, 1, 60, 20000}) {
      std::vector<IndexEntry> entries;
      std::mt19937 rng(n);
      for (int i = 0; i < n; ++i) {
        // Keys sharing long prefixes, of varied lengths, some equal.
        Bytes key(20 + rng() % 150, static_cast<uint8_t>(0x40 + rng() % 3));
        key.back() = static_cast<uint8_t>(rng() % 200);
        entries.push_back({key, {uint32_t(100 + i / 50), uint8_t(i % 50)}, 0});
      }
      std::sort(entries.begin(), entries.end(),
                [](const auto& a, const auto& c) { return jet::CompareEntries(a, c) < 0; });
      MemPages built;
      jet::IndexBuilder b(*f, 2);
      for (const auto& e : entries) b.Add(e.key, e.row);
      const uint32_t built_root = b.Build(built.allocate, built.write);

      MemPages streamed;
      const uint32_t root = streamed.allocate();
      jet::IndexBuilder(*f, 2).Build([root] { return root; }, streamed.write);  // an empty leaf
      jet::SortedIndexWriter w(*f, 2, root, streamed.allocate, streamed.write);
      for (const auto& e : entries) w.Add(e.key, e.row);
      w.Finish();
      ASSERT_EQ(streamed.pages.size(), built.pages.size()) << n;

      std::map<uint32_t, uint32_t> same;  // streamed page -> built page
      std::function<void(uint32_t, uint32_t)> compare = [&](uint32_t s, uint32_t t) {
        same[s] = t;
        IndexPage ps = jet::ParseIndexPage(*f, streamed.read(s));
        IndexPage pt = jet::ParseIndexPage(*f, built.read(t));
        ASSERT_EQ(ps.leaf, pt.leaf);
        EXPECT_EQ(ps.prefix_len, pt.prefix_len);
        EXPECT_EQ(ps.free_space, pt.free_space);
        ASSERT_EQ(ps.entries.size(), pt.entries.size());
        EXPECT_EQ(ps.tail_page == 0, pt.tail_page == 0);
        for (size_t i = 0; i < ps.entries.size(); ++i) {
          EXPECT_EQ(ps.entries[i].key, pt.entries[i].key);
          EXPECT_EQ(ps.entries[i].row, pt.entries[i].row);
          if (!ps.leaf) compare(ps.entries[i].child, pt.entries[i].child);
        }
        if (ps.tail_page) compare(ps.tail_page, pt.tail_page);
      };
      compare(root, built_root);
      EXPECT_EQ(same.size(), built.pages.size());
      for (const auto& [s, t] : same) {
        IndexPage ps = jet::ParseIndexPage(*f, streamed.read(s));
        IndexPage pt = jet::ParseIndexPage(*f, built.read(t));
        EXPECT_EQ(ps.prev_page ? same.at(ps.prev_page) : 0, pt.prev_page);
        EXPECT_EQ(ps.next_page ? same.at(ps.next_page) : 0, pt.next_page);
      }
      EXPECT_EQ(jet::ReadIndexEntries(*f, root, streamed.read), entries);
    }
  }
}

// Pages edited where they sit, as the pager hands them out.
struct MemIndexPages final : jet::IndexPages {
  MemPages& m;
  explicit MemIndexPages(MemPages& mem) : m(mem) {}
  jet::ByteView Read(uint32_t n) override { return m.pages.at(n); }
  std::span<uint8_t> Modify(uint32_t n) override { return m.pages.at(n); }
  uint32_t Allocate() override {
    uint32_t n = m.allocate();
    m.pages[n] = Bytes(size, 0);
    return n;
  }
  void Release(uint32_t n) override { m.pages.erase(n); }
  size_t size = 0;
};

// Keys of many lengths sharing leading bytes, as text keys do.
Bytes NameKey(std::mt19937& rng) {
  static const char* const kStems[] = {"FERNANDEZ", "FERNANDO", "GOMEZ", "GOMEZ DE LA", "G", "MARTIN",
                                       "MARTINEZ", "MARTINEZ DE", "RUIZ", "RUIZ-PEREZ"};
  Bytes k{0x7f};
  for (const char* c = kStems[rng() % 10]; *c; ++c) k.push_back(static_cast<uint8_t>(*c));
  for (size_t n = rng() % 25; n > 0; --n) k.push_back(static_cast<uint8_t>('A' + rng() % 26));
  k.push_back(0x01);
  return k;
}

// Trees edited in place through many splits and merges, on keys of every
// shape: ascending (appends at the end of each level), descending, random,
// text-like names sharing stems, one key on every row, and runs of one key
// among keys that are prefixes of it or extend it, so that page prefixes
// reach past the shorter keys. Long keys make few entries a page, so the
// trees grow several levels and intermediate pages split too.
TEST(IndexBuilderTest, InPlaceEditsKeepEveryPageSound) {
  enum Order { kAscending, kAscendingLong, kDescending, kRandom, kNames, kSameKey, kNested };
  for (const jet::Format* f : {&jet::Jet4Format(), &jet::Jet3Format()}) {
    for (Order order : {kAscending, kAscendingLong, kDescending, kRandom, kNames, kSameKey, kNested}) {
      SCOPED_TRACE(testing::Message() << "page size " << f->page_size << " order " << order);
      MemPages m;
      jet::IndexBuilder(*f, 2).Build(m.allocate, m.write);
      MemIndexPages pages(m);
      pages.size = f->page_size;
      std::mt19937 rng(static_cast<unsigned>(order) + 11);
      std::vector<IndexEntry> present;
      auto insert = [&](int i) {
        IndexEntry e;
        switch (order) {
          case kAscending: e.key = LongKey(i, i % 3); break;
          case kAscendingLong: e.key = LongKey(i, 150); break;
          case kDescending: e.key = LongKey(-i, 100); break;
          case kRandom: e.key = LongKey(static_cast<int32_t>(rng() % 1000000), 120); break;
          case kNames: e.key = NameKey(rng); break;
          case kSameKey: e.key = LongKey(7, 60); break;
          case kNested: e.key = LongKey(7, rng() % 8 == 0 ? rng() % 4 * 20 : 40); break;
        }
        e.row = {uint32_t(300 + i / 30), uint8_t(i % 30)};
        jet::InsertIndexEntry(*f, 10, e, pages);
        present.push_back(e);
      };
      auto sorted = [](std::vector<IndexEntry> v) {
        std::sort(v.begin(), v.end(), [](const auto& a, const auto& c) { return jet::CompareEntries(a, c) < 0; });
        return v;
      };
      const int n = order == kAscending || order == kNames ? 3000 : 1500;
      for (int i = 0; i < n; ++i) {
        ASSERT_NO_FATAL_FAILURE(insert(i));
        if (i % 499 == 0) {
          SCOPED_TRACE(testing::Message() << "after insert " << i);
          CheckTree(*f, m, 10);
        }
      }
      ASSERT_EQ(jet::ReadIndexEntries(*f, 10, m.read), sorted(present));
      CheckTree(*f, m, 10);
      if (order == kAscending || order == kAscendingLong) {
        // Appends fill each page before starting the next, as a bulk build
        // packs them, rather than leaving half-empty pages behind.
        MemPages packed;
        jet::IndexBuilder b(*f, 2);
        for (const auto& e : present) b.Add(e.key, e.row);
        b.Build(packed.allocate, packed.write);
        EXPECT_LE(m.pages.size(), packed.pages.size() * 11 / 10 + 1);
      }
      // Deletes (some emptying leaves), then inserts into the thinned tree.
      std::shuffle(present.begin(), present.end(), rng);
      const size_t deleted = present.size() * 2 / 3;
      for (size_t i = 0; i < deleted; ++i) ASSERT_TRUE(jet::DeleteIndexEntry(*f, 10, present[i], pages));
      EXPECT_FALSE(jet::DeleteIndexEntry(*f, 10, present[0], pages));
      present.erase(present.begin(), present.begin() + static_cast<std::ptrdiff_t>(deleted));
      CheckTree(*f, m, 10);
      for (int i = n; i < n + n / 2; ++i) insert(i);
      EXPECT_EQ(jet::ReadIndexEntries(*f, 10, m.read), sorted(present));
      // Deep enough that intermediate pages split.
      if (order == kAscendingLong || order == kRandom) {
        EXPECT_FALSE(jet::ParseIndexPage(*f, m.read(jet::ParseIndexPage(*f, m.read(10)).tail_page)).leaf);
      }
      CheckTree(*f, m, 10);
      const auto before = m.pages;
      EXPECT_JET_ERROR(jet::InsertIndexEntry(*f, 10, present[present.size() / 2], pages),
                       jet::kErrDuplicateKey);
      EXPECT_EQ(m.pages, before) << "a refused duplicate changed a page";
      // Emptied whole, the tree is its root alone again.
      for (const auto& e : present) ASSERT_TRUE(jet::DeleteIndexEntry(*f, 10, e, pages));
      EXPECT_TRUE(jet::ParseIndexPage(*f, m.read(10)).entries.empty());
      EXPECT_EQ(m.pages.size(), 1u) << "only the root is left";
    }
  }
}

// A file's index pages edited where the pager holds them.
struct PagerIndexPages final : jet::IndexPages {
  jet::Pager& p;
  explicit PagerIndexPages(jet::Pager& pg) : p(pg) {}
  jet::ByteView Read(uint32_t n) override { return p.Read(n); }
  std::span<uint8_t> Modify(uint32_t n) override { return p.Modify(n); }
  uint32_t Allocate() override { return p.Allocate(); }
  void Release(uint32_t) override {}
};

// Seeks compare entries against the page's shared prefix where it lies.
// Long runs of one key make prefixes that reach into the row pointers, and
// keys that are prefixes of other keys must neither match them nor hide
// them: every key finds exactly its own rows, in order.
TEST(IndexBuilderTest, SeeksFindEveryRowUnderPrefixesSharedPastTheKey) {
  testing_support::TempDir dir;
  jet::HeaderInfo header;
  auto pager = jet::Pager::Create(dir.File("seek.mdb"), header, false);
  const jet::Format& f = pager->format();
  PagerIndexPages pages(*pager);
  uint32_t root = jet::IndexBuilder(f, 2).Build([&] { return pager->Allocate(); },
                                                [&](uint32_t n, jet::ByteView d) { pager->Write(n, d); });
  // Keys: 7 padded by 0..3 bytes (each a prefix of the next), most rows
  // under the 2-byte padding, and a few neighbours around them.
  std::map<Bytes, std::vector<RowId>> rows;
  std::mt19937 rng(3);
  std::vector<std::pair<Bytes, RowId>> order;
  for (int i = 0; i < 4000; ++i) {
    size_t pad = i % 10 == 0 ? static_cast<size_t>(i / 10 % 4) : 2;
    int32_t v = i % 97 == 0 ? 6 + static_cast<int32_t>(i % 3) : 7;
    order.push_back({LongKey(v, pad), RowId{uint32_t(500 + i / 200), uint8_t(i % 200)}});
  }
  std::shuffle(order.begin(), order.end(), rng);
  for (const auto& [key, row] : order) {
    jet::InsertIndexEntry(f, root, IndexEntry{key, row, 0}, pages);
    rows[key].push_back(row);
  }
  for (auto& [key, list] : rows) {
    std::sort(list.begin(), list.end(), [](RowId a, RowId b) { return a.Packed() < b.Packed(); });
    SCOPED_TRACE(testing::Message() << "key size " << key.size() << " rows " << list.size());
    EXPECT_EQ(jet::FindIndexRows(*pager, root, key, SIZE_MAX), list);
    EXPECT_EQ(jet::FindIndexRows(*pager, root, key, 1), std::vector<RowId>{list.front()});
  }
  // Keys around the stored ones: shorter, longer, one byte off.
  Bytes seven = LongKey(7);
  for (Bytes k : {Bytes(seven.begin(), seven.begin() + 3), LongKey(7, 4), LongKey(10, 2)}) {
    if (rows.count(k)) continue;
    EXPECT_TRUE(jet::FindIndexRows(*pager, root, k, SIZE_MAX).empty()) << k.size();
  }
  ASSERT_GT(jet::ParseIndexPage(f, pager->Read(root)).tail_page, 0u);  // several levels
}

// Inserting at the spot a search left writes what inserting after a fresh
// descent writes, page for page, also where node entries still hold keys
// of deleted entries and where keys are prefixes of one another.
TEST(IndexBuilderTest, InsertsAtASearchedSpotWriteWhatADescentWrites) {
  testing_support::TempDir dir;
  jet::HeaderInfo header;
  auto model = jet::Pager::Create(dir.File("model.mdb"), header, false);
  auto ours = jet::Pager::Create(dir.File("ours.mdb"), header, false);
  const jet::Format& f = model->format();
  PagerIndexPages model_pages(*model), our_pages(*ours);
  uint32_t root = 0;
  for (auto* p : {model.get(), ours.get()}) {
    root = jet::IndexBuilder(f, 2).Build([p] { return p->Allocate(); },
                                         [p](uint32_t n, jet::ByteView d) { p->Write(n, d); });
  }
  std::mt19937 rng(8);
  std::vector<IndexEntry> present;
  size_t spots_used = 0;
  auto insert = [&](const Bytes& key, RowId row) {
    jet::IndexSpot spot;
    bool taken = !jet::FindIndexRows(*ours, root, key, 1, &spot).empty();
    bool model_refused = false;
    try {
      jet::InsertIndexEntry(f, root, key, row, model_pages);
    } catch (const jet::JetError&) {
      model_refused = true;
    }
    bool ours_refused = false;
    try {
      jet::InsertIndexEntry(f, root, key, row, our_pages, &spot);
    } catch (const jet::JetError&) {
      ours_refused = true;
    }
    ASSERT_EQ(model_refused, ours_refused);
    if (taken) {
      EXPECT_EQ(spot.leaf, 0u) << "a spot for a key already present";
    }
    if (spot.leaf != 0) ++spots_used;
    if (!ours_refused) present.push_back(IndexEntry{key, row, 0});
  };
  auto key_of = [&](int i) {
    switch (i % 3) {
      case 0: return LongKey(static_cast<int32_t>(rng() % 5000), 30);
      case 1: return LongKey(7, rng() % 4 * 10);  // nested: the same key padded
      default: return NameKey(rng);
    }
  };
  for (int i = 0; i < 4000; ++i) insert(key_of(i), RowId{uint32_t(600 + i / 100), uint8_t(i % 100)});
  // Deletes leave node entries naming keys no leaf holds any more.
  std::shuffle(present.begin(), present.end(), rng);
  for (size_t i = 0; i < present.size() / 2; ++i) {
    ASSERT_TRUE(jet::DeleteIndexEntry(f, root, present[i], model_pages));
    ASSERT_TRUE(jet::DeleteIndexEntry(f, root, present[i], our_pages));
  }
  for (size_t i = 0; i < present.size() / 2; i += 2) {
    insert(present[i].key, RowId{uint32_t(900 + i / 100), uint8_t(i % 100)});
  }
  for (int i = 4000; i < 6000; ++i) insert(key_of(i), RowId{uint32_t(600 + i / 100), uint8_t(i % 100)});
  EXPECT_GT(spots_used, 3000u);
  ASSERT_EQ(model->page_count(), ours->page_count());
  for (uint32_t n = 1; n < model->page_count(); ++n) {
    Bytes a = model->Copy(n);
    ASSERT_EQ(a, ours->Copy(n)) << "page " << n;
  }
}

// A table of 100,000 rows written by the engine: mdbtools lists its
// indexes, and both seeks find every row under its own key.
TEST(IndexEngineTest, HundredThousandRowsAreFoundThroughTheirIndexes) {
  testing_support::TempDir dir;
  std::string path = dir.File("indices.mdb");
  std::vector<std::pair<Bytes, RowId>> pk_rows, name_rows;
  {
    auto file = jet::FileState::Create(path, "", false);
    std::vector<jet::NewColumn> columns(3);
    columns[0].name = "IdExpediente";
    columns[0].type = jet::ColumnType::kLong;
    columns[1].name = "Linea";
    columns[1].type = jet::ColumnType::kLong;
    columns[2].name = "Cliente";
    columns[2].size = 40;
    std::vector<jet::NewIndex> indexes(2);
    indexes[0].name = "PrimaryKey";
    indexes[0].columns = {"IdExpediente", "Linea"};
    indexes[0].primary = true;
    indexes[1].name = "Cliente";
    indexes[1].columns = {"Cliente"};
    indexes[1].unique = true;
    file->CreateTable("TActuaciones", columns, indexes);
    jet::Table& t = file->GetTable("TActuaciones");
    const jet::TableDef& def = t.def();
    std::mt19937 rng(5);
    for (int i = 0; i < 100000; ++i) {
      // Names in no particular order, kept distinct by the number.
      std::string name = "Cliente " + std::to_string(rng() % 1000) + " " + std::to_string(i);
      std::vector<jet::Value> row{jet::Value(int32_t{i / 10}), jet::Value(int32_t{i % 10}),
                                  jet::Value(name)};
      RowId id = file->InsertRow(t, row);
      Bytes pk, nk;
      jet::AppendKeyColumn(pk, row[0], def.columns[0], true);
      jet::AppendKeyColumn(pk, row[1], def.columns[1], true);
      jet::AppendKeyColumn(nk, row[2], def.columns[2], true);
      pk_rows.emplace_back(std::move(pk), id);
      name_rows.emplace_back(std::move(nk), id);
    }
    file->Flush();
  }
  {
    auto file = jet::FileState::Open(path, false, true, "");
    jet::Table& t = file->GetTable("TActuaciones");
    ASSERT_EQ(t.def().real_indexes.size(), 2u);
    for (size_t k = 0; k < 2; ++k) {
      uint32_t root = t.def().real_indexes[k].first_page;
      auto& rows = k == 0 ? pk_rows : name_rows;
      auto entries = jet::ReadIndexEntries(t.pager().format(), root,
                                           [&](uint32_t pg) { return t.pager().Copy(pg); });
      EXPECT_EQ(entries.size(), rows.size());
      for (size_t i = 0; i < rows.size(); ++i) {
        auto found = jet::FindIndexRows(t.pager(), root, rows[i].first, 2);
        ASSERT_EQ(found, std::vector<RowId>{rows[i].second}) << "index " << k << " row " << i;
        if (i % 7 == 0) {
          ASSERT_EQ(jet::SeekIndex(t.pager(), root, rows[i].first, 2), found);
        }
      }
      Bytes absent;
      jet::AppendKeyColumn(absent, jet::Value(int32_t{-1}), t.def().columns[0], true);
      EXPECT_TRUE(jet::FindIndexRows(t.pager(), root, absent, 1).empty());
    }
  }
  if (testing_support::UseMdbtools()) {
    EXPECT_EQ(testing_support::MdbCount(path, "TActuaciones"), 100000);
    std::string ddl = testing_support::MdbSchema(path, "postgres");
    EXPECT_NE(ddl.find("PRIMARY KEY (\"idexpediente\", \"linea\")"), std::string::npos) << ddl;
    EXPECT_NE(ddl.find("CREATE UNIQUE INDEX \"tactuaciones_cliente_idx\""), std::string::npos) << ddl;
  }
}

}  // namespace
