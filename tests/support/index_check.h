// Whether a table's index trees are sound and hold exactly what its rows
// say, for files of any origin: a test writes into a file, then asks this.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {
class FileState;
}

namespace testing_support {

// The tree under `root`, read through `read`: entries in order within and
// across pages, every node entry at or above its child's largest entry,
// leaves linked both ways in order, no page reached twice, and every page
// written back byte for byte by WriteIndexPage(ParseIndexPage(page)) up to
// the end of its entries. Returns the first fault found, empty when none.
std::string IndexTreeFault(const jet::Format& f, uint32_t root,
                           const std::function<jet::Bytes(uint32_t)>& read);

// IndexTreeFault for every real index of `table`, and each index's leaf
// entries against the keys rebuilt from the table's live rows (an index
// that ignores nulls lists no row with a null in its columns). Empty when
// all of them hold.
std::string IndexFaults(jet::FileState& file, const std::string& table);

}  // namespace testing_support
