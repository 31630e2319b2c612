#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/ProgramFolders.h"
#include "control/CommandLine.h"
#include "control/ConnectionControl.h"
#include "control/ProgramHandlers.h"
#include "control/RegisterStatus.h"
#include "control/StatusFile.h"

namespace tallyport {

class NoticeSink;
class RegisterDialogModel;
class ShellView;
class StatusMonitor;
class UserDialogs;

// The desktop program (a window with a tray icon) without widgets: its entry, its start, the
// connection control with the registers' status, and the rules of when the window shows and
// what the tray says. The Qt shell and the Windows shell are two views over it: they draw and
// forward. User-interface (main) thread only, unless a function says otherwise.

// The entry point of a desktop program. `args` are the command line's arguments, the program's
// name first. --help and --version print on standard output (0), a wrong command line prints
// on standard error (2), --status and --headless run here without a window; otherwise
// `runWindow` runs the window with the command line and `handlers`, and its result is the exit
// status (0 after an orderly exit or a stop during start-up, 1 when the start-up failed).
using WindowRun = std::function<int(const CommandLine& line, ProgramHandlers handlers)>;
int RunDesktopProgram(const std::vector<std::string>& args, ProgramHandlers handlers,
                      const WindowRun& runWindow);

// The window's start, before the window is made: the configuration file and the working folder
// by the folder rule, then the configuration file read into AppSettings. nullopt when either
// failed; the reason was shown through `dialogs` and the program must end (exit status 1)
// without writing anything.
std::optional<ProgramFolders> OpenDesktopFolders(const CommandLine& line, UserDialogs& dialogs);

// Where the manual is when it is not in the working folder: the program's folder, or for an
// installed program the install's shared folder (found from `programFolder`).
std::string HelpFolderFor(const std::string& programFolder);
// The manual "ManualECR.htm": in the working folder first, then in `helpFolder`; its full path,
// or nullopt when neither has it (Help then does nothing).
std::optional<std::string> FindManual(const std::string& helpFolder);

// What the window and the tray show for the connection state.
struct ConnectLook {
    bool settingsEnabled;       // the grid, its buttons and every setting control
    bool connectEnabled;        // "Conecteaza" in the tray menu
    bool disconnectEnabled;     // "Deconecteaza" in the tray menu
    const char* buttonCaption;  // "&Conectare" or "&Deconectare"
    bool buttonShowsConnected;  // the button's picture: the connected plug (it connects)
    bool trayShowsConnected;    // the tray icon's picture
};
ConnectLook ConnectLookOf(bool connected);

// When the window shows by itself: after a start-up that left the program running while no
// notification area holds the tray icon (nothing else could reach the program).
bool ShowWindowAtStartup(TConnectionControl::StartupResult result, bool trayIconShown);
// A minimised window goes to the tray only while the tray icon is shown.
bool HideWhenMinimised(bool trayIconShown);

// The grid of the register list: its columns' titles and one row per register, in the list's
// order, as shown (DisplayText).
inline constexpr const char* kRegisterGridTitles[] = {
    "Nr.Logic", "Serie Fiscala", "Port Comunicatie", "Model", "Observatii", "Stare"};
struct RegisterGridRow {
    std::optional<int> logicalNb;
    std::string nrLogic;
    std::string fiscal;
    std::string port;
    std::string model;
    std::string remark;
};
// The "Stare" cell of `row` and its tip, from the status of the workers (matched by logical
// number); empty for a row without a worker (one added after the start).
std::string GridRowStatus(const RegisterGridRow& row, const std::vector<RegisterStatus>& status);
std::string GridRowStatusTip(const RegisterGridRow& row, const std::vector<RegisterStatus>& status);

// One desktop program's control: the connection control (with its workers), the registers'
// status and the status file. Owned by the shell's window, which it calls back through
// `view`; `dialogs` and `notices` must outlive it (the notices are shown from the workers'
// threads). Destroying it stops the workers first.
class DesktopSession {
public:
    DesktopSession(std::string configPath, ShellView& view, UserDialogs& dialogs,
                   NoticeSink& notices, ProgramHandlers handlers);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    TConnectionControl& Control() { return *control_; }
    StatusMonitor& Monitor() { return *monitor_; }

    // Keeps the status file for `tallyport --status` from now on, for the configuration file
    // this session was made with (the user's status folder).
    void KeepStatusFile();
    // Keeps the status file `path` from now on (tests choose the file).
    void KeepStatusFile(std::string path, StatusFileHeader header);

    // The start-up handler (TConnectionControl::TrayStartup); the control was given the
    // handlers' context when the session was made.
    TConnectionControl::StartupResult Startup();

    // One look at the registers: notices of lost and returning ports, the status file. Returns
    // the tray icon's tip: "Tallyport", a line break and the summary of the registers.
    std::string Look();
    // The workers' status now, for the grid's "Stare" column.
    std::vector<RegisterStatus> CurrentStatus() const;
    // The rows of the register list for the grid (the list's current row goes to the first).
    std::vector<RegisterGridRow> GridRows();

    // The window's close box: true when the program may end (it has ended, or the close query
    // was answered Yes and succeeded).
    bool WindowClosing();
    // "&Sterge" on grid row `row` (none selected: nullopt): TConnectionControl::DeleteRegister.
    void DeleteRegister(std::optional<std::size_t> row) { control_->DeleteRegister(row); }
    // "Adauga"/"Modifica": RunRegisterDialog with the shell's modal dialog `show`.
    void RegisterDialog(bool edit, std::optional<std::size_t> row,
                        const std::function<void(RegisterDialogModel&)>& show);

private:
    std::string configPath_;
    RequestContext* context_;
    std::unique_ptr<StatusMonitor> monitor_;
    NoticeSink& notices_;
    std::unique_ptr<TConnectionControl> control_;  // declared last: its workers stop first
};

}  // namespace tallyport
