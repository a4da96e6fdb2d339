// Queries an administrator types (aggregates, groups, joins, predicates,
// ordering) on a database of several thousand rows, against results
// computed here from the rows as mdb-export gives them; and index seeks,
// which must find the rows a scan finds while reading a few pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/pager.h"
#include "jet/sql.h"
#include "support/fixtures.h"
#include "support/jet_error.h"
#include "support/oracles.h"

namespace {

using jet::Value;
using Cell = std::optional<std::string>;
using Table = std::vector<std::vector<Cell>>;

constexpr int kCases = 4000;
constexpr int kClients = 200;

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Number(double x) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", x);
  return buf;
}

// A result cell against the text mdb-export would show for it: numbers
// compare as numbers, Yes/No as 1 and 0.
bool Matches(const Value& got, const Cell& want) {
  if (!want) return got.is_null();
  if (got.is_null()) return false;
  if (got.is<std::string>() || got.is<jet::Date>()) return got.ToString() == *want;
  if (got.is<bool>()) return *want == (got.as<bool>() ? "1" : "0");
  const double g = got.ToDouble(), w = std::stod(*want);
  return std::fabs(g - w) <= 1e-9 * std::max(1.0, std::fabs(w));
}

std::string Show(const Cell& c) { return c ? *c : "Null"; }

// One law-office database: clients, their cases (matters) and hearings.
// Some cases name clients that do not exist, some clients have no cases,
// and text differs only in case or trailing blanks, so that joins, groups
// and ordering meet what real data holds.
class SqlQueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing_support::TempDir;
    path_ = dir_->File("despacho.mdb");
    auto db = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(
        path_, ";LANGID=0x0409;CP=1252;COUNTRY=0");
    db.Execute("CREATE TABLE Clientes (Id COUNTER CONSTRAINT PK PRIMARY KEY, Nombre TEXT(40), Ciudad TEXT(20))");
    db.Execute("CREATE TABLE Expedientes (Num LONG CONSTRAINT PK PRIMARY KEY, Cliente LONG, "
               "Materia TEXT(20), Importe CURRENCY, Alta DATETIME, Cerrado BIT, Horas SHORT)");
    db.Execute("CREATE INDEX Materia ON Expedientes (Materia)");
    db.Execute("CREATE INDEX ClienteMateria ON Expedientes (Cliente, Materia)");
    db.Execute("CREATE TABLE Actuaciones (Id COUNTER CONSTRAINT PK PRIMARY KEY, Num LONG, Fecha DATETIME)");
    // Recordsets: thousands of INSERT statements would take seconds.
    const char* cities[] = {"Madrid", "madrid", "Sevilla", "Bilbao", nullptr, "Avila"};
    auto clients = db.OpenRecordset("Clientes");
    for (int i = 1; i <= kClients; ++i) {
      clients.AddNew();
      clients.SetValue("Nombre", Value((i % 4 == 0 ? "Núñez " : "Cliente ") + std::to_string(i)));
      if (cities[i % 6]) clients.SetValue("Ciudad", Value(std::string(cities[i % 6])));
      clients.Update();
    }
    clients.Close();
    const char* matters[] = {"Civil", "civil", "Penal", "Laboral", "Mercantil", nullptr, "civil "};
    constexpr double k2019 = 43466;  // 2019-01-01
    auto cases = db.OpenRecordset("Expedientes");
    for (int i = 1; i <= kCases; ++i) {
      int client = (i * 7) % 230 + 1;
      if (client % 10 == 0) ++client;  // clients 10, 20... have no cases
      cases.AddNew();
      cases.SetValue("Num", Value(int32_t{i}));
      cases.SetValue("Cliente", Value(int32_t{client}));
      if (matters[i % 7]) cases.SetValue("Materia", Value(std::string(matters[i % 7])));
      if (i % 11 != 0) cases.SetValue("Importe", Value(jet::Currency{(i % 97) * 12500 + 1000}));
      cases.SetValue("Alta", Value(jet::Date{k2019 + (i * 13) % 1000}));
      cases.SetValue("Cerrado", Value(i % 3 == 0));
      if (i % 9 != 0) cases.SetValue("Horas", Value(int32_t{i % 12}));
      cases.Update();
    }
    cases.Close();
    auto hearings = db.OpenRecordset("Actuaciones");
    for (int i = 1; i <= 1500; ++i) {
      hearings.AddNew();
      hearings.SetValue("Num", Value(int32_t{(i * 5) % 4100}));
      hearings.SetValue("Fecha", Value(jet::Date{k2019 + 731 + i % 300}));
      hearings.Update();
    }
    hearings.Close();
    db.Close();
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  static jet::sql::ResultSet Query(const std::string& sql) {
    return jet::sql::Query(*jet::FileState::Open(path_, false, true, ""), sql);
  }

  static void ExpectRows(const std::string& sql, const Table& want) {
    auto got = Query(sql).rows;
    ASSERT_EQ(got.size(), want.size()) << sql;
    for (size_t r = 0; r < want.size(); ++r) {
      ASSERT_EQ(got[r].size(), want[r].size()) << sql;
      for (size_t c = 0; c < want[r].size(); ++c) {
        EXPECT_TRUE(Matches(got[r][c], want[r][c]))
            << sql << "\n row " << r << " column " << c << ": got "
            << (got[r][c].is_null() ? "Null" : got[r][c].ToString()) << ", want " << Show(want[r][c]);
      }
    }
  }

  static inline testing_support::TempDir* dir_ = nullptr;
  static inline std::string path_;
};

