#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "control/ProcessIdentity.h"

namespace tallyport {

long ThisProcessId() {
    return static_cast<long>(::getpid());
}

std::optional<std::uint64_t> ProcessStart(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (pid <= 0 || !std::getline(stat, line)) {
        return std::nullopt;
    }
    // The command name in parentheses may hold spaces: count the fields after its last ')'.
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    // Fields 3 to 21, then the start time (field 22).
    for (int i = 3; i <= 21; ++i) {
        fields >> field;
    }
    std::uint64_t start = 0;
    if (!(fields >> start)) {
        return std::nullopt;
    }
    return start;
}

bool ProcessRunning(long pid, std::uint64_t start) {
    const auto actual = ProcessStart(pid);
    return actual && *actual == start;
}

}  // namespace tallyport
