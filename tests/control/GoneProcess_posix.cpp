#include <sys/wait.h>
#include <unistd.h>

#include "GoneProcess.h"
#include "control/ProcessIdentity.h"

namespace tallyport::test {

GoneProcess RunShortProcess() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    if (child < 0) {
        return {};
    }
    // Until it is reaped the child keeps its entry in the process table.
    GoneProcess gone{static_cast<long>(child), ProcessStart(child).value_or(1)};
    ::waitpid(child, nullptr, 0);
    return gone;
}

}  // namespace tallyport::test
