#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/ProgramFolders.h"

namespace tallyport {
namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// $HOME, or the home folder of the user database when it is unset (a service may run without).
std::string HomeFolder() {
    std::string home = Environment("HOME");
    if (!home.empty()) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
        found != nullptr && found->pw_dir != nullptr) {
        home = found->pw_dir;
    }
    return home;
}

}  // namespace

FolderFacts FolderFactsOfProcess(std::optional<std::string> configOption,
                                 std::string installBinDir) {
    FolderFacts facts;
    std::error_code error;
    // The kernel's link names the program file with every symbolic link resolved.
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        facts.programFolder = program.parent_path().string();
    }
    facts.installBinDir = std::move(installBinDir);
    facts.configOption = std::move(configOption);
    facts.startFolder = std::filesystem::current_path(error).string();
    facts.stateDirectory = Environment("STATE_DIRECTORY");
    facts.dataHome = Environment("XDG_DATA_HOME");
    facts.home = HomeFolder();
    return facts;
}

}  // namespace tallyport
