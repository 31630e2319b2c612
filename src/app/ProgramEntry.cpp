#include "app/ProgramEntry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "app/CommandLine.h"
#include "app/HeadlessShell.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/StatusCommand.h"
#include "app/StopSignalWatcher.h"
#include "base/BuildInfo.h"
#include "base/FirstStartFiles.h"
#include "base/ProgramFolders.h"
#include "control/ConfigFile.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "control/ProcessIdentity.h"
#include "control/RegisterStatus.h"
#include "control/StatusFile.h"
#include "control/StatusMonitor.h"
#include "store/AppSettings.h"

namespace tallyport {
namespace {

int ExitStatus(TConnectionControl::StartupResult result) {
    // A start-up cut short by a stop request is a requested end, not a failure.
    return result == TConnectionControl::StartupResult::Failed ? 1 : 0;
}

// The configuration file and the working folder by the folder rule; an installed program's
// folder is made and filled on its first start. Empty text on success.
std::string SettleFolders(const CommandLine& line, ProgramFolders& folders) {
    folders =
        ChooseProgramFolders(FolderFactsOfProcess(line.configFile, build_info::kInstallBinDir));
    std::string failure = PrepareProgramFolder(folders, FirstStartFiles());
    if (failure.empty()) {
        failure = EnterWorkingFolder(folders);
    }
    return failure.empty() ? failure : "Eroare: " + failure;
}

// The manual: next to a program run from its own folder, in the shared folder of an install
// (found from the program's folder, so that an install under another root finds its own).
QString HelpFolder() {
    const QString programDir = QCoreApplication::applicationDirPath();
    if (!IsInstalledFolder(programDir.toStdString(), build_info::kInstallBinDir)) {
        return programDir;
    }
    // The shared folder relative to the programs' folder: "../share/tallyport".
    const std::filesystem::path shared = std::filesystem::path(build_info::kInstallShareDir)
                                             .lexically_relative(build_info::kInstallBinDir);
    return QDir::cleanPath(QDir(programDir).filePath(QString::fromStdString(shared.string())));
}

// Who writes the status file: this process, on this configuration.
StatusFileHeader StatusHeader(const std::string& configPath) {
    StatusFileHeader header;
    header.pid = static_cast<long>(QCoreApplication::applicationPid());
    header.processStart = ProcessStart(header.pid).value_or(0);
    header.config = configPath;
    return header;
}

// The configurations whose running program --status looks for: the one this command would run
// on and, for an installed program without --config, also the service's, so that an
// administrator's plain `tallyport --status` finds the service.
std::vector<std::string> StatusConfigs(const CommandLine& line) {
    FolderFacts facts = FolderFactsOfProcess(line.configFile, build_info::kInstallBinDir);
    std::vector<std::string> configs{ChooseProgramFolders(facts).configPath};
    if (!line.configFile && facts.stateDirectory.empty() &&
        IsInstalledFolder(facts.programFolder, build_info::kInstallBinDir)) {
        facts.stateDirectory = "/var/lib/tallyport";
        configs.push_back(ChooseProgramFolders(facts).configPath);
    }
    return configs;
}

int RunStatus(const CommandLine& line) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::optional<StatusReport> first;
    for (const std::string& config : StatusConfigs(line)) {
        StatusReport report = ReadStatus(config, StatusFolders(), line.json, now);
        if (report.exitCode != 2) {
            first = std::move(report);
            break;
        }
        if (!first) {
            first = std::move(report);
        }
    }
    std::fputs(first->text.c_str(), stdout);
    return first->exitCode;
}

int RunWindowed(int argc, char** argv, const CommandLine& line, HandlerFactory handlers,
                RequestContext* context) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tallyport"));
    // The tray icon holds the program while the window is hidden.
    app.setQuitOnLastWindowClosed(false);
    StopSignalWatcher stopSignals;
    ConsoleLog log;
    QtDialogs dialogs(log);

    ProgramFolders folders;
    const std::string failure = SettleFolders(line, folders);
    if (!failure.empty()) {
        dialogs.ShowMessage(MessageKind::Error, failure);
        return 1;
    }
    if (!ReadConfigFile(folders.configPath, dialogs)) {
        return 1;
    }
    // The file dialog starts where the program's files are.
    const QString filesDir = folders.workingFolder.empty()
                                 ? QCoreApplication::applicationDirPath()
                                 : QString::fromLocal8Bit(folders.workingFolder);
    TfMain window(folders.configPath, dialogs, log, std::move(handlers), filesDir);
    window.SetHelpFolder(HelpFolder());
    window.KeepStatusFile(StatusFileForWriting(folders.configPath, StatusFolders()),
                          StatusHeader(folders.configPath));
    dialogs.SetWindow(&window);
    stopSignals.Attach(window.Control(), [&window] { window.EndProgram(); });
    window.Control().UseRequestContext(context);
    const auto started = window.Startup();
    if (started != TConnectionControl::StartupResult::Running) {
        return ExitStatus(started);
    }
    return app.exec();
}

int RunHeadless(int argc, char** argv, const CommandLine& line, HandlerFactory handlers,
                RequestContext* context) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tallyport"));
    StopSignalWatcher stopSignals;
    ConsoleLog log;

    ProgramFolders folders;
    const std::string failure = SettleFolders(line, folders);
    if (!failure.empty()) {
        log.Line(failure);
        return 1;
    }
    ConsoleDialogs dialogs(log);
    if (!ReadConfigFile(folders.configPath, dialogs)) {
        return 1;
    }
    ConsoleNoticeSink notices(log);
    HeadlessShell view(log);
    TConnectionControl control(folders.configPath, view, dialogs, notices, std::move(handlers));
    stopSignals.Attach(control, [] { QCoreApplication::quit(); });
    control.UseRequestContext(context);
    log.Line(std::string(build_info::kProgramCaption) +
             " porneste fara fereastra; configurare: " + folders.configPath);
    // Notices of lost and returning ports and the status file, as the window keeps them.
    StatusMonitor monitor(notices, StatusFileForWriting(folders.configPath, StatusFolders()),
                          StatusHeader(folders.configPath));
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&monitor, &control] {
        const auto now = std::chrono::steady_clock::now();
        monitor.Update(CollectStatus(control.ECRThreads(), now, control.Journal()), Connected, now);
    });
    const auto started = control.TrayStartup();
    if (started != TConnectionControl::StartupResult::Running) {
        log.Line("Tallyport se opreste.");
        return ExitStatus(started);
    }
    look.start(500);
    const int status = app.exec();
    log.Line("Tallyport s-a oprit.");
    return status;
}

}  // namespace

int RunTallyport(int argc, char** argv, HandlerFactory handlers, RequestContext* context) {
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv, argv + argc));
    switch (line.action) {
        case CommandLine::Action::Help:
        case CommandLine::Action::Version:
            std::fputs(line.text.c_str(), stdout);
            return 0;
        case CommandLine::Action::Error:
            std::fputs(line.text.c_str(), stderr);
            return 2;
        case CommandLine::Action::Run:
            break;
    }
    if (line.status) {
        return RunStatus(line);
    }
    if (line.headless) {
        return RunHeadless(argc, argv, line, std::move(handlers), context);
    }
    return RunWindowed(argc, argv, line, std::move(handlers), context);
}

}  // namespace tallyport
