#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/BuildInfo.h"
#include "base/Paths.h"
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

bool IsInstalledFolder(const std::string& programFolder, const std::string& installBinDir) {
    if (programFolder.empty() || installBinDir.empty()) {
        return false;
    }
    const std::string folder = NormalPath(programFolder);
    const std::string bin = NormalPath(installBinDir);
    if (folder.size() < bin.size() ||
        folder.compare(folder.size() - bin.size(), bin.size(), bin) != 0) {
        return false;
    }
    // Whole folder names only: /opt/x/usr/bin ends with /usr/bin, /opt/x/myusr/bin does not.
    return folder.size() == bin.size() || bin.front() == '/' ||
           folder[folder.size() - bin.size() - 1] == '/';
}

std::string UserFolderOf(const FolderFacts& facts) {
    // The XDG rule: a relative $XDG_DATA_HOME is invalid and ignored.
    const std::string base = !facts.dataHome.empty() && IsAbsolutePath(facts.dataHome)
                                 ? facts.dataHome
                                 : JoinPath(JoinPath(facts.home, ".local"), "share");
    return JoinPath(NormalPath(base), kUserFolderName);
}

std::string ServiceFolderOf(const FolderFacts& facts) {
    // $STATE_DIRECTORY lists one folder per StateDirectory= entry, separated by ":"; the first
    // is the program's.
    const std::string first = facts.stateDirectory.substr(0, facts.stateDirectory.find(':'));
    return first.empty() ? std::string() : NormalPath(first);
}

FolderFacts FolderFactsOfProcess(std::optional<std::string> configOption, bool /*service*/) {
    FolderFacts facts;
    std::error_code error;
    // The kernel's link names the program file with every symbolic link resolved.
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        facts.programFolder = program.parent_path().string();
    }
    facts.installBinDir = build_info::kInstallBinDir;
    facts.configOption = std::move(configOption);
    facts.startFolder = WorkingFolder();
    // systemd tells the service by its variables.
    facts.stateDirectory = Environment("STATE_DIRECTORY");
    facts.dataHome = Environment("XDG_DATA_HOME");
    facts.home = HomeFolder();
    return facts;
}

std::string DefaultServiceFolder() {
    return "/var/lib/tallyport";  // the unit's StateDirectory=tallyport
}

std::string FolderRuleHelp() {
    return "Fara --config, fisierul de configurare Tallyport.ini se cauta langa program;\n"
           "un program instalat foloseste ~/.local/share/Tallyport (utilizatorul) sau\n"
           "/var/lib/tallyport (serviciul). Numele de fisiere relative se citesc din\n"
           "acelasi dosar.\n";
}

}  // namespace tallyport
