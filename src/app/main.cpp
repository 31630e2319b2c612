#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
    // Every link worker gets a handler table of its own, with its register's working fields;
    // with their shared context the start-up keeps what the registers are told in the journal.
    return tallyport::RunTallyport(argc, argv, tallyport::TallyportHandlers());
}
