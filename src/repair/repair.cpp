#include "repair/repair.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "db/file_name.h"
#include "jet/catalog_layout.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/props.h"
#include "jet/relations.h"
#include "jet/text.h"

namespace maquetor::repair {
namespace {

constexpr size_t kMaxNameLength = 64;

// ---- What the new file holds, described whole before it is written ----
//
// The shape is a whole-database writer's: tables (columns in column-number
// order with their rules, own indexes, properties, the next auto-number),
// relations, password and encryption, and one row source called once per
// table, in table order.

struct NewTable {
  std::string name;
  std::vector<jet::NewColumn> columns;
  std::vector<jet::NewIndex> indexes;
  jet::Properties properties;               // as the damaged file kept them
  std::optional<int32_t> next_auto_number;  // the value handed out next
};

struct NewDatabase {
  std::vector<NewTable> tables;
  std::vector<jet::FileState::NewRelation> relations;
  std::string password;
  bool encrypt = false;
};

using RowSink = std::function<void(std::vector<jet::Value>& row)>;
using RowSource = std::function<void(size_t table, const RowSink& sink)>;

struct WriteOptions {
  // A row the new file refuses all the same (too large for a page): the
  // write goes on without it.
  std::function<void(size_t table, const std::vector<jet::Value>& row, const jet::JetError& e)>
      on_refused_row;
  // A relation whose rows do not satisfy it, written not enforced.
  std::function<void(const jet::FileState::NewRelation& relation)> on_unenforced_relation;
};

bool DiskError(const jet::JetError& e) {
  return e.number() == jet::kErrDiskFull || e.number() == jet::kErrDiskIo;
}

// Writes `db` at `path` through the engine's table, row and relation calls:
// built under a copy's name and put in place whole, or nothing at `path`.
void WriteNewDatabase(const std::string& path, const NewDatabase& db, const RowSource& rows,
                      const WriteOptions& options) {
  std::shared_ptr<jet::FileState> file = jet::FileState::Create(path, db.password, db.encrypt);
  try {
    for (size_t i = 0; i < db.tables.size(); ++i) {
      const NewTable& nt = db.tables[i];
      file->CreateTable(nt.name, nt.columns, nt.indexes);
      jet::Table& t = file->GetTable(nt.name);
      rows(i, [&](std::vector<jet::Value>& row) {
        try {
          file->InsertRow(t, row);
        } catch (const jet::JetError& e) {
          if (DiskError(e) || !options.on_refused_row) throw;
          options.on_refused_row(i, row, e);
          return;
        }
        for (size_t c = 0; c < row.size(); ++c) {
          if (t.def().columns[c].auto_number() && row[c].is<int32_t>())
            t.SeeAutoNumber(row[c].as<int32_t>());
        }
      });
      if (nt.next_auto_number && *nt.next_auto_number > 1)
        t.SeeAutoNumber(*nt.next_auto_number - 1);
    }
    for (jet::FileState::NewRelation r : db.relations) {
      try {
        file->CreateRelation(r);
      } catch (const jet::JetError& e) {
        if (e.number() != jet::kErrRelationDataViolation || !options.on_unenforced_relation) throw;
        r.attributes |= jet::catalog::kRelDontEnforce;
        file->CreateRelation(r);
        options.on_unenforced_relation(r);
      }
    }
    file->Commit();
  } catch (...) {
    file->Discard();
    throw;
  }
}

// ---- From what the damaged file holds to that description ----

// Types the engine writes; the bytes of any other (a later format's
// attachments, say) are kept as OLE.
bool Known(jet::ColumnType t) {
  const int n = static_cast<int>(t);
  return (n >= 1 && n <= 12) || n == 15 || n == 16;
}

// The columns of `def` in column-number order (the order DAO lists them),
// with the rules the catalogue kept when `with_rules`. `slots`, when given,
// gets each one's place in `def.columns`. A name the new file would refuse
// (empty, too long, twice) becomes "Field" and the column number.
std::vector<jet::NewColumn> Columns(const jet::TableDef& def, const jet::Properties& props,
                                    int version, bool with_rules,
                                    std::vector<size_t>* slots = nullptr) {
  std::vector<const jet::ColumnDef*> order;
  for (const auto& c : def.columns) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto* a, const auto* b) { return a->number < b->number; });
  std::vector<jet::NewColumn> out;
  std::set<std::u16string> taken;
  if (slots) slots->clear();
  for (const jet::ColumnDef* c : order) {
    jet::NewColumn n;
    n.name = c->name;
    if (n.name.empty() || n.name.size() > kMaxNameLength || taken.count(jet::FoldName(n.name))) {
      n.name = "Field" + std::to_string(c->number);
      while (taken.count(jet::FoldName(n.name))) n.name += "_";
    }
    taken.insert(jet::FoldName(n.name));
    if (slots) slots->push_back(static_cast<size_t>(c - def.columns.data()));
    n.type = Known(c->type) ? c->type : jet::ColumnType::kOle;
    if (n.type == jet::ColumnType::kText) {
      n.size = std::clamp(version >= 4 ? c->length / 2 : static_cast<int>(c->length), 1, 255);
    } else if (n.type == jet::ColumnType::kBinary) {
      n.size = std::clamp(static_cast<int>(c->length), 1, 255);
    } else if (n.type == jet::ColumnType::kDecimal) {
      n.precision = std::clamp(static_cast<int>(c->precision), 1, 28);
      n.scale = std::clamp(static_cast<int>(c->scale), 0, n.precision);
    }
    if (with_rules && n.name == c->name) {
      n.auto_number = c->auto_number() && c->type == jet::ColumnType::kLong;
      if (const jet::PropertyMap* m = props.Column(c->name)) {
        if (const auto* p = m->Find("Required")) n.required = p->AsBool();
        if (const auto* p = m->Find("AllowZeroLength")) n.allow_zero_length = p->AsBool();
        if (const auto* p = m->Find("DefaultValue")) n.default_value = p->AsText(version);
      }
    }
    out.push_back(std::move(n));
  }
  return out;
}

