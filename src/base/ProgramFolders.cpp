#include "base/ProgramFolders.h"

#include "base/Paths.h"
#include "base/SystemError.h"

namespace tallyport {
namespace {

ProgramFolders InFolder(FolderRule rule, const std::string& folder) {
    return {rule, JoinPath(folder, kConfigFileName), folder};
}

// Creates `path` with `bytes` unless it exists: never replaces a file of the user's.
std::string CreateFirstFile(const std::string& path, const std::string& bytes) {
    int error = 0;
    switch (CreateNewFile(path, bytes, error)) {
        case NewFile::Created:
        case NewFile::Existed:
            return {};
        case NewFile::NotCreated:
            return "Nu se poate crea " + path;
        case NewFile::NotWritten:
            break;
    }
    return "Nu se poate scrie " + path;
}

}  // namespace

ProgramFolders ChooseProgramFolders(const FolderFacts& facts) {
    if (facts.configOption) {
        // Relative to the folder the program was started in.
        const std::string file = NormalPath(JoinPath(facts.startFolder, *facts.configOption));
        return {FolderRule::ConfigOption, file, ParentFolder(file)};
    }
    if (!IsInstalledFolder(facts.programFolder, facts.installBinDir)) {
        // Without a known program folder the working folder is the only place left to look.
        const std::string path = facts.programFolder.empty()
                                     ? std::string(kConfigFileName)
                                     : JoinPath(facts.programFolder, kConfigFileName);
        return {FolderRule::ProgramFolder, path, {}};
    }
    const std::string stateFolder = ServiceFolderOf(facts);
    if (!stateFolder.empty()) {
        return InFolder(FolderRule::ServiceFolder, stateFolder);
    }
    return InFolder(FolderRule::UserFolder, UserFolderOf(facts));
}

std::string PrepareProgramFolder(const ProgramFolders& folders,
                                 const std::vector<FirstStartFile>& files) {
    if (folders.rule != FolderRule::UserFolder && folders.rule != FolderRule::ServiceFolder) {
        return {};
    }
    const std::string& folder = folders.workingFolder;
    if (const int error = MakeFolders(folder); error != 0) {
        return "Nu se poate crea dosarul " + folder + ": " + ErrorText(error);
    }
    if (PathExists(folders.configPath)) {
        return {};  // not the first start: the user's files stay as they are
    }
    // The configuration file is written last: if a start fails half-way, the next one
    // completes the set instead of taking it for a folder already in use.
    std::string failure;
    for (const FirstStartFile& file : files) {
        if (file.name == kConfigFileName) {
            continue;
        }
        if (failure.empty()) {
            failure = CreateFirstFile(JoinPath(folder, file.name), file.bytes);
        }
    }
    for (const FirstStartFile& file : files) {
        if (file.name == kConfigFileName && failure.empty()) {
            failure = CreateFirstFile(JoinPath(folder, file.name), file.bytes);
        }
    }
    return failure;
}

std::string EnterWorkingFolder(const ProgramFolders& folders) {
    if (folders.workingFolder.empty()) {
        return {};
    }
    const int error = ChangeWorkingFolder(folders.workingFolder);
    return error != 0
               ? "Nu se poate folosi dosarul " + folders.workingFolder + ": " + ErrorText(error)
               : std::string();
}

}  // namespace tallyport
