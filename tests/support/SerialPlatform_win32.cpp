#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string_view>

#include "support/SerialPlatform.h"

namespace tallyport::test {

const SerialPlatformCodes& PlatformCodes() {
    static const SerialPlatformCodes codes{.notOpen = ERROR_INVALID_HANDLE,
                                           .portInUse = ERROR_ACCESS_DENIED,
                                           .noSuchPort = ERROR_FILE_NOT_FOUND,
                                           .noSuchFolder = ERROR_PATH_NOT_FOUND,
                                           .deviceGone = ERROR_DEVICE_NOT_CONNECTED,
                                           .invalidArgument = ERROR_INVALID_PARAMETER,
                                           .queryRefused = ERROR_INVALID_FUNCTION,
                                           .queryGone = ERROR_BAD_COMMAND};
    return codes;
}

std::string LowLatencyNoteOfTestLine() {
    return "low-latency mode is the adapter driver's own setting on Windows (FTDI: Latency "
           "Timer, 16 ms unless lowered in the port's Advanced settings)";
}

bool OnWindows() {
    return true;
}

// Wine's ntdll exports its version; Windows' does not.
bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool PortDeviceExists(const std::string& devicePath) {
    constexpr std::string_view kDeviceSpace = "\\\\.\\";
    std::string name = devicePath;
    if (name.starts_with(kDeviceSpace))
        name.erase(0, kDeviceSpace.size());
    char target[1024];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

}  // namespace tallyport::test
