// The engine as the program uses it: the one DAO engine, its workspace 0,
// the connect strings every open and create passes.
#pragma once

#include <string>

#include "jet/dao.h"

namespace maquetor::db {

// Every database the program makes carries this password; the table buttons
// pass it with a lower-case key, the country seed with an upper-case one.
inline constexpr const char* kConnect = ";pwd=KTRW_BLM";
inline constexpr const char* kConnectUpper = ";PWD=KTRW_BLM";
// The general locale the main database is created with.
inline constexpr const char* kLocaleGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";

// Execute options: 673 (deny write, consistent, fail on error, see changes)
// for seed rows, 160 (consistent, fail on error) for the delete that empties
// the countries.
inline constexpr int kExecuteSeed = 673;
inline constexpr int kExecuteFailOnError = 160;

// Workspace 0 of the program's engine, which is created on first use.
jet::dao::Workspace& Workspace0();

// The working database as a table button opens it: exclusive, writable,
// with the password.
jet::dao::Database OpenExclusive(const std::string& path);

// As the country seed opens it: shared, writable, upper-case key.
jet::dao::Database OpenShared(const std::string& path);

// Creates the main database: general locale followed by the password.
jet::dao::Database CreateMainDatabase(const std::string& path);

}  // namespace maquetor::db
