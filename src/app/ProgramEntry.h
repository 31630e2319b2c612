#pragma once

#include <memory>

#include "link/MessageHandlers.h"

namespace tallyport {

class RequestContext;

// The program: reads the configuration next to the program file, starts up (window and tray
// icon, or with "--headless" neither) and runs until an orderly exit. The link workers get
// `handlers` (null: every message type is accepted and dropped). With `context` (the handlers'
// shared context) what the registers are told is kept in the journal beside the transaction
// file. Returns the exit status.
int RunTallyport(int argc, char** argv, HandlerFactory handlers, RequestContext* context = nullptr);

}  // namespace tallyport
