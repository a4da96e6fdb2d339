#include "jet/index_page.h"

#include <algorithm>

#include "jet/error.h"
#include "jet/index_key.h"

namespace jet {
namespace {

constexpr size_t kRowPointerSize = 4;  // 3-byte page + row, big-endian
constexpr size_t kChildSize = 4;

uint32_t GetBig(ByteView b, size_t off, size_t n) {
  CheckRange(b, off, n);
  uint32_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | b[off + i];
  return v;
}

void PutBig(Bytes& out, uint32_t v, size_t n) {
  for (size_t i = n; i-- > 0;) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

int CompareEntries(const IndexEntry& a, const IndexEntry& b) {
  int c = CompareKeys(a.key, b.key);
  if (c != 0) return c;
  if (a.row.page != b.row.page) return a.row.page < b.row.page ? -1 : 1;
  if (a.row.row != b.row.row) return a.row.row < b.row.row ? -1 : 1;
  return 0;
}

size_t IndexPageCapacity(const Format& f) { return f.page_size - f.index_first_entry_offset; }

size_t EntrySize(const IndexEntry& e, bool leaf) {
  return e.key.size() + kRowPointerSize + (leaf ? 0 : kChildSize);
}

Bytes EntryBytes(const IndexEntry& e, bool leaf) {
  Bytes b = e.key;
  PutBig(b, e.row.page, 3);
  b.push_back(e.row.row);
  if (!leaf) PutBig(b, e.child, kChildSize);
  return b;
}

size_t SharedPrefix(const std::vector<IndexEntry>& entries, bool leaf) {
  if (entries.empty()) return 0;
  Bytes first = EntryBytes(entries.front(), leaf);
  size_t n = first.size();
  for (size_t i = 1; i < entries.size() && n > 0; ++i) {
    Bytes b = EntryBytes(entries[i], leaf);
    size_t k = 0;
    size_t lim = std::min(n, b.size());
    while (k < lim && first[k] == b[k]) ++k;
    n = k;
  }
  return n;
}

size_t PackedSize(const std::vector<IndexEntry>& entries, bool leaf, size_t prefix) {
  size_t total = 0;
  for (const IndexEntry& e : entries) total += EntrySize(e, leaf) - prefix;
  return entries.empty() ? 0 : total + prefix;
}

void WriteIndexPageHeader(const Format& f, std::span<uint8_t> w, const IndexPageHeader& h) {
  Put8(w, 0, static_cast<uint8_t>(h.leaf ? PageType::kIndexLeaf : PageType::kIndexNode));
  Put8(w, 1, 0x01);
  Put16(w, f.index_offset_free_space, h.free_space);
  Put32(w, f.index_offset_tdef_page, h.tdef_page);
  Put32(w, f.index_offset_prev_page, h.prev_page);
  Put32(w, f.index_offset_next_page, h.next_page);
  Put32(w, f.index_offset_tail_page, h.tail_page);
  if (f.index_prefix_len_size == 1) {
    Put8(w, f.index_offset_prefix_len, static_cast<uint8_t>(h.prefix_len));
  } else {
    Put16(w, f.index_offset_prefix_len, h.prefix_len);
  }
  Put8(w, f.index_offset_node_flag, h.leaf ? 0 : 1);
}

IndexPageHeader ReadIndexPageHeader(const Format& f, ByteView page) {
  if (page.size() != f.page_size) throw JetError(kErrCorrupt);
  IndexPageHeader h;
  uint8_t type = Get8(page, 0);
  if (type != static_cast<uint8_t>(PageType::kIndexLeaf) &&
      type != static_cast<uint8_t>(PageType::kIndexNode))
    throw JetError(kErrCorrupt);
  h.leaf = type == static_cast<uint8_t>(PageType::kIndexLeaf);
  h.free_space = Get16(page, f.index_offset_free_space);
  h.tdef_page = Get32(page, f.index_offset_tdef_page);
  h.prev_page = Get32(page, f.index_offset_prev_page);
  h.next_page = Get32(page, f.index_offset_next_page);
  h.tail_page = Get32(page, f.index_offset_tail_page);
  h.prefix_len = f.index_prefix_len_size == 1 ? Get8(page, f.index_offset_prefix_len)
                                              : Get16(page, f.index_offset_prefix_len);
  return h;
}

IndexPage ParseIndexPage(const Format& f, ByteView page) {
  const IndexPageHeader h = ReadIndexPageHeader(f, page);
  IndexPage p;
  p.leaf = h.leaf;
  p.free_space = h.free_space;
  p.tdef_page = h.tdef_page;
  p.prev_page = h.prev_page;
  p.next_page = h.next_page;
  p.tail_page = h.tail_page;
  p.prefix_len = h.prefix_len;

  const size_t trailer = kRowPointerSize + (p.leaf ? 0 : kChildSize);
  const size_t base = f.index_first_entry_offset;
  const size_t capacity = IndexPageCapacity(f);
  ByteView prefix;
  size_t start = 0;
  for (size_t i = 0; i < f.index_entry_mask_size; ++i) {
    uint8_t m = Get8(page, f.index_offset_entry_mask + i);
    for (int bit = 0; m != 0 && bit < 8; ++bit) {
      if (!(m & (1u << bit))) continue;
      size_t end = i * 8 + bit;
      if (end <= start || end > capacity) throw JetError(kErrCorrupt);
      ByteView stored = page.subspan(base + start, end - start);
      Bytes whole;
      if (p.entries.empty()) {
        if (p.prefix_len > stored.size()) throw JetError(kErrCorrupt);
        prefix = stored.first(p.prefix_len);
        whole.assign(stored.begin(), stored.end());
      } else {
        whole.assign(prefix.begin(), prefix.end());
        whole.insert(whole.end(), stored.begin(), stored.end());
      }
      if (whole.size() < trailer) throw JetError(kErrCorrupt);
      IndexEntry e;
      size_t key_len = whole.size() - trailer;
      e.key.assign(whole.begin(), whole.begin() + key_len);
      e.row.page = GetBig(whole, key_len, 3);
      e.row.row = whole[key_len + 3];
      if (!p.leaf) e.child = GetBig(whole, key_len + kRowPointerSize, kChildSize);
      p.entries.push_back(std::move(e));
      start = end;
    }
  }
  return p;
}

void AppendLeafRows(const Format& f, ByteView page, std::vector<RowId>& out) {
  const IndexPageHeader h = ReadIndexPageHeader(f, page);
  if (!h.leaf) throw JetError(kErrCorrupt);
  const size_t base = f.index_first_entry_offset;
  const size_t capacity = IndexPageCapacity(f);
  size_t start = 0;
  bool first = true;
  for (size_t i = 0; i < f.index_entry_mask_size; ++i) {
    const uint8_t m = Get8(page, f.index_offset_entry_mask + i);
    for (int bit = 0; m != 0 && bit < 8; ++bit) {
      if (!(m & (1u << bit))) continue;
      const size_t end = i * 8 + static_cast<size_t>(bit);
      if (end <= start || end > capacity) throw JetError(kErrCorrupt);
      // The row pointer ends the entry; an entry after the first may keep
      // part of it in the shared prefix.
      const size_t stored = end - start;
      const size_t whole = first ? stored : h.prefix_len + stored;
      if ((first && h.prefix_len > stored) || whole < kRowPointerSize) throw JetError(kErrCorrupt);
      uint8_t pointer[kRowPointerSize];
      for (size_t k = 0; k < kRowPointerSize; ++k) {
        const size_t at = whole - kRowPointerSize + k;  // in the whole entry
        pointer[k] = first || at >= h.prefix_len ? page[base + start + at - (first ? 0 : h.prefix_len)]
                                                 : page[base + at];
      }
      out.push_back({GetBig(ByteView(pointer, kRowPointerSize), 0, 3), pointer[3]});
      first = false;
      start = end;
    }
  }
}

Bytes WriteIndexPage(const Format& f, const IndexPage& p) {
  const size_t prefix = p.prefix_len;
  Bytes data;
  std::vector<size_t> ends;
  Bytes first;
  for (size_t i = 0; i < p.entries.size(); ++i) {
    Bytes b = EntryBytes(p.entries[i], p.leaf);
    if (b.size() < prefix) throw JetError(kErrInvalidArgument);
    if (i == 0) {
      first = b;
      AppendBytes(data, b);
    } else {
      if (!std::equal(first.begin(), first.begin() + prefix, b.begin()))
        throw JetError(kErrInvalidArgument);
      data.insert(data.end(), b.begin() + prefix, b.end());
    }
    ends.push_back(data.size());
  }
  if (p.entries.empty() && prefix != 0) throw JetError(kErrInvalidArgument);
  if (data.size() > IndexPageCapacity(f) || data.size() > f.index_entry_mask_size * 8u - 1)
    throw JetError(kErrInvalidArgument);

  Bytes page(f.page_size, 0);
  std::span<uint8_t> w(page);
  WriteIndexPageHeader(f, w,
                       {p.leaf, static_cast<uint16_t>(IndexPageCapacity(f) - data.size()),
                        p.tdef_page, p.prev_page, p.next_page, p.tail_page,
                        static_cast<uint16_t>(prefix)});
  for (size_t end : ends) {
    size_t at = f.index_offset_entry_mask + end / 8;
    Put8(w, at, static_cast<uint8_t>(page[at] | (1u << (end % 8))));
  }
  std::copy(data.begin(), data.end(), page.begin() + f.index_first_entry_offset);
  return page;
}

}  // namespace jet
