#include "app/ProgramEntry.h"

#include <QApplication>
#include <QCoreApplication>
#include <cstring>

#include "app/HeadlessShell.h"
#include "app/MainWindow.h"
#include "app/QtDialogs.h"
#include "app/StopSignalWatcher.h"
#include "base/BuildInfo.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "store/AppSettings.h"

namespace tallyport {
namespace {

int ExitStatus(TConnectionControl::StartupResult result) {
    // A start-up cut short by a stop request is a requested end, not a failure.
    return result == TConnectionControl::StartupResult::Failed ? 1 : 0;
}

bool Headless(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            return true;
        }
    }
    return false;
}

int RunWindowed(int argc, char** argv, HandlerFactory handlers, RequestContext* context) {
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tallyport"));
    // The tray icon holds the program while the window is hidden.
    app.setQuitOnLastWindowClosed(false);
    StopSignalWatcher stopSignals;
    ConsoleLog log;

    const std::string configPath = ConfigPathNextToProgram();
    LoadConfig(configPath);
    QtDialogs dialogs(log);
    TfMain window(configPath, dialogs, log, std::move(handlers),
                  QCoreApplication::applicationDirPath());
    dialogs.SetWindow(&window);
    window.Control().UseRequestContext(context);
    stopSignals.Attach(window.Control(), [&window] { window.EndProgram(); });
    const auto started = window.Startup();
    if (started != TConnectionControl::StartupResult::Running) {
        return ExitStatus(started);
    }
    return app.exec();
}

int RunHeadless(int argc, char** argv, HandlerFactory handlers, RequestContext* context) {
    QCoreApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tallyport"));
    StopSignalWatcher stopSignals;
    ConsoleLog log;

    const std::string configPath = ConfigPathNextToProgram();
    LoadConfig(configPath);
    ConsoleDialogs dialogs(log);
    ConsoleNoticeSink notices(log);
    HeadlessShell view(log);
    TConnectionControl control(configPath, view, dialogs, notices, std::move(handlers));
    stopSignals.Attach(control, [] { QCoreApplication::quit(); });
    control.UseRequestContext(context);
    log.Line(std::string(build_info::kProgramCaption) +
             " porneste fara fereastra; configurare: " + configPath);
    const auto started = control.TrayStartup();
    if (started != TConnectionControl::StartupResult::Running) {
        log.Line("Tallyport se opreste.");
        return ExitStatus(started);
    }
    const int status = app.exec();
    log.Line("Tallyport s-a oprit.");
    return status;
}

}  // namespace

int RunTallyport(int argc, char** argv, HandlerFactory handlers, RequestContext* context) {
    if (Headless(argc, argv)) {
        return RunHeadless(argc, argv, std::move(handlers), context);
    }
    return RunWindowed(argc, argv, std::move(handlers), context);
}

}  // namespace tallyport