// The table's own indexes (the foreign-key ones come with the relations),
// leaving out any on a column an index cannot take.
std::vector<jet::NewIndex> Indexes(const jet::TableDef& def) {
  std::vector<jet::NewIndex> out;
  for (const auto& li : def.indexes) {
    if (li.type == jet::kIdxForeign || li.real_index >= def.real_indexes.size()) continue;
    const jet::RealIndexDef& ri = def.real_indexes[li.real_index];
    jet::NewIndex n;
    n.name = li.name;
    bool usable =
        !ri.columns.empty() && !li.name.empty() && li.name.size() <= kMaxNameLength &&
        ri.columns.size() <= 10 &&
        std::none_of(out.begin(), out.end(), [&](const jet::NewIndex& o) {
          return jet::NamesEqual(o.name, li.name) || (o.primary && li.type == jet::kIdxPrimary);
        });
    for (const auto& ic : ri.columns) {
      const jet::ColumnDef* c = def.ColumnByNumber(ic.column_number);
      usable = usable && c && Known(c->type) && c->type != jet::ColumnType::kOle;
      if (!usable) break;
      n.columns.push_back(c->name);
      n.descending.push_back(!ic.ascending);
    }
    if (!usable) continue;
    n.primary = li.type == jet::kIdxPrimary;
    n.unique = (ri.flags & jet::kIdxUnique) != 0;
    n.required = (ri.flags & jet::kIdxRequired) != 0;
    n.ignore_nulls = (ri.flags & jet::kIdxIgnoreNulls) != 0;
    out.push_back(std::move(n));
  }
  return out;
}

