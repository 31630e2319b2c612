// The program with a small handler table of its own, for the stop-signal tests: message type
// "1" opens a receipt (one pending transaction line), type "3" closes it.
#include "app/ProgramEntry.h"
#include "link/SerialExtended.h"

int main(int argc, char** argv) {
    auto handlers = std::make_shared<tallyport::HandlerTable>();
    (*handlers)[static_cast<unsigned char>('1')].Run = [](tallyport::TSerialExtended& link,
                                                          const std::string&) {
        link.PendingTranLines.Append("0001,OP,NRBN,0000000000123");
        return true;
    };
    (*handlers)[static_cast<unsigned char>('3')].Run = [](tallyport::TSerialExtended& link,
                                                          const std::string&) {
        link.PendingTranLines.Clear();
        return true;
    };
    return tallyport::RunTallyport(
        argc, argv,
        tallyport::ProgramHandlers{[handlers](tallyport::TSerialExtended&) { return handlers; }});
}
