// tallyport.exe as the Windows service: registered by --install-service and started, serving
// and telling its status to a user's --status, stopped in order by the service control manager
// (settings written, the log says so, the status gone) and removed; a service whose start-up
// fails stops with the program's exit status.
#include <gtest/gtest.h>

#include "ProgramRun.h"
#include "base/Paths.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::RunToEnd;
using test::TempFolder;
using test::WriteFile;

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ServiceHandle() {
        if (handle_ != nullptr) {
            ::CloseServiceHandle(handle_);
        }
    }
    ServiceHandle(const ServiceHandle&) = delete;
    ServiceHandle& operator=(const ServiceHandle&) = delete;
    SC_HANDLE Get() const { return handle_; }

private:
    SC_HANDLE handle_;
};

// What the service control manager knows of the service; nullopt when it has none.
std::optional<SERVICE_STATUS> ServiceStatus() {
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(::OpenServiceW(manager.Get(), L"Tallyport", SERVICE_QUERY_STATUS));
    SERVICE_STATUS status{};
    if (service.Get() == nullptr || !::QueryServiceStatus(service.Get(), &status)) {
        return std::nullopt;
    }
    return status;
}

// The program file the event log's source names for its messages; empty when it is not there.
std::wstring EventSourceFile() {
    wchar_t file[MAX_PATH] = {};
    DWORD size = sizeof file;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE,
                       L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tallyport",
                       L"EventMessageFile", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                       nullptr, file, &size) != ERROR_SUCCESS) {
        return {};
    }
    return file;
}

// The service's process, for the test to see how it ends; an invalid handle when none runs.
win32::UniqueHandle ServiceProcess() {
    ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(::OpenServiceW(manager.Get(), L"Tallyport", SERVICE_QUERY_STATUS));
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (service.Get() == nullptr ||
        !::QueryServiceStatusEx(service.Get(), SC_STATUS_PROCESS_INFO,
                                reinterpret_cast<BYTE*>(&status), sizeof status, &needed)) {
        return {};
    }
    return win32::UniqueHandle(
        ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId));
}

bool ServiceIn(DWORD state) {
    const auto status = ServiceStatus();
    return status && status->dwCurrentState == state;
}

class WindowsService : public ::testing::Test {
protected:
    WindowsService() {
        WriteFile(dir.File("PLU.txt"), "");
        // A register on a port this computer does not have: the service runs and says so.
        WriteFile(dir.File("ECRs.dat"), "2,Datecs MP55,9600,8,None,1,COM218,DA02,CASA\r\n");
        // A registration left by an earlier run goes first.
        RunToEnd({"--remove-service"}, logs);
    }
    ~WindowsService() override { RunToEnd({"--remove-service"}, logs); }

    TempFolder dir;
    TempFolder logs;
    const std::string config = dir.File("Tallyport.ini");
    std::string out;
    std::string err;
};

TEST_F(WindowsService, RunsTellsItsStatusAndStopsInOrder) {
    ASSERT_EQ(RunToEnd({"--install-service", "--config", config}, logs, &out, &err), 0u)
        << out << err;
    EXPECT_NE(out.find("Serviciul Tallyport este inregistrat"), std::string::npos) << out;
    // Its lines go to the event log too, whose viewer finds their texts in the program.
    EXPECT_EQ(EventSourceFile(), test::ProgramPath());
    ASSERT_TRUE(test::WaitUntil([] { return ServiceIn(SERVICE_RUNNING); }, 30s))
        << ReadFile(dir.File("Tallyport.log"));
    const auto running = ServiceStatus();
    ASSERT_TRUE(running);
    EXPECT_EQ(running->dwControlsAccepted &
                  (SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN),
              static_cast<DWORD>(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                 SERVICE_ACCEPT_PRESHUTDOWN));

    // A user's --status finds the service's status file.
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            return RunToEnd({"--status", "--config", config}, logs, &out) != 2;
        },
        20s))
        << out << ReadFile(dir.File("Tallyport.log"));
    EXPECT_EQ(RunToEnd({"--status", "--config", config}, logs, &out), 1u) << out;
    EXPECT_NE(out.find("Tallyport ruleaza"), std::string::npos) << out;
    EXPECT_NE(out.find("COM218"), std::string::npos) << out;
    EXPECT_FALSE(PathExists(config)) << "nothing written while it runs";

    // The manager's stop: an orderly exit, reported as a clean stop, and a process that ends
    // by returning from its main (nothing of the service is used after it said it stopped).
    const win32::UniqueHandle process = ServiceProcess();
    ASSERT_TRUE(process.Valid());
    {
        ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        ServiceHandle service(::OpenServiceW(manager.Get(), L"Tallyport", SERVICE_STOP));
        SERVICE_STATUS status{};
        ASSERT_TRUE(::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status));
    }
    ASSERT_TRUE(test::WaitUntil([] { return ServiceIn(SERVICE_STOPPED); }, 30s));
    EXPECT_EQ(ServiceStatus()->dwWin32ExitCode, static_cast<DWORD>(NO_ERROR));
    ASSERT_EQ(::WaitForSingleObject(process.Get(), 10000), WAIT_OBJECT_0);
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    EXPECT_EQ(exitCode, 0u) << "the service's process did not end in order";
    const std::string log = ReadFile(dir.File("Tallyport.log"));
    EXPECT_NE(log.find("porneste ca serviciu; configurare: " + config), std::string::npos) << log;
    EXPECT_NE(log.find("Tallyport s-a oprit."), std::string::npos) << log;
    EXPECT_NE(ReadFile(config).find("PLU=PLU.txt"), std::string::npos) << "settings written";
    EXPECT_EQ(RunToEnd({"--status", "--config", config}, logs, &out), 2u) << out;

    EXPECT_EQ(RunToEnd({"--remove-service"}, logs, &out), 0u) << out;
    EXPECT_FALSE(ServiceStatus().has_value()) << "removed";
    EXPECT_EQ(EventSourceFile(), L"") << "its event source with it";
}

TEST_F(WindowsService, AFailedStartupStopsTheServiceWithTheProgramsStatus) {
    ::DeleteFileW(test::WideText(dir.File("ECRs.dat")).c_str());  // no register list
    ASSERT_EQ(RunToEnd({"--install-service", "--config", config}, logs, &out, &err), 0u)
        << out << err;
    ASSERT_TRUE(test::WaitUntil(
        [] {
            const auto status = ServiceStatus();
            return status && status->dwCurrentState == SERVICE_STOPPED &&
                   status->dwWin32ExitCode != NO_ERROR;
        },
        30s));
    EXPECT_EQ(ServiceStatus()->dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(ServiceStatus()->dwServiceSpecificExitCode, 1u);
    const std::string log = ReadFile(dir.File("Tallyport.log"));
    EXPECT_NE(log.find("Fisierele aplicatiei sunt corupte"), std::string::npos) << log;
    EXPECT_FALSE(PathExists(config));
}

}  // namespace
}  // namespace tallyport
