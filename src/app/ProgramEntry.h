#pragma once

#include "control/ProgramHandlers.h"

namespace tallyport {

// The program: reads its command line (--help, --version, --headless, --config FILE), finds
// its configuration file and working folder by the folder rule (base/ProgramFolders.h), starts
// up (window and tray icon, or with "--headless" neither) and runs until an orderly exit
// (control/DesktopProgram.h). The link workers get `handlers` (TallyportHandlers for the
// program itself). Returns the exit status: 0 after an orderly exit, --help or --version; 1
// when the start-up failed; 2 for a wrong command line.
int RunTallyport(int argc, char** argv, ProgramHandlers handlers);

}  // namespace tallyport
