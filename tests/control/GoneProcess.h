#pragma once

#include <cstdint>

namespace tallyport::test {

// A process that ran and has ended, with the number and start time it had (as ProcessStart
// gave them while it ran): what a status file left behind names. One file per platform.
struct GoneProcess {
    long pid = 0;
    std::uint64_t start = 0;
};
GoneProcess RunShortProcess();

}  // namespace tallyport::test