// The rows of a table as mdb-export shows them, by column name.
struct Rows {
  testing_support::CsvTable csv;
  Cell operator()(size_t r, const std::string& column) const {
    if (csv.IsNull(r, column)) return std::nullopt;
    return csv.At(r, column);
  }
  size_t size() const { return csv.rows.size(); }
};

double Num(const Cell& c) { return std::stod(*c); }

TEST_F(SqlQueryTest, ResultsAgreeWithTheRowsMdbExportReads) {
  REQUIRE_MDBTOOLS();
  const Rows e{testing_support::MdbExport(path_, "Expedientes")};
  const Rows c{testing_support::MdbExport(path_, "Clientes")};
  const Rows a{testing_support::MdbExport(path_, "Actuaciones")};
  ASSERT_EQ(e.size(), static_cast<size_t>(kCases));
  std::map<long, size_t> client_row;
  for (size_t r = 0; r < c.size(); ++r) client_row[std::stol(*c(r, "Id"))] = r;
  std::map<long, size_t> case_row;
  for (size_t r = 0; r < e.size(); ++r) case_row[std::stol(*e(r, "Num"))] = r;

  struct Case {
    std::string sql;
    std::function<Table()> expected;
  };
  const std::vector<Case> cases = {
      {"SELECT COUNT(*), COUNT(Importe), SUM(Importe), MIN(Alta), MAX(Materia), AVG(Horas) FROM Expedientes",
       [&] {
         long count = 0, hours_n = 0;
         double sum = 0, hours = 0;
         std::string min_date = "9999", max_matter;
         for (size_t r = 0; r < e.size(); ++r) {
           if (auto v = e(r, "Importe")) ++count, sum += Num(v);
           if (auto v = e(r, "Horas")) ++hours_n, hours += Num(v);
           min_date = std::min(min_date, *e(r, "Alta"));
           if (auto v = e(r, "Materia"); v && Lower(*v) > Lower(max_matter)) max_matter = *v;
         }
         return Table{{std::to_string(e.size()), std::to_string(count), Number(sum), min_date, max_matter,
                       Number(hours / hours_n)}};
       }},
      {"SELECT Cliente, COUNT(*) AS N, SUM(Horas), MAX(Importe) FROM Expedientes WHERE Cerrado = False "
       "GROUP BY Cliente HAVING COUNT(*) > 12 ORDER BY Cliente",
       [&] {
         struct G { long n = 0; std::optional<double> hours, max; };
         std::map<long, G> groups;
         for (size_t r = 0; r < e.size(); ++r) {
           if (*e(r, "Cerrado") != "0") continue;
           G& g = groups[std::stol(*e(r, "Cliente"))];
           ++g.n;
           if (auto h = e(r, "Horas")) g.hours = g.hours.value_or(0) + Num(h);
           if (auto m = e(r, "Importe")) g.max = std::max(g.max.value_or(-1), Num(m));
         }
         Table t;
         for (const auto& [k, g] : groups) {
           if (g.n <= 12) continue;
           t.push_back({std::to_string(k), std::to_string(g.n), g.hours ? Cell(Number(*g.hours)) : Cell(),
                        g.max ? Cell(Number(*g.max)) : Cell()});
         }
         return t;
       }},
      // Text groups without regard to case; trailing blanks still count.
      {"SELECT LCase(Materia), COUNT(*) FROM Expedientes GROUP BY Materia ORDER BY Materia",
       [&] {
         std::map<std::string, long> groups;
         long nulls = 0;
         for (size_t r = 0; r < e.size(); ++r) {
           if (auto m = e(r, "Materia")) ++groups[Lower(*m)]; else ++nulls;
         }
         Table t{{std::nullopt, std::to_string(nulls)}};
         for (const auto& [k, n] : groups) t.push_back({k, std::to_string(n)});
         return t;
       }},
      {"SELECT DISTINCT LCase(Ciudad) FROM Clientes ORDER BY LCase(Ciudad) DESC",
       [&] {
         std::map<std::string, int, std::greater<>> cities;
         bool null = false;
         for (size_t r = 0; r < c.size(); ++r) {
           if (auto v = c(r, "Ciudad")) cities[Lower(*v)]; else null = true;
         }
         Table t;
         for (const auto& [k, _] : cities) t.push_back({k});
         if (null) t.push_back({std::nullopt});
         return t;
       }},
      {"SELECT e.Num, c.Nombre, [c].[Ciudad] FROM Expedientes AS e INNER JOIN Clientes AS c ON e.Cliente = c.Id "
       "WHERE c.Ciudad = 'MADRID' AND e.Horas BETWEEN 3 AND 5 ORDER BY e.Num DESC",
       [&] {
         Table t;
         for (size_t r = e.size(); r-- > 0;) {
           auto it = client_row.find(std::stol(*e(r, "Cliente")));
           if (it == client_row.end()) continue;
           const Cell city = c(it->second, "Ciudad");
           const Cell hours = e(r, "Horas");
           if (!city || Lower(*city) != "madrid" || !hours || Num(hours) < 3 || Num(hours) > 5) continue;
           t.push_back({e(r, "Num"), c(it->second, "Nombre"), city});
         }
         return t;
       }},
      {"SELECT c.Id, COUNT(e.Num) AS Casos, SUM(e.Importe) FROM Clientes AS c LEFT OUTER JOIN Expedientes AS e "
       "ON c.Id = e.Cliente GROUP BY c.Id ORDER BY 2 DESC, c.Id",
       [&] {
         std::map<long, std::pair<long, std::optional<double>>> per;
         for (size_t r = 0; r < c.size(); ++r) per[std::stol(*c(r, "Id"))];
         for (size_t r = 0; r < e.size(); ++r) {
           auto it = per.find(std::stol(*e(r, "Cliente")));
           if (it == per.end()) continue;
           ++it->second.first;
           if (auto v = e(r, "Importe")) it->second.second = it->second.second.value_or(0) + Num(v);
         }
         std::vector<std::pair<long, long>> order;
         for (const auto& [id, p] : per) order.emplace_back(-p.first, id);
         std::sort(order.begin(), order.end());
         Table t;
         for (const auto& [n, id] : order) {
           const auto& s = per[id].second;
           t.push_back({std::to_string(id), std::to_string(-n), s ? Cell(Number(*s)) : Cell()});
         }
         return t;
       }},
      {"SELECT a.Id, e.Num, c.Nombre FROM (Actuaciones AS a INNER JOIN Expedientes AS e ON a.Num = e.Num) "
       "LEFT JOIN Clientes AS c ON e.Cliente = c.Id WHERE a.Id <= 400 ORDER BY a.Id",
       [&] {
         Table t;
         for (size_t r = 0; r < a.size(); ++r) {
           if (std::stol(*a(r, "Id")) > 400) continue;
           auto ce = case_row.find(std::stol(*a(r, "Num")));
           if (ce == case_row.end()) continue;
           auto cc = client_row.find(std::stol(*e(ce->second, "Cliente")));
           t.push_back({a(r, "Id"), e(ce->second, "Num"),
                        cc == client_row.end() ? Cell() : c(cc->second, "Nombre")});
         }
         std::sort(t.begin(), t.end(), [](const auto& x, const auto& y) { return Num(x[0]) < Num(y[0]); });
         return t;
       }},
      {"SELECT Num FROM Expedientes WHERE Horas IN (1, 2, 11) AND Alta BETWEEN #2019-06-01# AND #6/30/2020# "
       "AND Importe IS NOT NULL AND NOT Materia IS NULL ORDER BY Num",
       [&] {
         Table t;
         for (size_t r = 0; r < e.size(); ++r) {
           const Cell h = e(r, "Horas");
           const std::string alta = *e(r, "Alta");
           if (!h || (Num(h) != 1 && Num(h) != 2 && Num(h) != 11)) continue;
           if (alta < "2019-06-01" || alta > "2020-06-30 00:00:00") continue;
           if (!e(r, "Importe") || !e(r, "Materia")) continue;
           t.push_back({e(r, "Num")});
         }
         return t;
       }},
      {"SELECT Num, Horas FROM Expedientes WHERE Cliente NOT IN (1, 2, 3) AND Horas IS NULL "
       "AND Num NOT BETWEEN 100 AND 3000 ORDER BY Num",
       [&] {
         Table t;
         for (size_t r = 0; r < e.size(); ++r) {
           const long cl = std::stol(*e(r, "Cliente")), n = std::stol(*e(r, "Num"));
           if (cl <= 3 || e(r, "Horas") || (n >= 100 && n <= 3000)) continue;
           t.push_back({e(r, "Num"), std::nullopt});
         }
         return t;
       }},
      {"SELECT TOP 60 Num, Materia, Importe FROM Expedientes WHERE Materia IS NOT NULL "
       "ORDER BY Materia DESC, Importe, Num DESC",
       [&] {
         std::vector<size_t> order;
         for (size_t r = 0; r < e.size(); ++r) {
           if (e(r, "Materia")) order.push_back(r);
         }
         std::sort(order.begin(), order.end(), [&](size_t x, size_t y) {
           const std::string mx = Lower(*e(x, "Materia")), my = Lower(*e(y, "Materia"));
           if (mx != my) return mx > my;
           const Cell ix = e(x, "Importe"), iy = e(y, "Importe");
           if (ix.has_value() != iy.has_value()) return !ix.has_value();  // Null first
           if (ix && Num(ix) != Num(iy)) return Num(ix) < Num(iy);
           return Num(e(x, "Num")) > Num(e(y, "Num"));
         });
         Table t;
         for (size_t i = 0; i < 60; ++i) t.push_back({e(order[i], "Num"), e(order[i], "Materia"), e(order[i], "Importe")});
         return t;
       }},
  };
  for (const Case& k : cases) ExpectRows(k.sql, k.expected());
}

