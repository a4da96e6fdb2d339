// euros [DB] [--program-dir DIR]: pesetas to euros, for one database or for
// every database the program folder's Setup.mdb lists.
#pragma once

#include <iosfwd>

#include "currency/moneda.h"

namespace maquetor {

// One line per database converted, per statement run (with the rows it
// changed), per table left alone for having no rows, and per TSetup row
// naming a database already converted.
void PrintConversion(const currency::ConversionReport& report, std::ostream& out);

}  // namespace maquetor
