// tallyport.exe: the Windows console program. It serves the registers in its console (with or
// without --headless: it has no window; the desktop program is tallyport-desktop.exe), runs
// as the Windows service (--service), registers and removes that service, and tells how a
// running program's registers stand (--status).
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "console_win32/Arguments.h"
#include "console_win32/Service.h"
#include "control/CommandLine.h"
#include "control/ConsoleOutput.h"
#include "control/ProgramHandlers.h"
#include "control/ProgramRun.h"
#include "control/ServingLock.h"
#include "control/SignalPipe.h"

namespace {

// The program's texts are bytes in the ANSI code page (the settings' names, the system's
// messages), and so are its log file's; a console shows bytes in its own code page, the OEM one
// by default ("gÑsit" for "găsit"). While the program runs its console shows them as written;
// the console gets its code page back at the end. Redirected output keeps the bytes as they are.
class ConsoleCodePage {
public:
    ConsoleCodePage() : previous_(::GetConsoleOutputCP()) {
        if (previous_ != 0) {
            ::SetConsoleOutputCP(::GetACP());
        }
    }
    ~ConsoleCodePage() {
        if (previous_ != 0) {
            ::SetConsoleOutputCP(previous_);
        }
    }
    ConsoleCodePage(const ConsoleCodePage&) = delete;
    ConsoleCodePage& operator=(const ConsoleCodePage&) = delete;

private:
    UINT previous_;
};

}  // namespace

int main() {
    using namespace tallyport;
    const ConsoleCodePage codePage;
    std::string failed;
    const auto arguments = ProgramArguments(failed);
    if (!arguments) {
        std::fprintf(stderr,
                     "Argumentul %s are caractere pe care pagina de cod a sistemului nu le "
                     "are.\nVedeti tallyport --help.\n",
                     failed.c_str());
        return 2;
    }
    const CommandLine line =
        ParseCommandLine(*arguments, ProgramOptions{.window = false, .service = true});
    switch (line.action) {
        case CommandLine::Action::Help:
        case CommandLine::Action::Version:
            std::fputs(line.text.c_str(), stdout);
            return 0;
        case CommandLine::Action::Error:
            std::fputs(line.text.c_str(), stderr);
            return 2;
        case CommandLine::Action::InstallService:
            return InstallService(line);
        case CommandLine::Action::RemoveService:
            return RemoveService();
        case CommandLine::Action::Run:
            break;
    }
    if (line.status) {
        return RunStatusCommand(line);
    }
    // Every link worker gets a handler table of its own, with its register's working fields;
    // with their shared context the start-up keeps what the registers are told in the journal.
    const ProgramHandlers handlers = TallyportHandlers();
    if (line.service) {
        return RunAsService(line, handlers.factory, handlers.context);
    }
    // Ctrl+C and Ctrl+Break ask as SIGINT does on Linux; closing the console, logging off and
    // shutting down cannot be refused.
    SignalPipe stops{SIGTERM, SIGINT};
    ConsoleLog log;
    // One program at a time serves the registers (the service, this one, the desktop program).
    const ServingLock serving;
    if (!serving.Taken()) {
        log.Line(kServedElsewhere);
        return 1;
    }
    return RunHeadless(line, handlers.factory, handlers.context, stops, log);
}
