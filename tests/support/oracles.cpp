#include "support/oracles.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace testing_support {
namespace {

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (const auto& a : argv) {
    if (!line.empty()) line += ' ';
    line += '\'' + a + '\'';
  }
  return line;
}

// Runs a program and returns its stdout, or throws with everything we know.
std::string Check(const std::vector<std::string>& argv) {
  ProcessResult r = RunProcess(argv);
  if (r.ok()) return r.out;
  std::ostringstream msg;
  msg << CommandLine(argv) << ": ";
  if (r.timed_out) {
    msg << "timed out";
  } else if (r.signal != 0) {
    msg << "killed by signal " << r.signal;
  } else {
    msg << "exit status " << r.exit_code;
  }
  if (!r.err.empty()) msg << "\nstderr: " << r.err;
  throw OracleError(msg.str());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::filesystem::path DumpScript() {
  return SourceDir() / "tools" / "mdbreader" / "dump.js";
}

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

}  // namespace

// The readers are Linux programs: a Windows build never has them.
bool HaveMdbtools() {
  static const bool have = [] {
    if (kWindows) return false;
    for (const char* p : {"mdb-ver", "mdb-tables", "mdb-export", "mdb-prop", "mdb-schema", "mdb-count"}) {
      if (FindOnPath(p).empty()) return false;
    }
    return true;
  }();
  return have;
}

bool HaveMdbReader() {
  static const bool have = [] {
    if (kWindows) return false;
    auto module = DumpScript().parent_path() / "node_modules" / "mdb-reader" / "package.json";
    return !FindOnPath("node").empty() && std::filesystem::exists(DumpScript()) &&
           std::filesystem::exists(module);
  }();
  return have;
}

bool UseMdbtools() { return !kWindows && (HaveMdbtools() || UnderCi()); }
bool UseMdbReader() { return !kWindows && (HaveMdbReader() || UnderCi()); }

std::string MdbVer(const std::string& path) { return Trim(Check({"mdb-ver", path})); }

std::vector<std::string> MdbTables(const std::string& path, bool system) {
  std::vector<std::string> args = {"mdb-tables", "-1"};
  if (system) args.push_back("-S");
  args.push_back(path);
  std::vector<std::string> names;
  for (auto& line : Lines(Check(args))) {
    if (!line.empty()) names.push_back(line);
  }
  return names;
}

long long MdbCount(const std::string& path, const std::string& table) {
  std::string out = Trim(Check({"mdb-count", path, table}));
  try {
    size_t used = 0;
    long long n = std::stoll(out, &used);
    if (used == out.size()) return n;
  } catch (const std::exception&) {
  }
  throw OracleError("mdb-count printed '" + out + "' for " + table);
}

std::string MdbSchema(const std::string& path, const std::string& backend) {
  std::vector<std::string> args = {"mdb-schema", path};
  if (!backend.empty()) args.push_back(backend);
  return Check(args);
}

int CsvTable::Column(const std::string& name) const {
  auto it = std::find(header.begin(), header.end(), name);
  return it == header.end() ? -1 : static_cast<int>(it - header.begin());
}

const std::string& CsvTable::At(size_t row, const std::string& column) const {
  int c = Column(column);
  if (c < 0) throw OracleError("no column '" + column + "' in the export");
  if (row >= rows.size() || static_cast<size_t>(c) >= rows[row].size()) {
    throw OracleError("no cell " + std::to_string(row) + "/" + column + " in the export");
  }
  return rows[row][static_cast<size_t>(c)];
}

bool CsvTable::IsNull(size_t row, const std::string& column) const {
  const std::string& v = At(row, column);
  return v.empty() && !quoted[row][static_cast<size_t>(Column(column))];
}

