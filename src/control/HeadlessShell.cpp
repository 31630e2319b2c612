#include "control/HeadlessShell.h"

#include "control/ConsoleOutput.h"

namespace tallyport {

void HeadlessShell::ShowConnectState(bool connected) {
    log_.Line(connected ? "Casele de marcat sunt conectate."
                        : "Casele de marcat nu sunt conectate.");
}

}  // namespace tallyport
