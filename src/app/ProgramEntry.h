#pragma once

#include <memory>

#include "link/MessageHandlers.h"

namespace tallyport {

class RequestContext;

// The program: reads its command line (--help, --version, --headless, --config FILE), finds
// its configuration file and working folder by the folder rule (base/ProgramFolders.h), starts
// up (window and tray icon, or with "--headless" neither) and runs until an orderly exit. The
// link workers get `handlers` (null: every message type is accepted and dropped). Returns the
// exit status: 0 after an orderly exit, --help or --version; 1 when the start-up failed; 2 for
// a wrong command line. With `context` (the handlers' shared context) what the registers are
// told is kept in the journal beside the transaction file.
int RunTallyport(int argc, char** argv, HandlerFactory handlers, RequestContext* context = nullptr);

}  // namespace tallyport
