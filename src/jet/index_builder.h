// Index B-trees as a whole: bulk building from unsorted entries, and
// inserting or deleting one entry in an existing tree. Works through
// callbacks, so the caller (the table layer) owns the pages: it allocates
// them, records them in the index's usage map and writes them out.
//
// Layout, as the engine leaves a freshly built index: leaves filled in
// order until the next entry would not fit (counting the prefix they share),
// linked previous/next; each intermediate page lists the last entry of each
// child but the last, which it names as its tail page instead; the last page
// of every level stores no shared prefix; the root is a leaf when everything
// fits on one page. The root's page number never changes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/index_page.h"
#include "jet/pager.h"

namespace jet {

using AllocatePage = std::function<uint32_t()>;
using WritePage = std::function<void(uint32_t page, ByteView data)>;
using ReadPage = std::function<Bytes(uint32_t page)>;

// The pages of a tree before page numbers are assigned: levels[0] is the
// root level, the last one the leaves. Child fields of node entries and
// links hold indexes into the level below / the same level (-1: none).
struct IndexLayout {
  struct Page {
    bool leaf = true;
    std::vector<IndexEntry> entries;  // node entries: child = index below
    int tail = -1;                    // index below
    int prev = -1;
    int next = -1;
    uint16_t prefix_len = 0;
  };
  std::vector<std::vector<Page>> levels;
};

// Lays out entries already in index order (see CompareEntries).
IndexLayout LayoutIndex(const Format& f, std::vector<IndexEntry> sorted);

class IndexBuilder {
 public:
  IndexBuilder(const Format& f, uint32_t tdef_page) : format_(f), tdef_page_(tdef_page) {}

  void Add(Bytes key, RowId row) { entries_.push_back({std::move(key), row, 0}); }
  size_t size() const { return entries_.size(); }

  // Sorts the entries (key bytes, then row pointer), writes every page and
  // returns the root. Pages are allocated root first, then level by level.
  // An empty index is one empty leaf.
  uint32_t Build(const AllocatePage& allocate, const WritePage& write);

 private:
  const Format& format_;
  uint32_t tdef_page_;
  std::vector<IndexEntry> entries_;
};

// Builds a tree from entries given in index order into an index whose root
// page is an empty leaf, writing each leaf as it fills: the result is the
// layout IndexBuilder gives, without holding the entries. The root keeps
// its page.
class SortedIndexWriter {
 public:
  SortedIndexWriter(const Format& f, uint32_t tdef_page, uint32_t root, AllocatePage allocate,
                    WritePage write);
  // Entries must come in index order (see CompareEntries).
  void Add(ByteView key, RowId row);
  // Writes the last leaf and the pages above the leaves.
  void Finish();

 private:
  // Writes the leaf's entries (those listed in ends_).
  void WriteLeaf(uint32_t page, uint32_t next, bool last);

  const Format& format_;
  uint32_t tdef_page_;
  uint32_t root_;
  AllocatePage allocate_;
  WritePage write_;
  // The leaf being filled: its entries' stored bytes back to back, where
  // each ends, the bytes they take whole and the bytes all of them share.
  Bytes stored_;
  std::vector<uint32_t> ends_;
  size_t sum_ = 0;
  size_t prefix_ = 0;
  RowId row_of_last_;
  uint32_t page_ = 0;  // its page number, once there is more than one leaf
  uint32_t prev_ = 0;
  Bytes image_;
  std::vector<IndexEntry> up_;  // last entry of each leaf written, with its page
};

// Writes a laid-out tree; returns the root page.
uint32_t WriteIndexLayout(const Format& f, const IndexLayout& layout, uint32_t tdef_page,
                          const AllocatePage& allocate, const WritePage& write);

// Every leaf entry of the tree under `root`, in order (follows the leaf
// links). Throws 3049 on a cycle or a page that is not an index page.
std::vector<IndexEntry> ReadIndexEntries(const Format& f, uint32_t root, const ReadPage& read);

// Page access for editing a tree in place. A view stays valid until the
// next call on the same object.
class IndexPages {
 public:
  virtual ~IndexPages() = default;
  virtual ByteView Read(uint32_t page) = 0;
  // The page's image for editing; the change is kept.
  virtual std::span<uint8_t> Modify(uint32_t page) = 0;
  // A new zero-filled page.
  virtual uint32_t Allocate() = 0;
  virtual void Release(uint32_t page) = 0;
};

// Rows listed under exactly `key` in the tree under `root`, in index order,
// at most `limit` of them. Pages are searched where they sit in the cache,
// never decoded whole. When none is found, `spot` (if given) tells where
// an entry under the key would go, or stays empty when the search cannot
// tell without the row.
std::vector<RowId> FindIndexRows(Pager& pager, uint32_t root, ByteView key, size_t limit,
                                 IndexSpot* spot = nullptr);
// The same into `out` (emptied first), for callers that search for every
// row written and keep the vector's storage.
void FindIndexRowsInto(Pager& pager, uint32_t root, ByteView key, size_t limit,
                       std::vector<RowId>& out, IndexSpot* spot = nullptr);

// Adds one entry; a full page splits, and a full root moves its contents
// to new pages below it. An entry that fits its leaf is written into the
// page where it stands; pages keep the layout the engine gives them (see
// above), and pages the change does not touch are not written.
void InsertIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry, IndexPages& pages);
// `spot`, from FindIndexRows on the same tree with no change since,
// spares the descent.
void InsertIndexEntry(const Format& f, uint32_t root, ByteView key, RowId row, IndexPages& pages,
                      const IndexSpot* spot = nullptr);

// Removes the entry with this key and row; false when absent. A leaf left
// empty (other than the root) is unlinked and handed to Release.
bool DeleteIndexEntry(const Format& f, uint32_t root, const IndexEntry& entry, IndexPages& pages);

}  // namespace jet
