#include <sys/resource.h>
#include <unistd.h>

#include "base/ThreadPriority.h"

namespace tallyport {

// A nice value of +10 for this thread: on Linux the priority of setpriority() with a thread id
// is that thread's alone.
void LowerThisThreadsPriority() {
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}

}  // namespace tallyport
