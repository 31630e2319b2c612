#pragma once

#include <memory>

#include "link/MessageHandlers.h"

namespace tallyport {

// The program: reads the configuration next to the program file, starts up (window and tray
// icon, or with "--headless" neither) and runs until an orderly exit. The link workers get
// `handlers` (null: every message type is accepted and dropped). Returns the exit status.
int RunTallyport(int argc, char** argv, HandlerFactory handlers);

}  // namespace tallyport
