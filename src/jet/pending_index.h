// Entries of an index that was empty when its table began to fill, held in
// memory until something needs the pages. Written out in index order they
// fill the leaves one after another; entries arriving in any other order
// would each visit (and split) a random leaf, which for a large table means
// a page read from memory, or the file, per row. Lookups answer from here
// meanwhile, exactly as a search through the pages would.
//
// While entries arrive in index order they are kept as they come and
// searched by bisection; the first one out of order adds a hash table over
// the distinct keys, each listing its rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/bytes.h"

namespace jet {

class PendingIndex {
 public:
  void Add(ByteView key, RowId row);

  // Rows listed under exactly `key`, in index order, at most `limit`,
  // into `out` (emptied first).
  void Find(ByteView key, size_t limit, std::vector<RowId>& out) const;

  size_t size() const { return rows_.size(); }
  // Memory the entries take.
  size_t bytes() const;

  // Puts the entries in index order now, for TakeInOrder, which then need
  // not. Reads the entries only: another thread may call it while nothing
  // adds, finds or takes entries of this index.
  void SortAhead() {
    if (sorted_ || have_order_) return;
    order_ = Order();
    have_order_ = true;
  }

  // Every entry in index order (key bytes, then row), once: lookups are
  // over after it (the hash table goes first, to make room for the sort).
  template <typename Take>
  void TakeInOrder(const Take& take) {
    if (sorted_) {
      for (size_t i = 0; i < rows_.size(); ++i) take(Key(i), RowId::FromPacked(rows_[i]));
      return;
    }
    std::vector<uint64_t>().swap(slots_);
    std::vector<uint32_t>().swap(next_);
    const std::vector<uint32_t> order = have_order_ ? std::move(order_) : Order();
    have_order_ = false;
    for (size_t n = 0; n < order.size(); ++n) {
      // In index order the keys are scattered through keys_: ask for a
      // later one while this one is taken.
      if (n + kAhead < order.size()) Prefetch(order[n + kAhead]);
      take(Key(order[n]), RowId::FromPacked(rows_[order[n]]));
    }
  }

 private:
  static constexpr uint32_t kNone = 0xffffffffu;
  static constexpr size_t kAhead = 16;

  void Prefetch(uint32_t i) const {
    const uint8_t* p = KeyData(i);
    __builtin_prefetch(p);
    __builtin_prefetch(p + 63);
    __builtin_prefetch(&rows_[i]);
  }

  ByteView Key(size_t i) const {
    return ByteView(KeyData(i), lengths_[i]);
  }
  // The entries' positions sorted into index order.
  std::vector<uint32_t> Order() const;
  // The slot holding `key`, or the empty slot where it would go.
  size_t Probe(ByteView key, uint64_t hash) const;
  void Hash(uint32_t i);
  void BuildHash();

  const uint8_t* KeyData(size_t i) const {
    return blocks_[starts_[i] >> kBlockBits].get() + (starts_[i] & ((1u << kBlockBits) - 1));
  }

  // The keys, back to back in blocks that are never moved (growing to
  // 1 MiB each, so that a small index takes little); an entry's key starts
  // at block (start >> kBlockBits), at the offset in the low bits. The
  // owner writes the entries out long before 4 GiB of keys.
  static constexpr unsigned kBlockBits = 20;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  size_t block_size_ = 0;
  size_t block_used_ = 0;
  size_t block_bytes_ = 0;  // all blocks together
  std::vector<uint32_t> starts_;
  std::vector<uint16_t> lengths_;
  std::vector<uint32_t> rows_;  // each entry's row, packed (sorts as rows do)
  bool sorted_ = true;          // entries so far arrived in index order
  std::vector<uint32_t> order_;  // SortAhead's order, while have_order_
  bool have_order_ = false;
  mutable size_t finger_ = 0;   // where the last search in order ended

  // Once out of order: open addressing over the distinct keys. A slot holds
  // the key's hash in its upper half and its newest entry + 1 in the lower
  // (0: empty); next_ chains the entries of one key.
  std::vector<uint64_t> slots_;
  std::vector<uint32_t> next_;
  size_t distinct_ = 0;

  // The last key Find looked for, and where: a unique index looks for each
  // key just before adding it, and Add then need not look again.
  struct Seen {
    uint64_t hash = 0;
    size_t slot = 0;
    size_t entries = SIZE_MAX;  // entries at the time
    size_t slots = 0;           // table size at the time
  };
  mutable Seen seen_;
  mutable Bytes seen_key_;
};

}  // namespace jet
