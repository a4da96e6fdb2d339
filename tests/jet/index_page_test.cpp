// Index pages and trees: the engine's own pages from the fixtures must parse
// and come back byte for byte from our writer, and the builder's trees must
// hold exactly the entries put in, through bulk builds, inserts and deletes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "jet/error.h"
#include "jet/format.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/index_page.h"
#include "support/fixtures.h"

namespace {

using jet::Bytes;
using jet::IndexEntry;
using jet::IndexPage;
using jet::RowId;

struct FixtureFile {
  std::string name;
  const jet::Format* format = nullptr;
  std::vector<Bytes> pages;
};

FixtureFile LoadFixture(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FixtureFile file;
  file.name = path.filename().string();
  file.format = all.size() > 0x14 && all[0x14] == 0 ? &jet::Jet3Format() : &jet::Jet4Format();
  size_t ps = file.format->page_size;
  for (size_t off = 0; off + ps <= all.size(); off += ps)
    file.pages.emplace_back(all.begin() + off, all.begin() + off + ps);
  return file;
}

// Unencrypted fixtures only: page types of encrypted files are noise.
std::vector<FixtureFile> AllFixtures() {
  std::vector<FixtureFile> out;
  for (const char* dir : {"jet3", "jet4"}) {
    std::vector<std::filesystem::path> paths;
    for (const auto& e : std::filesystem::directory_iterator(testing_support::FixturesDir() / dir))
      if (e.path().extension() == ".mdb" && e.path().filename().string().find("encrypted") ==
                                                std::string::npos)
        paths.push_back(e.path());
    std::sort(paths.begin(), paths.end());
    for (const auto& p : paths) out.push_back(LoadFixture(p));
  }
  return out;
}

bool IsIndexPage(const Bytes& page) { return page[0] == 0x03 || page[0] == 0x04; }

// The bytes the engine left after the last entry are old data, not ours to
// reproduce; compare up to the end of the entries.
size_t UsedLength(const jet::Format& f, const IndexPage& p) {
  return f.page_size - p.free_space;
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

  auto expect_corrupt = [&](Bytes page, const char* what) {
    try {
      jet::ParseIndexPage(f, page);
      ADD_FAILURE() << what;
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::kErrCorrupt) << what;
    }
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
      jet::ParseIndexPage(f, page);
    } catch (const jet::JetError& e) {
      ASSERT_EQ(e.number(), jet::kErrCorrupt);
    }
  }
}

// An in-memory file for the tree operations.
struct MemPages {
  std::map<uint32_t, Bytes> pages;
  std::set<uint32_t> released;
  uint32_t next = 10;
  jet::AllocatePage allocate = [this] { return next++; };
  jet::WritePage write = [this](uint32_t n, jet::ByteView d) { pages[n] = Bytes(d.begin(), d.end()); };
  jet::ReadPage read = [this](uint32_t n) {
    auto it = pages.find(n);
    if (it == pages.end()) throw jet::JetError(jet::kErrCorrupt);
    return it->second;
  };
  jet::ReleasePage release = [this](uint32_t n) {
    released.insert(n);
    pages.erase(n);
  };
};

Bytes LongKey(int32_t v, size_t pad = 0) {
  Bytes k{0x7f, static_cast<uint8_t>((v >> 24) ^ 0x80), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  k.insert(k.end(), pad, 0x41);
  return k;
}

// Structure checks: order within and across pages, node entries bounding
// their children, links consistent, every page reachable once.
void CheckTree(const jet::Format& f, MemPages& m, uint32_t root) {
  std::set<uint32_t> seen;
  std::function<IndexEntry(uint32_t, int)> walk = [&](uint32_t n, int depth) -> IndexEntry {
    EXPECT_LT(depth, 10);
    EXPECT_TRUE(seen.insert(n).second) << "page " << n << " reached twice";
    IndexPage p = jet::ParseIndexPage(f, m.read(n));
    for (size_t i = 1; i < p.entries.size(); ++i)
      EXPECT_LT(jet::CompareEntries(p.entries[i - 1], p.entries[i]), 0);
    if (p.leaf) return p.entries.empty() ? IndexEntry{} : p.entries.back();
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
  // Leaf links run both ways.
  std::vector<IndexEntry> forward = jet::ReadIndexEntries(f, root, m.read);
  for (size_t i = 1; i < forward.size(); ++i)
    EXPECT_LT(jet::CompareEntries(forward[i - 1], forward[i]), 0);
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

TEST(IndexBuilderTest, InsertsAndDeletesKeepTheTreeValid) {
  const jet::Format& f = jet::Jet4Format();
  for (bool ascending_inserts : {true, false}) {
    MemPages m;
    jet::IndexBuilder b(f, 2);
    uint32_t root = b.Build(m.allocate, m.write);
    std::vector<IndexEntry> expected;
    std::mt19937 rng(ascending_inserts ? 1 : 2);
    for (int i = 0; i < 4000; ++i) {
      int32_t v = ascending_inserts ? i : static_cast<int32_t>(rng() % 100000);
      IndexEntry e{LongKey(v, 20), {uint32_t(200 + i / 40), uint8_t(i % 40)}, 0};
      jet::InsertIndexEntry(f, root, e, m.read, m.write, m.allocate);
      expected.push_back(e);
    }
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& c) { return jet::CompareEntries(a, c) < 0; });
    ASSERT_EQ(jet::ReadIndexEntries(f, root, m.read), expected);
    CheckTree(f, m, root);
    EXPECT_FALSE(jet::ParseIndexPage(f, m.read(root)).leaf);
    try {
      jet::InsertIndexEntry(f, root, expected[17], m.read, m.write, m.allocate);
      ADD_FAILURE() << "same key and row inserted twice";
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), jet::kErrDuplicateKey);
    }

    // Removing the upper entries in random order empties whole pages.
    size_t keep = 500;
    std::shuffle(expected.begin() + keep, expected.end(), rng);
    for (size_t i = keep; i < expected.size(); ++i)
      ASSERT_TRUE(jet::DeleteIndexEntry(f, root, expected[i], m.read, m.write, m.release));
    EXPECT_FALSE(jet::DeleteIndexEntry(f, root, expected.back(), m.read, m.write, m.release));
    expected.resize(keep);
    EXPECT_EQ(jet::ReadIndexEntries(f, root, m.read), expected);
    CheckTree(f, m, root);
    EXPECT_FALSE(m.released.empty());
    for (const auto& e : expected) jet::DeleteIndexEntry(f, root, e, m.read, m.write, m.release);
    IndexPage r = jet::ParseIndexPage(f, m.read(root));
    EXPECT_TRUE(r.entries.empty());
    EXPECT_EQ(m.pages.size(), 1u) << "only the root is left";
  }
}

}  // namespace
