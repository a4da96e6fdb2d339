// Row integrity: field rules, unique and required indexes, relationships
// with and without cascades; every refusal leaves the tables unchanged. The
// index seek is checked against a full read of a multi-level B-tree.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>


#include "jet/database.h"
#include "jet/error.h"
#include "jet/index_builder.h"
#include "jet/index_key.h"
#include "jet/integrity.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/new_tables.h"

namespace jet {
namespace {

using testing_support::ErrorOf;

using testing_support::TempDir;


NewColumn Col(const std::string& name, ColumnType type, std::optional<bool> required = {},
              std::optional<bool> allow_zero_length = {}) {
  NewColumn c;
  c.name = name;
  c.type = type;
  c.size = type == ColumnType::kText ? 20 : -1;
  c.required = required;
  c.allow_zero_length = allow_zero_length;
  return c;
}

using testing_support::Idx;

Value L(int32_t v) { return Value(v); }

size_t Rows(Table& t) {
  size_t n = 0;
  Table::Scan s(t);
  while (s.Next()) ++n;
  return n;
}

// Every row of a table, by its first column.
std::map<int32_t, std::vector<Value>> ByKey(Table& t) {
  std::map<int32_t, std::vector<Value>> out;
  Table::Scan s(t);
  std::vector<Value> v;
  while (s.Next()) {
    t.DecodeRow(s.bytes(), v);
    out[v[0].as<int32_t>()] = v;
  }
  return out;
}

RowId Find(Table& t, int32_t key) {
  Table::Scan s(t);
  std::vector<Value> v;
  while (s.Next()) {
    t.DecodeRow(s.bytes(), v);
    if (v[0].as<int32_t>() == key) return s.row_id();
  }
  throw JetError(kErrNoCurrentRecord);
}

class IntegrityTest : public ::testing::Test {
 protected:
  void SetUp() override { fs = FileState::Create((dir.path() / "i.mdb").string(), "", false); }
  void Insert(const std::string& t, std::vector<Value> v) { fs->InsertRow(fs->GetTable(t), v); }
  int TryInsert(const std::string& t, std::vector<Value> v) {
    return ErrorOf([&] { Insert(t, v); });
  }
  int TryDelete(const std::string& t, int32_t key) {
    Table& tb = fs->GetTable(t);
    RowId id = Find(tb, key);
    return ErrorOf([&] { fs->DeleteRow(tb, id, tb.ReadRow(id)); });
  }
  int TryUpdate(const std::string& t, int32_t key, size_t column, Value v) {
    Table& tb = fs->GetTable(t);
    RowId id = Find(tb, key);
    std::vector<Value> old = tb.ReadRow(id);
    std::vector<Value> now = old;
    now[column] = std::move(v);
    return ErrorOf([&] { fs->UpdateRow(tb, id, old, now); });
  }
  // Cliente <- Asunto <- Actuacion, each relation with `attributes`.
  void Chain(int to_asunto, int to_actuacion) {
    fs->CreateTable("Cliente", {Col("Id", ColumnType::kLong), Col("Nombre", ColumnType::kText)},
                    {Idx("PrimaryKey", {"Id"}, true)});
    fs->CreateTable("Asunto", {Col("Id", ColumnType::kLong), Col("Cliente", ColumnType::kLong)},
                    {Idx("PrimaryKey", {"Id"}, true)});
    fs->CreateTable("Actuacion", {Col("Id", ColumnType::kLong), Col("Asunto", ColumnType::kLong)},
                    {Idx("PrimaryKey", {"Id"}, true)});
    fs->CreateRelation({"ClienteAsunto", "Cliente", "Asunto", {{"Id", "Cliente"}}, to_asunto});
    fs->CreateRelation({"AsuntoActuacion", "Asunto", "Actuacion", {{"Id", "Asunto"}}, to_actuacion});
    Insert("Cliente", {L(1), Value("Ana")});
    Insert("Cliente", {L(2), Value("Luis")});
    Insert("Asunto", {L(10), L(1)});
    Insert("Asunto", {L(11), L(1)});
    Insert("Asunto", {L(20), L(2)});
    Insert("Actuacion", {L(100), L(10)});
    Insert("Actuacion", {L(101), L(11)});
    Insert("Actuacion", {L(200), L(20)});
    Insert("Actuacion", {L(300), Value::Null()});
  }

