#pragma once

#include "link/MessageHandlers.h"

namespace tallyport {

class RequestContext;

// What the link workers are given: a handler table per worker, and the handlers' shared
// context (through which the start-up keeps what the registers are told in the journal). A
// shell passes it on from its entry point to the control without looking into it.
struct ProgramHandlers {
    HandlerFactory factory;             // empty: every message type is accepted and dropped
    RequestContext* context = nullptr;  // not owned; null: no journal
};

// The program's own request handlers over one context that lives until the process ends.
// Main thread, before any worker starts; every call gives handlers over the same context.
ProgramHandlers TallyportHandlers();

}  // namespace tallyport
