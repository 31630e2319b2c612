#include "app/ProgramEntry.h"
#include "requests/RequestHandlers.h"

int main(int argc, char** argv) {
    // What the handlers of all workers share; it outlives every worker.
    static tallyport::RequestContext context;
    // The request handlers' table is handed to every link worker here.
    return tallyport::RunTallyport(argc, argv, tallyport::MakeRequestHandlers(context), &context);
}
