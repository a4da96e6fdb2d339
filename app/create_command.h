// create DB: builds the whole law-office database at DB.
#pragma once

#include <CLI/CLI.hpp>

namespace maquetor {

// An existing file is left untouched: a notice on stderr, exit status 0.
void AddCreateCommand(CLI::App& app);

}  // namespace maquetor
