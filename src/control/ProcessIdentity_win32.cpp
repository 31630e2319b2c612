#include <windows.h>

#include "base/Win32File.h"
#include "control/ProcessIdentity.h"

namespace tallyport {

long ThisProcessId() {
    return static_cast<long>(::GetCurrentProcessId());
}

std::optional<std::uint64_t> ProcessStart(long pid) {
    if (pid <= 0) {
        return std::nullopt;
    }
    // The limited right is what a user gets for another user's process (the service's).
    win32::UniqueHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process.Valid()) {
        return std::nullopt;
    }
    // A process that has ended keeps its number while a handle to it is open somewhere.
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.Get(), &exitCode) || exitCode != STILL_ACTIVE) {
        return std::nullopt;
    }
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
        return std::nullopt;
    }
    return (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
}

bool ProcessRunning(long pid, std::uint64_t start) {
    if (const auto actual = ProcessStart(pid)) {
        return *actual == start;
    }
    // A process that another account runs may refuse even the limited query (a protected
    // process): it runs, though its start cannot be compared. Its status file's age still tells
    // a writer that stopped writing (StatusCommand.h).
    if (pid > 0 && ::GetLastError() == ERROR_ACCESS_DENIED) {
        return true;
    }
    return false;
}

}  // namespace tallyport
