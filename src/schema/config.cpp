// TConfig, its one row and the document folder made beside the database.
#include "schema/config.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "db/file_name.h"
#include "schema/buttons.h"
#include "schema/layout.h"

namespace maquetor::schema {
namespace {

const TableSpec kTConfig = {
    "TConfig",
    {
        {"FConfig01", Boolean, 0, Yes, _, "True"},
        {"FConfig02", Long, 0, Yes, _, "0"},
        {"FConfig03", Text, 100, Yes, _, ".\\Bases\\Docs"},
        {"FConfig04", Text, 100, _, _, "V8"},
    },
};

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The n of a directory named Docs_<n> (any case), or -1.
long DocsNumber(const std::string& name) {
  const std::string prefix = "docs_";
  if (name.size() <= prefix.size() || Lower(name.substr(0, prefix.size())) != prefix) return -1;
  std::string digits = name.substr(prefix.size());
  if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](unsigned char c) {
        return std::isdigit(c);
      })) {
    return -1;
  }
  return std::stol(digits);
}

}  // namespace

std::string NewDocumentFolder(const std::string& folder, char sep) {
  namespace fs = std::filesystem;
  std::error_code ec;
  bool docs_taken = false;
  long highest = 0;
  // Listed with its separator: a drive's "C:" alone is its current folder.
  for (fs::directory_iterator it(db::FsPath(folder + sep), ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string name = db::Utf8Name(it->path().filename());
    if (Lower(name) == "docs") docs_taken = true;
    std::error_code dir_ec;
    if (it->is_directory(dir_ec)) highest = std::max(highest, DocsNumber(name));
  }
  std::string base = folder + sep + "Docs";
  return docs_taken ? base + "_" + std::to_string(highest + 1) : base;
}

std::string SqlText(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

void CmdConfig(const std::string& BDatosTrabajo) {
  db::TableBuilder builder(BDatosTrabajo, "Config");
  builder.Build(kTConfig);

  const std::string& name = builder.database().Name();
  size_t cut = name.find_last_of("/\\");
  std::string folder = cut == std::string::npos ? std::string(".") : name.substr(0, cut);
  char sep = cut == std::string::npos ? '/' : name[cut];
  std::string docs = NewDocumentFolder(folder, sep);

  // Only the folder is guarded: without it the row is still written, with
  // an empty path.
  std::error_code ec;
  if (!std::filesystem::create_directory(db::FsPath(docs), ec) || ec) {
    if (!ec) ec = std::make_error_code(std::errc::file_exists);
    std::cerr << "Error " << ec.value() << ": " << ec.message() << ".\n - " << docs << " - \n";
    docs.clear();
  }

  builder.database().Execute("Insert Into TConfig (FConfig03) Values ('" + SqlText(docs) + "')");
  builder.Close();
}

}  // namespace maquetor::schema
