#include <cstdlib>

#include "control/StatusFile.h"

namespace tallyport {

std::vector<std::string> StatusFolders(bool /*service*/) {
    return StatusFolders(std::getenv("RUNTIME_DIRECTORY"), std::getenv("XDG_RUNTIME_DIR"));
}

}  // namespace tallyport