TEST_F(SqlQueryTest, AggregatesFollowTheEnginesTypesAndEmptyRules) {
  struct Case {
    const char* sql;
    std::vector<std::string> shown;  // ToString of each value, "Null" for none
    std::vector<std::function<bool(const Value&)>> types;
  };
  auto is_double = [](const Value& v) { return v.is<double>(); };
  auto is_long = [](const Value& v) { return v.is<int32_t>(); };
  auto is_currency = [](const Value& v) { return v.is<jet::Currency>(); };
  auto is_null = [](const Value& v) { return v.is_null(); };
  auto is_text = [](const Value& v) { return v.is<std::string>(); };
  for (const Case& c : std::vector<Case>{
           {"SELECT SUM(Horas), SUM(Num), AVG(Num), SUM(Importe), AVG(Importe), COUNT(Materia) FROM Expedientes "
            "WHERE Num <= 2",
            {"3", "3", "1.5", "3.9500", "1.9750", "2"},
            {is_double, is_double, is_double, is_currency, is_currency, is_long}},
           {"SELECT COUNT(*), COUNT(Num), SUM(Num), AVG(Importe), MIN(Materia) FROM Expedientes WHERE Num < 0",
            {"0", "0", "Null", "Null", "Null"}, {is_long, is_long, is_null, is_null, is_null}},
           {"SELECT MIN(Nombre) AS Primero, MAX(Ciudad) FROM Clientes", {"Cliente 1", "Sevilla"}, {is_text, is_text}},
       }) {
    auto rs = Query(c.sql);
    ASSERT_EQ(rs.rows.size(), 1u) << c.sql;
    for (size_t i = 0; i < c.shown.size(); ++i) {
      const Value& v = rs.rows[0][i];
      EXPECT_EQ(v.is_null() ? "Null" : v.ToString(), c.shown[i]) << c.sql << " #" << i;
      EXPECT_TRUE(c.types[i](v)) << c.sql << " #" << i;
    }
  }
  EXPECT_EQ(Query("SELECT MIN(Nombre) AS Primero, COUNT(*) FROM Clientes").columns,
            (std::vector<std::string>{"Primero", "Expr1000"}));
  EXPECT_TRUE(Query("SELECT Cliente, COUNT(*) FROM Expedientes WHERE Num < 0 GROUP BY Cliente").rows.empty());
  // Two tables with a column of the same name show it qualified.
  EXPECT_EQ(Query("SELECT TOP 1 * FROM Actuaciones AS a, Expedientes WHERE a.Num = Expedientes.Num").columns,
            (std::vector<std::string>{"Id", "a.Num", "Fecha", "Expedientes.Num", "Cliente", "Materia", "Importe",
                                      "Alta", "Cerrado", "Horas"}));
}