jet::Properties PropertiesOf(const jet::SalvagedTable& t, int version,
                             std::vector<jet::Damage>& damage) {
  try {
    return jet::ParseProperties(t.properties, version);
  } catch (const jet::JetError&) {
    jet::Damage d;
    d.kind = jet::DamageKind::kLongValue;
    d.page = t.tdef_page;
    d.column = "LvProp";
    damage.push_back(d);
    return {};
  }
}

// The rules a new table will enforce on its rows, to tell beforehand which
// recovered rows it would refuse: a required field left null, "" where a
// stored AllowZeroLength says no, a null in a required index, a key a
// unique index already holds.
class RowRules {
 public:
  explicit RowRules(const NewTable& t) : columns_(t.columns) {
    for (size_t i = 0; i < t.columns.size(); ++i) {
      jet::ColumnDef c;
      c.name = t.columns[i].name;
      c.type = t.columns[i].auto_number ? jet::ColumnType::kLong : t.columns[i].type;
      c.number = static_cast<uint16_t>(i);
      c.sort_order = jet::kSortGeneral;
      def_.columns.push_back(c);
    }
    for (const jet::NewIndex& n : t.indexes) {
      jet::RealIndexDef ri;
      for (size_t k = 0; k < n.columns.size(); ++k) {
        const jet::ColumnDef* c = def_.FindColumn(n.columns[k]);
        if (c) ri.columns.push_back({c->number, !(k < n.descending.size() && n.descending[k])});
      }
      if (n.primary || n.unique) ri.flags |= jet::kIdxUnique;
      if (n.primary || n.required) ri.flags |= jet::kIdxRequired;
      def_.real_indexes.push_back(std::move(ri));
    }
    seen_.resize(def_.real_indexes.size());
  }

  // Whether the table takes `row` (new column order) after the rows it took
  // so far.
  bool Takes(const std::vector<jet::Value>& row) {
    for (size_t i = 0; i < columns_.size(); ++i) {
      const jet::NewColumn& c = columns_[i];
      if (c.required.value_or(false) && row[i].is_null()) return false;
      const bool text = c.type == jet::ColumnType::kText || c.type == jet::ColumnType::kMemo;
      if (text && !c.allow_zero_length.value_or(true) && row[i].is<std::string>() &&
          row[i].as<std::string>().empty()) {
        return false;
      }
    }
    keys_.clear();
    for (size_t k = 0; k < def_.real_indexes.size(); ++k) {
      const jet::RealIndexDef& ri = def_.real_indexes[k];
      const bool null =
          std::any_of(ri.columns.begin(), ri.columns.end(),
                      [&](const jet::IndexColumn& ic) { return row[ic.column_number].is_null(); });
      if (null && (ri.flags & jet::kIdxRequired)) return false;
      // Nulls never collide in a unique index.
      if (null || !(ri.flags & jet::kIdxUnique)) {
        keys_.emplace_back();
        continue;
      }
      try {
        keys_.push_back(jet::RowIndexKey(def_, ri, row));
      } catch (const jet::JetError&) {
        return false;
      }
      if (seen_[k].count(keys_.back())) return false;
    }
    for (size_t k = 0; k < keys_.size(); ++k) {
      if (!keys_[k].empty()) seen_[k].insert(std::move(keys_[k]));
    }
    return true;
  }

 private:
  const std::vector<jet::NewColumn>& columns_;
  jet::TableDef def_;
  std::vector<std::set<jet::Bytes>> seen_;
  std::vector<jet::Bytes> keys_;
};

// Where a table's rows come from in the damaged file, and what becomes of
// them.
struct Source {
  enum class Role { kTable, kSetAside };
  Role role = Role::kTable;
  size_t outcome = 0;  // Report::tables index
  uint32_t tdef_page = 0;
  jet::TableDef read_def;     // decodes the rows (no map to follow for a layout)
  bool own = true;            // read_def is the table's own definition
  std::vector<size_t> slots;  // new column i <- read_def.columns[slots[i]]
  std::vector<bool> aside;    // by row ordinal: refused by the table's rules
};

