// The rules a row change must satisfy before anything reaches the file:
// Required fields, zero-length text, unique and required indexes, and the
// enforced relationships (a referencing row needs its referenced row; a
// referenced row with referencing rows is deleted or changed only by
// cascading). Every check runs first and the writes follow, so a refused
// change leaves the tables as they were. Lookups descend index B-trees from
// their root; no check scans a table that has an index to use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "jet/bytes.h"
#include "jet/index_key.h"
#include "jet/pager.h"
#include "jet/relations.h"
#include "jet/table.h"
#include "jet/value.h"

namespace jet {

class FileState;

// Rows listed under exactly `key` in the index B-tree rooted at `root`, in
// index order, at most `limit` of them. Reads the pages from the root down
// to the first matching leaf entry, then along the leaf chain.
std::vector<RowId> SeekIndex(Pager& pager, uint32_t root, ByteView key, size_t limit);

class Integrity {
 public:
  explicit Integrity(FileState& file) : file_(file) {}

  // Throws the engine's error when the new row may not go in. `keys` are
  // the row's index keys (RowKeys::Build); the unique checks leave in them
  // where each key goes.
  void CheckInsert(Table& t, const std::vector<Value>& values, RowKeys& keys);
  // The same without the column rules (Required, zero-length text).
  void CheckKeys(Table& t, const std::vector<Value>& values, RowKeys& keys);
  // Check, cascade and write an update / a delete.
  void Update(Table& t, RowId id, const std::vector<Value>& old_values,
              const std::vector<Value>& values);
  void Delete(Table& t, RowId id, const std::vector<Value>& old_values);

  // Enforced relationships as the catalogue holds them now.
  const std::vector<RelationLink>& Links();
  // Forgets what was read from the catalogue (after schema changes).
  void Invalidate();

 private:
  // Updates in place read the value rules and check rows with them.
  friend class ColumnWriter;
  struct ColumnRule {
    bool required = false;
    bool allow_zero_length = false;
  };
  struct Change {
    Table* table = nullptr;
    RowId id;
    std::vector<Value> old_values;
    std::vector<Value> new_values;
    bool remove = false;
  };

  const std::vector<ColumnRule>& Rules(Table& t);
  void CheckValues(Table& t, const std::vector<Value>& values);
  // A null in the columns of a required index (3058).
  static void CheckIndexNulls(const TableDef& def, const std::vector<Value>& values);
  // `keys`: the new row's keys when already built.
  void CheckUnique(Table& t, const std::vector<Value>& values, const std::vector<Value>* old,
                   RowId self, RowKeys* keys);
  // `keys`: the row's keys when built; a link whose referencing index
  // keys its values as the referenced index does takes its key from there.
  void CheckReferenced(Table& t, const std::vector<Value>& values,
                       const std::vector<Value>* old, const RelationLink* cascading,
                       const RowKeys* keys = nullptr);
  // Whether the link's referencing index builds, from a row's values, the
  // very key its referenced index is searched with (kept per link).
  bool SameKey(const RelationLink& link, const Table& child, Table& parent);
  // Whether an enforced relationship may name `t` as its referencing
  // table, found without loading the links: after a schema change, rows
  // of the tables no relationship names (the catalogue's) need no reload.
  bool MayReference(const Table& t);
  void PlanDelete(Table& t, RowId id, const std::vector<Value>& old_values,
                  std::vector<Change>& plan);
  void PlanUpdate(Table& t, RowId id, const std::vector<Value>& old_values,
                  const std::vector<Value>& values, const RelationLink* cascading,
                  std::vector<Change>& plan);
  std::vector<RowId> FindReferencing(const RelationLink& link,
                                     const std::vector<Value>& parent_values, size_t limit);
  void Apply(const std::vector<Change>& plan);
  Table& TableOf(uint32_t tdef_page, const std::string& name);

  FileState& file_;
  bool loaded_ = false;
  std::vector<RelationLink> links_;
  std::vector<int8_t> same_key_;  // by link: -1 unknown, 0, 1
  // By TDEF page: the positions in links_ of the links naming that table
  // as the referencing one (every row written looks its own up).
  std::map<uint32_t, std::vector<size_t>> child_links_;
  const std::vector<size_t>& ChildLinks(uint32_t tdef_page);
  std::map<uint32_t, bool> may_reference_;  // by TDEF page
  std::map<uint32_t, std::vector<ColumnRule>> rules_;
  // By TDEF page: the columns a written value can break a rule of, in
  // column order; the last table's at hand, as rows come table by table.
  struct ValueCheck {
    size_t column;
    bool required;
    bool not_empty;
  };
  const std::vector<ValueCheck>& ValueChecks(Table& t);
  std::map<uint32_t, std::vector<ValueCheck>> value_checks_;
  uint32_t checks_page_ = 0;
  const std::vector<ValueCheck>* checks_ = nullptr;
  // Storage kept from row to row: every row written is looked up.
  Bytes seek_key_;
  std::vector<RowId> found_;
};

}  // namespace jet