TEST_F(SqlQueryTest, MistakesGetTheEnginesErrors) {
  struct Case {
    const char* sql;
    int number;
    const char* quoted;  // in the message, when the engine quotes something
  };
  for (const Case& c : std::vector<Case>{
           {"SELECT Ciudad, COUNT(*) FROM Clientes", jet::kErrNotInAggregate, "'Ciudad'"},
           {"SELECT Ciudad FROM Clientes GROUP BY Nombre", jet::kErrNotInAggregate, "'Ciudad'"},
           {"SELECT Ciudad, COUNT(*) FROM Clientes GROUP BY Ciudad ORDER BY c.Id", jet::kErrTooFewParameters, nullptr},
           {"SELECT Ciudad, COUNT(*) FROM Clientes GROUP BY Ciudad HAVING Id > 1", jet::kErrNotInAggregate, "'Id'"},
           {"SELECT COUNT(DISTINCT Ciudad) FROM Clientes", jet::kErrSyntaxExpression, nullptr},
           {"SELECT * FROM Clientes WHERE COUNT(*) > 1", jet::kErrAggregateInWhere, "(COUNT(*) > 1)"},
           {"SELECT COUNT(*) FROM Clientes GROUP BY MAX(Id)", jet::kErrAggregateInGroupBy, "(MAX(Id))"},
           {"SELECT SUM(MAX(Id)) FROM Clientes", jet::kErrAggregateInExpression, "(SUM(MAX(Id)))"},
           {"SELECT * FROM Clientes GROUP BY Ciudad", jet::kErrGroupOnStar, nullptr},
           {"SELECT DISTINCT Ciudad FROM Clientes ORDER BY Nombre", jet::kErrOrderByConflictsDistinct, "(Nombre)"},
           {"SELECT Nombre FROM Clientes AS x INNER JOIN Clientes AS y ON x.Id = y.Id", jet::kErrAmbiguousField,
            "'Nombre'"},
           {"SELECT * FROM Clientes INNER JOIN Expedientes", jet::kErrSyntaxJoin, nullptr},
           {"SELECT * FROM (Clientes", jet::kErrSyntaxFrom, nullptr},
           {"SELECT * FROM Clientes WHERE Id IN 1, 2", jet::kErrSyntaxExpression, nullptr},
           {"SELECT * FROM Clientes WHERE Id BETWEEN 1", jet::kErrSyntaxExpression, nullptr},
           {"SELECT * FROM Clientes WHERE Ciudad IS NOT 'x'", jet::kErrSyntaxExpression, nullptr},
           {"SELECT COUNT(*) FROM Clientes WHERE Nadie = 1", jet::kErrTooFewParameters, nullptr},
           {"SELECT * FROM Clientes INNER JOIN Nadie ON Clientes.Id = Nadie.Id", jet::kErrNoSuchTable, nullptr},
       }) {
    try {
      Query(c.sql);
      ADD_FAILURE() << c.sql;
    } catch (const jet::JetError& e) {
      EXPECT_EQ(e.number(), c.number) << c.sql << ": " << e.what();
      if (c.quoted) {
        EXPECT_NE(std::string(e.what()).find(c.quoted), std::string::npos) << c.sql << ": " << e.what();
      }
    }
  }
}

