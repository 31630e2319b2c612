#include "app/ProgramEntry.h"
#include "requests/RequestHandlers.h"

int main(int argc, char** argv) {
    // What the handlers of all workers share; it outlives every worker.
    static tallyport::RequestContext context;
    // Every link worker gets a handler table of its own, with its register's working fields;
    // with the context the start-up keeps what the registers are told in the journal.
    return tallyport::RunTallyport(argc, argv, tallyport::RequestHandlerFactory(context), &context);
}
