#include "app/ProgramEntry.h"

#include <QApplication>
#include <QCoreApplication>
#include <string>
#include <vector>

#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/StopSignalWatcher.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "control/DesktopProgram.h"

namespace tallyport {
namespace {

int ExitStatus(TConnectionControl::StartupResult result) {
    // A start-up cut short by a stop request is a requested end, not a failure.
    return result == TConnectionControl::StartupResult::Failed ? 1 : 0;
}

int RunWindowed(int argc, char** argv, const CommandLine& line, ProgramHandlers handlers) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tallyport"));
    // The tray icon holds the program while the window is hidden.
    app.setQuitOnLastWindowClosed(false);
    StopSignalWatcher stopSignals;
    ConsoleLog log;
    QtDialogs dialogs(log);

    const std::optional<ProgramFolders> folders = OpenDesktopFolders(line, dialogs);
    if (!folders) {
        return 1;
    }
    // The file dialog starts where the program's files are.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString filesDir = folders->workingFolder.empty()
                                 ? programDir
                                 : QString::fromLocal8Bit(folders->workingFolder);
    TfMain window(folders->configPath, dialogs, log, std::move(handlers), filesDir);
    window.SetHelpFolder(
        QString::fromLocal8Bit(HelpFolderFor(programDir.toLocal8Bit().toStdString())));
    window.KeepStatusFile();
    dialogs.SetWindow(&window);
    stopSignals.Attach(window.Control(), [&window] { window.EndProgram(); });
    const auto started = window.Startup();
    if (started != TConnectionControl::StartupResult::Running) {
        return ExitStatus(started);
    }
    return app.exec();
}

}  // namespace

int RunTallyport(int argc, char** argv, ProgramHandlers handlers) {
    return RunDesktopProgram(std::vector<std::string>(argv, argv + argc), std::move(handlers),
                             [argc, argv](const CommandLine& line, ProgramHandlers windowed) {
                                 return RunWindowed(argc, argv, line, std::move(windowed));
                             });
}

}  // namespace tallyport
