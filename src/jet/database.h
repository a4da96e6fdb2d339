// The engine's state for one open file, shared by every handle of this
// process on that file: the pager, the catalogue (MSysObjects) and the
// tables opened so far. It creates new databases, appends tables and indexes
// and writes rows with index maintenance; the DAO objects in dao.h are thin
// handles over it.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/index_key.h"
#include "jet/index_page.h"
#include "jet/pager.h"
#include "jet/pending_index.h"
#include "jet/relations.h"
#include "jet/table.h"
#include "jet/tabledef.h"
#include "jet/value.h"

namespace jet {

class Integrity;

// One MSysObjects row, as the catalogue needs it.
struct CatalogEntry {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  int32_t flags = 0;
  RowId row;
  bool is_system() const { return (flags & 0x80000002) != 0; }
  uint32_t tdef_page() const { return static_cast<uint32_t>(id) & 0x00ffffff; }
};

// A column as a caller describes it for a new table.
struct NewColumn {
  std::string name;
  ColumnType type = ColumnType::kText;
  int size = -1;             // Text and Binary: characters / bytes; -1 default
  int precision = 18;        // Decimal: digits (1 to 28) and those after the point
  int scale = 0;
  bool auto_number = false;
  std::optional<bool> required;
  std::optional<bool> allow_zero_length;
  std::optional<std::string> default_value;
};

// An index as a caller describes it.
struct NewIndex {
  std::string name;
  std::vector<std::string> columns;
  bool primary = false;
  bool unique = false;
  bool required = false;
  bool ignore_nulls = false;
  std::vector<bool> descending;  // by column; missing entries are ascending
};

class FileState {
 public:
  // Opens (or finds) the state of an existing file.
  static std::shared_ptr<FileState> Open(const std::string& path, bool exclusive, bool read_only,
                                         const std::string& password);
  // Creates a new Jet 4 database holding the engine's catalogue.
  static std::shared_ptr<FileState> Create(const std::string& path, const std::string& password,
                                           bool encrypt);
  ~FileState();

  Pager& pager() { return *pager_; }
  const std::shared_ptr<Pager>& shared_pager() { return pager_; }

  // Catalogue objects whose parent is the Tables container.
  std::vector<CatalogEntry> TableEntries();
  std::optional<CatalogEntry> FindTable(const std::string& name);
  // The table's runtime object; 3078 when no such table exists.
  Table& GetTable(const std::string& name);
  Table& TableAt(uint32_t tdef_page, const std::string& name);
  // Column properties (Required, AllowZeroLength, DefaultValue) of a table.
  struct ColumnProps {
    bool required = false;
    bool allow_zero_length = false;
    std::optional<std::string> default_value;
  };
  std::map<std::string, ColumnProps> ColumnProperties(const std::string& table);

