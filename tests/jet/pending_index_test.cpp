#include "jet/pending_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "jet/index_key.h"

namespace jet {
namespace {

Bytes K(const std::string& s) { return Bytes(s.begin(), s.end()); }
RowId R(uint32_t page, uint8_t row) { return RowId{page, row}; }

std::vector<std::pair<Bytes, uint32_t>> InOrder(PendingIndex& p) {
  std::vector<std::pair<Bytes, uint32_t>> out;
  p.TakeInOrder([&](ByteView k, RowId r) { out.emplace_back(Bytes(k.begin(), k.end()), r.Packed()); });
  return out;
}

TEST(PendingIndex, EntriesInIndexOrderFoundInEitherForm) {
  // Keys longer than eight bytes that share their first eight, a key that
  // is a prefix of another, one ending in a zero byte, equal keys on
  // several rows; first in index order, then shuffled, then shuffled and
  // sorted ahead of the taking (also once before the last entry came,
  // which must still be taken in its place).
  std::vector<std::pair<Bytes, RowId>> entries = {
      {K("ABCDEFGH1"), R(5, 0)}, {K("ABCDEFGH2"), R(4, 1)}, {K("AB"), R(9, 3)},
      {K("AB"), R(9, 4)},        {K("AB"), R(12, 0)},       {Bytes{'A', 'B', 0}, R(3, 0)},
      {K("ABC"), R(1, 0)},       {K("B"), R(2, 2)},         {Bytes{}, R(7, 7)}};
  auto sorted = entries;
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    int c = CompareKeys(a.first, b.first);
    return c != 0 ? c < 0 : a.second.Packed() < b.second.Packed();
  });
  for (int mode = 0; mode < 4; ++mode) {
    auto input = sorted;
    if (mode > 0) std::shuffle(input.begin(), input.end(), std::mt19937(7));
    PendingIndex p;
    for (size_t i = 0; i < input.size(); ++i) {
      if (mode == 3 && i + 1 == input.size()) p.SortAhead();
      p.Add(input[i].first, input[i].second);
    }
    ASSERT_EQ(p.size(), entries.size());
    std::vector<RowId> rows;
    p.Find(K("AB"), SIZE_MAX, rows);
    ASSERT_EQ(rows.size(), 3u) << mode;
    EXPECT_EQ(rows[0], R(9, 3));
    EXPECT_EQ(rows[2], R(12, 0));
    p.Find(K("AB"), 1, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], R(9, 3));
    p.Find(K("ABCDEFGH2"), 2, rows);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], R(4, 1));
    p.Find(Bytes{}, 2, rows);
    EXPECT_EQ(rows.size(), 1u);
    for (const Bytes& missing : {K("A"), K("ABCDEFGH"), K("C"), Bytes{'A', 'B', 0, 0}}) {
      p.Find(missing, 5, rows);
      EXPECT_TRUE(rows.empty());
    }
    if (mode >= 2) p.SortAhead();
    auto got = InOrder(p);
    ASSERT_EQ(got.size(), sorted.size()) << mode;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].first, sorted[i].first) << i;
      EXPECT_EQ(got[i].second, sorted[i].second.Packed()) << i;
    }
  }
}

TEST(PendingIndex, ManyKeysSurviveTheTableGrowing) {
  PendingIndex p;
  constexpr uint32_t kKeys = 50000;
  for (uint32_t i = 0; i < kKeys; ++i) {
    const uint32_t v = (i * 7919u) % kKeys;
    Bytes k = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    p.Add(k, R(v / 100 + 1, static_cast<uint8_t>(v % 100)));
  }
  std::vector<RowId> rows;
  for (uint32_t v = 0; v < kKeys; v += 997) {
    Bytes k = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    p.Find(k, 2, rows);
    ASSERT_EQ(rows.size(), 1u) << v;
    EXPECT_EQ(rows[0], R(v / 100 + 1, static_cast<uint8_t>(v % 100)));
  }
  uint32_t expect = 0;
  p.TakeInOrder([&](ByteView k, RowId) {
    EXPECT_EQ((uint32_t{k[0]} << 16) | (uint32_t{k[1]} << 8) | k[2], expect);
    ++expect;
  });
  EXPECT_EQ(expect, kKeys);
}

TEST(PendingIndex, KeysInOrderAreFoundFromAnyPreviousSearch) {
  // Even keys only, two rows each, all in order: every search, whichever
  // came before it, finds exactly its rows or nothing.
  PendingIndex p;
  auto key = [](uint32_t v) {
    return Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  for (uint32_t v = 0; v < 4000; v += 2) {
    p.Add(key(v), R(v + 1, 0));
    p.Add(key(v), R(v + 1, 1));
  }
  std::vector<uint32_t> probes;
  for (uint32_t v = 0; v < 4001; ++v) probes.push_back(v);
  std::mt19937 rng(3);
  std::vector<uint32_t> shuffled = probes;
  std::shuffle(shuffled.begin(), shuffled.end(), rng);
  probes.insert(probes.end(), shuffled.begin(), shuffled.end());
  for (uint32_t v = 4001; v-- > 0;) probes.push_back(v);
  std::vector<RowId> rows;
  for (uint32_t v : probes) {
    p.Find(key(v), SIZE_MAX, rows);
    if (v % 2 == 1 || v >= 4000) {
      EXPECT_TRUE(rows.empty()) << v;
    } else {
      ASSERT_EQ(rows.size(), 2u) << v;
      EXPECT_EQ(rows[0], R(v + 1, 0));
      EXPECT_EQ(rows[1], R(v + 1, 1));
    }
  }
}

}  // namespace
}  // namespace jet
