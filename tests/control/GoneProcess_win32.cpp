#include <windows.h>

#include <string>

#include "GoneProcess.h"

namespace tallyport::test {

GoneProcess RunShortProcess() {
    // This test program again, listing its tests: it ends by itself at once.
    wchar_t program[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_list_tests";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    if (!::CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                          nullptr, nullptr, &startup, &child)) {
        return {};
    }
    ::WaitForSingleObject(child.hProcess, INFINITE);
    // The creation time as ProcessStart gives it while the process runs.
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    ::GetProcessTimes(child.hProcess, &created, &exited, &kernel, &user);
    GoneProcess gone{static_cast<long>(child.dwProcessId),
                     (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime};
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);
    return gone;
}

}  // namespace tallyport::test