CsvTable ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> records;
  std::vector<std::vector<bool>> quoted_marks;
  std::vector<std::string> record;
  std::vector<bool> marks;
  std::string field;
  bool quoted = false;
  bool in_quotes = false;
  bool any = false;  // something of the current record was seen
  auto end_field = [&] {
    record.push_back(field);
    marks.push_back(quoted);
    field.clear();
    quoted = false;
  };
  auto end_record = [&] {
    end_field();
    records.push_back(std::move(record));
    quoted_marks.push_back(std::move(marks));
    record.clear();
    marks.clear();
    any = false;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (in_quotes) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          in_quotes = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    any = true;
    if (c == '"' && field.empty() && !quoted) {
      in_quotes = true;
      quoted = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\n') {
      end_record();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      // the '\n' ends the record
    } else {
      field += c;
    }
  }
  if (in_quotes) throw OracleError("CSV ends inside a quoted field");
  if (any) end_record();

  CsvTable table;
  if (records.empty()) return table;
  table.header = std::move(records.front());
  for (size_t r = 1; r < records.size(); ++r) {
    if (records[r].size() != table.header.size()) {
      throw OracleError("CSV row " + std::to_string(r) + " has " + std::to_string(records[r].size()) +
                        " fields, the header " + std::to_string(table.header.size()));
    }
    table.rows.push_back(std::move(records[r]));
    table.quoted.push_back(std::move(quoted_marks[r]));
  }
  return table;
}

std::string MdbExportRaw(const std::string& path, const std::string& table, const ExportOptions& options) {
  std::vector<std::string> args = {"mdb-export"};
  if (!options.datetime_format.empty()) args.insert(args.end(), {"-T", options.datetime_format});
  if (!options.date_format.empty()) args.insert(args.end(), {"-D", options.date_format});
  if (!options.bin.empty()) args.insert(args.end(), {"-b", options.bin});
  if (options.boolean_words) args.push_back("-B");
  args.insert(args.end(), options.extra.begin(), options.extra.end());
  args.push_back(path);
  args.push_back(table);
  return Check(args);
}

CsvTable MdbExport(const std::string& path, const std::string& table, const ExportOptions& options) {
  return ParseCsv(MdbExportRaw(path, table, options));
}

std::string MdbProp(const std::string& path, const std::string& table) {
  return Check({"mdb-prop", path, table});
}

PropertyMap ParseMdbProp(const std::string& text) {
  PropertyMap props;
  std::map<std::string, std::string>* current = nullptr;
  std::string* last_value = nullptr;
  for (const auto& line : Lines(text)) {
    if (line.rfind("name: ", 0) == 0) {
      std::string name = line.substr(6);
      if (name == "(none)") name.clear();
      current = &props[name];
      last_value = nullptr;
      continue;
    }
    size_t colon = line.find(':');
    if (current != nullptr && !line.empty() && line[0] == '\t' && colon != std::string::npos) {
      std::string value = line.substr(colon + 1);
      if (!value.empty() && value[0] == ' ') value.erase(0, 1);
      last_value = &((*current)[line.substr(1, colon - 1)] = value);
    } else if (last_value != nullptr) {
      // A value that spans lines (a description with line breaks).
      *last_value += "\n" + line;
    } else if (!Trim(line).empty()) {
      throw OracleError("unexpected mdb-prop line: " + line);
    }
  }
  // Blank lines separate the blocks; a value that really ended in blank lines
  // cannot be told apart from that, so trailing line breaks are dropped.
  for (auto& [column, values] : props) {
    for (auto& [name, value] : values) {
      while (!value.empty() && value.back() == '\n') value.pop_back();
    }
  }
  return props;
}

PropertyMap MdbProps(const std::string& path, const std::string& table) {
  return ParseMdbProp(MdbProp(path, table));
}

nlohmann::json MdbReaderDump(const std::string& path, const std::optional<std::string>& password,
                             bool system, bool rows) {
  std::vector<std::string> args = {"node", DumpScript().string(), path};
  if (password) args.insert(args.end(), {"--password", *password});
  if (system) args.push_back("--system");
  if (!rows) args.push_back("--no-rows");
  std::string out = Check(args);
  try {
    return nlohmann::json::parse(out);
  } catch (const nlohmann::json::exception& e) {
    throw OracleError("dump.js printed no JSON for " + path + ": " + e.what());
  }
}

}  // namespace testing_support