TEST_F(SqlQueryTest, StatementsTooDeepAreRefusedNotACrash) {
  auto error_of = [](const std::string& sql) { return testing_support::ErrorOf([&] { Query(sql); }); };
  std::string ors = "Id = 0";
  for (int i = 1; i < 100000; ++i) ors += " OR Id = " + std::to_string(i);
  EXPECT_EQ(error_of("SELECT COUNT(*) FROM Clientes WHERE " + ors), jet::kErrQueryTooComplex);
  EXPECT_EQ(error_of("SELECT " + std::string(100000, '(') + "1" + std::string(100000, ')') + " FROM Clientes"),
            jet::kErrQueryTooComplex);
  EXPECT_EQ(error_of("SELECT COUNT(*) FROM " + std::string(100000, '(') + "Clientes"), jet::kErrQueryTooComplex);
  std::string nots;
  for (int i = 0; i < 100000; ++i) nots += "NOT ";
  EXPECT_EQ(error_of("SELECT COUNT(*) FROM Clientes WHERE " + nots + "Id = 1"), jet::kErrQueryTooComplex);
  // What people write stays well inside.
  std::string some = "Id = 0";
  for (int i = 1; i < 300; ++i) some += " OR Id = " + std::to_string(i);
  auto rs = Query("SELECT COUNT(*) FROM Clientes WHERE ((" + some + "))");
  EXPECT_EQ(rs.rows[0][0].ToString(), "200");
}

