// Opens a byte buffer as a database and reads all of it, the way a careless
// caller would: every failure must be a jet::JetError, never a crash, a hang
// or unbounded memory. Shared by the fuzz targets and their regression runs.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the header, every page, the catalogue and every table (definition and
// rows) of the database in `data`. Returns normally whether or not the bytes
// are a valid database.
void ReadWholeDatabase(const uint8_t* data, size_t size);

// Runs the salvaging reader (jet/salvage.h) over the database in `data`:
// the catalogue, every table's rows, index trees and relations. It must
// never throw for damage, only for a header that is not a Jet file.
void SalvageWholeDatabase(const uint8_t* data, size_t size);
