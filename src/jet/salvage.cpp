#include "jet/salvage.h"

#include <algorithm>
#include <map>

#include "jet/catalog_layout.h"
#include "jet/data_page.h"
#include "jet/error.h"
#include "jet/file.h"
#include "jet/header.h"
#include "jet/relations.h"
#include "jet/index_page.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {
namespace {

constexpr uint32_t kCataloguePage = 2;  // MSysObjects' TDEF
constexpr uint8_t kLongValuePageMark = 0xff;
constexpr uint8_t kUserTableType = 0x4e;
// Long-value header: the length word's top bits say where the bytes are.
constexpr uint32_t kLongValueInline = 0x80000000u;
constexpr uint32_t kLongValueLengthMask = 0x3fffffffu;

Damage Hit(DamageKind kind, uint32_t page, int row = -1, std::string column = {}) {
  Damage d;
  d.kind = kind;
  d.page = page;
  d.row = row;
  d.column = std::move(column);
  return d;
}

bool IsIndexPageType(uint8_t t) {
  return t == static_cast<uint8_t>(PageType::kIndexNode) ||
         t == static_cast<uint8_t>(PageType::kIndexLeaf);
}

}  // namespace

const char* DamageKindName(DamageKind kind) {
  switch (kind) {
    case DamageKind::kTableDefinition:
      return "table definition";
    case DamageKind::kUsageMap:
      return "usage map";
    case DamageKind::kDataPage:
      return "data page";
    case DamageKind::kRow:
      return "row";
    case DamageKind::kLongValue:
      return "long value";
    case DamageKind::kIndexPage:
      return "index page";
    case DamageKind::kMissingPage:
      return "missing page";
  }
  return "";
}

std::optional<int> GuessVersion(const std::string& path) {
  std::unique_ptr<File> file = CurrentFileSystem().Open(path, FileAccess::kRead);
  const uint64_t size = file->Size();
  auto read = [&](uint64_t offset, size_t length) {
    Bytes b(length, 0);
    if (offset >= size) return b;
    const IoBuffer buffer{b.data(), static_cast<size_t>(std::min<uint64_t>(length, size - offset))};
    file->ReadAt(offset, {&buffer, 1});
    return b;
  };
  // A later format's file (its signature whole) is not a damaged one.
  const Format& jet4 = Jet4Format();
  const Bytes head = read(0, jet4.offset_version + 1);
  const auto signature = head.begin() + jet4.offset_signature;
  const std::string_view ace = "Standard ACE DB";
  if (std::equal(ace.begin(), ace.end(), signature) ||
      (std::equal(signature, signature + sizeof kJetSignature, kJetSignature) &&
       head[jet4.offset_version] > 1)) {
    return std::nullopt;
  }
  // The catalogue at page 2, with a data page before it.
  for (const Format* f : {&Jet4Format(), &Jet3Format()}) {
    const uint32_t pages = static_cast<uint32_t>(size / f->page_size);
    if (pages < 3 || read(f->page_size, 2) != Bytes{0x01, 0x01}) continue;
    try {
      const TableDef def = ParseTableDef(
          *f,
          [&](uint32_t p) {
            if (p >= pages) throw JetError(kErrCorrupt);
            return read(uint64_t{p} * f->page_size, f->page_size);
          },
          kCataloguePage);
      if (def.FindColumn("Id") && def.FindColumn("ParentId") && def.FindColumn("Name")) {
        return f->version;
      }
    } catch (const JetError&) {
    }
  }
  // Page headers: type 1 to 5, then 1. A Jet 4 file's 2 KiB boundaries
  // between its pages fall mid-page.
  const uint32_t small = Jet3Format().page_size;
  size_t odd = 0, odd_found = 0, even = 0, even_found = 0;
  for (uint64_t at = small; at + 2 <= size && at / small < 1u << 16; at += small) {
    const Bytes head = read(at, 2);
    const bool found = head[0] >= 0x01 && head[0] <= 0x05 && head[1] == 0x01;
    ((at / small) % 2 ? odd : even)++;
    ((at / small) % 2 ? odd_found : even_found) += found;
  }
  if (odd > 0 && odd_found * 2 >= odd) return 3;
  if (even > 0 && even_found * 2 >= even && odd_found * 8 < odd) return 4;
  return std::nullopt;
}

Salvager::Salvager(std::shared_ptr<Pager> pager)
    : pager_(std::move(pager)), page_count_(pager_->page_count()) {
  Survey();
  ReadCatalogue();
}

