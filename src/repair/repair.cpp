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
#include "jet/rebuild.h"
#include "jet/relations.h"
#include "jet/text.h"

namespace maquetor::repair {
namespace {

namespace rebuild = jet::rebuild;

constexpr size_t kMaxNameLength = 64;

// ---- From what the damaged file holds to that description ----

// Types the engine writes; the bytes of any other (a later format's
// attachments, say) are kept as OLE.
bool Known(jet::ColumnType t) {
  const int n = static_cast<int>(t);
  return (n >= 1 && n <= 12) || n == 15 || n == 16;
}

// The columns of `def` in column-number order (the order DAO lists them),
// with the rules the catalogue kept when `with_rules` (read by RowRules;
// the new file takes them from the table's properties). `slots`, when
// given, gets each one's place in `def.columns`. A name the new file would
// refuse (empty, too long, twice) becomes "Field" and the column number.
std::vector<rebuild::Column> Columns(const jet::TableDef& def, const jet::Properties& props,
                                     int version, bool with_rules,
                                     std::vector<size_t>* slots = nullptr) {
  std::vector<const jet::ColumnDef*> order;
  for (const auto& c : def.columns) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto* a, const auto* b) { return a->number < b->number; });
  std::vector<rebuild::Column> out;
  std::set<std::u16string> taken;
  if (slots) slots->clear();
  for (const jet::ColumnDef* c : order) {
    rebuild::Column col = rebuild::ColumnOf(*c, version);
    jet::NewColumn& n = col.column;
    if (n.name.empty() || n.name.size() > kMaxNameLength || taken.count(jet::FoldName(n.name))) {
      n.name = "Field" + std::to_string(c->number);
      while (taken.count(jet::FoldName(n.name))) n.name += "_";
    }
    taken.insert(jet::FoldName(n.name));
    if (slots) slots->push_back(static_cast<size_t>(c - def.columns.data()));
    if (!Known(c->type)) {
      rebuild::Column ole;
      ole.column.name = n.name;
      ole.column.type = jet::ColumnType::kOle;
      col = std::move(ole);
    }
    if (n.type == jet::ColumnType::kText || n.type == jet::ColumnType::kBinary) {
      n.size = std::clamp(n.size, 1, 255);
    } else if (n.type == jet::ColumnType::kDecimal) {
      n.precision = std::clamp(n.precision, 1, 28);
      n.scale = std::clamp(n.scale, 0, n.precision);
    }
    const bool rules = with_rules && n.name == c->name;
    n.auto_number = rules && n.auto_number && c->type == jet::ColumnType::kLong;
    col.auto_guid = rules && col.auto_guid;
    if (rules) {
      if (const jet::PropertyMap* m = props.Column(c->name)) {
        if (const auto* p = m->Find("Required")) n.required = p->AsBool();
        if (const auto* p = m->Find("AllowZeroLength")) n.allow_zero_length = p->AsBool();
        if (const auto* p = m->Find("DefaultValue")) n.default_value = p->AsText();
      }
    }
    out.push_back(std::move(col));
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

// A stored LvProp blob as the new file takes it; none when it does not parse.
std::optional<jet::Properties> PropertiesOf(const jet::Bytes& blob, int version) {
  try {
    return rebuild::AsJet4(jet::ParseProperties(blob, version), version);
  } catch (const jet::JetError&) {
    return std::nullopt;
  }
}

// Whether a table's columns are a layout's: the same names and types.
bool SameColumns(const jet::TableDef& a, const jet::TableDef& b) {
  auto columns = [](const jet::TableDef& d) {
    std::multiset<std::pair<std::u16string, int>> out;
    for (const auto& c : d.columns) out.insert({jet::FoldName(c.name), static_cast<int>(c.type)});
    return out;
  };
  return a.columns.size() == b.columns.size() && columns(a) == columns(b);
}

// The rules a new table will enforce on its rows, to tell beforehand which
// recovered rows it would refuse: a required field left null, "" where a
// stored AllowZeroLength says no, a null in a required index, a key a
// unique index already holds.
class RowRules {
 public:
  explicit RowRules(const rebuild::Table& t) : columns_(t.columns) {
    for (size_t i = 0; i < t.columns.size(); ++i) {
      jet::ColumnDef c;
      c.name = t.columns[i].column.name;
      c.type = t.columns[i].column.auto_number ? jet::ColumnType::kLong : t.columns[i].column.type;
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
      const jet::NewColumn& c = columns_[i].column;
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
  const std::vector<rebuild::Column>& columns_;
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

bool ValidName(const std::string& name) { return !name.empty() && name.size() <= kMaxNameLength; }

// The damaged file's pager; null when nothing in it reads as a Jet file.
std::shared_ptr<jet::Pager> OpenDamaged(const std::string& db, const std::string& password,
                                        Report& report) {
  try {
    return jet::Pager::Open(db, jet::OpenMode::kReadOnly, false, password);
  } catch (const jet::JetError& e) {
    if (e.number() == jet::kErrCorrupt) {
      report.unreadable = true;
      return nullptr;
    }
    if (e.number() != jet::kErrNotADatabase) throw;
  }
  report.header_damaged = true;
  const std::optional<int> version = jet::GuessVersion(db);
  if (!version) {
    report.unreadable = true;
    return nullptr;
  }
  jet::HeaderInfo header;
  header.version = *version;
  return jet::Pager::OpenWithHeader(db, header);
}

// Names for the tables found by their definition page alone: a law-office
// table's name when the table's columns are exactly one layout's, that
// layout is no other table's, and no other found table matches it too.
std::map<uint32_t, std::string> NameFoundTables(const std::vector<jet::SalvagedTable>& tables,
                                                const LayoutSource& layouts,
                                                const LayoutNames& layout_names) {
  std::map<uint32_t, std::string> out;
  if (!layouts || !layout_names) return out;
  std::set<std::u16string> present;
  for (const auto& t : tables) {
    if (t.catalogued) present.insert(jet::FoldName(t.name));
  }
  std::vector<std::pair<std::string, jet::TableDef>> free;
  for (const std::string& name : layout_names()) {
    if (present.count(jet::FoldName(name))) continue;
    if (std::optional<jet::TableDef> def = layouts(name)) free.emplace_back(name, std::move(*def));
  }
  std::map<size_t, std::vector<uint32_t>> matched_by;  // layout -> found tables
  std::map<uint32_t, std::vector<size_t>> matches;     // found table -> layouts
  for (const auto& t : tables) {
    if (t.catalogued || !t.def) continue;
    for (size_t i = 0; i < free.size(); ++i) {
      if (!SameColumns(*t.def, free[i].second)) continue;
      matched_by[i].push_back(t.tdef_page);
      matches[t.tdef_page].push_back(i);
    }
  }
  for (const auto& [page, layouts_matched] : matches) {
    if (layouts_matched.size() == 1 && matched_by[layouts_matched[0]].size() == 1) {
      out[page] = free[layouts_matched[0]].first;
    }
  }
  return out;
}

// The saved queries, the database's properties and the Databases
// container's documents, where their catalogue rows (and MSysQueries')
// read. `taken`: the names of the tables written; the queries' are added.
void PlanObjects(jet::Salvager& salvager, int version, std::set<std::u16string>& taken,
                 rebuild::Database& plan, Report& report) {
  auto skip = [&](const std::string& name, const char* kind, const char* why) {
    report.skipped.push_back({name, kind, why});
  };
  std::map<int32_t, size_t> query_by_id;
  std::set<std::u16string> documents;
  for (const jet::SalvagedObject& o : salvager.objects()) {
    const bool query =
        o.parent_id == jet::catalog::kTablesContainerId && o.type == jet::catalog::kObjectQuery;
    const bool database = o.parent_id == jet::catalog::kDatabasesContainerId;
    if (!query && !database) continue;
    const char* kind = query ? "query" : o.id == jet::catalog::kMSysDbId ? "database properties"
                                                                           : "document";
    std::optional<jet::Properties> props = PropertiesOf(o.properties, version);
    if (!props) {
      skip(o.name, kind, "its properties do not read");
      continue;
    }
    if (database && o.id == jet::catalog::kMSysDbId) {
      plan.database_properties = std::move(*props);
    } else if (database) {
      if (!ValidName(o.name) || !documents.insert(jet::FoldName(o.name)).second) {
        skip(o.name, kind, "its name is not usable or is taken");
        continue;
      }
      plan.documents.push_back({o.name, o.type, o.flags, std::move(*props)});
    } else {
      if (!ValidName(o.name) || !taken.insert(jet::FoldName(o.name)).second) {
        skip(o.name, kind, "its name is not usable or is taken");
        continue;
      }
      query_by_id[o.id] = plan.queries.size();
      rebuild::Query q;
      q.name = o.name;
      q.flags = o.flags;
      q.properties = std::move(*props);
      q.lv_extra = o.lv_extra;
      plan.queries.push_back(std::move(q));
    }
  }
  if (plan.queries.empty()) return;

  // Each query's MSysQueries rows, by column name as the new table takes
  // them. Attribute 0 opens a query's rows and 255 closes them: where
  // MSysQueries is damaged, a query lacking either lost rows.
  auto it = std::find_if(
      salvager.tables().begin(), salvager.tables().end(), [](const jet::SalvagedTable& t) {
        return t.system && t.def && jet::NamesEqual(t.name, "MSysQueries");
      });
  const jet::TableDef* def = it == salvager.tables().end() ? nullptr : &*it->def;
  const jet::ColumnDef* object_id = def ? def->FindColumn("ObjectId") : nullptr;
  const jet::ColumnDef* attribute = def ? def->FindColumn("Attribute") : nullptr;
  std::vector<bool> broken(plan.queries.size(), !object_id || !attribute);
  std::vector<std::set<int32_t>> attributes(plan.queries.size());
  if (object_id && attribute) {
    const size_t id_slot = static_cast<size_t>(object_id - def->columns.data());
    const size_t attribute_slot = static_cast<size_t>(attribute - def->columns.data());
    jet::RowHarvest h = salvager.Rows(
        it->tdef_page, *def,
        [&](std::vector<jet::Value>& v) {
          if (!v[id_slot].is<int32_t>()) return;
          auto q = query_by_id.find(v[id_slot].as<int32_t>());
          if (q == query_by_id.end()) return;
          if (!salvager.last_row_whole()) {
            broken[q->second] = true;
            return;
          }
          if (v[attribute_slot].is<int32_t>())
            attributes[q->second].insert(v[attribute_slot].as<int32_t>());
          std::vector<std::pair<std::string, jet::Value>> cells;
          for (size_t c = 0; c < def->columns.size(); ++c) {
            if (c != id_slot) cells.emplace_back(def->columns[c].name, std::move(v[c]));
          }
          plan.queries[q->second].rows.push_back(std::move(cells));
        },
        false);
    report.queries_damage = std::move(h.damage);
    const bool damaged = !report.queries_damage.empty() || h.lost > 0;
    for (size_t q = 0; q < plan.queries.size(); ++q) {
      if (damaged && (!attributes[q].count(0) || !attributes[q].count(255))) broken[q] = true;
    }
  }
  for (size_t q = plan.queries.size(); q-- > 0;) {
    if (!broken[q]) continue;
    skip(plan.queries[q].name, "query",
         object_id && attribute ? "rows of its definition were lost" : "MSysQueries does not read");
    taken.erase(jet::FoldName(plan.queries[q].name));
    plan.queries.erase(plan.queries.begin() + static_cast<ptrdiff_t>(q));
  }
  report.queries = plan.queries.size();
}

}  // namespace

bool Report::clean() const {
  if (unreadable || header_damaged || relations_unread || !catalogue_damage.empty() ||
      !relations_damage.empty() || !queries_damage.empty() || !skipped.empty() ||
      !relations.empty()) {
    return false;
  }
  return std::all_of(tables.begin(), tables.end(), [](const TableOutcome& t) {
    return t.lost == 0 && t.set_aside == 0 && t.damage.empty() && !t.layout_used &&
           !t.definition_lost && !t.not_written && !t.catalogue_row_lost;
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
              const LayoutSource& layouts, const LayoutNames& layout_names) {
  Report report;
  std::shared_ptr<jet::Pager> pager = OpenDamaged(db, password, report);
  if (!pager) return report;
  // Before any reading: the new file must not exist.
  if (std::filesystem::exists(db::FsPath(out))) throw jet::JetError(jet::kErrDatabaseExists, out);
  jet::Salvager salvager(pager);
  report.catalogue_damage = salvager.catalogue_damage();
  const int version = pager->format().version;

  rebuild::Database plan;
  if (!report.header_damaged) {
    plan.password = pager->header().password;
    plan.encrypt = pager->header().db_key != 0;
  }
  std::vector<Source> sources;  // by plan.tables index
  const std::map<uint32_t, std::string> found_names =
      NameFoundTables(salvager.tables(), layouts, layout_names);
  // Every name the new file's tables and queries may not take twice.
  std::set<std::u16string> names;
  for (const jet::SalvagedTable& t : salvager.tables()) {
    if (!t.system) names.insert(jet::FoldName(t.name));
  }
  for (const auto& [page, name] : found_names) names.insert(jet::FoldName(name));
  for (const jet::SalvagedObject& o : salvager.objects()) {
    if (o.parent_id == jet::catalog::kTablesContainerId) names.insert(jet::FoldName(o.name));
  }

  for (const jet::SalvagedTable& t : salvager.tables()) {
    // A damaged catalogue may lose a system table's flags; the new file
    // makes its own.
    if (t.system || jet::FoldName(t.name).starts_with(jet::FoldName("MSys"))) continue;
    TableOutcome o;
    o.name = t.name;
    o.definition_page = t.tdef_page;
    o.catalogue_row_lost = !t.catalogued;
    if (auto named = found_names.find(t.tdef_page); !t.catalogued && named != found_names.end()) {
      o.name = named->second;
      o.named_by_layout = true;
    }
    // Two catalogue rows of one name: the second keeps its page in its name.
    if (std::any_of(report.tables.begin(), report.tables.end(),
                    [&](const TableOutcome& x) { return jet::NamesEqual(x.name, o.name); })) {
      o.name = o.name + "_" + std::to_string(t.tdef_page);
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
    if (!def || !ValidName(name) || def->columns.empty() || def->columns.size() > 255) {
      report.tables[outcome].not_written = def.has_value();
      continue;
    }
    TableOutcome& to = report.tables[outcome];
    rebuild::Table nt;
    nt.name = to.name;
    if (std::optional<jet::Properties> props = PropertiesOf(t.properties, version)) {
      nt.properties = std::move(*props);
    } else {
      jet::Damage d;
      d.kind = jet::DamageKind::kLongValue;
      d.page = t.tdef_page;
      d.column = "LvProp";
      to.damage.push_back(d);
    }
    std::vector<size_t> slots;
    nt.columns = Columns(*def, nt.properties, version, true, &slots);
    nt.indexes = Indexes(*def);
    // An index naming a column that had to be renamed is left out.
    std::erase_if(nt.indexes, [&](const jet::NewIndex& n) {
      return std::any_of(n.columns.begin(), n.columns.end(), [&](const std::string& c) {
        return std::none_of(nt.columns.begin(), nt.columns.end(),
                            [&](const rebuild::Column& x) { return x.column.name == c; });
      });
    });
    int auto_slot = -1;
    for (size_t i = 0; i < nt.columns.size(); ++i) {
      if (nt.columns[i].column.auto_number) auto_slot = static_cast<int>(i);
    }

    Source s;
    s.outcome = outcome;
    s.tdef_page = t.tdef_page;
    s.read_def = *def;
    s.own = own;
    if (!own) s.read_def.owned_pages = 0;  // a layout's maps are not this file's
    s.slots = std::move(slots);

    // A first reading: what was lost, which rows the table's rules will
    // refuse, so that those go to a table of their own, and the highest
    // auto-number kept.
    RowRules rules(nt);
    std::vector<jet::Value> arranged;
    int32_t highest = 0;
    jet::RowHarvest h = salvager.Rows(
        s.tdef_page, s.read_def,
        [&](std::vector<jet::Value>& v) {
          Arrange(s, v, arranged);
          const bool taken = rules.Takes(arranged);
          s.aside.push_back(!taken);
          if (taken && auto_slot >= 0 && arranged[static_cast<size_t>(auto_slot)].is<int32_t>()) {
            highest = std::max(highest, arranged[static_cast<size_t>(auto_slot)].as<int32_t>());
          }
        },
        own);
    to.lost = h.lost;
    to.damage.insert(to.damage.end(), h.damage.begin(), h.damage.end());
    if (own) {
      for (const auto& d : salvager.IndexDamage(*def)) to.damage.push_back(d);
    }
    to.set_aside = static_cast<size_t>(std::count(s.aside.begin(), s.aside.end(), true));
    to.recovered = s.aside.size() - to.set_aside;
    // The counter goes on from where the damaged file's was, and never
    // hands out a number a recovered row holds.
    if (own && def->next_auto_number < INT32_MAX && highest < INT32_MAX) {
      nt.next_auto_number = std::max(static_cast<int32_t>(def->next_auto_number), highest) + 1;
    }

    plan.tables.push_back(std::move(nt));
    sources.push_back(std::move(s));
    if (to.set_aside > 0) {
      rebuild::Table aside;
      aside.name = SetAsideName(to.name);
      for (int n = 2; names.count(jet::FoldName(aside.name)); ++n) {
        aside.name = SetAsideName(to.name + std::to_string(n));
      }
      names.insert(jet::FoldName(aside.name));
      to.set_aside_table = aside.name;
      aside.columns = Columns(*def, {}, version, false);
      const rebuild::Table& table = plan.tables.back();
      for (size_t i = 0; i < aside.columns.size(); ++i)
        aside.columns[i].column.name = table.columns[i].column.name;
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
  auto planned = [&](const std::string& name) -> const rebuild::Table* {
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
    const rebuild::Table* one = planned(r.table);
    const rebuild::Table* many = planned(r.foreign_table);
    auto column = [](const rebuild::Table* t, const std::string& name) -> const jet::NewColumn* {
      for (const auto& c : t->columns) {
        if (jet::NamesEqual(c.column.name, name)) return &c.column;
      }
      return nullptr;
    };
    bool fits = one && many && !r.fields.empty() && r.fields.size() <= 10 && ValidName(r.name);
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
  report.relations_unread = !report.catalogue_damage.empty() && std::none_of(
      salvager.tables().begin(), salvager.tables().end(), [](const jet::SalvagedTable& t) {
        return t.system && t.def && jet::NamesEqual(t.name, "MSysRelationships");
      });
  std::set<std::u16string> table_names;
  for (const rebuild::Table& t : plan.tables) table_names.insert(jet::FoldName(t.name));
  PlanObjects(salvager, version, table_names, plan, report);

  // The writing: each table's rows read again, the refused ones held for
  // its set-aside table, which comes next (the writer fills the tables in
  // their order when it is told of relations the rows break).
  std::vector<std::vector<jet::Value>> held;
  std::vector<jet::Value> arranged;
  const rebuild::RowSource rows = [&](size_t i, const rebuild::RowSink& sink) {
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
  rebuild::Options options;
  options.on_refused_row = [&](size_t i, const std::vector<jet::Value>&, const jet::JetError&) {
    TableOutcome& t = report.tables[sources[i].outcome];
    --(sources[i].role == Source::Role::kTable ? t.recovered : t.set_aside);
    ++t.lost;
  };
  options.on_unenforced_relation = [&](const rebuild::Relation& r) {
    auto it = std::find_if(report.relations.begin(), report.relations.end(),
                           [&](const RelationOutcome& x) { return x.name == r.name; });
    if (it == report.relations.end()) {
      report.relations.push_back({r.name, r.table, r.foreign_table, false, false});
    } else {
      it->enforced = false;
    }
  };
  rebuild::WriteDatabase(out, plan, rows, options);
  report.written = true;
  return report;
}

}  // namespace maquetor::repair
