#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace tallyport::test {

// The ways of serving the lines the end-to-end suites run in, as `parallel` flags: both by
// default; TALLYPORT_LINE_MODES=serial or =parallel selects one, so that CTest can run each half
// of a long suite as a test of its own (the plain test run takes the lines in turn, the full
// run both).
inline std::vector<bool> SelectedLineModes() {
    const char* chosen = std::getenv("TALLYPORT_LINE_MODES");
    const std::string mode = chosen != nullptr ? chosen : "";
    if (mode == "serial") {
        return {false};
    }
    if (mode == "parallel") {
        return {true};
    }
    return {false, true};
}

}  // namespace tallyport::test