// The salvaged row in the new table's column order.
void Arrange(const Source& s, std::vector<jet::Value>& from, std::vector<jet::Value>& to) {
  to.assign(s.slots.size(), jet::Value::Null());
  for (size_t i = 0; i < s.slots.size(); ++i) {
    if (s.slots[i] < from.size()) to[i] = std::move(from[s.slots[i]]);
  }
}

// The name of the table that takes a table's refused rows.
std::string SetAsideName(const std::string& table) {
  const std::string suffix = "_SetAside";
  std::string base = table.substr(0, kMaxNameLength - suffix.size());
  // Never cut a UTF-8 character in two.
  while (!base.empty() && (static_cast<uint8_t>(base.back()) & 0xc0) == 0x80) base.pop_back();
  if (!base.empty() && (static_cast<uint8_t>(base.back()) & 0x80)) base.pop_back();
  return base + suffix;
}

bool Writable(const TableOutcome& t) { return !t.definition_lost && !t.not_written; }

}  // namespace

bool Report::clean() const {
  if (unreadable || !catalogue_damage.empty() || !relations_damage.empty() || !relations.empty()) {
    return false;
  }
  return std::all_of(tables.begin(), tables.end(), [](const TableOutcome& t) {
    return t.lost == 0 && t.set_aside == 0 && t.damage.empty() && !t.layout_used &&
           !t.definition_lost && !t.not_written;
  });
}

bool Report::hopeless() const {
  if (unreadable) return true;
  // A database with no user table is not hopeless unless its catalogue is
  // what was lost.
  if (tables.empty()) return !catalogue_damage.empty();
  return std::none_of(tables.begin(), tables.end(), Writable);
}


