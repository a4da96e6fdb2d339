// export DB TABLE | export DB --all DIR: a table's rows as CSV (mdb-export's
// layout and option names), JSON or JSON lines.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "commands.h"
#include "export_format.h"
#include "jet/error.h"
#include "table_rows.h"

namespace maquetor {

namespace {

// Which columns of `table` show dates only: mdbtools prints those with its
// date format instead of the date-and-time one.
std::vector<bool> ShortDateColumns(ReadOnlyDatabase& db, const std::string& table,
                                   const std::vector<const jet::ColumnDef*>& columns) {
  std::vector<bool> out(columns.size(), false);
  bool any_date = false;
  for (const auto* c : columns) any_date |= c->type == jet::ColumnType::kDate;
  if (!any_date) return out;
  const jet::Properties props = db.TableProperties(table);
  for (size_t i = 0; i < columns.size(); ++i) {
    if (columns[i]->type != jet::ColumnType::kDate) continue;
    const jet::PropertyMap* map = props.Column(columns[i]->name);
    const jet::Property* format = map ? map->Find("Format") : nullptr;
    out[i] = format && format->AsText(db.version()) == "Short Date";
  }
  return out;
}

enum class Format { kCsv, kJson, kJsonLines };

const char* Extension(Format f) {
  switch (f) {
    case Format::kCsv: return ".csv";
    case Format::kJson: return ".json";
    case Format::kJsonLines: return ".jsonl";
  }
  return "";
}

int64_t WriteTable(ReadOnlyDatabase& db, const std::string& table, Format format,
                   const CsvOptions& csv, std::ostream& stream) {
  RowCursor rows(db, table);
  OutputBuffer out(stream);
  if (format == Format::kCsv) {
    return WriteCsv(rows, ShortDateColumns(db, table, rows.columns()), csv, out);
  }
  return WriteJson(rows, format == Format::kJsonLines, out);
}

}  // namespace

// A file name for a table inside the export folder: characters no system
// allows in a name (and path separators) become '_', so that no table name
// reaches outside the folder; names Windows keeps for devices, and names
// made only of dots, get a '_' in front.
std::string TableFileName(const std::string& table) {
  std::string name;
  for (unsigned char c : table) {
    const bool bad = c < 0x20 || c == 0x7f || std::string_view("<>:\"/\\|?*").find(static_cast<char>(c)) !=
                                                  std::string_view::npos;
    name.push_back(bad ? '_' : static_cast<char>(c));
  }
  // Windows drops trailing dots and blanks.
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.back() = '_';
  if (name.empty()) name = "_";
  std::string stem = name.substr(0, name.find('.'));
  for (auto& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDevices = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
      "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  if (kDevices.count(stem) || name[0] == '.') name = "_" + name;
  return name;
}

void AddExportCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string table;
    std::string all;
    std::string password = kProgramPassword;
    std::string format = "csv";
    bool no_header = false;
    bool no_quote = false;
    bool escape_invisible = false;
    bool boolean_words = false;
    std::string delimiter = ",";
    std::string row_delimiter = "\\n";
    std::string quote = "\"";
    std::string escape;
    std::string date_format = "%m/%d/%y";
    std::string datetime_format = "%m/%d/%y %H:%M:%S";
    std::string null_text;
    std::string bin = "raw";
  };
  auto o = std::make_shared<Options>();
  auto* cmd = app.add_subcommand(
      "export", "Print a table's rows as CSV (mdb-export's layout), JSON or JSON lines");
  cmd->add_option("DB", o->path, "The .mdb file")->required();
  auto* table = cmd->add_option("TABLE", o->table, "The table");
  auto* all = cmd->add_option("--all", o->all,
                              "Write every user table to DIR/TABLE.csv (.json, .jsonl) instead");
  table->excludes(all);
  cmd->add_option("--password", o->password,
                  "Database password (default: the program's own; \"\" for none)");
  cmd->add_option("--format", o->format, "csv (default), json or jsonl")
      ->check(CLI::IsMember({"csv", "json", "jsonl"}));
  cmd->add_flag("-H,--no-header", o->no_header, "No header row");
  cmd->add_option("-d,--delimiter", o->delimiter, "Between fields (default ,)");
  cmd->add_option("-R,--row-delimiter", o->row_delimiter, "After each row (default \\n)");
  cmd->add_flag("-Q,--no-quote", o->no_quote, "Text, memo and dates without quotes");
  cmd->add_option("-q,--quote", o->quote, "Quote around text, memo and dates (default \")");
  cmd->add_option("-X,--escape", o->escape,
                  "Written before a quote inside a field (default: the quote is doubled)");
  cmd->add_flag("-e,--escape-invisible", o->escape_invisible,
                "Write \\r, \\t, \\n and \\\\ in text C-style");
  cmd->add_option("-D,--date-format", o->date_format,
                  "strftime format of date-only (Short Date) columns (default %m/%d/%y)");
  cmd->add_option("-T,--datetime-format", o->datetime_format,
                  "strftime format of other dates (default %m/%d/%y %H:%M:%S)");
  cmd->add_option("-0,--null", o->null_text, "Text for NULL (default: nothing)");
  cmd->add_option("-b,--bin", o->bin, "Binary and OLE: strip, raw (default), octal or hex")
      ->check(CLI::IsMember({"strip", "raw", "octal", "hex"}));
  cmd->add_flag("-B,--boolean-words", o->boolean_words, "TRUE and FALSE instead of 1 and 0");
  cmd->footer(
      "Examples:\n"
      "  maquetor export datos.mdb TExpedientes > expedientes.csv\n"
      "  maquetor export datos.mdb --all volcado/\n"
      "  maquetor export datos.mdb TClientes --format jsonl\n"
      "CSV as mdb-export writes it by default: a header row; text, memo and dates in\n"
      "quotes with quotes doubled; dates as 12/31/99 23:59:59; Yes/No as 1 and 0;\n"
      "NULL as nothing; binary and OLE as their bytes. Options -d, -R, -q, -X and -0\n"
      "take \\n, \\t and \\r. JSON: the value forms of 'inspect --json'.\n"
      "Where mdb-export's text is wrong this writes it right: an empty text (\"\",\n"
      "not NULL), dates before 30 December 1899, times that round to midnight,\n"
      "numbers that need one more digit, binary holding a zero byte, text over\n"
      "200,000 bytes, GUIDs (all four dashes), the five undefined code page 1252\n"
      "bytes of Jet 3 text (kept, not '?'), column names holding the delimiter or a\n"
      "quote (quoted), and -X '\\' (quotes escaped, not left bare).");
  cmd->callback([o, table, all, cmd] {
    if (table->count() == 0 && all->count() == 0) {
      throw CLI::RequiredError("TABLE or --all");
    }
    CsvOptions csv;
    csv.header = !o->no_header;
    csv.delimiter = UnescapeOption(o->delimiter);
    csv.row_delimiter = UnescapeOption(o->row_delimiter);
    csv.quote_text = !o->no_quote;
    csv.quote = UnescapeOption(o->quote);
    csv.escape = UnescapeOption(o->escape);
    csv.escape_invisible = o->escape_invisible;
    csv.date_format = o->date_format;
    csv.datetime_format = o->datetime_format;
    csv.null_text = UnescapeOption(o->null_text);
    csv.boolean_words = o->boolean_words;
    csv.binary = o->bin == "strip" ? BinaryMode::kStrip
                 : o->bin == "octal" ? BinaryMode::kOctal
                 : o->bin == "hex"   ? BinaryMode::kHex
                                     : BinaryMode::kRaw;
    const Format format = o->format == "json"    ? Format::kJson
                          : o->format == "jsonl" ? Format::kJsonLines
                                                 : Format::kCsv;
    ReadOnlyDatabase db(o->path, o->password);
    if (all->count() == 0) {
      // An unknown table is reported before anything is printed.
      if (!db.file().FindTable(o->table)) throw jet::JetError(jet::kErrNoSuchTable, o->table);
      WriteTable(db, o->table, format, csv, std::cout);
      std::cout.flush();
      return;
    }
    const auto dir = db::FsPath(o->all);
    std::filesystem::create_directories(dir);
    std::set<std::string> used;
    for (const auto& name : db.TableNames()) {
      // Two names may come out alike ("a/b" and "a_b"); the later gets a number.
      std::string base = TableFileName(name);
      std::string file = base;
      for (int n = 2;; ++n) {
        std::string folded = file;
        for (auto& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (used.insert(folded).second) break;
        file = base + "~" + std::to_string(n);
      }
      const auto target = dir / db::FsPath(file + Extension(format));
      std::ofstream out(target, std::ios::binary | std::ios::trunc);
      if (!out) throw std::runtime_error("cannot write " + db::Utf8Name(target));
      WriteTable(db, name, format, csv, out);
      out.close();
      if (!out) throw std::runtime_error("cannot write " + db::Utf8Name(target));
    }
  });
}

}  // namespace maquetor
