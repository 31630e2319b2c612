#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "base/Paths.h"
#include "base/ProgramFolders.h"
#include "base/SystemError.h"
#include "base/UniqueFd.h"
#include "base/Win32File.h"
#include "console_win32/EventLog.h"
#include "console_win32/Service.h"
#include "control/ConsoleOutput.h"
#include "control/ProgramRun.h"
#include "control/ServingLock.h"
#include "control/SignalPipe.h"

namespace tallyport {
namespace {

// How long each pending state may last before the next sign of progress: the wait hint. The
// checkpoint moves every second while a start-up or a stop goes on, well within it.
constexpr DWORD kWaitHintMs = 10000;
constexpr auto kProgressInterval = std::chrono::seconds(1);
// A log that grew past this is kept once as "Tallyport.log.1" at the next start.
constexpr std::int64_t kLogLimit = 4 << 20;

// What the service's thread and the control handler share. The handler runs on the
// dispatcher's thread (the program's main thread); the service on a thread of its own.
class ServiceState {
public:
    ServiceState(const CommandLine& line, HandlerFactory handlers, RequestContext* context)
        : line_(line), handlers_(std::move(handlers)), context_(context) {}

    void Main();
    DWORD Control(DWORD control);

private:
    void Report(DWORD state);
    void Progress();
    int Serve();
    void ReportStopped(int status);

    const CommandLine& line_;
    HandlerFactory handlers_;
    RequestContext* context_;

