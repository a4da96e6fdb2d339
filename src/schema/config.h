// The configuration row's document folder.
#pragma once

#include <string>

namespace maquetor::schema {

// The new document folder beside a database whose folder is `folder` (no
// trailing separator; `sep` is the separator its path uses): folder + "Docs"
// when there is no Docs entry yet, else "Docs_" and one more than the highest
// number among the Docs_<n> directories there (Docs_1 when none).
std::string NewDocumentFolder(const std::string& folder, char sep);

// A text as an SQL literal's content: apostrophes doubled.
std::string SqlText(const std::string& text);

}  // namespace maquetor::schema