// ---- index seeks ----

TEST_F(SqlQueryTest, SeeksFindWhatScansFind) {
  // "OR 1 = 0" keeps the condition's truth but hides it from the planner,
  // so the same query scans.
  for (const char* where : {
           "Num = 17", "17 = Num", "Num = 17.0", "Num = 17.5", "Num = '17'", "Num = 4001", "Num = -1",
           "Num = 3 AND Horas = 3", "Num = Null", "Cliente = 5", "Materia = 'CIVIL'", "Materia = 'civil '",
           "Materia = 'Laboral' AND Cerrado = True", "Cliente = 8 AND Materia = 'penal'", "Cliente = 8",
           "Importe = 12.6", "Importe = 0.1", "Alta = #2019-01-14#", "Materia = ''", "Cliente = 99999999999",
       }) {
    const std::string seek = std::string("SELECT Num FROM Expedientes WHERE ") + where + " ORDER BY Num";
    const std::string scan = std::string("SELECT Num FROM Expedientes WHERE (") + where + ") OR 1 = 0 ORDER BY Num";
    std::vector<std::string> a, b;
    for (const auto& r : Query(seek).rows) a.push_back(r[0].ToString());
    for (const auto& r : Query(scan).rows) b.push_back(r[0].ToString());
    EXPECT_EQ(a, b) << where;
  }
  // A join looks its other side up through that side's index, for each
  // row of a few (one case's client; a client's cases of one kind).
  for (const std::string join : {
           "SELECT e.Num, c.Nombre FROM Expedientes AS e INNER JOIN Clientes AS c ON e.Cliente = c.Id WHERE ",
           "SELECT e.Num, c.Nombre FROM Expedientes AS e LEFT JOIN Clientes AS c ON c.Id = e.Cliente WHERE ",
       }) {
    for (const char* num : {"4", "30", "17"}) {  // case 30's client does not exist
      const auto seek = Query(join + "e.Num = " + num).rows;
      const auto scan = Query(join + "e.Num + 0 = " + num).rows;
      ASSERT_EQ(seek.size(), scan.size()) << join << num;
      for (size_t i = 0; i < seek.size(); ++i) EXPECT_EQ(seek[i], scan[i]) << join << num;
    }
  }
  EXPECT_EQ(Query("SELECT c.Id, e.Num FROM Clientes AS c INNER JOIN Expedientes AS e "
                  "ON e.Cliente = c.Id AND e.Materia = 'Penal' WHERE c.Id = 8 ORDER BY e.Num").rows,
            Query("SELECT c.Id, e.Num FROM Clientes AS c INNER JOIN Expedientes AS e "
                  "ON e.Cliente = c.Id AND e.Materia & '' = 'Penal' WHERE c.Id + 0 = 8 ORDER BY e.Num").rows);
  EXPECT_EQ(Query("SELECT Num FROM Expedientes WHERE Importe = 0.1").rows.size(), 38u)
      << "Currency against a Double literal";
  // Through a join's inner side, and a text key that is not ASCII.
  EXPECT_EQ(Query("SELECT e.Num FROM Clientes c INNER JOIN Expedientes e ON e.Cliente = c.Id "
                  "WHERE c.Id = 8 AND e.Materia = 'Penal'").rows.size(),
            Query("SELECT Num FROM Expedientes WHERE Cliente + 0 = 8 AND Materia & '' = 'penal'").rows.size());
  EXPECT_EQ(Query("SELECT Id FROM Clientes WHERE Nombre = 'NÚÑEZ 8'").rows.size(), 1u);
}

