// The installer's way in: the arguments are switch text ("/Setup", "/M",
// "/Tipo:Abog", "/BD:path") and the run is the main window's load.
#pragma once

namespace maquetor {

// Runs the switch text of argv[1..]; returns the exit status.
int RunSwitches(int argc, char** argv);

}  // namespace maquetor
