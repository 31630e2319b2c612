#include "app/ProgramEntry.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <cstdio>
#include <filesystem>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/StopSignalWatcher.h"
#include "base/BuildInfo.h"
#include "base/ProgramFolders.h"
#include "control/CommandLine.h"
#include "control/ConfigFile.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "control/ProgramRun.h"
#include "control/SignalPipe.h"
#include "control/StatusFile.h"

namespace tallyport {
namespace {

int ExitStatus(TConnectionControl::StartupResult result) {
    // A start-up cut short by a stop request is a requested end, not a failure.
    return result == TConnectionControl::StartupResult::Failed ? 1 : 0;
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
    window.KeepStatusFile(StatusFileForWriting(folders.configPath, StatusFolders(false)),
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

}  // namespace

int RunTallyport(int argc, char** argv, HandlerFactory handlers, RequestContext* context) {
    const CommandLine line = ParseCommandLine(std::vector<std::string>(argv, argv + argc),
                                              ProgramOptions{.window = true, .service = false});
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
        return RunHeadless(line, std::move(handlers), context, stops, log);
    }
    return RunWindowed(argc, argv, line, std::move(handlers), context);
}

}  // namespace tallyport