TEST_F(SqlQueryTest, AKeyLookupReadsAFewPages) {
  auto file = jet::FileState::Open(path_, false, true, "");
  auto reads = [&](const std::string& sql, size_t rows) {
    jet::sql::Query(*file, sql);  // the table's definition is read once
    const uint64_t before = file->pager().page_reads();
    EXPECT_EQ(jet::sql::Query(*file, sql).rows.size(), rows) << sql;
    return file->pager().page_reads() - before;
  };
  const uint64_t seek = reads("SELECT * FROM Expedientes WHERE Num = 2345", 1);
  const uint64_t scan = reads("SELECT * FROM Expedientes WHERE Num + 0 = 2345", 1);
  // Root, perhaps one intermediate page, the leaf, the row's data page.
  EXPECT_LE(seek, 5u);
  EXPECT_GT(scan, 20 * seek);
  EXPECT_LE(reads("SELECT Num FROM Expedientes WHERE Cliente = 8 AND Materia = 'Penal' AND Horas > 0", 2), 8u);
  // The leading column of (Cliente, Materia): its 18 rows, each on a page.
  EXPECT_LE(reads("SELECT Num FROM Expedientes WHERE Cliente = 8", 18), 25u);
  EXPECT_LE(reads("SELECT e.Num, c.Nombre FROM Expedientes AS e INNER JOIN Clientes AS c ON e.Cliente = c.Id "
                  "WHERE e.Num = 2345", 1),
            10u);
}

// Rows still in memory (an index filled in this session and not yet
// written) are found by seeks too.
TEST(SqlSeekTest, FindsRowsNotYetWritten) {
  testing_support::TempDir dir;
  auto db = jet::dao::DBEngine::Instance().Workspaces(0).CreateDatabase(dir.File("s.mdb"),
                                                                       ";LANGID=0x0409;CP=1252;COUNTRY=0");
  db.Execute("CREATE TABLE T (K TEXT(10) CONSTRAINT PK PRIMARY KEY, N LONG)");
  db.Execute("CREATE INDEX NK ON T (N, K)");
  for (int i = 0; i < 500; ++i) {
    db.Execute("INSERT INTO T VALUES ('k" + std::to_string(i) + "', " + std::to_string(i) + ")");
  }
  auto file = jet::FileState::Open(dir.File("s.mdb"), false, false, "");
  auto rs = jet::sql::Query(*file, "SELECT N FROM T WHERE K = 'K321'");
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][0].ToString(), "321");
  rs = jet::sql::Query(*file, "SELECT K FROM T WHERE N = 321");  // the leading column of NK
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][0].ToString(), "k321");
  db.Close();
}

}  // namespace
