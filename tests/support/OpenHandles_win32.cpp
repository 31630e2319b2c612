#include <windows.h>

#include "support/OpenHandles.h"

namespace tallyport::test {

int OpenHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return static_cast<int>(count);
}

}  // namespace tallyport::test