void Salvager::Survey() {
  const Format& f = pager_->format();
  type_.assign(page_count_, 0);
  owner_.assign(page_count_, 0);
  for (uint32_t p = 1; p < page_count_; ++p) {
    ByteView page = pager_->Read(p);
    type_[p] = page[0];
    if (page[0] == static_cast<uint8_t>(PageType::kData) && IsLongValuePage(f, page)) {
      type_[p] = kLongValuePageMark;
    } else if (page[0] == static_cast<uint8_t>(PageType::kData) || IsIndexPageType(page[0])) {
      owner_[p] = Get32(page, f.data_tdef_offset);
    }
  }
  try {
    for (uint32_t p : ReadUsageMap(*pager_, RowId{f.global_usage_map_page, 0})) {
      if (p < page_count_) free_.insert(p);
    }
  } catch (const JetError&) {
    // Without the global map every page naming a table is taken as its own.
  }
}

std::optional<TableDef> Salvager::ParseDefinition(uint32_t page) {
  if (page == 0 || page >= page_count_) return std::nullopt;
  try {
    Pager& p = *pager_;
    return ParseTableDef(
        p.format(), [&p](uint32_t pg) { return p.Copy(pg); }, page);
  } catch (const JetError&) {
    return std::nullopt;
  }
}

void Salvager::ReadCatalogue() {
  std::optional<TableDef> def = ParseDefinition(kCataloguePage);
  if (!def) {
    catalogue_damage_.push_back(
        Hit(kCataloguePage >= page_count_ ? DamageKind::kMissingPage : DamageKind::kTableDefinition,
            kCataloguePage));
    AddUncataloguedDefinitions();
    return;
  }
  auto slot = [&](const char* name) -> int {
    const ColumnDef* c = def->FindColumn(name);
    return c ? static_cast<int>(c - def->columns.data()) : -1;
  };
  const int id = slot("Id"), parent = slot("ParentId"), name = slot("Name"), type = slot("Type"),
            flags = slot("Flags"), lvprop = slot("LvProp"), lv_extra = slot("LvExtra");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) {
    catalogue_damage_.push_back(Hit(DamageKind::kTableDefinition, kCataloguePage));
    AddUncataloguedDefinitions();
    return;
  }
  auto number = [](const Value& v) { return v.is<int32_t>() ? v.as<int32_t>() : 0; };
  auto blob = [&](int s, const std::vector<Value>& v) {
    return s >= 0 && v[static_cast<size_t>(s)].is<Binary>() ? v[static_cast<size_t>(s)].as<Binary>()
                                                            : Bytes{};
  };
  RowHarvest h = Rows(
      kCataloguePage, *def,
      [&](std::vector<Value>& v) {
        const Value& n = v[static_cast<size_t>(name)];
        if (!n.is<std::string>()) return;
        if (number(v[static_cast<size_t>(parent)]) != catalog::kTablesContainerId ||
            number(v[static_cast<size_t>(type)]) != catalog::kObjectTable) {
          if (!last_row_whole_) return;
          SalvagedObject o;
          o.id = number(v[static_cast<size_t>(id)]);
          o.parent_id = number(v[static_cast<size_t>(parent)]);
          o.name = n.as<std::string>();
          o.type = static_cast<int16_t>(number(v[static_cast<size_t>(type)]));
          o.flags = number(v[static_cast<size_t>(flags)]);
          o.properties = blob(lvprop, v);
          o.lv_extra = blob(lv_extra, v);
          objects_.push_back(std::move(o));
          return;
        }
        SalvagedTable t;
        t.name = n.as<std::string>();
        t.tdef_page = static_cast<uint32_t>(number(v[static_cast<size_t>(id)])) & 0x00ffffff;
        t.system =
            (static_cast<uint32_t>(number(v[static_cast<size_t>(flags)])) & 0x80000002u) != 0;
        t.properties = blob(lvprop, v);
        tables_.push_back(std::move(t));
      },
      false);
  catalogue_damage_ = std::move(h.damage);
  for (SalvagedTable& t : tables_) t.def = ParseDefinition(t.tdef_page);
  // Lost catalogue rows may have named tables: their definitions still lie
  // in the file.
  if (h.lost > 0 || !catalogue_damage_.empty()) AddUncataloguedDefinitions();
}

