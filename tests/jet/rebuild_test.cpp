// The rebuild writer on a description made by hand: rows the new file
// refuses and relations its rows break, handed to the caller or ending
// the write with nothing at the path.
#include "jet/rebuild.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {

namespace rb = jet::rebuild;
using jet::Value;

rb::Column Col(const char* name, jet::ColumnType type, bool auto_number = false) {
  rb::Column c;
  c.column.name = name;
  c.column.type = type;
  c.column.auto_number = auto_number;
  return c;
}

jet::NewIndex PrimaryKey() {
  jet::NewIndex i;
  i.name = "PrimaryKey";
  i.columns = {"Id"};
  i.primary = true;
  return i;
}

rb::Database TwoTables() {
  rb::Database db;
  rb::Table parent;
  parent.name = "Padre";
  parent.columns = {Col("Id", jet::ColumnType::kLong), Col("Nombre", jet::ColumnType::kText)};
  parent.indexes = {PrimaryKey()};
  rb::Table child;
  child.name = "Hijo";
  child.columns = {Col("Id", jet::ColumnType::kLong, true), Col("Padre", jet::ColumnType::kLong)};
  child.indexes = {PrimaryKey()};
  db.tables = {child, parent};  // the referencing table first
  db.relations.push_back({"PadreHijo", "Padre", "Hijo", {{"Id", "Padre"}}, 0});
  return db;
}

// Padre 1, 2, a second 2 and a 3 too long for its column; Hijo rows
// pointing at 1, 2 and 9.
void Rows(size_t table, const rb::RowSink& sink) {
  std::vector<std::vector<Value>> rows;
  if (table == 1) {
    rows = {{Value(int32_t{1}), Value(std::string("uno"))},
            {Value(int32_t{2}), Value(std::string("dos"))},
            {Value(int32_t{2}), Value(std::string("otro dos"))},
            {Value(int32_t{3}), Value(std::string(300, 't'))}};
  } else {
    rows = {{Value(int32_t{7}), Value(int32_t{1})},
            {Value(int32_t{8}), Value(int32_t{2})},
            {Value(int32_t{9}), Value(int32_t{9})}};
  }
  for (auto& r : rows) sink(r);
}

TEST(RebuildTest, RefusedRowsAndBrokenRelationsGoToTheCallerOrEndTheWrite) {
  testing_support::TempDir dir;
  for (bool rows_first : {false, true}) {
    SCOPED_TRACE(rows_first ? "relations after the rows" : "relations before the rows");
    const std::string path = dir.File(rows_first ? "a.mdb" : "b.mdb");
    std::vector<std::pair<size_t, int>> refused;
    std::vector<std::string> loose;
    rb::Options options;
    options.on_refused_row = [&](size_t t, const std::vector<Value>&, const jet::JetError& e) {
      refused.push_back({t, e.number()});
    };
    if (rows_first)
      options.on_unenforced_relation = [&](const rb::Relation& r) { loose.push_back(r.name); };
    const rb::Report report = rb::WriteDatabase(path, TwoTables(), rb::RowSource(Rows), options);

    // The duplicate key and the oversized text are refused either way; the
    // row without its parent is refused when the relation came first, else
    // the relation loosens.
    EXPECT_EQ(report.rows_stored[1], 2u);
    EXPECT_EQ(report.rows_stored[0], rows_first ? 3u : 2u);
    std::vector<std::pair<size_t, int>> expected = {{1, jet::kErrDuplicateKey},
                                                    {1, jet::kErrFieldTooSmall}};
    if (!rows_first) expected.push_back({0, jet::kErrNoRelatedRecord});
    EXPECT_EQ(refused, expected);
    EXPECT_EQ(loose,
              rows_first ? std::vector<std::string>{"PadreHijo"} : std::vector<std::string>{});

    auto db = jet::dao::DBEngine::Instance().OpenDatabase(path, false, true);
    ASSERT_EQ(db.Relations().size(), 1u);
    EXPECT_EQ(db.Relations()[0].Attributes() & jet::dao::dbRelationDontEnforce,
              rows_first ? jet::dao::dbRelationDontEnforce : 0);
    EXPECT_EQ(db.GetTableDef("Hijo").RecordCount(), rows_first ? 3 : 2);
    EXPECT_EQ(db.GetTableDef("Padre").RecordCount(), 2);
    db.Close();
    if (testing_support::UseMdbtools()) {
      EXPECT_EQ(testing_support::MdbCount(path, "Hijo"), rows_first ? 3 : 2);
    }
    if (testing_support::UseMdbReader()) {
      EXPECT_EQ(testing_support::MdbReaderDump(path)["tables"].size(), 2u);
    }
  }
  // Without the callers' hands the first refusal ends the write, and
  // nothing appears.
  const std::string path = dir.File("c.mdb");
  EXPECT_JET_ERROR(rb::WriteDatabase(path, TwoTables(), rb::RowSource(Rows)), jet::kErrDuplicateKey);
  EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
