#include "repair/repair.h"

#include <algorithm>
#include <memory>

#include "jet/catalog_layout.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/props.h"
#include "jet/text.h"

namespace maquetor::repair {
namespace {

constexpr size_t kMaxNameLength = 64;

// Types the engine writes; the bytes of any other (a later format's
// attachments, say) are kept as OLE.
bool Known(jet::ColumnType t) {
  const int n = static_cast<int>(t);
  return (n >= 1 && n <= 12) || n == 15 || n == 16;
}

// The columns of `def` as CreateTable takes them, in column-number order
// (the order DAO lists them), with the properties the catalogue kept.
std::vector<jet::NewColumn> Columns(const jet::TableDef& def, const jet::Properties& props,
                                    int version, bool with_rules) {
  std::vector<const jet::ColumnDef*> order;
  for (const auto& c : def.columns) order.push_back(&c);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto* a, const auto* b) { return a->number < b->number; });
  std::vector<jet::NewColumn> out;
  for (const jet::ColumnDef* c : order) {
    jet::NewColumn n;
    n.name = c->name;
    n.type = Known(c->type) ? c->type : jet::ColumnType::kOle;
    if (c->type == jet::ColumnType::kText) {
      n.size = std::clamp(version >= 4 ? c->length / 2 : c->length, 1, 255);
    } else if (c->type == jet::ColumnType::kBinary) {
      n.size = std::clamp(static_cast<int>(c->length), 1, 255);
    } else if (c->type == jet::ColumnType::kDecimal) {
      n.precision = std::clamp(static_cast<int>(c->precision), 1, 28);
      n.scale = std::clamp(static_cast<int>(c->scale), 0, n.precision);
    }
    if (with_rules) {
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

// The table's own indexes (not the foreign-key ones, which the relations
// make again).
std::vector<jet::NewIndex> Indexes(const jet::TableDef& def) {
  std::vector<jet::NewIndex> out;
  for (const auto& li : def.indexes) {
    if (li.type == jet::kIdxForeign || li.real_index >= def.real_indexes.size()) continue;
    const jet::RealIndexDef& ri = def.real_indexes[li.real_index];
    jet::NewIndex n;
    n.name = li.name;
    bool complete = !ri.columns.empty();
    for (const auto& ic : ri.columns) {
      const jet::ColumnDef* c = def.ColumnByNumber(ic.column_number);
      if (!c) complete = false;
      if (!c) break;
      n.columns.push_back(c->name);
      n.descending.push_back(!ic.ascending);
    }
    if (!complete) continue;
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

// Writes one table and its rows into `out`.
class TableWriter {
 public:
  TableWriter(jet::FileState& out, jet::Salvager& salvager, int version)
      : out_(out), salvager_(salvager), version_(version) {}

  void Write(const jet::SalvagedTable& t, const jet::TableDef& def, bool own_definition,
             TableOutcome& o) {
    const jet::Properties props = PropertiesOf(t, version_, o.damage);
    columns_ = Columns(def, props, version_, true);
    try {
      out_.CreateTable(t.name, columns_, Indexes(def));
    } catch (const jet::JetError&) {
      // An index or a property the new file will not take must not cost the
      // rows: the bare columns instead.
      try {
        out_.CreateTable(t.name, Columns(def, props, version_, false), {});
      } catch (const jet::JetError&) {
        o.not_written = true;
        return;
      }
    }
    jet::Table& table = out_.GetTable(t.name);
    // Where each of the new table's columns is in the salvaged rows.
    slots_.clear();
    for (const auto& c : table.def().columns) {
      const jet::ColumnDef* from = def.FindColumn(c.name);
      slots_.push_back(from ? static_cast<size_t>(from - def.columns.data()) : SIZE_MAX);
    }
    set_aside_ = nullptr;
    jet::TableDef read_def = def;
    if (!own_definition) read_def.owned_pages = 0;  // a layout's maps are not this file's
    jet::RowHarvest h = salvager_.Rows(t.tdef_page, read_def, [&](std::vector<jet::Value>& v) {
      Put(t.name, table, def, v, o);
    }, own_definition);
    o.lost = h.lost;
    o.damage.insert(o.damage.end(), h.damage.begin(), h.damage.end());
    if (own_definition) {
      for (const auto& d : salvager_.IndexDamage(def)) o.damage.push_back(d);
      // The counter goes on from where the damaged file left it.
      if (def.next_auto_number > 0 && def.next_auto_number <= INT32_MAX) {
        table.SeeAutoNumber(static_cast<int32_t>(def.next_auto_number));
      }
    }
  }

 private:
  void Put(const std::string& name, jet::Table& table, const jet::TableDef& def,
           std::vector<jet::Value>& v, TableOutcome& o) {
    row_.assign(slots_.size(), jet::Value::Null());
    for (size_t i = 0; i < slots_.size(); ++i) {
      if (slots_[i] < v.size()) row_[i] = std::move(v[slots_[i]]);
    }
    try {
      out_.InsertRow(table, row_);
      for (size_t i = 0; i < row_.size(); ++i) {
        if (table.def().columns[i].auto_number() && row_[i].is<int32_t>()) {
          table.SeeAutoNumber(row_[i].as<int32_t>());
        }
      }
      ++o.recovered;
      return;
    } catch (const jet::JetError& e) {
      if (e.number() == jet::kErrDiskFull || e.number() == jet::kErrDiskIo) throw;
    }
    if (!set_aside_) {
      std::string aside = SetAsideName(name);
      for (int n = 2; out_.FindTable(aside); ++n) aside = SetAsideName(name + std::to_string(n));
      // Made from the same columns as the table the new file took.
      out_.CreateTable(aside, Columns(def, {}, version_, false), {});
      set_aside_ = &out_.GetTable(aside);
      aside_slots_.clear();
      for (const auto& c : set_aside_->def().columns) {
        const jet::ColumnDef* to = table.def().FindColumn(c.name);
        aside_slots_.push_back(static_cast<size_t>(to - table.def().columns.data()));
      }
    }
    aside_row_.assign(aside_slots_.size(), jet::Value::Null());
    for (size_t i = 0; i < aside_slots_.size(); ++i) aside_row_[i] = row_[aside_slots_[i]];
    try {
      out_.InsertRow(*set_aside_, aside_row_);
      ++o.set_aside;
    } catch (const jet::JetError& e) {
      // A row no table of the new file can hold (too large for a page).
      if (e.number() == jet::kErrDiskFull || e.number() == jet::kErrDiskIo) throw;
      ++o.lost;
    }
  }

  jet::FileState& out_;
  jet::Salvager& salvager_;
  int version_;
  std::vector<jet::NewColumn> columns_;
  std::vector<size_t> slots_, aside_slots_;
  std::vector<jet::Value> row_, aside_row_;
  jet::Table* set_aside_ = nullptr;
};

void WriteRelations(jet::FileState& out, jet::Salvager& salvager,
                    const std::vector<TableOutcome>& tables, Report& report) {
  auto written = [&](const std::string& name) {
    return std::any_of(tables.begin(), tables.end(), [&](const TableOutcome& t) {
      return !t.not_written && !t.definition_lost && jet::NamesEqual(t.name, name);
    });
  };
  auto system = [&](const std::string& name) {
    return std::any_of(salvager.tables().begin(), salvager.tables().end(),
                       [&](const jet::SalvagedTable& t) { return t.system && jet::NamesEqual(t.name, name); });
  };
  std::vector<jet::Damage> damage;
  for (const auto& r : salvager.Relations(&damage)) {
    // The system tables' own relations come with the new file's catalogue.
    if (system(r.table) || system(r.foreign_table)) continue;
    RelationOutcome o{r.name, r.table, r.foreign_table};
    jet::FileState::NewRelation n{r.name, r.table, r.foreign_table, r.fields, r.attributes};
    o.enforced = !(r.attributes & jet::catalog::kRelDontEnforce);
    if (!written(r.table) || !written(r.foreign_table)) {
      o.lost = true;
    } else {
      try {
        out.CreateRelation(n);
      } catch (const jet::JetError& e) {
        if (e.number() == jet::kErrDiskFull || e.number() == jet::kErrDiskIo) throw;
        n.attributes |= jet::catalog::kRelDontEnforce;
        o.enforced = false;
        try {
          out.CreateRelation(n);
        } catch (const jet::JetError& again) {
          if (again.number() == jet::kErrDiskFull || again.number() == jet::kErrDiskIo) throw;
          o.lost = true;
        }
      }
    }
    // Only what changed is worth a line: a relation kept as it was is not.
    if (o.lost || (o.enforced != !(r.attributes & jet::catalog::kRelDontEnforce))) {
      report.relations.push_back(std::move(o));
    }
  }
  report.relations_damage = std::move(damage);
}

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
  return std::none_of(tables.begin(), tables.end(), [](const TableOutcome& t) {
    return !t.definition_lost && !t.not_written;
  });
}

std::string SetAsideName(const std::string& table) {
  const std::string suffix = "_SetAside";
  std::string base = table.substr(0, kMaxNameLength - suffix.size());
  // Never cut a UTF-8 character in two.
  while (!base.empty() && (static_cast<uint8_t>(base.back()) & 0xc0) == 0x80) base.pop_back();
  if (!base.empty() && (static_cast<uint8_t>(base.back()) & 0x80)) base.pop_back();
  return base + suffix;
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
  jet::Salvager salvager(pager);
  report.catalogue_damage = salvager.catalogue_damage();
  const int version = pager->format().version;
  std::shared_ptr<jet::FileState> file =
      jet::FileState::Create(out, pager->header().password, pager->header().db_key != 0);
  try {
    TableWriter writer(*file, salvager, version);
    for (const jet::SalvagedTable& t : salvager.tables()) {
      if (t.system) continue;
      TableOutcome o;
      o.name = t.name;
      std::optional<jet::TableDef> def = t.def;
      bool own = def.has_value();
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
      if (def) writer.Write(t, *def, own, o);
      report.tables.push_back(std::move(o));
    }
    if (report.hopeless()) {
      file->Discard();
      return report;
    }
    WriteRelations(*file, salvager, report.tables, report);
    file->Commit();
  } catch (...) {
    file->Discard();
    throw;
  }
  report.written = true;
  return report;
}

}  // namespace maquetor::repair