    std::mutex mutex_;
    std::condition_variable changed_;
    SERVICE_STATUS_HANDLE handle_ = nullptr;
    SERVICE_STATUS status_{};
    bool finishing_ = false;       // the progress thread ends
    SignalPipe* stops_ = nullptr;  // while the program runs
};

ServiceState* gState = nullptr;  // for the system's callbacks, which carry no context of ours

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    gState->Main();
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID state) {
    return static_cast<ServiceState*>(state)->Control(control);
}

void ServiceState::Report(DWORD state) {
    std::lock_guard lock(mutex_);
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    if (state != status_.dwCurrentState) {
        status_.dwCheckPoint = 0;
    } else if (pending) {
        ++status_.dwCheckPoint;
    }
    status_.dwCurrentState = state;
    // Stops are taken once the program serves; a stop during the start-up waits for it.
    status_.dwControlsAccepted =
        state == SERVICE_RUNNING
            ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN
            : 0;
    status_.dwWaitHint = pending ? kWaitHintMs : 0;
    ::SetServiceStatus(handle_, &status_);
    changed_.notify_all();
}

// The last thing the service's thread does: once the manager knows that the service has
// stopped, the dispatcher returns on the main thread and this object goes, so nothing of it is
// touched after the call.
void ServiceState::ReportStopped(int status) {
    SERVICE_STATUS stopped{};
    {
        std::lock_guard lock(mutex_);
        stopped = status_;
    }
    stopped.dwCurrentState = SERVICE_STOPPED;
    stopped.dwControlsAccepted = 0;
    stopped.dwCheckPoint = 0;
    stopped.dwWaitHint = 0;
    stopped.dwWin32ExitCode = status == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    stopped.dwServiceSpecificExitCode = static_cast<DWORD>(status);
    const SERVICE_STATUS_HANDLE handle = handle_;
    ::SetServiceStatus(handle, &stopped);
}

// Moves the checkpoint every second while a start-up or a stop goes on, so that the service
// control manager sees progress however long the registers take.
void ServiceState::Progress() {
    std::unique_lock lock(mutex_);
    while (!finishing_) {
        changed_.wait_for(lock, kProgressInterval);
        if (status_.dwCurrentState == SERVICE_START_PENDING ||
            status_.dwCurrentState == SERVICE_STOP_PENDING) {
            ++status_.dwCheckPoint;
            ::SetServiceStatus(handle_, &status_);
        }
    }
}

DWORD ServiceState::Control(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
        case SERVICE_CONTROL_PRESHUTDOWN: {
            Report(SERVICE_STOP_PENDING);
            std::lock_guard lock(mutex_);
            if (stops_ != nullptr) {
                // A service cannot refuse: the journal keeps what is open (EndNow).
                stops_->Deliver({SIGTERM, true});
            }
            return NO_ERROR;
        }
        case SERVICE_CONTROL_INTERROGATE:
            return NO_ERROR;
        default:
            return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

// The service's log: "Tallyport.log" in its folder, appended to, shared with readers.
UniqueFd OpenLog(const CommandLine& line) {
    const ProgramFolders folders =
        ChooseProgramFolders(FolderFactsOfProcess(line.configFile, true));
    const std::string folder =
        folders.workingFolder.empty() ? ParentFolder(folders.configPath) : folders.workingFolder;
    (void)MakeFolders(folder);
    const std::string path = JoinPath(folder, "Tallyport.log");
    win32::UniqueHandle old(
        win32::OpenFile(path, FILE_READ_ATTRIBUTES, win32::kShareAll, OPEN_EXISTING));
    LARGE_INTEGER size{};
    if (old.Valid() && ::GetFileSizeEx(old.Get(), &size) && size.QuadPart > kLogLimit) {
        old.Reset();
        std::wstring from;
        std::wstring to;
        if (win32::WidePath(path, from) && win32::WidePath(path + ".1", to)) {
            ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
    }
    old.Reset();
    const HANDLE handle = win32::OpenFile(path, FILE_APPEND_DATA, win32::kShareAll, OPEN_ALWAYS);
    return UniqueFd(handle == INVALID_HANDLE_VALUE ? -1 : win32::DescriptorOf(handle));
}

int ServiceState::Serve() {
    const UniqueFd logFile = OpenLog(line_);
    // Every line in the log file and in the event log, where an administrator looks first.
    // Without a log file the lines go to the event log alone.
    EventLog events;
    ConsoleLog log(logFile.Valid() ? logFile.Get() : 2, DefaultLocalClock(),
                   [&events](const std::string& text) { events.Report(text); });
    // No console events: a service does not end when a user logs off.
    SignalPipe stops(std::initializer_list<int>{});
    {
        std::lock_guard lock(mutex_);
        stops_ = &stops;
    }
    // Another program serving the registers keeps the service from connecting: it says so and
    // stops with an error.
    const ServingLock serving;
    const int status = serving.Taken() ? RunHeadless(line_, handlers_, context_, stops, log,
                                                     [this] { Report(SERVICE_RUNNING); })
                                       : (log.Line(kServedElsewhere), 1);
    std::lock_guard lock(mutex_);
    stops_ = nullptr;
    return status;
}

void ServiceState::Main() {
    handle_ = ::RegisterServiceCtrlHandlerExW(kServiceName, OnControl, this);
    if (handle_ == nullptr) {
        return;
    }
    Report(SERVICE_START_PENDING);
    std::thread progress([this] { Progress(); });
    const int status = Serve();
    {
        std::lock_guard lock(mutex_);
        finishing_ = true;
    }
    changed_.notify_all();
    progress.join();
    ReportStopped(status);
}

}  // namespace

int RunAsService(const CommandLine& line, HandlerFactory handlers, RequestContext* context) {
    ServiceState state(line, std::move(handlers), context);
    gState = &state;
    wchar_t name[] = L"Tallyport";  // ignored for a service of its own process
    const SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    const bool dispatched = ::StartServiceCtrlDispatcherW(table) != FALSE;
    const DWORD error = ::GetLastError();
    gState = nullptr;
    if (dispatched) {
        return 0;  // the service has stopped and told the manager how
    }
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
        std::fputs(
            "tallyport --service este pornit de managerul de servicii Windows (instalati-l "
            "cu --install-service);\nin consola folositi --headless.\n",
            stderr);
    } else {
        std::fprintf(stderr, "Serviciul nu poate porni: %s.\n",
                     ErrorText(static_cast<int>(error)).c_str());
    }
    return 1;
}

}  // namespace tallyport
