// Shorthands for describing tables to FileState in engine tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "jet/database.h"

namespace testing_support {

inline jet::NewIndex Idx(const std::string& name, std::vector<std::string> cols,
                         bool primary = false, bool unique = false) {
  jet::NewIndex i;
  i.name = name;
  i.columns = std::move(cols);
  i.primary = primary;
  i.unique = unique;
  return i;
}

}  // namespace testing_support