  // Appends a table with its indexes. 3010 when the name exists.
  void CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                   const std::vector<NewIndex>& indexes);
  // The same with the table's LvProp given whole (Jet 4; empty for none);
  // the columns' required / allow_zero_length / default_value are not used.
  void CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                   const std::vector<NewIndex>& indexes, const Bytes& lvprop);
  // Appends an index to an existing table, built from its rows (3022 when
  // the rows break a unique index, 3283 for a second primary key).
  void CreateIndex(const std::string& table, const NewIndex& index);

  // A relationship between two tables, enforced as the engine does: an
  // MSysRelationships row per field pair, the catalogue object, and the
  // foreign-key logical indexes on both tables. `attributes` as DAO's
  // (256 cascade updates, 4096 cascade deletes, 2 not enforced).
  struct NewRelation {
    std::string name;
    std::string table;          // referenced (one) side
    std::string foreign_table;  // referencing (many) side
    std::vector<std::pair<std::string, std::string>> fields;  // (field, foreign field)
    int attributes = 0;
  };
  void CreateRelation(const NewRelation& relation);
  struct RelationInfo {
    std::string name;
    std::string table;
    std::string foreign_table;
    std::vector<std::pair<std::string, std::string>> fields;
    int attributes = 0;
  };
  std::vector<RelationInfo> Relations();
  // A catalogue object that is neither a table nor a relationship (a saved
  // query, a property document): its MSysObjects row, owned by Admin, with
  // the access entries a new table gets. Its id comes from the counter of
  // objects without a TDEF. Returns the id.
  int32_t AddObject(const std::string& name, int32_t parent_id, int16_t type, int32_t flags,
                    const Bytes& lvprop, const Bytes& lv_extra);
  // Replaces the LvProp of catalogue object `id` (empty: none). 3265 when
  // there is no such object.
  void SetObjectProperties(int32_t id, const Bytes& lvprop);
  void DropTable(const std::string& name);
  void DropIndex(const std::string& table, const std::string& index);

  // Row writes that keep every index of the table right and enforce the
  // table's integrity rules (required fields, zero-length text, unique
  // indexes, relations with their cascades).
  // `keys`, when given, are the row's keys already built (RowKeys::Build
  // with this table's definition and these values); they are used up.
  RowId InsertRow(Table& t, const std::vector<Value>& values, RowKeys* keys = nullptr);
  // A row brought over from another file: refused when it would break an
  // index (a duplicate in a unique one, a null in a required one) or an
  // enforced relationship, but not for the column rules (Required, zero-
  // length text), which the other file may have been given after the row.
  RowId InsertCopiedRow(Table& t, const std::vector<Value>& values, RowKeys* keys = nullptr);
  void UpdateRow(Table& t, RowId id, const std::vector<Value>& old_values,
                 const std::vector<Value>& values);
  void DeleteRow(Table& t, RowId id, const std::vector<Value>& old_values);

  // Rows listed under exactly `key` in the table's real index number
  // `real_index`, in index order, at most `limit`, into `out` (emptied
  // first). Answers for entries still held in memory too. `spot`: as
  // FindIndexRows gives it, for the insert that follows.
  void FindIndexRows(Table& t, size_t real_index, ByteView key, size_t limit,
                     std::vector<RowId>& out, IndexSpot* spot = nullptr);

  // The enforced relationships as the catalogue holds them now (read once
  // and kept until the schema changes).
  const std::vector<RelationLink>& RelationLinks();

  // What the index entries held in memory may take before the largest
  // index's are written to its pages: 128 MiB unless set, twice the pager's
  // default cache, so that what a fill takes does not grow with the rows.
  void SetHeldIndexBudget(size_t bytes) { held_budget_ = bytes; }

  // Brings definitions and held index entries into the pager's pages. The
  // pages themselves reach the copy of the file when the cache needs their
  // frames, or at the commit; `sync` writes them now and waits until they
  // are on disk.
  void Flush(bool sync = false);
  // Puts everything written so far in place of the file (Pager::Commit).
  // A failure that leaves the pager unable to go on is thrown once; later
  // commits then do nothing.
  void Commit();
  // Drops everything written since the last commit; a new database never
  // appears (Pager::Discard).
  void Discard();

  // The dao::Database handles open on the file. When the last one goes,
  // what was written is committed: CloseHandle throws the commit's errors,
  // DropHandle (for destructors) hands them to DeferError.
  void AddHandle() { ++handles_; }
  void CloseHandle();
  void DropHandle() noexcept;

 private:
  FileState() = default;
  void LoadCatalog();
  void AddCatalogRows(const std::string& name, int32_t id, int16_t type, const Bytes& lvprop);
  // The id of the next object without a TDEF.
  int32_t NextNonTableId() const;
  RowId AddUsageMapRow(const Bytes& row);
  uint32_t BuildIndexPages(Table& t, RealIndexDef& ri, std::vector<IndexEntry> entries);
  void CreateIndexOn(Table& t, const NewIndex& index);

  // Relations() without the copy: good until MSysRelationships next changes.
  const std::vector<RelationInfo>& CurrentRelations();
  friend std::vector<RelationLink> LoadRelationLinks(FileState& file);

  // Relations and row integrity live in relations.cpp and integrity.cpp.
  friend class Integrity;
  friend class RelationStore;
  friend class ColumnWriter;
  // Row writes with index maintenance only, after the checks passed.
  // `keys` are the row's index keys when the caller has built them.
  RowId WriteInsert(Table& t, const std::vector<Value>& values, const RowKeys* keys = nullptr);
  void WriteUpdate(Table& t, RowId id, const std::vector<Value>& old_values,
                   const std::vector<Value>& values);
  void WriteDelete(Table& t, RowId id, const std::vector<Value>& old_values);
  Integrity& integrity();
  std::shared_ptr<Integrity> integrity_;

  // An index that was empty when rows began to arrive keeps their entries
  // in memory (pending_index.h) until Flush, a change to the schema, a
  // change or deletion of a row it lists, or the memory they take asks for
  // them to be written. The pages are then what they would be had the same
  // entries arrived in index order.
  struct HeldIndex {
    enum class State : uint8_t { kUnknown, kDirect, kHeld };
    State state = State::kUnknown;
    std::unique_ptr<PendingIndex> entries;
  };
  // The entries held for the index, or nullptr when its pages are current.
  PendingIndex* Held(Table& t, size_t real_index);
  void WriteHeld(Table& t, size_t real_index);
  // Every held entry of every table to the pages; forgets what it knew of
  // the indexes (for schema changes).
  void WriteAllHeld();
  // After a row went in: writes the largest held index when they take more
  // memory than they may.
  void LimitHeld();
  std::unordered_map<Table*, std::vector<HeldIndex>> held_;
  static constexpr size_t kHeldAtHand = 4;
  Table* held_table_[kHeldAtHand] = {};
  std::vector<HeldIndex>* held_last_[kHeldAtHand] = {};
  size_t held_next_ = 0;
  void ForgetHeldAtHand() {
    for (size_t k = 0; k < kHeldAtHand; ++k) {
      held_table_[k] = nullptr;
      held_last_[k] = nullptr;
    }
  }
  size_t held_adds_ = 0;
  size_t held_budget_ = size_t{128} << 20;
  RowKeys row_keys_;  // of the row being inserted

  std::shared_ptr<Pager> pager_;
  int handles_ = 0;
  bool failure_reported_ = false;
  std::map<uint32_t, std::unique_ptr<Table>> tables_;
  std::vector<CatalogEntry> catalog_;
  // What Relations() last read, at MSysRelationships' stamp then.
  std::optional<std::vector<RelationInfo>> relations_;
  uint64_t relations_stamp_ = 0;
  uint32_t usage_map_page_ = 0;
};

}  // namespace jet
