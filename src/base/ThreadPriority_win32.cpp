#include <windows.h>

#include "base/ThreadPriority.h"

namespace tallyport {

// THREAD_PRIORITY_LOWEST is two steps below normal within the process's priority class. The
// pseudo-handle of GetCurrentThread() names the calling thread (under winpthreads a
// std::thread's native handle is not a Windows handle, so the worker sets its own).
void LowerThisThreadsPriority() {
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_LOWEST);
}

}  // namespace tallyport
