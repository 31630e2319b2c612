#include "control/DesktopProgram.h"

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "base/BuildInfo.h"
#include "base/Paths.h"
#include "control/ConfigFile.h"
#include "control/ConsoleOutput.h"
#include "control/DisplayText.h"
#include "control/FileKind.h"
#include "control/ProgramRun.h"
#include "control/RegisterDialogModel.h"
#include "control/SignalPipe.h"
#include "control/StatusMonitor.h"
#include "control/StatusText.h"
#include "control/UserDialogs.h"

namespace tallyport {
namespace {

constexpr char kManual[] = "ManualECR.htm";

const RegisterStatus* StatusOfRow(const RegisterGridRow& row,
                                  const std::vector<RegisterStatus>& status) {
    for (const RegisterStatus& one : status) {
        if (row.logicalNb && one.logicalNb == *row.logicalNb) {
            return &one;
        }
    }
    return nullptr;
}

}  // namespace

int RunDesktopProgram(const std::vector<std::string>& args, ProgramHandlers handlers,
                      const WindowRun& runWindow) {
    const CommandLine line =
        ParseCommandLine(args, ProgramOptions{.window = true, .service = false});
    switch (line.action) {
        case CommandLine::Action::Help:
        case CommandLine::Action::Version:
            std::fputs(line.text.c_str(), stdout);
            return 0;
        case CommandLine::Action::Error:
            std::fputs(line.text.c_str(), stderr);
            return 2;
        case CommandLine::Action::InstallService:
        case CommandLine::Action::RemoveService:  // not offered here
        case CommandLine::Action::Run:
            break;
    }
    if (line.status) {
        return RunStatusCommand(line);
    }
    if (line.headless) {
        SignalPipe stops{SIGTERM, SIGINT};
        ConsoleLog log;
        return RunHeadless(line, std::move(handlers.factory), handlers.context, stops, log);
    }
    return runWindow(line, std::move(handlers));
}

std::optional<ProgramFolders> OpenDesktopFolders(const CommandLine& line, UserDialogs& dialogs) {
    ProgramFolders folders;
    const std::string failure = SettleFolders(line, folders);
    if (!failure.empty()) {
        dialogs.ShowMessage(MessageKind::Error, failure);
        return std::nullopt;
    }
    if (!ReadConfigFile(folders.configPath, dialogs)) {
        return std::nullopt;
    }
    return folders;
}

std::string HelpFolderFor(const std::string& programFolder) {
    if (!IsInstalledFolder(programFolder, build_info::kInstallBinDir)) {
        return programFolder;
    }
    // The shared folder relative to the programs' folder: "../share/tallyport".
    const std::string shared = std::filesystem::path(build_info::kInstallShareDir)
                                   .lexically_relative(build_info::kInstallBinDir)
                                   .string();
    return NormalPath(JoinPath(programFolder, shared));
}

std::optional<std::string> FindManual(const std::string& helpFolder) {
    // The document is named without a folder; the copy installed beside the program (or in
    // the install's shared folder) serves when the working folder has none.
    for (const std::string& folder : {WorkingFolder(), helpFolder}) {
        if (folder.empty()) {
            continue;
        }
        const std::string document = JoinPath(folder, kManual);
        if (IsFile(document)) {
            return AbsolutePath(document);
        }
    }
    return std::nullopt;
}

ConnectLook ConnectLookOf(bool connected) {
    return ConnectLook{
        .settingsEnabled = !connected,
        .connectEnabled = !connected,
        .disconnectEnabled = connected,
        .buttonCaption = connected ? "&Deconectare" : "&Conectare",
        .buttonShowsConnected = !connected,
        .trayShowsConnected = connected,
    };
}

bool ShowWindowAtStartup(TConnectionControl::StartupResult result, bool trayIconShown) {
    // Without a notification area the tray icon cannot be reached: the window stands in.
    return result == TConnectionControl::StartupResult::Running && !trayIconShown;
}

bool HideWhenMinimised(bool trayIconShown) {
    // While the icon is not shown (no notification area yet) the window stays on the task bar.
    return trayIconShown;
}

std::string GridRowStatus(const RegisterGridRow& row, const std::vector<RegisterStatus>& status) {
    const RegisterStatus* one = StatusOfRow(row, status);
    return one ? DisplayText(GridStatusText(*one)) : std::string();
}

std::string GridRowStatusTip(const RegisterGridRow& row,
                             const std::vector<RegisterStatus>& status) {
    const RegisterStatus* one = StatusOfRow(row, status);
    return one ? DisplayText(GridStatusTip(*one)) : std::string();
}

DesktopSession::DesktopSession(std::string configPath, ShellView& view, UserDialogs& dialogs,
                               NoticeSink& notices, ProgramHandlers handlers)
    : configPath_(configPath),
      context_(handlers.context),
      monitor_(std::make_unique<StatusMonitor>(notices, std::string(), StatusFileHeader{})),
      notices_(notices),
      control_(std::make_unique<TConnectionControl>(std::move(configPath), view, dialogs, notices,
                                                    std::move(handlers.factory))) {
    control_->UseRequestContext(context_);
}

DesktopSession::~DesktopSession() {
    control_.reset();  // the workers stop before anything they may use goes
}

void DesktopSession::KeepStatusFile() {
    KeepStatusFile(StatusFileForWriting(configPath_, StatusFolders(false)),
                   StatusHeader(configPath_));
}

void DesktopSession::KeepStatusFile(std::string path, StatusFileHeader header) {
    monitor_ = std::make_unique<StatusMonitor>(notices_, std::move(path), std::move(header));
}

TConnectionControl::StartupResult DesktopSession::Startup() {
    return control_->TrayStartup();
}

std::string DesktopSession::Look() {
    const auto now = std::chrono::steady_clock::now();
    monitor_->Update(CollectStatus(control_->ECRThreads(), now, control_->Journal()), Connected,
                     now);
    return "Tallyport\n" + DisplayText(StatusSummary(monitor_->Last()));
}

std::vector<RegisterStatus> DesktopSession::CurrentStatus() const {
    return CollectStatus(control_->ECRThreads(), std::chrono::steady_clock::now(),
                         control_->Journal());
}

std::vector<RegisterGridRow> DesktopSession::GridRows() {
    std::vector<RegisterGridRow> rows;
    CsvTable& list = control_->RegisterList();
    if (!list.IsOpen()) {
        return rows;
    }
    for (list.First(); !list.Eof(); list.Next()) {
        const RegisterEntry entry = ReadRegisterEntry(list);
        rows.push_back(RegisterGridRow{
            .logicalNb = entry.LogicalNb,
            .nrLogic = entry.LogicalNb ? std::to_string(*entry.LogicalNb) : std::string(),
            .fiscal = DisplayText(entry.Fiscal),
            .port = DisplayText(entry.CommPort),
            .model = DisplayText(entry.ModelType),
            .remark = DisplayText(entry.Observatii),
        });
    }
    list.First();
    return rows;
}

bool DesktopSession::WindowClosing() {
    return control_->Ended() || control_->CloseQuery(true);
}

void DesktopSession::RegisterDialog(bool edit, std::optional<std::size_t> row,
                                    const std::function<void(RegisterDialogModel&)>& show) {
    RunRegisterDialog(*control_, edit ? RegisterDialogMode::Edit : RegisterDialogMode::Add, row,
                      show);
}

}  // namespace tallyport
