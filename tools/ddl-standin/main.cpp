// ddl.exe, the stand-in: checks its command line and the file it names,
// records what it was given, "loads" for a while and exits.
//
//   ddl.exe [--record DIR] -pN -b115200 -k7 (-fEvoloadSerial.dld | -fEvoloadUSB.dld | -iARCHIVE)
//
// Environment:
//   KORVANE_DDL_RECORD  folder to record into (--record wins): one run-NNN
//                       folder per run with "arguments", "files" (name size
//                       mode sha256 of every file in the working directory),
//                       "violations", and "ended" once the run ended by itself
//   KORVANE_DDL_RUN_MS  how long a run lasts (60000 by default), scaled by
//                       KORVANE_WAIT_SCALE; "MS,ARGUMENT=MS,..." sets it per run
//   KORVANE_DDL_EXIT    the exit status (0 by default), same form
// A command line that deviates is reported on standard error and ends the
// run at once with status 2, so the loader counts it as failed.
#include "tools/ddl-standin/DdlStandIn.h"

#include <cstdlib>

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() >= 2 && arguments[0] == "--record") {
        ::setenv("KORVANE_DDL_RECORD", arguments[1].c_str(), 1);
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    return korvane::ddlstandin::run(arguments);
}
