#include "jet/sql.h"

#include <cctype>

#include "jet/error.h"

namespace jet::sql {

int64_t Execute(FileState&, const std::string&, int) { throw JetError(kErrInvalidOperation); }

ResultSet Query(FileState&, const std::string&) { throw JetError(kErrInvalidOperation); }

bool IsSelect(const std::string& statement) {
  size_t i = 0;
  while (i < statement.size() && std::isspace(static_cast<unsigned char>(statement[i]))) ++i;
  std::string word;
  while (i < statement.size() && std::isalpha(static_cast<unsigned char>(statement[i]))) {
    word.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(statement[i++]))));
  }
  return word == "SELECT";
}

}  // namespace jet::sql
