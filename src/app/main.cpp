#include "app/ProgramEntry.h"

int main(int argc, char** argv) {
    // The request handlers' table is handed to every link worker here.
    return tallyport::RunTallyport(argc, argv, nullptr);
}
