#include "base/ProgramFolders.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace tallyport {
namespace {

namespace fs = std::filesystem;

// A path without "." and ".." parts and without a trailing "/", so that two spellings of one
// folder compare equal.
fs::path Normal(const std::string& path) {
    fs::path normal = fs::path(path).lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

// $STATE_DIRECTORY lists one folder per StateDirectory= entry, separated by ":".
std::string FirstOfList(const std::string& list) {
    return list.substr(0, list.find(':'));
}

std::string UserFolder(const FolderFacts& facts) {
    // The XDG rule: a relative $XDG_DATA_HOME is invalid and ignored.
    fs::path base = !facts.dataHome.empty() && fs::path(facts.dataHome).is_absolute()
                        ? fs::path(facts.dataHome)
                        : fs::path(facts.home) / ".local" / "share";
    return (Normal(base.string()) / kUserFolderName).string();
}

ProgramFolders InFolder(FolderRule rule, const std::string& folder) {
    return {rule, (fs::path(folder) / kConfigFileName).string(), folder};
}

// Creates `path` with `bytes` unless it exists ("x": never replaces a file of the user).
std::string CreateFile(const fs::path& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wbx");
    if (file == nullptr) {
        std::error_code exists;
        if (fs::exists(path, exists)) {
            return {};
        }
        return "Nu se poate crea " + path.string();
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? std::string() : "Nu se poate scrie " + path.string();
}

}  // namespace

bool IsInstalledFolder(const std::string& programFolder, const std::string& installBinDir) {
    if (programFolder.empty() || installBinDir.empty()) {
        return false;
    }
    const std::string folder = Normal(programFolder).string();
    const std::string bin = Normal(installBinDir).string();
    if (folder.size() < bin.size() ||
        folder.compare(folder.size() - bin.size(), bin.size(), bin) != 0) {
        return false;
    }
    // Whole folder names only: /opt/x/usr/bin ends with /usr/bin, /opt/x/myusr/bin does not.
    return folder.size() == bin.size() || bin.front() == '/' ||
           folder[folder.size() - bin.size() - 1] == '/';
}

ProgramFolders ChooseProgramFolders(const FolderFacts& facts) {
    if (facts.configOption) {
        fs::path file(*facts.configOption);
        if (file.is_relative()) {
            file = fs::path(facts.startFolder) / file;
        }
        file = file.lexically_normal();
        return {FolderRule::ConfigOption, file.string(), file.parent_path().string()};
    }
    if (!IsInstalledFolder(facts.programFolder, facts.installBinDir)) {
        // Without a known program folder the working folder is the only place left to look.
        const std::string path = facts.programFolder.empty()
                                     ? std::string(kConfigFileName)
                                     : (fs::path(facts.programFolder) / kConfigFileName).string();
        return {FolderRule::ProgramFolder, path, {}};
    }
    const std::string stateFolder = FirstOfList(facts.stateDirectory);
    if (!stateFolder.empty()) {
        return InFolder(FolderRule::ServiceFolder, Normal(stateFolder).string());
    }
    return InFolder(FolderRule::UserFolder, UserFolder(facts));
}

std::string PrepareProgramFolder(const ProgramFolders& folders,
                                 const std::vector<FirstStartFile>& files) {
    if (folders.rule != FolderRule::UserFolder && folders.rule != FolderRule::ServiceFolder) {
        return {};
    }
    const fs::path folder(folders.workingFolder);
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        return "Nu se poate crea dosarul " + folder.string() + ": " + error.message();
    }
    if (fs::exists(folders.configPath, error) || error) {
        return {};  // not the first start: the user's files stay as they are
    }
    // The configuration file is written last: if a start fails half-way, the next one
    // completes the set instead of taking it for a folder already in use.
    std::string failure;
    for (const FirstStartFile& file : files) {
        if (fs::path(file.name) == kConfigFileName) {
            continue;
        }
        if (failure.empty()) {
            failure = CreateFile(folder / file.name, file.bytes);
        }
    }
    for (const FirstStartFile& file : files) {
        if (fs::path(file.name) == kConfigFileName && failure.empty()) {
            failure = CreateFile(folder / file.name, file.bytes);
        }
    }
    return failure;
}

std::string EnterWorkingFolder(const ProgramFolders& folders) {
    if (folders.workingFolder.empty()) {
        return {};
    }
    std::error_code error;
    fs::current_path(folders.workingFolder, error);
    return error ? "Nu se poate folosi dosarul " + folders.workingFolder + ": " + error.message()
                 : std::string();
}

}  // namespace tallyport