void Salvager::AddUncataloguedDefinitions() {
  std::set<uint32_t> named;
  for (const SalvagedTable& t : tables_) named.insert(t.tdef_page);
  // A chain's later pages are named by the page before them.
  std::set<uint32_t> continued;
  for (uint32_t p = 1; p < page_count_; ++p) {
    if (type_[p] == static_cast<uint8_t>(PageType::kTableDef))
      continued.insert(Get32(pager_->Read(p), 4));
  }
  for (uint32_t p = 1; p < page_count_; ++p) {
    if (type_[p] != static_cast<uint8_t>(PageType::kTableDef) || named.count(p) ||
        continued.count(p) || free_.count(p)) {
      continue;
    }
    std::optional<TableDef> def = ParseDefinition(p);
    if (!def) continue;
    SalvagedTable t;
    t.name = "Table" + std::to_string(p);
    if (def->table_type != kUserTableType) {
      // The two system tables whose rows repair carries, known by their
      // columns.
      if (FindRelationshipSlots(*def)) {
        t.name = "MSysRelationships";
      } else if (def->FindColumn("ObjectId") && def->FindColumn("Attribute") &&
                 def->FindColumn("Expression")) {
        t.name = "MSysQueries";
      } else {
        continue;
      }
      if (std::any_of(tables_.begin(), tables_.end(),
                      [&](const SalvagedTable& x) { return NamesEqual(x.name, t.name); })) {
        continue;
      }
      t.system = true;
    }
    t.tdef_page = p;
    t.catalogued = false;
    t.def = std::move(def);
    tables_.push_back(std::move(t));
  }
}

RowHarvest Salvager::Rows(uint32_t tdef_page, const TableDef& def, const RowSink& sink,
                          bool count_check) {
  RowHarvest h;
  std::set<uint32_t> pages;
  auto is_own_data_page = [&](uint32_t p) {
    return p < page_count_ && type_[p] == static_cast<uint8_t>(PageType::kData) &&
           owner_[p] == tdef_page;
  };
  bool map_read = false;
  const RowId map = RowId::FromPacked(def.owned_pages);
  if (def.owned_pages != 0) {
    try {
      Damage missing = Hit(DamageKind::kMissingPage, 0);
      missing.count = 0;
      for (uint32_t p : ReadUsageMap(*pager_, map)) {
        if (p >= page_count_) {
          if (missing.count++ == 0) missing.page = p;
        } else if (is_own_data_page(p)) {
          pages.insert(p);
        } else if (type_[p] == static_cast<uint8_t>(PageType::kHeader) ||
                   (type_[p] > static_cast<uint8_t>(PageType::kUsageMap) &&
                    type_[p] != kLongValuePageMark)) {
          // Listed, but no longer a page of any kind: zeroed or overwritten.
          h.damage.push_back(Hit(DamageKind::kDataPage, p));
        }
      }
      if (missing.count > 0) h.damage.push_back(missing);
      map_read = true;
    } catch (const JetError&) {
      h.damage.push_back(
          Hit(map.page < page_count_ ? DamageKind::kUsageMap : DamageKind::kMissingPage, map.page));
    }
  }
  bool missed = false;
  for (uint32_t p = 1; p < page_count_; ++p) {
    if (!is_own_data_page(p) || pages.count(p) || free_.count(p)) continue;
    pages.insert(p);
    missed = true;
  }
  if (map_read && missed) h.damage.push_back(Hit(DamageKind::kUsageMap, map.page));

  Table table(pager_, def, "");
  for (uint32_t p : pages) ReadPage(p, def, table, sink, h);
  if (count_check && def.row_count > h.recovered + h.lost) h.lost = def.row_count - h.recovered;
  return h;
}

void Salvager::ReadPage(uint32_t p, const TableDef& def, Table& table, const RowSink& sink,
                        RowHarvest& h) {
  const Format& f = pager_->format();
  // Long values read other pages: the page is copied first.
  const Bytes page = pager_->Copy(p);
  uint16_t count = 0;
  try {
    count = RowCount(f, page);
    if (FreeSpace(f, page) != ComputeFreeSpace(f, page)) throw JetError(kErrCorrupt);
  } catch (const JetError&) {
    h.damage.push_back(Hit(DamageKind::kDataPage, p));
    return;
  }
  const uint64_t file_bytes = uint64_t{page_count_} * f.page_size;
  for (uint16_t r = 0; r < count; ++r) {
    std::vector<Damage> long_values;
    try {
      RowBounds rb = GetRowBounds(f, page, r);
      // Deleted rows and moved rows' pointers; a moved row is read where
      // its bytes now lie (flagged deleted alone).
      if (rb.flags & kRowLookup) continue;
      CrackRow(f, def, ByteView(page).subspan(rb.start, rb.size()), slices_);
      values_.resize(def.columns.size());
      for (size_t i = 0; i < def.columns.size(); ++i) {
        const ColumnDef& c = def.columns[i];
        if (!IsLongValue(c.type) || !slices_[i].present) {
          values_[i] = table.DecodeColumn(c, slices_[i]);
          continue;
        }
        try {
          ByteView head = slices_[i].data;
          if (head.size() < f.long_value_header_size) throw JetError(kErrCorrupt);
          const uint32_t word = Get32(head, 0);
          // A value stored apart can be no longer than the file.
          if (!(word & kLongValueInline) && (word & kLongValueLengthMask) > file_bytes) {
            throw JetError(kErrCorrupt);
          }
          values_[i] = table.DecodeColumn(c, slices_[i]);
        } catch (const JetError&) {
          values_[i] = Value::Null();
          long_values.push_back(Hit(DamageKind::kLongValue, p, r, c.name));
        }
      }
    } catch (const JetError&) {
      h.damage.push_back(Hit(DamageKind::kRow, p, r));
      ++h.lost;
      continue;
    }
    h.damage.insert(h.damage.end(), long_values.begin(), long_values.end());
    ++h.recovered;
    last_row_whole_ = long_values.empty();
    sink(values_);
    last_row_whole_ = true;
  }
}

