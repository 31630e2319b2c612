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
// The folders by platform (ProgramFolders_posix.cpp, ProgramFolders_win32.cpp):
//   installed      POSIX: in the programs' install folder (/usr/bin), also under another root;
//                  Windows: anywhere in the Program Files folder.
//   a user's       POSIX: $XDG_DATA_HOME/Tallyport or ~/.local/share/Tallyport;
//                  Windows: %LOCALAPPDATA%\Tallyport.
//   the service's  POSIX: the state folder systemd gives it ($STATE_DIRECTORY);
//                  Windows: %ProgramData%\Tallyport.
//
// Free functions without state; any thread may call them. The choice never fails; preparing and
// entering a folder report failures as a text (empty on success) and never throw.

enum class FolderRule {
    ProgramFolder,  // next to the program file; the working folder stays as started
    ConfigOption,   // --config FILE
    UserFolder,     // installed, for a user
    ServiceFolder,  // installed, as the service
};

// What the choice depends on, gathered from the process by FolderFactsOfProcess.
struct FolderFacts {
    std::string programFolder;  // folder of the running program file; empty when unknown
    std::string installBinDir;  // where an install puts the programs ("/usr/bin", Program Files)
    std::optional<std::string> configOption;  // --config FILE, as given
    std::string startFolder;  // the working folder at start, for a relative --config
    // The service's state folder; empty when the program does not run as the service. POSIX:
    // $STATE_DIRECTORY, set by systemd (several folders separated by ":"); Windows: the
    // service's folder when it runs under the service control manager.
    std::string stateDirectory;
    std::string dataHome;  // POSIX: $XDG_DATA_HOME; Windows: %LOCALAPPDATA%
    std::string home;      // POSIX: $HOME or the user database's; Windows: %USERPROFILE%
};

struct ProgramFolders {
    FolderRule rule = FolderRule::ProgramFolder;
    std::string configPath;     // the configuration file
    std::string workingFolder;  // empty: keep the working folder the program was started in
};

// The folder name of the program's own files under a user's data folder.
inline constexpr char kUserFolderName[] = "Tallyport";
inline constexpr char kConfigFileName[] = "Tallyport.ini";

// True when a program in `programFolder` is installed: `installBinDir` is where an install puts
// the programs (POSIX: the folder ends with it; Windows: the folder is in it, in any case).
bool IsInstalledFolder(const std::string& programFolder, const std::string& installBinDir);

// The rule above.
ProgramFolders ChooseProgramFolders(const FolderFacts& facts);

// The facts of this process: its program file, the install folder, the environment and the
// user's folders. `service`: the program runs as the service (Windows, where the service
// control manager sets no variable; on POSIX systemd's variables tell, and it is not used).
FolderFacts FolderFactsOfProcess(std::optional<std::string> configOption, bool service = false);

// The state folder of the installed service, for a user's command that looks for the service
// (`--status`): /var/lib/tallyport, %ProgramData%\Tallyport.
std::string DefaultServiceFolder();

// The rule's folders in words for the help text, in the program's language.
std::string FolderRuleHelp();

// The platform's part of the rule: a user's folder and the service's folder from the facts.
std::string UserFolderOf(const FolderFacts& facts);
std::string ServiceFolderOf(const FolderFacts& facts);

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
