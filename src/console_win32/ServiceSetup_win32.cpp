#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "base/Paths.h"
#include "base/SystemError.h"
#include "base/Win32File.h"
#include "base/Win32Text.h"
#include "console_win32/EventLog.h"
#include "console_win32/Service.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;

constexpr wchar_t kDisplayName[] = L"Tallyport";
constexpr wchar_t kDescription[] =
    L"Tine casele de marcat fiscale online cu calculatorul magazinului (porturi seriale, fisierele "
    L"BackOffice).";
// What a shutdown leaves the service to stop in: far more than its orderly exit takes.
constexpr DWORD kPreshutdownMs = 30000;
// How long a removal waits for the running service's orderly exit.
constexpr auto kStopWait = 30s;
// Right after a removal the manager refuses a new registration of the name for a while.
constexpr auto kMarkedForDeleteWait = 15s;

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() { Reset(nullptr); }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    void Reset(SC_HANDLE handle) {
        if (handle_ != nullptr) {
            ::CloseServiceHandle(handle_);
        }
        handle_ = handle;
    }
    SC_HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

int Fail(const std::string& what) {
    const DWORD error = ::GetLastError();
    std::string text = what + ": " + ErrorText(static_cast<int>(error)) + ".";
    if (error == ERROR_ACCESS_DENIED) {
        text += " Porniti comanda ca administrator.";
    }
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

std::wstring ProgramPath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD written =
            ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (written == 0) {
            return {};
        }
        if (written < path.size()) {
            path.resize(written);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// The command the manager runs: every path quoted, so that spaces in them ("Program Files")
// cannot make it run another program.
bool ServiceCommand(const CommandLine& line, std::wstring& command) {
    command = L"\"" + ProgramPath() + L"\" --service";
    if (line.configFile) {
        std::wstring config;
        if (!win32::WidePath(AbsolutePath(*line.configFile), config)) {
            return false;
        }
        command += L" --config \"" + config + L"\"";
    }
    return true;
}

void Describe(SC_HANDLE service) {
    SERVICE_DESCRIPTIONW description{const_cast<wchar_t*>(kDescription)};
    ::ChangeServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, &description);
    // A crash is followed by a restart, whose journal brings back what the registers were told.
    SC_ACTION restart[3] = {
        {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}};
    SERVICE_FAILURE_ACTIONSW failure{};
    failure.dwResetPeriod = 24 * 60 * 60;
    failure.cActions = 3;
    failure.lpsaActions = restart;
    ::ChangeServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, &failure);
    SERVICE_PRESHUTDOWN_INFO preshutdown{kPreshutdownMs};
    ::ChangeServiceConfig2W(service, SERVICE_CONFIG_PRESHUTDOWN_INFO, &preshutdown);
}

SC_HANDLE Create(SC_HANDLE manager, const std::wstring& command) {
    const auto end = std::chrono::steady_clock::now() + kMarkedForDeleteWait;
    for (;;) {
        SC_HANDLE service =
            ::CreateServiceW(manager, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                             SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                             command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service != nullptr || ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE ||
            std::chrono::steady_clock::now() >= end) {
            return service;
        }
        std::this_thread::sleep_for(250ms);
    }
}

// Waits until the service has reached `state`, or the time is up.
bool WaitFor(SC_HANDLE service, DWORD state, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    SERVICE_STATUS status{};
    while (::QueryServiceStatus(service, &status) && status.dwCurrentState != state) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
    return status.dwCurrentState == state;
}

}  // namespace

int InstallService(const CommandLine& line) {
    std::wstring command;
    if (!ServiceCommand(line, command)) {
        return Fail("Fisierul de configurare " + *line.configFile + " nu poate fi folosit");
    }
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        return Fail("Managerul de servicii nu poate fi deschis");
    }
    ServiceHandle service(Create(manager.Get(), command));
    if (!service) {
        if (::GetLastError() != ERROR_SERVICE_EXISTS) {
            return Fail("Serviciul Tallyport nu poate fi inregistrat");
        }
        // An upgrade, or another configuration: the registration follows this program.
        service.Reset(::OpenServiceW(manager.Get(), kServiceName, SERVICE_ALL_ACCESS));
        if (!service ||
            !::ChangeServiceConfigW(service.Get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START,
                                    SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
                                    nullptr, nullptr, nullptr, kDisplayName)) {
            return Fail("Serviciul Tallyport nu poate fi actualizat");
        }
    }
    Describe(service.Get());
    if (!EventLog::Register()) {
        // The events are still written; the event viewer shows them with a note of its own.
        std::fprintf(stderr,
                     "Sursa Tallyport a jurnalului de evenimente nu poate fi "
                     "inregistrata: %s.\n",
                     ErrorText(static_cast<int>(::GetLastError())).c_str());
    }
    std::printf("Serviciul Tallyport este inregistrat (pornire automata).\n");
    if (!::StartServiceW(service.Get(), 0, nullptr) &&
        ::GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
        return Fail("Serviciul Tallyport nu poate porni");
    }
    std::printf("Serviciul Tallyport porneste.\n");
    return 0;
}

int RemoveService() {
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        return Fail("Managerul de servicii nu poate fi deschis");
    }
    ServiceHandle service(
        ::OpenServiceW(manager.Get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (!service) {
        if (::GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            std::printf("Serviciul Tallyport nu este inregistrat.\n");
            return 0;
        }
        return Fail("Serviciul Tallyport nu poate fi deschis");
    }
    SERVICE_STATUS status{};
    if (::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status)) {
        if (!WaitFor(service.Get(), SERVICE_STOPPED, kStopWait)) {
            std::fprintf(stderr, "Serviciul Tallyport nu s-a oprit in %lld s; se sterge totusi.\n",
                         static_cast<long long>(kStopWait.count()));
        }
    }
    if (!::DeleteService(service.Get()) && ::GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE) {
        return Fail("Serviciul Tallyport nu poate fi sters");
    }
    EventLog::Unregister();
    std::printf("Serviciul Tallyport a fost oprit si sters.\n");
    return 0;
}

}  // namespace tallyport
