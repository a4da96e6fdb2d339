// repair DB OUT: a new database at OUT holding everything that can be read
// from DB, which is only read. Prints, per table, the rows recovered, lost
// and set aside and what was damaged; the exit status tells a clean file
// from a repaired and a hopeless one.
#include <iomanip>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "commands.h"
#include "repair/law_office_layouts.h"
#include "repair/repair.h"

namespace maquetor {
namespace {

constexpr int kExitRepaired = 3;
constexpr int kExitHopeless = 4;

std::string DamageText(const jet::Damage& d) {
  std::string s = std::string(jet::DamageKindName(d.kind)) + " " + std::to_string(d.page);
  if (d.row >= 0) s += "/" + std::to_string(d.row);
  if (!d.column.empty()) s += " (" + d.column + ")";
  if (d.count > 1) s += " and " + std::to_string(d.count - 1) + " more";
  return s;
}

nlohmann::json DamageJson(const std::vector<jet::Damage>& list) {
  nlohmann::json out = nlohmann::json::array();
  for (const auto& d : list) {
    nlohmann::json j = {{"kind", jet::DamageKindName(d.kind)}, {"page", d.page}};
    if (d.row >= 0) j["row"] = d.row;
    if (!d.column.empty()) j["column"] = d.column;
    if (d.count > 1) j["count"] = d.count;
    out.push_back(std::move(j));
  }
  return out;
}

const char* Status(const repair::Report& r) {
  return r.hopeless() ? "hopeless" : r.clean() ? "clean" : "repaired";
}

std::string Json(const repair::Report& r) {
  nlohmann::json tables = nlohmann::json::array();
  for (const auto& t : r.tables) {
    tables.push_back({{"name", t.name},
                      {"recovered", t.recovered},
                      {"lost", t.lost},
                      {"set_aside", t.set_aside},
                      {"set_aside_table", t.set_aside_table},
                      {"layout_used", t.layout_used},
                      {"definition_lost", t.definition_lost},
                      {"not_written", t.not_written},
                      {"catalogue_row_lost", t.catalogue_row_lost},
                      {"named_by_layout", t.named_by_layout},
                      {"definition_page", t.definition_page},
                      {"damage", DamageJson(t.damage)}});
  }
  nlohmann::json relations = nlohmann::json::array();
  for (const auto& x : r.relations) {
    relations.push_back({{"name", x.name},
                         {"table", x.table},
                         {"foreign_table", x.foreign_table},
                         {"enforced", x.enforced},
                         {"lost", x.lost}});
  }
  nlohmann::json skipped = nlohmann::json::array();
  for (const auto& x : r.skipped) {
    skipped.push_back({{"name", x.name}, {"kind", x.kind}, {"reason", x.reason}});
  }
  nlohmann::json j = {{"status", Status(r)},
                      {"written", r.written},
                      {"unreadable", r.unreadable},
                      {"header_damaged", r.header_damaged},
                      {"catalogue_damage", DamageJson(r.catalogue_damage)},
                      {"relations_damage", DamageJson(r.relations_damage)},
                      {"relations_unread", r.relations_unread},
                      {"queries_damage", DamageJson(r.queries_damage)},
                      {"queries", r.queries},
                      {"skipped", skipped},
                      {"tables", tables},
                      {"relations", relations}};
  return j.dump(2) + "\n";
}

std::string Text(const repair::Report& r, const std::string& out_path) {
  std::ostringstream o;
  if (r.unreadable && r.header_damaged) {
    o << "The file's header page is damaged, and the pages after it do not read as an\n"
         "unencrypted Jet database: the file is encrypted (its key was in the header)\n"
         "or is no Jet database. Nothing can be recovered.\n";
    return o.str();
  }
  if (r.unreadable) {
    o << "The file's header does not read as a Jet database: nothing can be recovered.\n";
    return o.str();
  }
  if (r.header_damaged) {
    o << "The header page is damaged: the format was told from the other pages; the\n"
         "password and encryption are unknown, and the new file has neither.\n";
  }
  o << std::left << std::setw(24) << "Table" << std::right << std::setw(11) << "Recovered"
    << std::setw(8) << "Lost" << std::setw(11) << "Set aside"
    << "  Damage\n";
  for (const auto& t : r.tables) {
    o << std::left << std::setw(24) << t.name << std::right << std::setw(11) << t.recovered
      << std::setw(8) << t.lost << std::setw(11) << t.set_aside << ' ';
    std::string notes;
    if (t.definition_lost) notes += " definition lost, no known layout: rows not read;";
    if (t.layout_used) notes += " definition lost, read with the law-office layout;";
    if (t.not_written) notes += " the new file refused the table: rows not written;";
    if (t.named_by_layout) {
      notes += " catalogue row lost: definition found on page " +
               std::to_string(t.definition_page) + ", named after the layout it matches;";
    } else if (t.catalogue_row_lost) {
      notes += " catalogue row lost: definition found on page " +
               std::to_string(t.definition_page) + ", no single layout matches;";
    }
    for (const auto& d : t.damage) notes += " " + DamageText(d) + ";";
    if (!notes.empty()) notes.pop_back();
    o << notes << '\n';
  }
  if (!r.catalogue_damage.empty()) {
    o << "Catalogue damage:";
    for (const auto& d : r.catalogue_damage) o << ' ' << DamageText(d) << ';';
    o << '\n';
  }
  if (!r.relations_damage.empty()) {
    o << "Relationship catalogue damage (relations may be missing):";
    for (const auto& d : r.relations_damage) o << ' ' << DamageText(d) << ';';
    o << '\n';
  }
  if (r.relations_unread) o << "MSysRelationships was not found: relations may be missing.\n";
  if (!r.queries_damage.empty()) {
    o << "Query catalogue damage:";
    for (const auto& d : r.queries_damage) o << ' ' << DamageText(d) << ';';
    o << '\n';
  }
  for (const auto& x : r.skipped) {
    o << "Not carried over: " << x.kind << ' ' << x.name << " (" << x.reason << ")\n";
  }
  for (const auto& x : r.relations) {
    o << "Relation " << x.name << " (" << x.foreign_table << " -> " << x.table
      << "): " << (x.lost ? "lost, a table it joins was not recovered" : "kept without enforcement")
      << '\n';
  }
  for (const auto& t : r.tables) {
    if (t.set_aside > 0) {
      o << t.set_aside << " rows of " << t.name << " broke its rules and are in "
        << t.set_aside_table << '\n';
    }
  }
  o << (r.hopeless() ? "Hopeless: no table could be read; nothing was written.\n"
        : r.clean()  ? "Clean: nothing was damaged. Written to " + out_path + ".\n"
                     : "Repaired: written to " + out_path + ".\n");
  return o.str();
}

}  // namespace

void AddRepairCommand(CLI::App& app) {
  struct Options {
    std::string db;
    std::string out;
    std::string password = kProgramPassword;
    bool json = false;
  };
  auto o = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "repair", "Write a new database holding everything that can be read from a damaged one");
  cmd->add_option("DB", o->db, "The damaged .mdb file (only read, never changed)")->required();
  cmd->add_option("OUT", o->out, "The new database (must not exist)")->required();
  cmd->add_option("--password", o->password,
                  "Database password (default: the program's own; \"\" for none)");
  cmd->add_flag("--json", o->json, "Print the report as JSON");
  cmd->footer(
      "Rows are found through each table's usage map and, where that is damaged,\n"
      "on every data page that names the table; a damaged page or row is skipped\n"
      "and counted. A law-office table whose definition is lost is read with the\n"
      "layout this program creates. Indexes are rebuilt; rows a table's rules\n"
      "refuse go to <table>_SetAside; a relation the recovered rows break is kept\n"
      "without enforcement. Saved queries, table, column and database properties\n"
      "come where their catalogue rows read. OUT has DB's password and encryption;\n"
      "with a damaged header page, neither.\n"
      "Exit status: 0 clean (nothing damaged), 3 repaired (something was damaged\n"
      "or lost: see the report), 4 hopeless (no table could be read; OUT is not\n"
      "written), 1 a Jet error (Error NNNN: ...; e.g. 3204 when OUT exists),\n"
      "2 wrong arguments.\n"
      "Example:\n"
      "  maquetor repair datos.mdb datos-reparada.mdb --json > informe.json");
  cmd->callback([o] {
    repair::LawOfficeLayouts layouts;
    repair::Report r = repair::Repair(
        o->db, o->password, o->out,
        [&layouts](const std::string& table) { return layouts.Find(table); },
        [&layouts] { return layouts.Names(); });
    std::cout << (o->json ? Json(r) : Text(r, o->out)) << std::flush;
    if (r.hopeless()) throw CLI::RuntimeError(kExitHopeless);
    if (!r.clean()) throw CLI::RuntimeError(kExitRepaired);
  });
}

}  // namespace maquetor
