#include "support/oracles.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {
namespace {

// A pipe whose ends close themselves.
struct Pipe {
  int fd[2] = {-1, -1};
  Pipe() {
    if (::pipe2(fd, O_CLOEXEC) != 0) throw OracleError(std::string("pipe: ") + std::strerror(errno));
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;
  void CloseRead() {
    if (fd[0] >= 0) ::close(fd[0]);
    fd[0] = -1;
  }
  void CloseWrite() {
    if (fd[1] >= 0) ::close(fd[1]);
    fd[1] = -1;
  }
};

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
  return std::filesystem::path(MAQUETOR_SOURCE_DIR) / "tools" / "mdbreader" / "dump.js";
}

}  // namespace

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
  }
  const char* env = std::getenv("PATH");
  std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
  std::istringstream in(path);
  std::string dir;
  while (std::getline(in, dir, ':')) {
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + program;
    std::error_code ec;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) {
      return candidate;
    }
  }
  return {};
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                         std::chrono::seconds timeout) {
  ProcessResult result;
  if (argv.empty()) throw OracleError("RunProcess: empty argument list");
  std::string exe = FindOnPath(argv[0]);
  if (exe.empty()) {
    result.err = argv[0] + ": not found";
    return result;
  }
  // Everything the child needs is prepared before fork.
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  Pipe in, out, err;
  // A child that stops reading must not kill us with SIGPIPE.
  if (!input.empty()) std::signal(SIGPIPE, SIG_IGN);

  pid_t pid = ::fork();
  if (pid < 0) throw OracleError(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    if (::dup2(in.fd[0], 0) < 0 || ::dup2(out.fd[1], 1) < 0 || ::dup2(err.fd[1], 2) < 0) _exit(126);
    ::execv(exe.c_str(), args.data());
    _exit(127);
  }
  in.CloseRead();
  out.CloseWrite();
  err.CloseWrite();
  if (input.empty()) {
    in.CloseWrite();
  } else {
    // Write only what the pipe takes, so a child blocked on a full stdout
    // pipe is drained before we write more.
    ::fcntl(in.fd[1], F_SETFL, ::fcntl(in.fd[1], F_GETFL) | O_NONBLOCK);
  }

  auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t written = 0;
  char buffer[65536];
  while (out.fd[0] >= 0 || err.fd[0] >= 0 || in.fd[1] >= 0) {
    pollfd fds[3];
    nfds_t n = 0;
    if (out.fd[0] >= 0) fds[n++] = {out.fd[0], POLLIN, 0};
    if (err.fd[0] >= 0) fds[n++] = {err.fd[0], POLLIN, 0};
    if (in.fd[1] >= 0) fds[n++] = {in.fd[1], POLLOUT, 0};
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                      std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      ::kill(pid, SIGKILL);
      break;
    }
    int ready = ::poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
      throw OracleError(std::string("poll: ") + std::strerror(errno));
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      if (fds[i].fd == in.fd[1]) {
        ssize_t w = ::write(in.fd[1], input.data() + written, input.size() - written);
        if (w < 0 && errno != EINTR && errno != EAGAIN) {
          in.CloseWrite();  // the child closed its stdin
        } else if (w > 0) {
          written += static_cast<size_t>(w);
          if (written == input.size()) in.CloseWrite();
        }
        continue;
      }
      ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
      if (r < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      std::string& sink = fds[i].fd == out.fd[0] ? result.out : result.err;
      if (r <= 0) {
        if (fds[i].fd == out.fd[0]) {
          out.CloseRead();
        } else {
          err.CloseRead();
        }
      } else {
        sink.append(buffer, static_cast<size_t>(r));
      }
    }
  }

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) throw OracleError(std::string("waitpid: ") + std::strerror(errno));
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  if (result.exit_code == 127 && result.out.empty() && result.err.empty()) {
    result.err = exe + ": could not be started";
  }
  return result;
}

bool HaveMdbtools() {
  static const bool have = [] {
    for (const char* p : {"mdb-ver", "mdb-tables", "mdb-export", "mdb-prop", "mdb-schema", "mdb-count"}) {
      if (FindOnPath(p).empty()) return false;
    }
    return true;
  }();
  return have;
}

bool HaveMdbReader() {
  static const bool have = [] {
    auto module = DumpScript().parent_path() / "node_modules" / "mdb-reader" / "package.json";
    return !FindOnPath("node").empty() && std::filesystem::exists(DumpScript()) &&
           std::filesystem::exists(module);
  }();
  return have;
}

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
