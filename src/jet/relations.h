// Relationships as the engine keeps them: one MSysRelationships row per
// field pair, a catalogue object (type 8) under the Relationships container,
// and, when integrity is enforced, a foreign-key logical index on each side.
//
// Foreign-key logical indexes, as the engine writes them (type 2):
//   referenced side   named ".r" + a letter ('A' + its index number, so the
//                     third index is ".rC"), sharing the unique real index on
//                     the referenced fields; other-table type 1.
//   referencing side  named like the relationship, sharing a real index on
//                     the same fields or on a new non-unique one; other-table
//                     type 2.
// Both carry the other table's TDEF page and the other entry's index number,
// and the same cascade bytes: 1 for cascading updates / deletes, else 0.
// The logical entries are kept in name order; index numbers stay dense.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/tabledef.h"

namespace jet {

class FileState;
class Table;

// An enforced relationship resolved to column numbers, paired by position,
// and to the real indexes that find rows on each side (-1: none).
struct RelationLink {
  std::string name;
  int32_t grbit = 0;
  uint32_t parent_page = 0;  // referenced (one) side
  std::string parent_name;
  uint32_t child_page = 0;   // referencing (many) side
  std::string child_name;
  std::vector<uint16_t> parent_columns;
  std::vector<uint16_t> child_columns;
  int parent_index = -1;  // unique real index over parent_columns
  int child_index = -1;   // real index over child_columns
  bool cascade_updates() const;
  bool cascade_deletes() const;
};

// The enforced relationships of the file whose tables both exist.
std::vector<RelationLink> LoadRelationLinks(FileState& file);

// The slot of a real index over exactly these columns (in any order, all
// ascending); with `unique_only` only a unique one. -1 when none.
int FindRealIndex(const TableDef& def, const std::vector<uint16_t>& columns, bool unique_only);

// The name the engine gives the next referenced-side foreign-key index.
std::string ReferencedIndexName(const TableDef& def);

// Adds a logical index at its place in name order.
void InsertLogicalIndex(TableDef& def, LogicalIndexDef index);

class RelationStore {
 public:
  // Removes the logical index at `pos` of `t`, renumbering the later ones
  // and the foreign-key entries of other tables that point at them, and
  // the real index when no other logical index uses it (its pages freed).
  // Tables other than `t` whose definitions changed are rewritten, except
  // the one at `skip_page`.
  static void RemoveLogicalIndex(FileState& file, Table& t, size_t pos, uint32_t skip_page);
  // Removes a relationship's rows, catalogue object and ACEs, and its
  // foreign-key indexes on tables other than `skip_page`.
  static void RemoveRelation(FileState& file, const std::string& name, uint32_t skip_page);
  // Deletes the MSysObjects row of one object and its MSysACEs rows.
  static void RemoveCatalogObject(FileState& file, int32_t id);
};

// Where MSysRelationships keeps each of its columns in a row, by position in
// its definition; nullopt when the definition lacks one of them.
struct RelationshipSlots {
  int name, grbit, icolumn, object, column, ref_object, ref_column;
};
std::optional<RelationshipSlots> FindRelationshipSlots(const TableDef& def);

}  // namespace jet
