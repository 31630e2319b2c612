#include <cerrno>
#include <filesystem>

#include "support/SerialPlatform.h"

namespace tallyport::test {

const SerialPlatformCodes& PlatformCodes() {
    static const SerialPlatformCodes codes{.notOpen = EBADF,
                                           .portInUse = EBUSY,
                                           .noSuchPort = ENOENT,
                                           .deviceGone = EIO,
                                           .invalidArgument = EINVAL,
                                           .queryRefused = ENOTTY,
                                           .queryGone = EIO};
    return codes;
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
