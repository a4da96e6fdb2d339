#include "jet/catalog_layout.h"

#include <algorithm>
#include <stdexcept>

namespace jet::catalog {
namespace {

constexpr uint16_t kGeneral = 0x409;  // every system column carries it, text or not
constexpr uint8_t kFixedColumn = kColFixed | kColNullable | kColReplication;    // 0x13
constexpr uint8_t kVarColumn = kColNullable | kColReplication;                  // 0x12
constexpr uint8_t kSidColumn = kColNullable | kColReplication | 0x20;           // 0x32
constexpr uint8_t kNoCascade = 4;  // both cascade bytes of an index that is no foreign key

// `var_index` of a fixed column is the number of variable columns with a
// lower column number: the engine fills the field for every column.
ColumnDef Col(const char* name, ColumnType type, uint16_t number, uint16_t var_index,
              uint16_t fixed_offset, uint16_t length, uint8_t flags) {
  ColumnDef c;
  c.name = name;
  c.type = type;
  c.number = number;
  c.var_index = var_index;
  c.fixed_offset = fixed_offset;
  c.length = length;
  c.flags = flags;
  c.ext_flags = 0;
  c.sort_order = kGeneral;
  c.sort_version = 0;
  return c;
}

RealIndexDef Real(std::vector<uint16_t> columns, uint8_t flags, uint32_t row_count) {
  RealIndexDef r;
  for (uint16_t n : columns) r.columns.push_back({n, true});
  r.flags = static_cast<uint8_t>(kIdxJet4Marker | flags);
  r.row_count = row_count;
  return r;
}

LogicalIndexDef Logical(const char* name, uint32_t number, uint32_t real, uint8_t type) {
  LogicalIndexDef l;
  l.name = name;
  l.index_number = number;
  l.real_index = real;
  l.rel_table_type = 0;
  l.rel_index_number = -1;
  l.rel_table_page = 0;
  l.cascade_updates = kNoCascade;
  l.cascade_deletes = kNoCascade;
  l.type = type;
  return l;
}

TableDef SystemTable(uint16_t columns, uint16_t var_columns, uint32_t rows) {
  TableDef d;
  d.table_type = 0x53;
  d.max_columns = columns;
  d.var_column_count = var_columns;
  d.row_count = rows;
  d.next_auto_number = 0;
  d.autonum_flag = 0x01;
  return d;
}

uint32_t MapRow(uint8_t row) { return RowId{6, row}.Packed(); }

Bytes FromHex(const char* hex) {
  Bytes out;
  auto nibble = [](char c) -> uint8_t {
    if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
    return static_cast<uint8_t>(c - 'a' + 10);
  };
  for (const char* p = hex; p[0] && p[1]; p += 2) {
    out.push_back(static_cast<uint8_t>(nibble(p[0]) << 4 | nibble(p[1])));
  }
  return out;
}

}  // namespace

Bytes SidBytes(Sid sid) {
  switch (sid) {
    case Sid::kEngine: return {0x65, 0x89};
    case Sid::kAdmin: return {0x64, 0x8B};
    case Sid::kUsers: return {0x65, 0x8B};
    case Sid::kCreator: return {0x65, 0x8E};
  }
  return {};
}

const char* SidName(Sid sid) {
  switch (sid) {
    case Sid::kEngine: return "engine";
    case Sid::kAdmin: return "admin";
    case Sid::kUsers: return "users";
    case Sid::kCreator: return "creator";
  }
  return "?";
}

double ReferenceHeaderCreationDate() {
  // 2015-11-21 22:40:30.98, stored at 0x72 of the header as this exact double.
  return BitsToDouble(0x40E4AB3E3BD3853EULL);
}

const std::vector<ObjectRow>& NewDatabaseObjects() {
  static const std::vector<ObjectRow> rows = {
      {kTablesContainerId, kContainersParentId, "Tables", kObjectContainer, Sid::kEngine, kSystemObjectFlags},
      {kDatabasesContainerId, kContainersParentId, "Databases", kObjectContainer, Sid::kEngine, kSystemObjectFlags},
      {kRelationshipsContainerId, kContainersParentId, "Relationships", kObjectContainer, Sid::kEngine, kSystemObjectFlags},
      {kMSysDbId, kDatabasesContainerId, "MSysDb", kObjectDatabase, Sid::kAdmin, kSystemObjectFlags},
      {2, kTablesContainerId, "MSysObjects", kObjectTable, Sid::kEngine, kSystemObjectFlags},
      {3, kTablesContainerId, "MSysACEs", kObjectTable, Sid::kEngine, kSystemObjectFlags},
      {4, kTablesContainerId, "MSysQueries", kObjectTable, Sid::kEngine, kSystemObjectFlags},
      {5, kTablesContainerId, "MSysRelationships", kObjectTable, Sid::kEngine, kSystemObjectFlags},
  };
  return rows;
}

const std::vector<AceRow>& NewDatabaseAces() {
  // MSysACEs itself gets no Users entry.
  static const std::vector<AceRow> rows = {
      {2, Sid::kAdmin, kAcmSystemTableOwner, false},
      {3, Sid::kAdmin, kAcmSystemTableOwner, false},
      {4, Sid::kAdmin, kAcmSystemTableOwner, false},
      {5, Sid::kAdmin, kAcmRelationshipsTable, false},
      {kTablesContainerId, Sid::kCreator, kAcmCreator, true},
      {kTablesContainerId, Sid::kAdmin, kAcmContainerAdmin, false},
      {kRelationshipsContainerId, Sid::kCreator, kAcmCreator, true},
      {kRelationshipsContainerId, Sid::kAdmin, kAcmContainerAdmin, false},
      {kDatabasesContainerId, Sid::kAdmin, kAcmSystemTableOwner, false},
      {kMSysDbId, Sid::kAdmin, kAcmDatabaseAdmin, false},
      {kMSysDbId, Sid::kUsers, kAcmDatabaseUsers, false},
      {4, Sid::kUsers, kAcmSystemTableUsers, false},
      {5, Sid::kUsers, kAcmSystemTableUsers, false},
      {2, Sid::kUsers, kAcmSystemTableUsers, false},
      {kTablesContainerId, Sid::kUsers, kAcmTablesFull, true},
      {kRelationshipsContainerId, Sid::kUsers, kAcmRelationshipsFull, true},
  };
  return rows;
}

ObjectRow NewTableObject(int32_t tdef_page, const std::string& name) {
  return {tdef_page, kTablesContainerId, name, kObjectTable, Sid::kAdmin, 0};
}

namespace {
// A child inherits its container's inheritable entries: the Creator entry
// becomes one for the creating user, the others are copied; the copies are
// not inheritable themselves.
std::vector<AceRow> Inherit(int32_t container, int32_t child) {
  std::vector<AceRow> out;
  for (const AceRow& a : NewDatabaseAces()) {
    if (a.object_id != container || !a.inheritable) continue;
    Sid sid = a.sid == Sid::kCreator ? Sid::kAdmin : a.sid;
    out.push_back({child, sid, a.acm, false});
  }
  return out;
}
}  // namespace

std::vector<AceRow> NewTableAces(int32_t tdef_page) {
  return Inherit(kTablesContainerId, tdef_page);
}

ObjectRow NewRelationshipObject(int32_t id, const std::string& name) {
  return {id, kRelationshipsContainerId, name, kObjectRelationship, Sid::kAdmin, 0};
}

std::vector<AceRow> NewRelationshipAces(int32_t id) {
  return Inherit(kRelationshipsContainerId, id);
}

std::vector<RelationshipRow> RelationshipRows(const std::string& name, int32_t grbit,
                                              const std::string& object,
                                              const std::vector<std::string>& columns,
                                              const std::string& referenced_object,
                                              const std::vector<std::string>& referenced_columns) {
  if (columns.empty() || columns.size() != referenced_columns.size()) {
    throw std::invalid_argument("relationship columns must pair up");
  }
  std::vector<RelationshipRow> rows;
  const auto count = static_cast<int32_t>(columns.size());
  for (int32_t i = 0; i < count; ++i) {
    rows.push_back({name, grbit, count, i, object, columns[static_cast<size_t>(i)],
                    referenced_object, referenced_columns[static_cast<size_t>(i)]});
  }
  return rows;
}

TableDef MSysObjectsDef() {
  using T = ColumnType;
  TableDef d = SystemTable(17, 11, 8);
  d.columns = {
      Col("Connect", T::kMemo, 9, 3, 0, 0, kVarColumn),
      Col("Database", T::kMemo, 8, 2, 0, 0, kVarColumn),
      Col("DateCreate", T::kDate, 4, 1, 10, 8, kFixedColumn),
      Col("DateUpdate", T::kDate, 5, 1, 18, 8, kFixedColumn),
      Col("Flags", T::kLong, 7, 2, 26, 4, kFixedColumn),
      Col("ForeignName", T::kText, 10, 4, 0, 510, kVarColumn),
      Col("Id", T::kLong, 0, 0, 0, 4, kFixedColumn),
      Col("Lv", T::kOle, 13, 7, 0, 0, kVarColumn),
      Col("LvExtra", T::kOle, 16, 10, 0, 0, kVarColumn),
      Col("LvModule", T::kOle, 15, 9, 0, 0, kVarColumn),
      Col("LvProp", T::kOle, 14, 8, 0, 0, kVarColumn),
      Col("Name", T::kText, 2, 0, 0, 510, kVarColumn),
      Col("Owner", T::kBinary, 6, 1, 0, 510, kSidColumn),
      Col("ParentId", T::kLong, 1, 0, 4, 4, kFixedColumn),
      Col("RmtInfoLong", T::kOle, 12, 6, 0, 0, kVarColumn),
      Col("RmtInfoShort", T::kBinary, 11, 5, 0, 510, kVarColumn),
      Col("Type", T::kInteger, 3, 1, 8, 2, kFixedColumn),
  };
  d.real_indexes = {Real({1, 2}, kIdxUnique, 8), Real({0}, kIdxUnique, 8)};
  d.indexes = {Logical("Id", 1, 1, kIdxPrimary), Logical("ParentIdName", 0, 0, kIdxNormal)};
  // One pair of maps per long-value column, listed in stored column order.
  for (uint16_t col : {9, 8, 13, 16, 15, 14, 12}) d.long_value_maps.push_back({col, 0, 0});
  return d;
}

TableDef MSysACEsDef() {
  using T = ColumnType;
  TableDef d = SystemTable(4, 1, 16);
  d.columns = {
      Col("ACM", T::kLong, 2, 1, 4, 4, kFixedColumn),
      Col("FInheritable", T::kBoolean, 3, 1, 0, 1, kFixedColumn),
      Col("ObjectId", T::kLong, 0, 0, 0, 4, kFixedColumn),
      Col("SID", T::kBinary, 1, 0, 0, 510, kSidColumn),
  };
  // The slot count of this non-unique index is 8: the distinct ObjectIds.
  d.real_indexes = {Real({0}, kIdxRequired, 8)};
  d.indexes = {Logical("ObjectId", 0, 0, kIdxNormal)};
  return d;
}

TableDef MSysQueriesDef() {
  using T = ColumnType;
  TableDef d = SystemTable(8, 4, 0);
  d.columns = {
      Col("Attribute", T::kByte, 1, 0, 4, 1, kFixedColumn),
      Col("Expression", T::kMemo, 5, 3, 0, 0, kVarColumn),
      Col("Flag", T::kInteger, 6, 4, 5, 2, kFixedColumn),
      Col("LvExtra", T::kLong, 7, 4, 7, 4, kFixedColumn),
      Col("Name1", T::kText, 3, 1, 0, 510, kVarColumn),
      Col("Name2", T::kText, 4, 2, 0, 510, kVarColumn),
      Col("ObjectId", T::kLong, 0, 0, 0, 4, kFixedColumn),
      Col("Order", T::kBinary, 2, 0, 0, 510, kVarColumn),
  };
  d.real_indexes = {Real({0, 1, 2}, kIdxUnique, 0)};
  d.indexes = {Logical("ObjectIdAttribute", 0, 0, kIdxPrimary)};
  d.long_value_maps.push_back({5, 0, 0});
  return d;
}

TableDef MSysRelationshipsDef() {
  using T = ColumnType;
  TableDef d = SystemTable(8, 5, 0);
  d.columns = {
      Col("ccolumn", T::kLong, 2, 1, 4, 4, kFixedColumn),
      Col("grbit", T::kLong, 1, 1, 0, 4, kFixedColumn),
      Col("icolumn", T::kLong, 3, 1, 8, 4, kFixedColumn),
      Col("szColumn", T::kText, 5, 2, 0, 510, kVarColumn),
      Col("szObject", T::kText, 4, 1, 0, 510, kVarColumn),
      Col("szReferencedColumn", T::kText, 7, 4, 0, 510, kVarColumn),
      Col("szReferencedObject", T::kText, 6, 3, 0, 510, kVarColumn),
      Col("szRelationship", T::kText, 0, 0, 0, 510, kVarColumn),
  };
  d.real_indexes = {Real({0}, kIdxIgnoreNulls, 0), Real({4}, kIdxIgnoreNulls, 0),
                    Real({6}, kIdxIgnoreNulls, 0)};
  d.indexes = {Logical("szObject", 1, 1, kIdxNormal),
               Logical("szReferencedObject", 2, 2, kIdxNormal),
               Logical("szRelationship", 0, 0, kIdxNormal)};
  return d;
}

void PlaceAsNewDatabase(TableDef& d) {
  // Usage-map rows on page 6 go table by table: owned pages, pages with
  // room, the long-value maps (by column number), then one per real index.
  struct Placement {
    uint32_t tdef;
    uint8_t first_row;
    std::vector<uint32_t> roots;
  };
  Placement p;
  if (d.FindColumn("ParentId")) p = {2, 0, {7, 8}};
  else if (d.FindColumn("FInheritable")) p = {3, 18, {9}};
  else if (d.FindColumn("Expression")) p = {4, 21, {10}};
  else if (d.FindColumn("szRelationship")) p = {5, 26, {11, 12, 13}};
  else throw std::invalid_argument("not a system table definition");

  d.page = p.tdef;
  uint8_t row = p.first_row;
  d.owned_pages = MapRow(row++);
  d.free_pages = MapRow(row++);
  std::vector<uint16_t> lv_columns;
  for (const auto& m : d.long_value_maps) lv_columns.push_back(m.column_number);
  std::sort(lv_columns.begin(), lv_columns.end());
  for (uint16_t col : lv_columns) {
    for (auto& m : d.long_value_maps) {
      if (m.column_number != col) continue;
      m.used_pages = MapRow(row++);
      m.free_pages = MapRow(row++);
    }
  }
  for (size_t i = 0; i < d.real_indexes.size(); ++i) {
    d.real_indexes[i].used_pages = MapRow(row++);
    d.real_indexes[i].first_page = p.roots.at(i);
  }
}

const std::vector<UsageMapRow>& UsageMapRows() {
  static const std::vector<UsageMapRow> rows = [] {
    std::vector<UsageMapRow> out;
    auto add = [&](uint32_t tdef, std::string what, std::vector<uint32_t> pages) {
      out.push_back({static_cast<uint8_t>(out.size()), tdef, std::move(what), std::move(pages)});
    };
    add(2, "MSysObjects owned pages", {14});
    add(2, "MSysObjects pages with room", {14});
    for (const char* col : {"Database", "Connect", "RmtInfoLong", "Lv", "LvProp", "LvModule", "LvExtra"}) {
      add(2, std::string("MSysObjects.") + col + " long-value pages", {});
      add(2, std::string("MSysObjects.") + col + " long-value pages with room", {});
    }
    add(2, "MSysObjects ParentIdName index pages", {7});
    add(2, "MSysObjects Id index pages", {8});
    add(3, "MSysACEs owned pages", {15});
    add(3, "MSysACEs pages with room", {15});
    add(3, "MSysACEs ObjectId index pages", {9});
    add(4, "MSysQueries owned pages", {});
    add(4, "MSysQueries pages with room", {});
    add(4, "MSysQueries.Expression long-value pages", {});
    add(4, "MSysQueries.Expression long-value pages with room", {});
    add(4, "MSysQueries ObjectIdAttribute index pages", {10});
    add(5, "MSysRelationships owned pages", {});
    add(5, "MSysRelationships pages with room", {});
    add(5, "MSysRelationships szRelationship index pages", {11});
    add(5, "MSysRelationships szObject index pages", {12});
    add(5, "MSysRelationships szReferencedObject index pages", {13});
    return out;
  }();
  return rows;
}

const std::vector<IndexLeaf>& IndexLeaves() {
  static const std::vector<IndexLeaf> leaves = [] {
    struct E {
      const char* key;
      uint32_t page;
      uint8_t row;
    };
    auto leaf = [](uint32_t page, uint32_t tdef, const char* index, std::vector<E> es) {
      IndexLeaf l{page, tdef, index, {}};
      for (const E& e : es) l.entries.push_back({FromHex(e.key), e.page, e.row});
      return l;
    };
    // ParentId (Long: 0x7f, big-endian with the sign bit flipped), then Name
    // (0x7f, General sort bytes, 0x01, 0x00).
    return std::vector<IndexLeaf>{
        leaf(7, 2, "ParentIdName",
             {{"7f8f0000007f4f4a6d4a4c4a6b516b0100", 14, 1},          // Databases
              {"7f8f0000007f69515e4a6d5964626b5759666b0100", 14, 2},  // Relationships
              {"7f8f0000007f6d4a4c5e516b0100", 14, 0},                // Tables
              {"7f8f0000017f606b766b4a4d516b0100", 14, 5},            // MSysACEs
              {"7f8f0000017f606b766b644c5b514d6d6b0100", 14, 4},      // MSysObjects
              {"7f8f0000017f606b766b686f516959516b0100", 14, 6},      // MSysQueries
              {"7f8f0000017f606b766b69515e4a6d5964626b5759666b0100", 14, 7},  // MSysRelationships
              {"7f8f0000027f606b766b4f4c0100", 14, 3}}),              // MSysDb
        leaf(8, 2, "Id",
             {{"7f80000002", 14, 4}, {"7f80000003", 14, 5}, {"7f80000004", 14, 6},
              {"7f80000005", 14, 7}, {"7f8f000001", 14, 0}, {"7f8f000002", 14, 1},
              {"7f8f000003", 14, 2}, {"7f90000000", 14, 3}}),
        // Equal keys in row-pointer order.
        leaf(9, 3, "ObjectId",
             {{"7f80000002", 15, 0},  {"7f80000002", 15, 13}, {"7f80000003", 15, 1},
              {"7f80000004", 15, 2},  {"7f80000004", 15, 11}, {"7f80000005", 15, 3},
              {"7f80000005", 15, 12}, {"7f8f000001", 15, 4},  {"7f8f000001", 15, 5},
              {"7f8f000001", 15, 14}, {"7f8f000002", 15, 8},  {"7f8f000003", 15, 6},
              {"7f8f000003", 15, 7},  {"7f8f000003", 15, 15}, {"7f90000000", 15, 9},
              {"7f90000000", 15, 10}}),
        leaf(10, 4, "ObjectIdAttribute", {}),
        leaf(11, 5, "szRelationship", {}),
        leaf(12, 5, "szObject", {}),
        leaf(13, 5, "szReferencedObject", {}),
    };
  }();
  return leaves;
}

}  // namespace jet::catalog
