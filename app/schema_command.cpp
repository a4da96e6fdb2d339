// schema DB: the user tables, their indexes and relations as SQL statements,
// one per line, that `maquetor sql NEW --create` replays into a database with
// the same definitions.
// Every CREATE TABLE comes first, then the indexes, then the relations.
#include <algorithm>
#include <cctype>
#include <iostream>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "jet/catalog_layout.h"
#include "jet/error.h"
#include "jet/text.h"
#include "table_rows.h"

namespace maquetor {

namespace {

std::string Bracketed(const std::string& name) { return "[" + name + "]"; }

std::string TypeText(const jet::ColumnDef& c, int version) {
  using jet::ColumnType;
  switch (c.type) {
    case ColumnType::kBoolean: return "BIT";
    case ColumnType::kByte: return "BYTE";
    case ColumnType::kInteger: return "SHORT";
    case ColumnType::kLong: return c.auto_number() ? "COUNTER" : "LONG";
    case ColumnType::kCurrency: return "CURRENCY";
    case ColumnType::kSingle: return "SINGLE";
    case ColumnType::kDouble: return "DOUBLE";
    case ColumnType::kDate: return "DATETIME";
    case ColumnType::kBinary: return "BINARY(" + std::to_string(c.length) + ")";
    case ColumnType::kText:
      return "TEXT(" + std::to_string(version >= 4 ? c.length / 2 : c.length) + ")";
    case ColumnType::kOle: return "LONGBINARY";
    case ColumnType::kMemo: return "MEMO";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kDecimal:
      return "DECIMAL(" + std::to_string(c.precision) + ", " + std::to_string(c.scale) + ")";
  }
  return "LONG";
}

// A number, True, False or Null is written as Jet's DDL writes a default;
// any other expression (bare text such as V8, an empty one, quotes) as
// DEFAULT EXPRESSION 'text', which stores the text exactly.
bool IsPlainDefault(const std::string& expr) {
  std::string lower;
  for (unsigned char c : expr) lower += static_cast<char>(std::tolower(c));
  if (lower == "true" || lower == "false" || lower == "null") return true;
  // -?digits(.digits)?
  size_t at = lower.starts_with('-') ? 1 : 0;
  auto digits = [&] {
    const size_t from = at;
    while (at < lower.size() && std::isdigit(static_cast<unsigned char>(lower[at]))) ++at;
    return at > from;
  };
  if (!digits()) return false;
  if (at < lower.size() && lower[at] == '.') {
    ++at;
    if (!digits()) return false;
  }
  return at == lower.size();
}

std::string DefaultText(const std::string& expr) {
  if (IsPlainDefault(expr)) return " DEFAULT " + expr;
  std::string quoted = "'";
  for (char c : expr) {
    if (c == '\'') quoted += '\'';
    quoted += c;
  }
  return " DEFAULT EXPRESSION " + quoted + "'";
}

std::string ColumnText(const jet::ColumnDef& c, const jet::PropertyMap* props, int version) {
  std::string s = Bracketed(c.name) + " " + TypeText(c, version);
  if (!props) return s;
  if (const jet::Property* p = props->Find("Required"); p && p->AsBool()) s += " NOT NULL";
  if (const jet::Property* p = props->Find("AllowZeroLength")) {
    s += p->AsBool() ? " ALLOW ZERO LENGTH" : " DISALLOW ZERO LENGTH";
  }
  if (const jet::Property* p = props->Find("DefaultValue")) s += DefaultText(p->AsText(version));
  return s;
}

struct TableInfo {
  std::string name;
  const jet::TableDef* def;
};

std::string IndexText(const TableInfo& t, const jet::LogicalIndexDef& li) {
  const jet::RealIndexDef& ri = t.def->real_indexes.at(li.real_index);
  const bool primary = li.type == jet::kIdxPrimary;
  std::string s = "CREATE ";
  if (!primary && (ri.flags & jet::kIdxUnique)) s += "UNIQUE ";
  s += "INDEX " + Bracketed(li.name) + " ON " + Bracketed(t.name) + " (";
  for (size_t i = 0; i < ri.columns.size(); ++i) {
    const jet::ColumnDef* c = t.def->ColumnByNumber(ri.columns[i].column_number);
    if (i) s += ", ";
    s += Bracketed(c ? c->name : "?");
    if (!ri.columns[i].ascending) s += " DESC";
  }
  s += ")";
  std::vector<std::string> with;
  if (primary) with.push_back("PRIMARY");
  if (!primary && (ri.flags & jet::kIdxRequired)) with.push_back("DISALLOW NULL");
  if (ri.flags & jet::kIdxIgnoreNulls) with.push_back("IGNORE NULL");
  for (size_t i = 0; i < with.size(); ++i) s += (i ? " " : " WITH ") + with[i];
  return s + ";";
}

std::string RelationText(const jet::FileState::RelationInfo& r) {
  std::string from, to;
  for (const auto& [field, foreign] : r.fields) {
    from += (from.empty() ? "" : ", ") + Bracketed(foreign);
    to += (to.empty() ? "" : ", ") + Bracketed(field);
  }
  std::string s = "ALTER TABLE " + Bracketed(r.foreign_table) + " ADD CONSTRAINT " +
                  Bracketed(r.name) + " FOREIGN KEY (" + from + ") REFERENCES " +
                  Bracketed(r.table) + " (" + to + ")";
  if (r.attributes & jet::dao::dbRelationUpdateCascade) s += " ON UPDATE CASCADE";
  if (r.attributes & jet::dao::dbRelationDeleteCascade) s += " ON DELETE CASCADE";
  if (r.attributes & jet::dao::dbRelationDontEnforce) s += " NOT ENFORCED";
  return s + ";";
}

void PrintSchema(ReadOnlyDatabase& db, std::ostream& out) {
  const int version = db.version();
  std::vector<TableInfo> tables;
  // The engine's catalogue order, which the replay then keeps.
  for (const auto& entry : db.file().TableEntries()) {
    if (entry.is_system()) continue;
    const std::string& name = entry.name;
    jet::Table& t = db.file().GetTable(name);
    tables.push_back({t.name(), &t.def()});
    const jet::Properties props = db.TableProperties(name);
    std::vector<const jet::ColumnDef*> cols;
    for (const auto& c : t.def().columns) cols.push_back(&c);
    std::stable_sort(cols.begin(), cols.end(),
                     [](const auto* a, const auto* b) { return a->number < b->number; });
    std::string s = "CREATE TABLE " + Bracketed(t.name()) + " (";
    for (size_t i = 0; i < cols.size(); ++i) {
      s += (i ? ", " : "") + ColumnText(*cols[i], props.Column(cols[i]->name), version);
    }
    out << s << ");\n";
  }
  // The engine names a relation's index on the referenced table ".rA",
  // ".rB", ... after how many indexes that table has at the time: each
  // relation comes after as many of that table's own indexes as its name
  // tells, so that the replayed indexes get the same names.
  std::vector<size_t> written(tables.size(), 0);  // own indexes written
  std::vector<size_t> count(tables.size(), 0);    // indexes made so far
  auto own = [&](size_t t) {
    std::vector<const jet::LogicalIndexDef*> out;
    for (const auto& li : tables[t].def->indexes) {
      if (li.type != jet::kIdxForeign) out.push_back(&li);
    }
    return out;
  };
  auto write_own = [&](size_t t, size_t until_count) {
    const auto list = own(t);
    while (written[t] < list.size() && count[t] < until_count) {
      out << IndexText(tables[t], *list[written[t]++]) << '\n';
      ++count[t];
    }
  };
  auto find = [&](const std::string& name) {
    for (size_t i = 0; i < tables.size(); ++i) {
      if (jet::NamesEqual(tables[i].name, name)) return i;
    }
    return tables.size();
  };
  static const std::string kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  // Relations in the order they were made: by the catalogue ids of their
  // objects.
  auto relations = db.file().Relations();
  std::map<std::u16string, int32_t> made;
  for (const auto& e : db.Catalog()) {
    if (e.parent_id == jet::catalog::kRelationshipsContainerId) made[jet::FoldName(e.name)] = e.id;
  }
  std::stable_sort(relations.begin(), relations.end(), [&](const auto& a, const auto& b) {
    return made[jet::FoldName(a.name)] < made[jet::FoldName(b.name)];
  });
  for (const auto& r : relations) {
    const size_t parent = find(r.table), child = find(r.foreign_table);
    // Relations among the system tables (the application's own) are not
    // the user's schema.
    if (parent == tables.size() || child == tables.size()) continue;
    size_t wanted = own(parent).size();
    const jet::LogicalIndexDef* mine = nullptr;
    for (const auto& li : tables[child].def->indexes) {
      if (li.type == jet::kIdxForeign && jet::NamesEqual(li.name, r.name)) mine = &li;
    }
    for (const auto& li : tables[parent].def->indexes) {
      if (mine && li.type == jet::kIdxForeign && li.rel_table_page == tables[child].def->page &&
          li.rel_index_number == static_cast<int32_t>(mine->index_number) && li.name.size() == 3 &&
          li.name.rfind(".r", 0) == 0 && kLetters.find(li.name[2]) != std::string::npos) {
        wanted = kLetters.find(li.name[2]);
      }
    }
    write_own(parent, wanted);
    // A relation's index is placed among the existing ones by name, a
    // plain index at the end: the child's indexes listed before the
    // relation's were there first.
    if (mine) {
      size_t before = 0;
      for (const auto& li : tables[child].def->indexes) {
        if (&li == mine) break;
        before += li.type != jet::kIdxForeign;
      }
      while (written[child] < before) write_own(child, count[child] + 1);
    }
    ++count[parent];
    if (child != parent) ++count[child];
    out << RelationText(r) << '\n';
  }
  for (size_t t = 0; t < tables.size(); ++t) write_own(t, SIZE_MAX);
}

}  // namespace

void AddSchemaCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string password = kProgramPassword;
  };
  auto o = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "schema", "Print the tables, indexes and relations as SQL that 'sql NEW --create' replays");
  cmd->add_option("DB", o->path, "The .mdb file")->required();
  cmd->add_option("--password", o->password,
                  "Database password (default: the program's own; \"\" for none)");
  cmd->footer(
      "Example:\n"
      "  maquetor schema datos.mdb > esquema.sql\n"
      "  maquetor sql copia.mdb --create < esquema.sql\n"
      "One statement per line: CREATE TABLE (types, sizes, NOT NULL, ALLOW or DISALLOW\n"
      "ZERO LENGTH, DEFAULT, COUNTER), CREATE INDEX (UNIQUE, DESC, WITH PRIMARY,\n"
      "DISALLOW NULL, IGNORE NULL) and ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY\n"
      "... REFERENCES (ON UPDATE / ON DELETE CASCADE, NOT ENFORCED).");
  cmd->callback([o] {
    ReadOnlyDatabase db(o->path, o->password);
    PrintSchema(db, std::cout);
    std::cout.flush();
  });
}

}  // namespace maquetor
