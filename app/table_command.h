// table DB BUTTON...: presses table buttons, in the order given, on an
// existing database.
#pragma once

#include <CLI/CLI.hpp>

namespace maquetor {

// A failing button ends the run with its engine error; what the earlier
// buttons, and the failing one up to its failing step, built stays.
void AddTableCommand(CLI::App& app);

}  // namespace maquetor
