#include "jet/pending_index.h"

#include <algorithm>
#include <cstring>

#include "jet/index_key.h"

namespace jet {
namespace {

constexpr size_t kFirstSlots = 1024;

inline uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

uint64_t HashKey(ByteView key) {
  const uint8_t* p = key.data();
  size_t n = key.size();
  uint64_t h = 0x9e3779b97f4a7c15ull ^ (n * 0x100000001b3ull);
  while (n >= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0x87c37b91114253d5ull;
    h ^= h >> 29;
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0x87c37b91114253d5ull;
  }
  return Mix(h);
}

// The key's first eight bytes as a number that orders as the bytes do (a
// shorter key is padded with zeros, so equal numbers settle nothing).
uint64_t Leading(ByteView key) {
  uint64_t v = 0;
  const size_t n = std::min<size_t>(key.size(), 8);
  for (size_t k = 0; k < n; ++k) v |= static_cast<uint64_t>(key[k]) << (56 - 8 * k);
  return v;
}

}  // namespace

size_t PendingIndex::bytes() const {
  return block_bytes_ + (starts_.capacity() + rows_.capacity() + next_.capacity()) * 4 +
         lengths_.capacity() * 2 + slots_.capacity() * 8;
}

void PendingIndex::Add(ByteView key, RowId row) {
  const uint32_t packed = row.Packed();
  if (have_order_) {
    std::vector<uint32_t>().swap(order_);
    have_order_ = false;
  }
  if (sorted_ && !rows_.empty()) {
    const int c = CompareKeys(Key(rows_.size() - 1), key);
    if (c > 0 || (c == 0 && rows_.back() >= packed)) sorted_ = false;
  }
  if (blocks_.empty() || block_used_ + key.size() > block_size_) {
    block_size_ = std::min<size_t>(std::max<size_t>(block_size_ * 2, 4096), size_t{1} << kBlockBits);
    while (block_size_ < key.size()) block_size_ *= 2;  // keys are far smaller than a page
    blocks_.push_back(std::make_unique_for_overwrite<uint8_t[]>(block_size_));
    block_bytes_ += block_size_;
    block_used_ = 0;
  }
  if (!key.empty()) std::memcpy(blocks_.back().get() + block_used_, key.data(), key.size());
  starts_.push_back(static_cast<uint32_t>(((blocks_.size() - 1) << kBlockBits) | block_used_));
  lengths_.push_back(static_cast<uint16_t>(key.size()));
  block_used_ += key.size();
  rows_.push_back(packed);
  if (sorted_) return;
  if (slots_.empty()) {
    BuildHash();
  } else {
    next_.push_back(kNone);
    Hash(static_cast<uint32_t>(rows_.size() - 1));
  }
}

size_t PendingIndex::Probe(ByteView key, uint64_t hash) const {
  const size_t mask = slots_.size() - 1;
  const uint64_t tag = hash >> 32;
  for (size_t pos = hash & mask;; pos = (pos + 1) & mask) {
    const uint64_t s = slots_[pos];
    if (s == 0) return pos;
    if ((s >> 32) == tag) {
      ByteView k = Key(static_cast<uint32_t>(s) - 1);
      if (k.size() == key.size() && (key.empty() || std::memcmp(k.data(), key.data(), key.size()) == 0))
        return pos;
    }
  }
}

void PendingIndex::Hash(uint32_t i) {
  if ((distinct_ + 1) * 2 > slots_.size()) {
    // Twice the slots; every key moves to where its hash now points.
    std::vector<uint64_t> old(slots_.size() * 2, 0);
    old.swap(slots_);
    const size_t mask = slots_.size() - 1;
    for (uint64_t s : old) {
      if (s == 0) continue;
      size_t pos = HashKey(Key(static_cast<uint32_t>(s) - 1)) & mask;
      while (slots_[pos] != 0) pos = (pos + 1) & mask;
      slots_[pos] = s;
    }
  }
  ByteView key = Key(i);
  const bool seen = seen_.entries == i && key.size() == seen_key_.size() &&
                    std::equal(key.begin(), key.end(), seen_key_.begin());
  const uint64_t h = seen ? seen_.hash : HashKey(key);
  const size_t pos = seen && seen_.slots == slots_.size() ? seen_.slot : Probe(key, h);
  seen_.entries = SIZE_MAX;
  const uint64_t s = slots_[pos];
  if (s == 0) {
    next_[i] = kNone;
    ++distinct_;
    slots_[pos] = (h & 0xffffffff00000000ull) | (uint64_t{i} + 1);
  } else {
    next_[i] = static_cast<uint32_t>(s) - 1;
    slots_[pos] = (s & 0xffffffff00000000ull) | (uint64_t{i} + 1);
  }
}

void PendingIndex::BuildHash() {
  size_t n = kFirstSlots;
  while (n < rows_.size() * 2) n *= 2;
  slots_.assign(n, 0);
  next_.assign(rows_.size(), kNone);
  distinct_ = 0;
  for (uint32_t i = 0; i < rows_.size(); ++i) Hash(i);
}

void PendingIndex::Find(ByteView key, size_t limit, std::vector<RowId>& out) const {
  out.clear();
  if (limit == 0 || rows_.empty()) return;
  if (sorted_) {
    // Lookups tend to follow one another through the keys (rows copied in
    // key order look up their parents in order): the search starts where
    // the last one ended and widens from there.
    const size_t n = rows_.size();
    size_t lo = 0, hi = n;
    size_t at = std::min(finger_, n - 1);
    if (CompareKeys(Key(at), key) < 0) {
      size_t step = 1;
      lo = at + 1;
      while (lo + step - 1 < n && CompareKeys(Key(lo + step - 1), key) < 0) {
        lo += step;
        step *= 2;
      }
      hi = std::min(n, lo + step - 1);
    } else {
      size_t step = 1;
      hi = at;
      while (hi >= step && CompareKeys(Key(hi - step), key) >= 0) {
        hi -= step;
        step *= 2;
      }
      lo = hi >= step ? hi - step + 1 : 0;
    }
    while (lo < hi) {
      const size_t mid = lo + (hi - lo) / 2;
      if (CompareKeys(Key(mid), key) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    finger_ = lo;
    for (; lo < n && out.size() < limit && CompareKeys(Key(lo), key) == 0; ++lo)
      out.push_back(RowId::FromPacked(rows_[lo]));
    return;
  }
  const uint64_t h = HashKey(key);
  const size_t slot = Probe(key, h);
  seen_ = {h, slot, rows_.size(), slots_.size()};
  seen_key_.assign(key.begin(), key.end());
  const uint64_t s = slots_[slot];
  if (s == 0) return;
  for (uint32_t e = static_cast<uint32_t>(s) - 1; e != kNone; e = next_[e])
    out.push_back(RowId::FromPacked(rows_[e]));
  std::sort(out.begin(), out.end(),
            [](const RowId& a, const RowId& b) { return a.Packed() < b.Packed(); });
  if (out.size() > limit) out.resize(limit);
}

// Sorted eight key bytes at a time: entries are ordered by their bytes at
// one depth (as a number), and only runs that agree there and go on past
// it are ordered again by the next eight. Each round reads every key in a
// run once, where comparing whole keys would read two per comparison.
std::vector<uint32_t> PendingIndex::Order() const {
  struct Item {
    uint64_t bytes;  // the key's eight bytes at the run's depth
    uint32_t entry;
    uint32_t rest;   // key bytes from that depth on, 9 standing for more than 8
  };
  auto load = [this](Item& it, size_t depth) {
    ByteView k = Key(it.entry);
    const size_t from = depth * 8;
    const size_t n = k.size() > from ? k.size() - from : 0;
    it.bytes = n > 0 ? Leading(ByteView(k.data() + from, n)) : 0;
    it.rest = static_cast<uint32_t>(std::min<size_t>(n, 9));
  };
  std::vector<Item> items(rows_.size());
  for (uint32_t i = 0; i < rows_.size(); ++i) {
    items[i].entry = i;
    load(items[i], 0);
  }
  // Equal keys (rest below 9 and equal bytes) fall back on their rows.
  auto less = [this](const Item& a, const Item& b) {
    if (a.bytes != b.bytes) return a.bytes < b.bytes;
    if (a.rest != b.rest) return a.rest < b.rest;
    return a.rest < 9 && rows_[a.entry] < rows_[b.entry];
  };
  struct Run {
    size_t begin, end, depth;
  };
  std::vector<Run> runs = {{0, items.size(), 0}};
  while (!runs.empty()) {
    const Run r = runs.back();
    runs.pop_back();
    if (r.depth > 0) {
      for (size_t i = r.begin; i < r.end; ++i) {
        if (i + kAhead < r.end) Prefetch(items[i + kAhead].entry);
        load(items[i], r.depth);
      }
    }
    std::sort(items.begin() + static_cast<ptrdiff_t>(r.begin),
              items.begin() + static_cast<ptrdiff_t>(r.end), less);
    for (size_t i = r.begin; i < r.end;) {
      size_t j = i + 1;
      while (j < r.end && items[j].bytes == items[i].bytes && items[j].rest == items[i].rest) ++j;
      if (items[i].rest == 9 && j - i > 1) runs.push_back({i, j, r.depth + 1});
      i = j;
    }
  }
  std::vector<uint32_t> order(items.size());
  for (size_t i = 0; i < items.size(); ++i) order[i] = items[i].entry;
  return order;
}

}  // namespace jet