std::vector<Damage> Salvager::IndexDamage(const TableDef& def) {
  std::vector<Damage> out;
  const Format& f = pager_->format();
  std::set<uint32_t> seen;
  for (const RealIndexDef& ri : def.real_indexes) {
    std::vector<uint32_t> todo = {ri.first_page};
    while (!todo.empty()) {
      const uint32_t p = todo.back();
      todo.pop_back();
      if (p == 0 || p >= page_count_) {
        out.push_back(Hit(DamageKind::kMissingPage, p));
        continue;
      }
      if (!seen.insert(p).second) {
        out.push_back(Hit(DamageKind::kIndexPage, p));
        continue;
      }
      try {
        IndexPage ip = ParseIndexPage(f, pager_->Read(p));
        if (ip.tdef_page != def.page) throw JetError(kErrCorrupt);
        if (ip.leaf) continue;
        for (const IndexEntry& e : ip.entries) todo.push_back(e.child);
        if (ip.tail_page != 0) todo.push_back(ip.tail_page);
      } catch (const JetError&) {
        out.push_back(Hit(DamageKind::kIndexPage, p));
      }
    }
  }
  return out;
}

std::vector<FileState::RelationInfo> Salvager::Relations(std::vector<Damage>* damage) {
  std::vector<FileState::RelationInfo> out;
  auto it = std::find_if(tables_.begin(), tables_.end(), [](const SalvagedTable& t) {
    return t.system && NamesEqual(t.name, "MSysRelationships");
  });
  if (it == tables_.end() || !it->def) return out;
  const TableDef& def = *it->def;
  const std::optional<RelationshipSlots> slots = FindRelationshipSlots(def);
  if (!slots) return out;
  const int name = slots->name, grbit = slots->grbit, icolumn = slots->icolumn,
            object = slots->object, column = slots->column, ref_object = slots->ref_object,
            ref_column = slots->ref_column;
  struct Record {
    int32_t icolumn;
    std::string name, object, column, ref_object, ref_column;
    int32_t grbit;
  };
  std::vector<Record> rows;
  RowHarvest h = Rows(
      it->tdef_page, def,
      [&](std::vector<Value>& v) {
        auto text = [&](int i) {
          const Value& x = v[static_cast<size_t>(i)];
          return x.is<std::string>() ? x.as<std::string>() : std::string();
        };
        auto number = [&](int i) {
          const Value& x = v[static_cast<size_t>(i)];
          return x.is<int32_t>() ? x.as<int32_t>() : 0;
        };
        rows.push_back({number(icolumn), text(name), text(object), text(column), text(ref_object),
                        text(ref_column), number(grbit)});
      },
      false);
  if (damage) *damage = std::move(h.damage);
  std::stable_sort(rows.begin(), rows.end(),
                   [](const Record& a, const Record& b) { return a.icolumn < b.icolumn; });
  std::map<std::u16string, size_t> by_name;
  for (const Record& r : rows) {
    if (r.name.empty()) continue;
    auto [at, added] = by_name.emplace(FoldName(r.name), out.size());
    if (added) {
      FileState::RelationInfo info;
      info.name = r.name;
      info.table = r.ref_object;
      info.foreign_table = r.object;
      info.attributes = r.grbit;
      out.push_back(std::move(info));
    }
    out[at->second].fields.push_back({r.ref_column, r.column});
  }
  return out;
}

}  // namespace jet
