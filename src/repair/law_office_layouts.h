// The row layouts of the law-office database's tables as this program
// creates them, which a migrated database carries too: repair reads a
// table whose own definition is lost with the layout of the table of the
// same name (its data pages still name the lost definition's page), and
// names a table whose catalogue row is lost after the layout it matches.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jet/tabledef.h"

namespace maquetor::repair {

class LawOfficeLayouts {
 public:
  // The layout of `table` (any case), or none when the law-office database
  // has no such table. The first call builds a complete law-office database
  // in a temporary folder, keeps its definitions and removes the folder.
  std::optional<jet::TableDef> Find(const std::string& table);
  // The names of the law-office database's tables.
  std::vector<std::string> Names();

 private:
  void Load();
  bool loaded_ = false;
  std::map<std::u16string, jet::TableDef> defs_;
  std::vector<std::string> names_;
};

}  // namespace maquetor::repair
