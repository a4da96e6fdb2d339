// What the two auxiliary databases have in common: each is a new file in the
// BASES folder, encrypted, with the general locale and the program's
// password.
#pragma once

#include <string>

#include "jet/dao.h"

namespace maquetor::auxdb {

// RutaBases + separator + name: the path as the log entry and the seed row
// spell it.
std::string InBases(const std::string& name);

// Creates InBases(name) in workspace 0, encrypted, with the general locale
// and the password. The path is resolved against the disk without regard to
// case (the folder is made as "Bases" and named "BASES"), so an existing file
// of any case makes the engine refuse with its error for an existing
// database, as on Windows.
jet::dao::Database CreateInBases(const std::string& name);

// Appends the installation log's entry for a file created in BASES.
void LogCreatedInBases(const std::string& name);

}  // namespace maquetor::auxdb
