#include <windows.h>

#include "control/ServingLock.h"

namespace tallyport {
namespace {

constexpr wchar_t kLockName[] = L"Global\\Tallyport.Registers";

}  // namespace

ServingLock::ServingLock() {
    HANDLE handle = ::CreateMutexW(nullptr, FALSE, kLockName);
    const DWORD error = ::GetLastError();
    if (handle == nullptr) {
        // A mutex made by the service cannot be opened by a user's program: it is taken. Any
        // other failure (no such namespace) must not keep the shop's registers unserved.
        taken_ = error != ERROR_ACCESS_DENIED;
        return;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(handle);
        return;
    }
    handle_ = handle;
    taken_ = true;
}

ServingLock::~ServingLock() {
    if (handle_) {
        ::CloseHandle(static_cast<HANDLE>(handle_));
    }
}

}  // namespace tallyport
