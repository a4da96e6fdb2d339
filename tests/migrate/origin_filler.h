// Origins for migration tests and the benchmark: a whole current database
// (or the previous version's layout) filled through the engine with rows
// that are linked as an office's are. Row i of every table points at row i
// of each table it refers to, so every relation finds its row; matter i is
// (FAsu01 = i, FAsu02 = 2000 + i % 20).
//
// Other fields get values by type: Spanish text cut to the field's size,
// long memos on every fifth row, and Null on every sixth row wherever the
// field and its indexes allow one.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/engine.h"
#include "jet/dao.h"
#include "jet/text.h"
#include "schema/buttons.h"

namespace migrate_testing {

namespace dao = jet::dao;
using jet::Value;

// How one field of a row is filled.
enum class Gen {
  kRow,      // the row number: keys and references to row i of another table
  kYear,     // the second half of a matter key
  kCode,     // a unique short text: prefix + the row number in base 36
  kCountry,  // a country the destination's seed has (1 .. 207), or Null
  kNull,     // always Null
  kCycle7,   // 0, 1, 2, 3, 7, Null, ...: the seventh field of the secondary tables
};

struct Rule {
  const char* field;
  Gen gen;
  const char* prefix = "";
};

struct TableFill {
  const char* table;
  std::vector<Rule> rules;
};

// Tables in an order in which each row finds the rows it refers to.
inline std::vector<TableFill> FillOrder() {
  const std::vector<Rule> dir = {
      {"FDir01", Gen::kRow}, {"FDir02", Gen::kRow}, {"FDir10", Gen::kCountry}};
  const std::vector<Rule> expense = {{"FContable01", Gen::kRow},
                                     {"FContable02", Gen::kYear},
                                     {"FContable07", Gen::kRow},
                                     {"FContable12", Gen::kRow}};
  return {
      {"TAbogados", {{"FAbo01", Gen::kRow}, {"FAbo11", Gen::kCode, "A"}}},
      {"TAbogadosDir", dir},
      {"TProcuradores", {{"FPro01", Gen::kRow}, {"FPro11", Gen::kCode, "P"}}},
      {"TProcuradoresDir", dir},
      {"TJuzgados", {{"FJuz01", Gen::kCode, "J-"}, {"FJuz07", Gen::kRow}}},
      {"TJuzgadosDir", dir},
      {"TClientes", {{"FCli01", Gen::kRow}, {"FCli12", Gen::kRow}}},
      {"TClientesDir", dir},
      {"TLaboral", {{"FLab01", Gen::kRow}}},
      {"TContra", {{"FCon01", Gen::kRow}}},
      {"TContraDir", dir},
      {"TInter", {{"FIn01", Gen::kRow}}},
      {"TInterDir", dir},
      {"TPoder", {{"FPod01", Gen::kRow}}},
      {"TDocu", {{"FDoc01", Gen::kRow}, {"FDoc02", Gen::kCode, "Escrito nº "}}},
      {"TMaterias", {{"FMateria01", Gen::kRow}}},
      {"TSubMaterias", {{"FSubMateria01", Gen::kRow}, {"FSubMateria03", Gen::kRow}}},
      {"TAsuntos",
       {{"FAsu01", Gen::kRow},
        {"FAsu02", Gen::kYear},
        {"FAsu05", Gen::kRow},
        {"FAsu06", Gen::kRow},
        {"FAsu07", Gen::kRow},
        {"FAsu08", Gen::kRow},
        {"FAsu09", Gen::kRow},
        {"FAsu15", Gen::kRow}}},
      {"TProcesales",
       {{"FProcesales01", Gen::kRow}, {"FProcesales02", Gen::kYear}, {"FProcesales06", Gen::kRow}}},
      {"TCliAsu",
       {{"FCliAsu01", Gen::kRow},
        {"FCliAsu02", Gen::kRow},
        {"FCliAsu03", Gen::kYear},
        {"FCliAsu04", Gen::kRow}}},
      {"TConAsu",
       {{"FConAsu01", Gen::kRow},
        {"FConAsu02", Gen::kRow},
        {"FConAsu03", Gen::kYear},
        {"FConAsu04", Gen::kRow},
        {"FConAsu05", Gen::kRow}}},
      {"TIntAsu", {{"FInAsu01", Gen::kRow}, {"FInAsu02", Gen::kRow}, {"FInAsu03", Gen::kYear}}},
      {"TDocAsu",
       {{"FDocAsu01", Gen::kRow},
        {"FDocAsu02", Gen::kRow},
        {"FDocAsu03", Gen::kYear},
        {"FDocAsu05", Gen::kRow}}},
      {"TMinuta", {{"FMinuta01", Gen::kRow}, {"FMinuta02", Gen::kYear}, {"FMinuta19", Gen::kRow}}},
      {"TContable", expense},
      {"TDerecho",
       {{"FDerecho01", Gen::kRow},
        {"FDerecho02", Gen::kYear},
        {"FDerecho07", Gen::kRow},
        {"FDerecho08", Gen::kRow}}},
      {"TCliPod", {{"FCliPod01", Gen::kRow}, {"FCliPod02", Gen::kRow}}},
      {"TGastos", {{"FGastos01", Gen::kRow}}},
      {"TGastosNo", expense},
      {"TcContable", {{"FcContable01", Gen::kRow}, {"FcContable02", Gen::kCode, "C"}}},
      {"TGCobros", {{"FGCobros01", Gen::kRow}, {"FGCobros02", Gen::kYear}}},
      {"TGprovi", {{"FGprovi01", Gen::kRow}, {"FGprovi02", Gen::kYear}, {"FGprovi07", Gen::kRow}}},
      {"THistorico", {{"FHist01", Gen::kRow}, {"FHist02", Gen::kYear}, {"FHist04", Gen::kRow}}},
      {"THistoricoSec", {{"FHistSec01", Gen::kRow}, {"FHistSec07", Gen::kCycle7}}},
      {"TGesNoJudicial",
       {{"FGesNJ01", Gen::kRow}, {"FGesNJ02", Gen::kYear}, {"FGesNJ04", Gen::kRow}}},
      {"TGesNoJudicialSec", {{"FGesNJS01", Gen::kRow}, {"FGesNJS07", Gen::kCycle7}}},
  };
}

// The fill of one table by name.
inline TableFill FillOf(const std::string& table) {
  for (auto& f : FillOrder()) {
    if (table == f.table) return f;
  }
  return {"", {}};
}

inline std::string Base36(int64_t n) {
  std::string out;
  do {
    out.insert(out.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[n % 36]);
    n /= 36;
  } while (n > 0);
  return out;
}

// The first `chars` characters of a UTF-8 text.
inline std::string FirstChars(const std::string& s, int chars) {
  size_t i = 0;
  for (int n = 0; i < s.size() && n < chars; ++n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

inline const std::string& SpanishText() {
  static const std::string text =
      "Peña Núñez, Águeda; calle Mayor nº 5, 3º izq. — Cáceres (España). Reclamación de "
      "cantidad por daños «urgentes» y ejecución hipotecaria, año ";
  return text;
}

inline Value Generated(const dao::Field& f, int64_t i, bool may_be_null) {
  if (may_be_null && i % 6 == 5) return Value::Null();
  const int32_t n = static_cast<int32_t>(i);
  switch (f.Type()) {
    case dao::dbBoolean: return Value(i % 2 == 0);
    case dao::dbByte: return Value(static_cast<int32_t>(i % 200));
    case dao::dbInteger: return Value(static_cast<int32_t>(i % 30000));
    case dao::dbLong: return Value(n * 3 + 1);
    case dao::dbCurrency: return Value(jet::Currency{i * 12345});
    case dao::dbSingle: return Value(static_cast<float>(i) * 0.5f + 0.25f);
    case dao::dbDouble: return Value(static_cast<double>(i) * 1.25 + 0.001);
    case dao::dbDate:
      return Value(jet::Date{36526.0 + static_cast<double>(i % 9000) + (i % 24) / 24.0});
    case dao::dbMemo: {
      std::string memo = SpanishText() + std::to_string(i) + ". ";
      // Long memos run over several pages of the destination.
      if (i % 5 == 0) {
        while (jet::Utf16Length(memo) < 6000) memo += SpanishText();
      }
      return Value(memo);
    }
    case dao::dbText: {
      std::string tail = " " + std::to_string(i);
      int room = f.Size() - static_cast<int>(jet::Utf16Length(tail));
      if (room <= 0) return Value(FirstChars(std::to_string(i), f.Size()));
      return Value(FirstChars(SpanishText(), room) + tail);
    }
    default: return Value::Null();
  }
}

inline Value ByRule(const Rule& r, int64_t i) {
  const int32_t n = static_cast<int32_t>(i);
  switch (r.gen) {
    case Gen::kRow: return Value(n);
    case Gen::kYear: return Value(2000 + n % 20);
    case Gen::kCode: return Value(std::string(r.prefix) + Base36(i));
    case Gen::kCountry:
      return i % 4 == 3 ? Value::Null() : Value(static_cast<int32_t>(1 + i % 207));
    case Gen::kNull: return Value::Null();
    case Gen::kCycle7: {
      static constexpr int32_t kCycle[] = {0, 1, 2, 3, 7, -1};
      int32_t v = kCycle[(i - 1) % 6];
      return v < 0 ? Value::Null() : Value(v);
    }
  }
  return Value::Null();
}

// Fields that may hold Null: not required, not in a required index, not
// Yes/No (which stores no Null).
inline std::set<std::string> Nullable(const dao::TableDef& t) {
  std::set<std::string> out;
  std::set<std::string> in_required_index;
  for (const auto& ix : t.Indexes()) {
    if (!ix.Required() && !ix.Primary()) continue;
    for (const auto& f : ix.Fields()) in_required_index.insert(f.Name());
  }
  for (const auto& f : t.Fields()) {
    if (f.Required() || f.Type() == dao::dbBoolean || in_required_index.count(f.Name())) continue;
    out.insert(f.Name());
  }
  return out;
}

// Adds rows 1 .. rows to one table of `db`; `overrides` replaces rules.
inline void FillTable(dao::Database& db, const TableFill& fill, int64_t rows,
                      const std::vector<Rule>& overrides = {}, int64_t first = 1) {
  dao::TableDef def = db.GetTableDef(fill.table);
  const auto fields = def.Fields();
  const auto nullable = Nullable(def);
  std::vector<const Rule*> rule_of(fields.size(), nullptr);
  for (size_t c = 0; c < fields.size(); ++c) {
    for (const auto* list : {&overrides, &fill.rules}) {
      for (const auto& r : *list) {
        if (!rule_of[c] && jet::NamesEqual(r.field, fields[c].Name())) rule_of[c] = &r;
      }
    }
  }
  dao::Recordset rs = db.OpenRecordset(fill.table);
  for (int64_t i = first; i < first + rows; ++i) {
    rs.AddNew();
    for (size_t c = 0; c < fields.size(); ++c) {
      rs.SetValue(static_cast<int>(c),
                  rule_of[c] ? ByRule(*rule_of[c], i)
                             : Generated(fields[c], i, nullable.count(fields[c].Name()) > 0));
    }
    rs.Update();
  }
  rs.Close();
}

// The previous version's layout: no TLaboral, TMaterias, TSubMaterias or
// TProcesales, and a configuration table without FConfig04.
inline constexpr const char* kV7Missing[] = {"TProcesales", "TSubMaterias", "TMaterias",
                                             "TLaboral"};

enum class Layout { kV8, kV7 };

// Creates and fills an origin at `path` with `rows` rows per table
// (`rows_of` names exceptions). Its TConfig row holds values other than the
// seed's, and it has a country the seed lacks.
inline void BuildOrigin(const std::string& path, int64_t rows, Layout layout = Layout::kV8,
                        const std::map<std::string, int64_t>& rows_of = {}) {
  const bool v7 = layout == Layout::kV7;
  maquetor::schema::CrearBaseCompleta(path);
  dao::Database db =
      dao::DBEngine::Instance().OpenDatabase(path, false, false, maquetor::db::kConnect);
  if (v7) {
    for (const char* t : kV7Missing) db.Execute(std::string("DROP TABLE ") + t);
    db.Execute("DROP TABLE TConfig");
    db.Execute("CREATE TABLE TConfig (FConfig01 BIT, FConfig02 LONG, FConfig03 TEXT(100))");
    db.Execute("INSERT INTO TConfig VALUES (False, 7, 'C:\\Despacho V7\\Docs')");
  } else {
    db.Execute(
        "UPDATE TConfig SET FConfig01 = False, FConfig02 = 5, "
        "FConfig03 = 'C:\\Despacho\\Documentos', FConfig04 = 'V8 origen'");
    db.Execute("INSERT INTO TConfig VALUES (True, 99, 'segunda fila', 'no se lee')");
  }
  db.Execute("INSERT INTO TPaises (FPa01, FPa02) VALUES (999, 'ATLÁNTIDA')");
  for (const auto& fill : FillOrder()) {
    if (!db.HasTable(fill.table)) continue;
    auto it = rows_of.find(fill.table);
    const int64_t n = it == rows_of.end() ? rows : it->second;
    std::vector<Rule> overrides;
    // The previous version's matters have no classification to point at.
    if (v7 && std::string(fill.table) == "TAsuntos") {
      overrides = {{"FAsu07", Gen::kNull}, {"FAsu08", Gen::kNull}};
    }
    FillTable(db, fill, n, overrides);
  }
  db.Close();
}

// Every row of a table in stored order, each as its values in field order.
inline std::vector<std::vector<Value>> Rows(dao::Database& db, const std::string& table) {
  std::vector<std::vector<Value>> out;
  dao::Recordset rs = db.OpenRecordset(table);
  for (; !rs.IsEOF(); rs.MoveNext()) {
    std::vector<Value> row;
    for (int c = 0; c < rs.FieldCount(); ++c) row.push_back(rs.GetValue(c));
    out.push_back(std::move(row));
  }
  rs.Close();
  return out;
}

}  // namespace migrate_testing
