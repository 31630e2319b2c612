#include "base/Paths.h"
#include "base/ProgramFolders.h"
#include "control/StatusFile.h"

namespace tallyport {

std::vector<std::string> StatusFolders(bool service) {
    // The service's folder under %ProgramData% can be read by every user, so that a plain
    // `tallyport --status` finds the service; a user's program keeps its status to itself.
    std::vector<std::string> folders;
    FolderFacts facts = FolderFactsOfProcess(std::nullopt);
    if (!service && !facts.dataHome.empty()) {
        folders.push_back(JoinPath(UserFolderOf(facts), "Status"));
    }
    if (const std::string serviceFolder = DefaultServiceFolder(); !serviceFolder.empty()) {
        folders.push_back(JoinPath(serviceFolder, "Status"));
    }
    return folders;
}

}  // namespace tallyport
