#include "control/ProgramHandlers.h"

#include "requests/RequestContext.h"
#include "requests/RequestHandlers.h"

namespace tallyport {

ProgramHandlers TallyportHandlers() {
    // What the handlers of all workers share; it outlives every worker. Every link worker gets
    // a handler table of its own, with its register's working fields.
    static RequestContext context;
    return ProgramHandlers{RequestHandlerFactory(context), &context};
}

}  // namespace tallyport
