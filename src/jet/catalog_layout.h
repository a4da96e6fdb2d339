// What the Jet engine puts in a brand-new Jet 4 database: the definitions of
// its four system tables, the catalogue rows (objects, access control
// entries) and where every page goes. CreateDatabase writes these; the data
// was read off databases the engine itself created through its catalogue
// interface, so files we write look like the engine's own.
//
// Physical layout of a new database (4096-byte pages, 16 pages):
//
//   page  type        owner  holds
//   0     header      -      database header
//   1     data (01)   1      global usage map: 2 rows of 69 bytes. Row 0 is an
//                            inline map (type 0, start page 0, 64 bitmap bytes)
//                            with a bit SET for every page from the end of the
//                            file (16) up to 511, i.e. pages still free to hand
//                            out; bits of pages 0..15 are clear. Row 1: 69 zero
//                            bytes. The owner field (offset 4) holds 1.
//   2..5  tdef (02)   -      MSysObjects, MSysACEs, MSysQueries, MSysRelationships
//                            (one page each; free-space word = unused bytes - 8)
//   6     data (01)   0      31 usage-map rows of 69 bytes, see UsageMapRows()
//   7     leaf (04)   2      MSysObjects ParentIdName index (8 entries)
//   8     leaf (04)   2      MSysObjects Id index (8 entries)
//   9     leaf (04)   3      MSysACEs ObjectId index (16 entries)
//   10    leaf (04)   4      MSysQueries ObjectIdAttribute index (empty)
//   11    leaf (04)   5      MSysRelationships szRelationship index (empty)
//   12    leaf (04)   5      MSysRelationships szObject index (empty)
//   13    leaf (04)   5      MSysRelationships szReferencedObject index (empty)
//   14    data (01)   2      the 8 MSysObjects rows, in NewDatabaseObjects() order
//   15    data (01)   3      the 16 MSysACEs rows, in NewDatabaseAces() order
//
// Data pages: rows packed from the page end downwards in row-number order, no
// flag bits in the row offset table, free space = 4096 - 14 - 2*rows - bytes
// of rows (page 6: 1881, page 14: 3400, page 15: 3746). Text is stored as
// plain UCS-2 (no compression: the system columns lack the compressed flag).
//
// Index leaf pages: type 4, byte 1 = 1, free space, tdef page, 4 zero bytes,
// prev = next = tail = 0, prefix length 0 (the engine does not factor out
// the common prefix on these pages), entry bitmask at 27 with a bit set at
// the end offset of each entry (relative to 0x1e0), entries from 0x1e0 in
// key order: key bytes then the row pointer (3-byte big-endian page, row).
// Empty leaf: free space 3616. Expected keys: IndexLeaves().
//
// A variant the engine also produces (a 19-page file): the usage-map rows of
// MSysACEs, MSysQueries and MSysRelationships go on pages 9, 11 and 13 of
// their own (3, 5 and 5 rows; page 6 keeps only MSysObjects' 18 rows), with
// every later page shifted. Both read fine; we write the compact form.
//
// Bytes that differ between engine-written files and carry no meaning (so
// any value reads back the same): the fixed-offset word of variable-length
// columns, the 4 bytes between an index's root page and its flags byte, and
// 8 bytes at offset 32 of the TDEF header. We write zeros there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/tabledef.h"

