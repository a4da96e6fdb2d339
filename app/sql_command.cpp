#include "sql_command.h"

#include <filesystem>
#include <iostream>
#include <memory>
#include <ostream>
#include <string>

#include "commands.h"
#include "jet/error.h"
#include "jet/sql.h"

namespace maquetor {

std::string CsvField(const jet::Value& v) {
  if (v.is_null()) return "";
  std::string text = v.ToString();
  const bool is_text = v.is<std::string>();
  if (!(is_text && text.empty()) && text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted.push_back('"');
    quoted.push_back(c);
  }
  return quoted + '"';
}

namespace {

// Leading and trailing blanks go, and so does one final ';': people paste
// statements written for other tools, and the engine's SQL has no use for it
// outside a literal, where it could not be last.
std::string Trimmed(const std::string& line) {
  const char* kBlanks = " \t\r\n\f\v";
  size_t b = line.find_first_not_of(kBlanks);
  if (b == std::string::npos) return "";
  size_t e = line.find_last_not_of(kBlanks);
  std::string s = line.substr(b, e - b + 1);
  if (s.back() == ';') {
    s.pop_back();
    e = s.find_last_not_of(kBlanks);
    s.erase(e == std::string::npos ? 0 : e + 1);
  }
  return s;
}

void PrintResult(jet::dao::Recordset& rs, std::ostream& out) {
  const int n = rs.FieldCount();
  for (int i = 0; i < n; ++i) out << (i ? "," : "") << CsvField(jet::Value(rs.FieldName(i)));
  out << '\n';
  for (; !rs.IsEOF(); rs.MoveNext()) {
    for (int i = 0; i < n; ++i) out << (i ? "," : "") << CsvField(rs.GetValue(i));
    out << '\n';
  }
}

jet::dao::Database OpenOrCreate(const std::string& path, const std::string& password, bool create) {
  auto& ws = jet::dao::DBEngine::Instance().Workspaces(0);
  const std::string connect = password.empty() ? "" : ";pwd=" + password;
  if (create && !std::filesystem::exists(db::FsPath(path))) {
    // General sort order, Western code page: what the program creates.
    return ws.CreateDatabase(path, ";LANGID=0x0409;CP=1252;COUNTRY=0" + connect);
  }
  return ws.OpenDatabase(path, false, false, connect);
}

}  // namespace

void RunStatement(jet::dao::Database& db, const std::string& statement, std::ostream& out,
                  std::ostream& log, bool verbose) {
  if (jet::sql::IsSelect(statement)) {
    auto rs = db.OpenRecordset(statement);
    PrintResult(rs, out);
    rs.Close();
    return;
  }
  db.Execute(statement, jet::dao::dbFailOnError);
  // Each statement is put in place whole before the next one runs.
  db.Commit();
  if (verbose) {
    const auto n = db.RecordsAffected();
    log << n << (n == 1 ? " fila afectada" : " filas afectadas") << '\n';
  }
}

void AddSqlCommand(CLI::App& app) {
  struct Options {
    std::string path;
    std::string password = kProgramPassword;
    std::string statement;
    bool create = false;
    bool verbose = false;
  };
  auto opts = std::make_shared<Options>();
  auto* cmd = app.add_subcommand("sql", "Run SQL statements; SELECT results are printed as CSV");
  cmd->add_option("DB", opts->path, "The .mdb file")->required();
  auto* statement = cmd->add_option("STATEMENT", opts->statement,
                  "One statement; without it each line of standard input is one");
  cmd->add_flag("--create", opts->create,
                "Create DB (Jet 4, general sort order) when it does not exist");
  cmd->add_option("--password", opts->password,
                  "Database password, also for --create (default: the program's own; \"\" for none)");
  cmd->add_flag("-v,--verbose", opts->verbose,
                "Report \"N filas afectadas\" on stderr after each statement that is not a SELECT");
  cmd->footer(
      "Examples:\n"
      "  maquetor sql datos.mdb \"SELECT * FROM Clientes\" > clientes.csv\n"
      "  maquetor sql nueva.mdb --create < esquema.sql\n"
      "Standard input: one statement per line; blank lines and lines starting with --\n"
      "are skipped, and a final ';' is ignored. Statements other than SELECT are all or\n"
      "nothing: a failing row undoes the whole statement.\n"
      "SELECT prints a header line, then one line per row: comma-separated, text in\n"
      "double quotes when it holds a comma, quote or line break (quotes doubled), an\n"
      "empty text as \"\", null as nothing, numbers with a '.' (currency with four\n"
      "decimals), dates as YYYY-MM-DD HH:MM:SS, Yes/No as True/False, binary as\n"
      "upper-case hex.\n"
      "A failing statement prints \"Error NNNN: message\" on stderr and the next one\n"
      "runs; the exit status is then 1.");
  cmd->callback([opts, statement] {
    auto db = OpenOrCreate(opts->path, opts->password, opts->create);
    bool failed = false;
    auto run = [&](const std::string& line) {
      const std::string statement = Trimmed(line);
      if (statement.empty() || statement.rfind("--", 0) == 0) return;
      try {
        RunStatement(db, statement, std::cout, std::cerr, opts->verbose);
      } catch (const jet::JetError& e) {
        failed = true;
        // Flushed first so that on a terminal the error follows the rows before it.
        std::cout.flush();
        std::cerr << "Error " << e.number() << ": " << e.what() << '\n';
      }
    };
    if (statement->count() > 0) {
      run(opts->statement);
    } else {
      std::string line;
      for (bool first = true; std::getline(std::cin, line); first = false) {
        // Notepad starts UTF-8 files with a byte order mark.
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);
        run(line);
      }
    }
    db.Close();
    std::cout.flush();
    // CLI11 exits with this code and prints nothing more.
    if (failed) throw CLI::RuntimeError(kExitJetError);
  });
}

}  // namespace maquetor
