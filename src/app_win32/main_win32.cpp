// tallyport-desktop.exe: the Windows desktop program. It starts hidden with its tray icon,
// serves the registers and shows its window on request; --headless and --status run without a
// window as the control library has them. One program at a time serves the registers: when the
// service or another Tallyport holds them, it says so and ends without connecting.
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

#include <optional>
#include <string>

#include "app_win32/MainWindow_win32.h"
#include "app_win32/WideText_win32.h"
#include "app_win32/Win32Dialogs_win32.h"
#include "base/Paths.h"
#include "base/Win32Text.h"
#include "console_win32/Arguments.h"
#include "control/CommandLine.h"
#include "control/ConsoleOutput.h"
#include "control/DesktopProgram.h"
#include "control/ServingLock.h"

namespace tallyport::desktop {
namespace {

std::string ProgramFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return ParentFolder(win32::AnsiPath(path));
}

int RunWindow(HINSTANCE instance, const CommandLine& line, ProgramHandlers handlers) {
    INITCOMMONCONTROLSEX controls{sizeof controls,
                                  ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    ConsoleLog log;
    Win32Dialogs dialogs(log);
    const auto folders = OpenDesktopFolders(line, dialogs);
    if (!folders) {
        return 1;
    }
    const std::string programFolder = ProgramFolder();
    // The file dialog starts where the program's files are.
    const std::string filesFolder =
        folders->workingFolder.empty() ? programFolder : folders->workingFolder;
    TfMain window(instance, folders->configPath, dialogs, log, std::move(handlers), filesFolder,
                  HelpFolderFor(programFolder));
    window.Session().KeepStatusFile();
    const auto started = window.Startup();
    if (started != TConnectionControl::StartupResult::Running) {
        // A start-up cut short by a stop request is a requested end, not a failure.
        return started == TConnectionControl::StartupResult::Failed ? 1 : 0;
    }
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        // The Tab key, Enter and the underlined letters move between the window's controls.
        if (!::IsDialogMessageW(window.Handle(), &message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
    }
    return 0;
}

}  // namespace
}  // namespace tallyport::desktop

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace tallyport;
    std::string failed;
    const auto arguments = ProgramArguments(failed);
    if (!arguments) {
        const std::wstring text = L"Argumentul " + desktop::Wide(failed) +
                                  L" are caractere pe care pagina de cod a sistemului nu le are.";
        ::MessageBoxW(nullptr, text.c_str(), L"Eroare", MB_OK | MB_ICONERROR);
        return 2;
    }
    // Serving the registers, with the window or --headless, needs the lock of the one program
    // that serves them; --help, --version, --status and a wrong command line do not.
    const CommandLine line =
        ParseCommandLine(*arguments, ProgramOptions{.window = true, .service = false});
    std::optional<ServingLock> serving;
    if (line.action == CommandLine::Action::Run && !line.status) {
        serving.emplace();
        if (!serving->Taken()) {
            // Without a window the message goes where the program's messages go.
            ConsoleLog log;
            if (line.headless) {
                log.Line(kServedElsewhere);
            } else {
                desktop::Win32Dialogs(log).ShowMessage(MessageKind::Warning, kServedElsewhere);
            }
            return 1;
        }
    }
    return RunDesktopProgram(*arguments, TallyportHandlers(),
                             [instance](const CommandLine& line, ProgramHandlers handlers) {
                                 return desktop::RunWindow(instance, line, std::move(handlers));
                             });
}
