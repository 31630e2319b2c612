#include <cerrno>
#include <filesystem>

#include "serial/BlockSerial.h"
#include "support/SerialPlatform.h"

namespace tallyport::test {

const SerialPlatformCodes& PlatformCodes() {
    static const SerialPlatformCodes codes{.notOpen = EBADF,
                                           .portInUse = EBUSY,
                                           .noSuchPort = ENOENT,
                                           .noSuchFolder = ENOENT,
                                           .deviceGone = EIO,
                                           .invalidArgument = EINVAL,
                                           .queryRefused = ENOTTY,
                                           .queryGone = EIO};
    return codes;
}

std::string LowLatencyNoteOfTestLine() {
    return "low-latency mode refused by the driver (" + TBlockSerial::ErrorText(ENOTTY) + ")";
}

bool OnWindows() {
    return false;
}

bool RunningUnderWine() {
    return false;
}

bool PortDeviceExists(const std::string& devicePath) {
    std::error_code ignored;
    return std::filesystem::exists(devicePath, ignored);
}

}  // namespace tallyport::test