Report Repair(const std::string& db, const std::string& password, const std::string& out,
              const LayoutSource& layouts) {
  Report report;
  std::shared_ptr<jet::Pager> pager;
  try {
    pager = jet::Pager::Open(db, jet::OpenMode::kReadOnly, false, password);
  } catch (const jet::JetError& e) {
    if (e.number() != jet::kErrNotADatabase && e.number() != jet::kErrCorrupt) throw;
    report.unreadable = true;
    return report;
  }
  // Before any reading: the new file must not exist.
  if (std::filesystem::exists(db::FsPath(out))) throw jet::JetError(jet::kErrDatabaseExists, out);
  jet::Salvager salvager(pager);
  report.catalogue_damage = salvager.catalogue_damage();
  const int version = pager->format().version;

  NewDatabase plan;
  plan.password = pager->header().password;
  plan.encrypt = pager->header().db_key != 0;
  std::vector<Source> sources;  // by plan.tables index
  std::set<std::u16string> names;
  for (const jet::SalvagedTable& t : salvager.tables()) {
    if (!t.system) names.insert(jet::FoldName(t.name));
  }

  for (const jet::SalvagedTable& t : salvager.tables()) {
    // A damaged catalogue may lose a system table's flags; the new file
    // makes its own.
    if (t.system || jet::FoldName(t.name).starts_with(jet::FoldName("MSys"))) continue;
    TableOutcome o;
    o.name = t.name;
    // Two catalogue rows of one name: the second keeps its page in its name.
    if (std::any_of(report.tables.begin(), report.tables.end(),
                    [&](const TableOutcome& x) { return jet::NamesEqual(x.name, t.name); })) {
      o.name = t.name + "_" + std::to_string(t.tdef_page);
    }
    std::optional<jet::TableDef> def = t.def;
    const bool own = def.has_value();
    if (!own) {
      jet::Damage d;
      d.kind = t.tdef_page < pager->page_count() ? jet::DamageKind::kTableDefinition
                                                 : jet::DamageKind::kMissingPage;
      d.page = t.tdef_page;
      o.damage.push_back(d);
      if (layouts) def = layouts(t.name);
      o.layout_used = def.has_value();
      o.definition_lost = !def.has_value();
    }
    const size_t outcome = report.tables.size();
    const std::string name = o.name;
    report.tables.push_back(std::move(o));
    if (!def || name.empty() || name.size() > kMaxNameLength || def->columns.empty() ||
        def->columns.size() > 255) {
      report.tables[outcome].not_written = def.has_value();
      continue;
    }
    TableOutcome& to = report.tables[outcome];
    NewTable nt;
    nt.name = to.name;
    nt.properties = PropertiesOf(t, version, to.damage);
    std::vector<size_t> slots;
    nt.columns = Columns(*def, nt.properties, version, true, &slots);
    nt.indexes = Indexes(*def);
    // An index naming a column that had to be renamed is left out.
    std::erase_if(nt.indexes, [&](const jet::NewIndex& n) {
      return std::any_of(n.columns.begin(), n.columns.end(), [&](const std::string& c) {
        return std::none_of(nt.columns.begin(), nt.columns.end(),
                            [&](const jet::NewColumn& x) { return x.name == c; });
      });
    });
    if (own && def->next_auto_number < INT32_MAX) {
      nt.next_auto_number = static_cast<int32_t>(def->next_auto_number) + 1;
    }

    Source s;
    s.outcome = outcome;
    s.tdef_page = t.tdef_page;
    s.read_def = *def;
    s.own = own;
    if (!own) s.read_def.owned_pages = 0;  // a layout's maps are not this file's
    s.slots = std::move(slots);

    // A first reading: what was lost, and which rows the table's rules will
    // refuse, so that those go to a table of their own.
    RowRules rules(nt);
    std::vector<jet::Value> arranged;
    jet::RowHarvest h = salvager.Rows(
        s.tdef_page, s.read_def,
        [&](std::vector<jet::Value>& v) {
          Arrange(s, v, arranged);
          s.aside.push_back(!rules.Takes(arranged));
        },
        own);
    to.lost = h.lost;
    to.damage.insert(to.damage.end(), h.damage.begin(), h.damage.end());
    if (own) {
      for (const auto& d : salvager.IndexDamage(*def)) to.damage.push_back(d);
    }
    to.set_aside = static_cast<size_t>(std::count(s.aside.begin(), s.aside.end(), true));
    to.recovered = s.aside.size() - to.set_aside;

    plan.tables.push_back(nt);
    sources.push_back(s);
    if (to.set_aside > 0) {
      NewTable aside;
      aside.name = SetAsideName(to.name);
      for (int n = 2; names.count(jet::FoldName(aside.name)); ++n) {
        aside.name = SetAsideName(to.name + std::to_string(n));
      }
      names.insert(jet::FoldName(aside.name));
      to.set_aside_table = aside.name;
      aside.columns = Columns(*def, {}, version, false);
      for (size_t i = 0; i < aside.columns.size(); ++i) aside.columns[i].name = nt.columns[i].name;
      plan.tables.push_back(std::move(aside));
      Source sa;
      sa.role = Source::Role::kSetAside;
      sa.outcome = outcome;
      sources.push_back(std::move(sa));
    }
  }
  if (report.hopeless()) return report;

  // Relations between the tables written; one a table of which is gone is
  // lost, and one whose referenced fields have no unique index to check
  // against is kept without enforcement.
  std::vector<jet::Damage> relation_damage;
  auto system = [&](const std::string& name) {
    return std::any_of(
        salvager.tables().begin(), salvager.tables().end(),
        [&](const jet::SalvagedTable& t) { return t.system && jet::NamesEqual(t.name, name); });
  };
  auto planned = [&](const std::string& name) -> const NewTable* {
    for (size_t i = 0; i < plan.tables.size(); ++i) {
      if (sources[i].role == Source::Role::kTable && jet::NamesEqual(plan.tables[i].name, name)) {
        return &plan.tables[i];
      }
    }
    return nullptr;
  };
  for (const auto& r : salvager.Relations(&relation_damage)) {
    // The system tables' own relations come with the new file's catalogue.
    if (system(r.table) || system(r.foreign_table)) continue;
    const NewTable* one = planned(r.table);
    const NewTable* many = planned(r.foreign_table);
    auto column = [](const NewTable* t, const std::string& name) -> const jet::NewColumn* {
      for (const auto& c : t->columns) {
        if (jet::NamesEqual(c.name, name)) return &c;
      }
      return nullptr;
    };
    bool fits = one && many && !r.fields.empty() && r.fields.size() <= 10 && !r.name.empty() &&
                r.name.size() <= kMaxNameLength;
    bool keyed = false;
    for (size_t k = 0; fits && k < r.fields.size(); ++k) {
      const jet::NewColumn* a = column(one, r.fields[k].first);
      const jet::NewColumn* b = column(many, r.fields[k].second);
      fits = a && b &&
             (a->auto_number ? jet::ColumnType::kLong : a->type) ==
                 (b->auto_number ? jet::ColumnType::kLong : b->type);
    }
    if (fits) {
      for (const auto& n : one->indexes) {
        const bool ascending =
            std::none_of(n.descending.begin(), n.descending.end(), [](bool d) { return d; });
        if (!(n.primary || n.unique) || !ascending || n.columns.size() != r.fields.size()) continue;
        keyed = keyed || std::all_of(r.fields.begin(), r.fields.end(), [&](const auto& f) {
                  return std::any_of(n.columns.begin(), n.columns.end(), [&](const std::string& c) {
                    return jet::NamesEqual(c, f.first);
                  });
                });
      }
    }
    RelationOutcome o{r.name, r.table, r.foreign_table};
    o.lost = !fits;
    const bool enforced = !(r.attributes & jet::catalog::kRelDontEnforce);
    o.enforced = enforced && keyed;
    if (fits) {
      plan.relations.push_back(
          {r.name, r.table, r.foreign_table, r.fields,
           o.enforced ? r.attributes : r.attributes | jet::catalog::kRelDontEnforce});
    }
    if (o.lost || o.enforced != enforced) report.relations.push_back(std::move(o));
  }
  report.relations_damage = std::move(relation_damage);

  // The writing: each table's rows read again, the refused ones held for
  // its set-aside table, which comes next.
  std::vector<std::vector<jet::Value>> held;
  std::vector<jet::Value> arranged;
  const RowSource rows = [&](size_t i, const RowSink& sink) {
    const Source& s = sources[i];
    if (s.role == Source::Role::kSetAside) {
      for (auto& row : held) sink(row);
      held.clear();
      return;
    }
    size_t ordinal = 0;
    salvager.Rows(
        s.tdef_page, s.read_def,
        [&](std::vector<jet::Value>& v) {
          Arrange(s, v, arranged);
          if (ordinal < s.aside.size() && s.aside[ordinal]) {
            held.push_back(std::move(arranged));
          } else {
            sink(arranged);
          }
          ++ordinal;
        },
        false);
  };
  WriteOptions options;
  options.on_refused_row = [&](size_t i, const std::vector<jet::Value>&, const jet::JetError&) {
    TableOutcome& t = report.tables[sources[i].outcome];
    --(sources[i].role == Source::Role::kTable ? t.recovered : t.set_aside);
    ++t.lost;
  };
  options.on_unenforced_relation = [&](const jet::FileState::NewRelation& r) {
    auto it = std::find_if(report.relations.begin(), report.relations.end(),
                           [&](const RelationOutcome& x) { return x.name == r.name; });
    if (it == report.relations.end()) {
      report.relations.push_back({r.name, r.table, r.foreign_table, false, false});
    } else {
      it->enforced = false;
    }
  };
  WriteNewDatabase(out, plan, rows, options);
  report.written = true;
  return report;
}

}  // namespace maquetor::repair
