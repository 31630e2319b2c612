#include <filesystem>

#include "support/OpenHandles.h"

namespace tallyport::test {

int OpenHandleCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

}  // namespace tallyport::test