namespace jet::catalog {

// MSysObjects identifiers and types.
inline constexpr int32_t kContainersParentId = 0x0F000000;
inline constexpr int32_t kTablesContainerId = 0x0F000001;
inline constexpr int32_t kDatabasesContainerId = 0x0F000002;
inline constexpr int32_t kRelationshipsContainerId = 0x0F000003;
inline constexpr int32_t kMSysDbId = 0x10000000;
// Objects that have no TDEF (relationships, queries, ...) take ids counting
// up from here; tables use their TDEF page number.
inline constexpr int32_t kFirstNonTableObjectId = static_cast<int32_t>(0x80000000u);

inline constexpr int16_t kObjectTable = 1;
inline constexpr int16_t kObjectDatabase = 2;
inline constexpr int16_t kObjectContainer = 3;
inline constexpr int16_t kObjectQuery = 5;  // parent: the Tables container
inline constexpr int16_t kObjectRelationship = 8;

// Flags column: set on every object the engine creates with the database;
// user tables and relationships get 0.
inline constexpr int32_t kSystemObjectFlags = static_cast<int32_t>(0x80000000u);

// Access masks (MSysACEs.ACM) the engine writes.
inline constexpr int32_t kAcmSystemTableOwner = 0x60000;   // Admin on system tables
inline constexpr int32_t kAcmRelationshipsTable = 0xE0000; // Admin on MSysRelationships
inline constexpr int32_t kAcmContainerAdmin = 0x60001;     // Admin on Tables/Relationships
inline constexpr int32_t kAcmCreator = 0xF00FE;            // inherited by an object's creator
inline constexpr int32_t kAcmTablesFull = 0xFFEFF;         // Users on Tables, and new tables
inline constexpr int32_t kAcmRelationshipsFull = 0xFFFFF;  // Users on Relationships
inline constexpr int32_t kAcmDatabaseAdmin = 0x6000E;      // Admin on MSysDb
inline constexpr int32_t kAcmDatabaseUsers = 0xE;          // Users on MSysDb
inline constexpr int32_t kAcmSystemTableUsers = 0x14;      // Users on system tables

// The security identifiers of a new database, by the part they play:
//   kEngine  owns the containers and system tables; never appears in an ACE.
//   kAdmin   the creating (default) user: owns MSysDb, owns user objects.
//   kUsers   the group every user belongs to.
//   kCreator placeholder whose inheritable ACE goes to whoever creates a child.
// The engine stores SIDs scrambled per file: the same roles have different
// bytes in every database, and databases sharing the header's creation date
// share them, so the bytes below are only valid together with the header of
// the reference database they come from (see ReferenceHeaderCreationDate).
enum class Sid : uint8_t { kEngine, kAdmin, kUsers, kCreator };
Bytes SidBytes(Sid sid);
const char* SidName(Sid sid);
// The creation date (days since 1899-12-30) in the header of the database
// whose SID bytes SidBytes returns; rows' DateCreate may be any date.
double ReferenceHeaderCreationDate();

// A row of MSysObjects. Columns not listed here (Database, Connect,
// ForeignName, RmtInfoShort, RmtInfoLong, Lv, LvProp, LvModule, LvExtra) are
// null in every row the engine writes, including the MSysDb row (no
// database properties). DateCreate = DateUpdate = the creation time.
struct ObjectRow {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  Sid owner = Sid::kEngine;
  int32_t flags = 0;
  bool operator==(const ObjectRow&) const = default;
};

// A row of MSysACEs.
struct AceRow {
  int32_t object_id = 0;
  Sid sid = Sid::kAdmin;
  int32_t acm = 0;
  bool inheritable = false;
  bool operator==(const AceRow&) const = default;
};

// The rows of a new database, in the order the engine stores them (row
// number order on the table's single data page).
const std::vector<ObjectRow>& NewDatabaseObjects();
const std::vector<AceRow>& NewDatabaseAces();

// What the engine adds when a table is created: one object row (id = TDEF
// page, parent Tables, owner Admin, flags 0, no LvProp) and the ACEs its
// container hands down: the creator (Admin) gets the Creator mask, Users
// keep theirs. Rows appended in this order.
ObjectRow NewTableObject(int32_t tdef_page, const std::string& name);
std::vector<AceRow> NewTableAces(int32_t tdef_page);

// A relationship: one object row (type 8, parent Relationships, flags 0,
// owner Admin, id from the non-table counter) named referenced + referencing
// table ("Table2Table1" when Table1.fk refers to Table2.id), its ACEs, and
// one MSysRelationships row per column pair.
ObjectRow NewRelationshipObject(int32_t id, const std::string& name);
std::vector<AceRow> NewRelationshipAces(int32_t id);

// MSysRelationships.grbit bits.
inline constexpr int32_t kRelUnique = 0x1;            // one-to-one
inline constexpr int32_t kRelDontEnforce = 0x2;       // no referential integrity
inline constexpr int32_t kRelUpdateCascade = 0x100;
inline constexpr int32_t kRelDeleteCascade = 0x1000;

struct RelationshipRow {
  std::string relationship;        // szRelationship
  int32_t grbit = 0;
  int32_t column_count = 0;        // ccolumn: pairs in the relationship
  int32_t column_index = 0;        // icolumn: 0-based position of this pair
  std::string object;              // szObject: the referencing (many) table
  std::string column;              // szColumn
  std::string referenced_object;   // szReferencedObject: the referenced (one) table
  std::string referenced_column;   // szReferencedColumn
  bool operator==(const RelationshipRow&) const = default;
};
std::vector<RelationshipRow> RelationshipRows(const std::string& name, int32_t grbit,
                                              const std::string& object,
                                              const std::vector<std::string>& columns,
                                              const std::string& referenced_object,
                                              const std::vector<std::string>& referenced_columns);

// The four system table definitions with every page number zero. Columns in
// stored order (names sorted); table type 0x53; row counts of a new database.
TableDef MSysObjectsDef();
TableDef MSysACEsDef();
TableDef MSysQueriesDef();
TableDef MSysRelationshipsDef();

// The high byte of a real index's flags: set on every index the engine
// writes from Jet 4 on, on top of IndexFlags.
inline constexpr uint8_t kIdxJet4Marker = 0x80;

// Fills the page numbers of one of the definitions above as the 16-page
// layout places them (TDEF page, usage-map rows on page 6, index roots).
void PlaceAsNewDatabase(TableDef& def);

// The rows of page 6, in row order: which table and map each one is, and the
// pages its bitmap lists in a new database.
struct UsageMapRow {
  uint8_t row = 0;
  uint32_t tdef_page = 0;
  std::string what;
  std::vector<uint32_t> pages;
};
const std::vector<UsageMapRow>& UsageMapRows();

// The contents of the index leaf pages of a new database.
struct LeafEntry {
  Bytes key;         // encoded key, without the row pointer
  uint32_t page = 0; // row pointer
  uint8_t row = 0;
};
struct IndexLeaf {
  uint32_t page = 0;
  uint32_t tdef_page = 0;
  std::string index;
  std::vector<LeafEntry> entries;
};
const std::vector<IndexLeaf>& IndexLeaves();

// Size in bytes of a usage-map row on page 1 and page 6.
inline constexpr size_t kUsageMapRowSize = 69;
inline constexpr uint32_t kNewDatabasePageCount = 16;

}  // namespace jet::catalog
