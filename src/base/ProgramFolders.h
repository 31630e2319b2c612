#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// Where the program keeps its configuration file and which folder relative file names resolve
// against. A program run from its own folder (a copied folder, the build folder) keeps
// "Tallyport.ini" next to the program file and the working folder it was started in. An
// installed program (its folder is the install folder of the programs) cannot write there: the
// service uses its state folder, everybody else a folder of their own; the program then works
// in that folder. `--config FILE` overrides both: the file, and its folder as the working folder.
//
// Free functions without state; any thread may call them. The choice never fails; preparing and
// entering a folder report failures as a text (empty on success) and never throw.

enum class FolderRule {
    ProgramFolder,  // next to the program file; the working folder stays as started
    ConfigOption,   // --config FILE
    UserFolder,     // installed, for a user: $XDG_DATA_HOME/Tallyport or ~/.local/share/Tallyport
    ServiceFolder,  // installed, as the service: the state folder systemd gives it
};

// What the choice depends on, gathered from the process by FolderFactsOfProcess.
struct FolderFacts {
    std::string programFolder;  // folder of the running program file; empty when unknown
    std::string installBinDir;  // where an install puts the programs ("/usr/bin")
    std::optional<std::string> configOption;  // --config FILE, as given
    std::string startFolder;     // the working folder at start, for a relative --config
    std::string stateDirectory;  // $STATE_DIRECTORY, set by systemd for the service
    std::string dataHome;        // $XDG_DATA_HOME
    std::string home;            // $HOME, or the user's home folder from the user database
};

struct ProgramFolders {
    FolderRule rule = FolderRule::ProgramFolder;
    std::string configPath;     // the configuration file
    std::string workingFolder;  // empty: keep the working folder the program was started in
};

// The folder name of the program's own files under a user's data folder.
inline constexpr char kUserFolderName[] = "Tallyport";
inline constexpr char kConfigFileName[] = "Tallyport.ini";

// True when `programFolder` is `installBinDir`, also inside another root (a package unpacked
// under /srv/root/usr/bin is installed as well): the folder ends with the install folder.
bool IsInstalledFolder(const std::string& programFolder, const std::string& installBinDir);

// The rule above.
ProgramFolders ChooseProgramFolders(const FolderFacts& facts);

// The facts of this process: its program file, the environment and the user's home folder.
FolderFacts FolderFactsOfProcess(std::optional<std::string> configOption,
                                 std::string installBinDir);

// A file an installed program's folder gets on its first start.
struct FirstStartFile {
    std::string name;   // relative to the folder
    std::string bytes;  // its contents
};

// For the installed rules only: creates the working folder if missing and, when it holds no
// configuration file yet (the first start), writes each of `files` that does not exist. An
// existing file is never changed. Other rules: does nothing.
std::string PrepareProgramFolder(const ProgramFolders& folders,
                                 const std::vector<FirstStartFile>& files);

// Makes `folders.workingFolder` the process's working folder (nothing when it is empty).
std::string EnterWorkingFolder(const ProgramFolders& folders);

}  // namespace tallyport