  TempDir dir;
  std::shared_ptr<FileState> fs;
};

TEST_F(IntegrityTest, FieldRulesAndIndexesRefuseBeforeWriting) {
  fs->CreateTable("T",
                  {Col("Id", ColumnType::kLong), Col("Nombre", ColumnType::kText, true),
                   Col("Nota", ColumnType::kText, {}, false), Col("Libre", ColumnType::kText, {}, true),
                   Col("Memo", ColumnType::kMemo, {}, false), Col("Dni", ColumnType::kText)},
                  {Idx("PrimaryKey", {"Id"}, true), Idx("Dni", {"Dni"}, false, true)});
  Insert("T", {L(1), Value("a"), Value::Null(), Value(""), Value::Null(), Value("X1")});
  Table& t = fs->GetTable("T");
  auto row = [](Value id, Value nombre, Value nota, Value memo, Value dni) {
    return std::vector<Value>{id, nombre, nota, Value::Null(), memo, dni};
  };
  const std::string required = testing_support::JetErrorText(
      [&] { Insert("T", row(L(2), Value::Null(), Value::Null(), Value::Null(), Value::Null())); });
  EXPECT_EQ(required.rfind(std::to_string(kErrRequired) + ": ", 0), 0u) << required;
  EXPECT_NE(required.find("'Nombre'"), std::string::npos) << required;
  EXPECT_EQ(TryInsert("T", row(L(2), Value("b"), Value(""), Value::Null(), Value::Null())), kErrZeroLength);
  EXPECT_EQ(TryInsert("T", row(L(2), Value("b"), Value::Null(), Value(""), Value::Null())), kErrZeroLength);
  EXPECT_EQ(TryInsert("T", row(Value::Null(), Value("b"), Value::Null(), Value::Null(), Value::Null())),
            kErrIndexNull);
  EXPECT_EQ(TryInsert("T", row(L(1), Value("b"), Value::Null(), Value::Null(), Value::Null())),
            kErrDuplicateKey);
  EXPECT_EQ(TryInsert("T", row(L(2), Value("b"), Value::Null(), Value::Null(), Value("x1"))),
            kErrDuplicateKey);  // General sort order: case folds
  // Nulls never collide in a unique index.
  Insert("T", row(L(2), Value("b"), Value::Null(), Value::Null(), Value::Null()));
  // No stored AllowZeroLength (as DDL fields have): "" goes in.
  Insert("T", row(L(3), Value(""), Value::Null(), Value::Null(), Value::Null()));
  EXPECT_EQ(Rows(t), 3u);

  // Updates: the row's own key is no duplicate; another row's is.
  EXPECT_EQ(TryUpdate("T", 1, 5, Value("X1")), 0);
  EXPECT_EQ(TryUpdate("T", 2, 5, Value("X1")), kErrDuplicateKey);
  EXPECT_EQ(TryUpdate("T", 2, 0, L(1)), kErrDuplicateKey);
  EXPECT_EQ(TryUpdate("T", 2, 1, Value::Null()), kErrRequired);
  EXPECT_EQ(TryUpdate("T", 2, 0, L(7)), 0);
  auto rows = ByKey(t);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows.count(7));
  EXPECT_TRUE(rows[7][5].is_null());
  // The unique index still holds exactly one entry per listed row.
  const RealIndexDef& dni = t.def().real_indexes[1];
  fs->Flush();
  Pager& p = fs->pager();
  auto entries = ReadIndexEntries(p.format(), dni.first_page, [&](uint32_t pg) { return p.Copy(pg); });
  EXPECT_EQ(entries.size(), 3u);
}

TEST_F(IntegrityTest, ReferencingRowsNeedTheirReferencedRow) {
  Chain(0, 0);
  Table& asunto = fs->GetTable("Asunto");
  const std::string orphan = testing_support::JetErrorText([&] { Insert("Asunto", {L(30), L(9)}); });
  EXPECT_EQ(orphan.rfind(std::to_string(kErrNoRelatedRecord) + ": ", 0), 0u) << orphan;
  EXPECT_NE(orphan.find("'Cliente'"), std::string::npos) << orphan;
  EXPECT_EQ(TryInsert("Asunto", {L(30), Value::Null()}), 0);
  EXPECT_EQ(TryUpdate("Asunto", 30, 1, L(9)), kErrNoRelatedRecord);
  EXPECT_EQ(TryUpdate("Asunto", 30, 1, L(2)), 0);
  EXPECT_EQ(Rows(asunto), 4u);

  // Without cascades a referenced row is neither deleted nor re-keyed.
  EXPECT_EQ(TryDelete("Cliente", 1), kErrRelatedRecordsExist);
  EXPECT_EQ(TryUpdate("Cliente", 1, 0, L(5)), kErrRelatedRecordsExist);
  EXPECT_EQ(TryUpdate("Cliente", 1, 1, Value("Ana María")), 0);  // key unchanged
  EXPECT_EQ(Rows(fs->GetTable("Cliente")), 2u);
  // An unreferenced one goes.
  Insert("Cliente", {L(3), Value("Eva")});
  EXPECT_EQ(TryDelete("Cliente", 3), 0);
  // Not enforced: anything goes.
  fs->CreateTable("Nota", {Col("Id", ColumnType::kLong), Col("Cliente", ColumnType::kLong)}, {});
  fs->CreateRelation({"ClienteNota", "Cliente", "Nota", {{"Id", "Cliente"}}, 2});
  EXPECT_EQ(TryInsert("Nota", {L(1), L(99)}), 0);
}

// Right after each kind of schema change, the first rows written are
// checked against the relationships as they stand then (a table that
// referred to nothing a moment ago may refer now), and the relationships
// listed are those the catalogue holds.
TEST_F(IntegrityTest, RelationshipsHoldRightAfterEverySchemaChange) {
  fs->CreateTable("Cliente", {Col("Id", ColumnType::kLong)}, {Idx("PrimaryKey", {"Id"}, true)});
  fs->CreateTable("Asunto", {Col("Id", ColumnType::kLong), Col("Cliente", ColumnType::kLong)}, {});
  Insert("Cliente", {L(1)});
  fs->CreateRelation({"ClienteAsunto", "Cliente", "Asunto", {{"Id", "Cliente"}}, 0});
  struct Change {
    const char* what;
    std::function<void()> make;
    std::vector<std::string> first;  // tables written before the others
    std::vector<std::string> referencing;
  };
  const std::vector<Change> changes = {
      {"a new table",
       [&] { fs->CreateTable("Otra", {Col("Id", ColumnType::kLong), Col("Cliente", ColumnType::kLong)}, {}); },
       {"Otra"}, {"ClienteAsunto"}},
      {"an index on the referencing table", [&] { fs->CreateIndex("Asunto", Idx("Cli", {"Cliente"})); },
       {"Otra"}, {"ClienteAsunto"}},
      {"a relationship from the table that referred to nothing",
       [&] { fs->CreateRelation({"ClienteOtra", "Cliente", "Otra", {{"Id", "Cliente"}}, 0}); }, {},
       {"ClienteAsunto", "ClienteOtra"}},
      {"a table dropped with its relationship", [&] { fs->DropTable("Otra"); }, {}, {"ClienteAsunto"}},
  };
  int32_t id = 0;
  for (const auto& c : changes) {
    SCOPED_TRACE(c.what);
    c.make();
    for (const auto& t : c.first) EXPECT_EQ(TryInsert(t, {L(++id), L(1)}), 0) << t;
    // The newest relationship is last by name: its table is checked first.
    const auto relations = fs->Relations();
    for (auto r = relations.rbegin(); r != relations.rend(); ++r) {
      EXPECT_EQ(TryInsert(r->foreign_table, {L(++id), L(9)}), kErrNoRelatedRecord) << r->name;
      EXPECT_EQ(TryInsert(r->foreign_table, {L(++id), L(1)}), 0) << r->name;
    }
    std::vector<std::string> listed;
    for (const auto& r : relations) listed.push_back(r.name);
    EXPECT_EQ(listed, c.referencing);
  }
  // What was listed is what the file holds.
  fs->CreateRelation({"AsuntoPropio", "Cliente", "Asunto", {{"Id", "Id"}}, 2});
  auto listing = [](FileState& f) {
    std::vector<std::string> out;
    for (const auto& r : f.Relations()) {
      out.push_back(r.name + " " + r.table + " " + r.foreign_table + " " + std::to_string(r.attributes));
      for (const auto& [field, foreign] : r.fields) out.back() += " " + field + "=" + foreign;
    }
    return out;
  };
  const auto kept = listing(*fs);
  fs.reset();
  fs = FileState::Open((dir.path() / "i.mdb").string(), false, true, "");
  EXPECT_EQ(kept, listing(*fs));
  EXPECT_EQ(kept.size(), 2u);
}

TEST_F(IntegrityTest, DeletesCascadeThroughEveryLevel) {
  Chain(4096, 4096);
  EXPECT_EQ(TryDelete("Cliente", 1), 0);
  EXPECT_EQ(ByKey(fs->GetTable("Cliente")).count(1), 0u);
  auto asuntos = ByKey(fs->GetTable("Asunto"));
  EXPECT_EQ(asuntos.size(), 1u);
  EXPECT_TRUE(asuntos.count(20));
  auto actuaciones = ByKey(fs->GetTable("Actuacion"));
  EXPECT_EQ(actuaciones.size(), 2u);  // 200, and 300 with a null key
  EXPECT_TRUE(actuaciones.count(200) && actuaciones.count(300));
  // The foreign-key index lost the cascaded rows' entries.
  Table& act = fs->GetTable("Actuacion");
  const TableDef& d = act.def();
  fs->Flush();
  for (const auto& li : d.indexes) {
    if (li.name != "AsuntoActuacion") continue;
    Pager& p = fs->pager();
    auto e = ReadIndexEntries(p.format(), d.real_indexes[li.real_index].first_page,
                              [&](uint32_t pg) { return p.Copy(pg); });
    EXPECT_EQ(e.size(), 2u);
  }
}

TEST_F(IntegrityTest, ACascadeStoppedDeeperDownChangesNothing) {
  Chain(4096, 0);
  EXPECT_EQ(TryDelete("Cliente", 1), kErrRelatedRecordsExist);
  EXPECT_EQ(ByKey(fs->GetTable("Cliente")).size(), 2u);
  EXPECT_EQ(ByKey(fs->GetTable("Asunto")).size(), 3u);
  EXPECT_EQ(ByKey(fs->GetTable("Actuacion")).size(), 4u);
  // Once the deepest rows are gone the cascade goes through.
  EXPECT_EQ(TryDelete("Actuacion", 100), 0);
  EXPECT_EQ(TryDelete("Actuacion", 101), 0);
  EXPECT_EQ(TryDelete("Cliente", 1), 0);
  EXPECT_EQ(ByKey(fs->GetTable("Asunto")).size(), 1u);
}

TEST_F(IntegrityTest, KeyChangesCascadeUnder256AndDeletesAreRefused) {
  Chain(256, 256);
  EXPECT_EQ(TryDelete("Cliente", 1), kErrRelatedRecordsExist);
  EXPECT_EQ(TryUpdate("Cliente", 1, 0, L(5)), 0);
  auto asuntos = ByKey(fs->GetTable("Asunto"));
  EXPECT_EQ(asuntos[10][1].as<int32_t>(), 5);
  EXPECT_EQ(asuntos[11][1].as<int32_t>(), 5);
  EXPECT_EQ(asuntos[20][1].as<int32_t>(), 2);
  // Two levels: a re-keyed Asunto carries its Actuacion along.
  EXPECT_EQ(TryUpdate("Asunto", 10, 0, L(15)), 0);
  EXPECT_EQ(ByKey(fs->GetTable("Actuacion"))[100][1].as<int32_t>(), 15);
  // The cascaded rows are found under their new key, and only there.
  EXPECT_EQ(TryInsert("Asunto", {L(40), L(5)}), 0);
  EXPECT_EQ(TryInsert("Asunto", {L(41), L(1)}), kErrNoRelatedRecord);
  EXPECT_EQ(TryDelete("Cliente", 5), kErrRelatedRecordsExist);
  // A re-key that collides with another row changes nothing anywhere.
  EXPECT_EQ(TryUpdate("Cliente", 5, 0, L(2)), kErrDuplicateKey);
  EXPECT_EQ(ByKey(fs->GetTable("Asunto"))[11][1].as<int32_t>(), 5);
}

// Either way in which entries reach a tree: into its pages as each row goes
// in (the table had rows when the inserts began), or held and written on
// Flush (it had none).
class IndexSeek : public ::testing::TestWithParam<bool> {};

TEST_P(IndexSeek, FindsEveryKeyOfAMultiLevelTree) {
  const bool started_empty = GetParam();
  TempDir dir;
  auto fs = FileState::Create((dir.path() / "s.mdb").string(), "", false);
  fs->CreateTable("T", {Col("Id", ColumnType::kLong), Col("Grupo", ColumnType::kLong)},
                  {Idx("PrimaryKey", {"Id"}, true), Idx("Grupo", {"Grupo"})});
  Table& t = fs->GetTable("T");
  constexpr int32_t kRows = 12000;
  for (int32_t i = 0; i < kRows; ++i) {
    // Keys arrive out of order so pages split everywhere.
    int32_t id = static_cast<int32_t>((static_cast<int64_t>(i) * 7919) % kRows);
    fs->InsertRow(t, {L(id), L(id % 13)});
    if (i == 0 && !started_empty) fs->Flush();
    if (i == 5000) {
      // Duplicates are refused and rows found before anything is written.
      EXPECT_JET_ERROR(fs->InsertRow(t, {L(id), L(0)}), kErrDuplicateKey);
      std::vector<RowId> found;
      Bytes key;
      AppendKeyColumn(key, L(id % 13), t.def().columns[1], true);
      fs->FindIndexRows(t, 1, key, SIZE_MAX, found);
      EXPECT_GT(found.size(), 300u);
      for (size_t k = 1; k < found.size(); ++k) EXPECT_LT(found[k - 1].Packed(), found[k].Packed());
    }
  }
  fs->Flush();
  Pager& p = fs->pager();
  const RealIndexDef& pk = t.def().real_indexes[0];
  const RealIndexDef& grupo = t.def().real_indexes[1];
  EXPECT_EQ(ParseIndexPage(p.format(), p.Read(pk.first_page)).leaf, false);
  for (int32_t id : {0, 1, 2, 4999, 11111, kRows - 1}) {
    Bytes key;
    AppendKeyColumn(key, L(id), t.def().columns[0], true);
    auto rows = SeekIndex(p, pk.first_page, key, 5);
    ASSERT_EQ(rows.size(), 1u) << id;
    EXPECT_EQ(t.ReadRow(rows[0])[0].as<int32_t>(), id);
  }
  for (int32_t missing : {-1, kRows, kRows + 1000}) {
    Bytes key;
    AppendKeyColumn(key, L(missing), t.def().columns[0], true);
    EXPECT_TRUE(SeekIndex(p, pk.first_page, key, 5).empty());
  }
  // A run of equal keys across leaves: every one, none other.
  Bytes key;
  AppendKeyColumn(key, L(5), t.def().columns[1], true);
  auto rows = SeekIndex(p, grupo.first_page, key, SIZE_MAX);
  size_t want = 0;
  for (const auto& e : ReadIndexEntries(p.format(), grupo.first_page, [&](uint32_t pg) { return p.Copy(pg); })) {
    want += CompareKeys(e.key, key) == 0;
  }
  EXPECT_EQ(rows.size(), want);
  EXPECT_GT(want, 900u);
  for (RowId r : rows) EXPECT_EQ(t.ReadRow(r)[1].as<int32_t>(), 5);
  EXPECT_JET_ERROR(fs->InsertRow(t, {L(11111), L(0)}), kErrDuplicateKey);
}

INSTANTIATE_TEST_SUITE_P(Trees, IndexSeek, ::testing::Bool());

// Entries held past what they may take are written mid-fill; the rows after
// that go to the pages, and both halves answer for duplicates and seeks.
TEST(HeldIndexes, OverTheirBudgetTheyGoToThePagesMidFill) {
  TempDir dir;
  auto fs = FileState::Create((dir.path() / "b.mdb").string(), "", false);
  fs->SetHeldIndexBudget(64 << 10);
  fs->CreateTable("T", {Col("Id", ColumnType::kLong), Col("Nombre", ColumnType::kText)},
                  {Idx("PrimaryKey", {"Id"}, true), Idx("Nombre", {"Nombre"}, false, true)});
  Table& t = fs->GetTable("T");
  constexpr int32_t kRows = 30000;
  auto name = [](int32_t id) { return "Muñoz Peña " + std::to_string(id * 7 % 1000) + "-" + std::to_string(id); };
  for (int32_t i = 0; i < kRows; ++i) {
    const int32_t id = static_cast<int32_t>((static_cast<int64_t>(i) * 7919) % kRows);
    fs->InsertRow(t, {L(id), Value(name(id))});
  }
  // Refused whether the first row went in before or after the entries were written.
  EXPECT_JET_ERROR(fs->InsertRow(t, {L(kRows + 1), Value(name(0))}), kErrDuplicateKey);
  EXPECT_JET_ERROR(fs->InsertRow(t, {L(kRows + 2), Value(name(kRows - 1))}), kErrDuplicateKey);
  EXPECT_JET_ERROR(fs->InsertRow(t, {L(7919), Value("otro")}), kErrDuplicateKey);
  fs->Flush();
  Pager& p = fs->pager();
  for (size_t i = 0; i < 2; ++i) {
    auto entries = ReadIndexEntries(p.format(), t.def().real_indexes[i].first_page,
                                    [&](uint32_t pg) { return p.Copy(pg); });
    EXPECT_EQ(entries.size(), static_cast<size_t>(kRows));
  }
  for (int32_t id : {0, 1, 7919, kRows - 1}) {
    std::vector<RowId> rows;
    fs->FindIndexRows(t, 1, RowIndexKey(t.def(), t.def().real_indexes[1], {L(id), Value(name(id))}),
                      5, rows);
    ASSERT_EQ(rows.size(), 1u) << id;
    EXPECT_EQ(t.ReadRow(rows[0])[0].as<int32_t>(), id);
  }
}


}  // namespace
}  // namespace jet
