// The user-control database, Setup.MDB in the BASES folder: the table TSetup
// that lists the law-office application's databases, seeded with the
// demonstration database.
#pragma once

#include <string>

namespace maquetor::auxdb {

// The CmdControl button. Creates RutaBases/Setup.MDB, builds TSetup and its
// primary index ISetup, records the file in the installation log, inserts
// the demonstration row and closes the file. Nothing is trapped: an existing
// Setup.MDB (in any case) fails with jet::JetError 3204 and changes nothing;
// a later failure leaves what was made before it.
void CmdControl();

// The seed statement for a BASES folder: the row naming Demo/Demo.mdb
// beneath it, "DEMO", "DEMO", 1, 1, 1.
std::string SetupSeedStatement(const std::string& RutaBases);

}  // namespace maquetor::auxdb
