// The report catalogue, DBRPT.MDB in the BASES folder: the table TList that
// names every printable report of the law-office application, its area, its
// report file or files and a number the application reads.
#pragma once

#include <string>
#include <vector>

namespace maquetor::auxdb {

// The REPORT button. With the hourglass showing: creates RutaBases/DBRPT.MDB,
// builds TList and its primary index IList on the title, inserts the 42
// reports, closes the file and records it in the installation log. Nothing
// is trapped: an existing DBRPT.MDB (in any case) fails with jet::JetError
// 3204 and changes nothing; a later failure leaves the file as far as it got
// and writes no log entry. The pointer is restored either way.
void REPORT();

// The 42 insert statements, in the order they run.
std::vector<std::string> ReportSeedStatements();

}  // namespace maquetor::auxdb
