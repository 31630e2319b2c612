#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "app/StopSignalWatcher.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "control/SignalPipe.h"
#include "simulator/EcrSimulator.h"
#include "store/AppSettings.h"
#include "support/SettableClock.h"
#include "support/ShellTestSupport.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::Exists;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

std::string Line(int logicalNb, const std::string& port) {
    return std::to_string(logicalNb) + ",Datecs MP55,9600,8,None,1," + port + ",DA0" +
           std::to_string(logicalNb) + ",CASA\r\n";
}

// Runs the event loop until `done` holds or the time is up.
bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(SignalPipe, TheHandlerOnlyQueuesTheSignal) {
    SignalPipe pipe{SIGTERM, SIGINT};
    EXPECT_FALSE(pipe.TakeRequest());
    EXPECT_FALSE(pipe.Wait(0ms));
    ::raise(SIGINT);
    ::raise(SIGTERM);
    EXPECT_TRUE(pipe.Wait(0ms));
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGINT, false}));
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGTERM, false}));
    EXPECT_FALSE(pipe.TakeRequest());
    // A request delivered from another thread, as the service manager's stop comes.
    std::thread([&pipe] { pipe.Deliver({SIGTERM, true}); }).join();
    EXPECT_TRUE(pipe.Wait(1s));
    EXPECT_EQ(pipe.TakeRequest(), (StopRequest{SIGTERM, true}));
}

TEST(ConsoleOutput, LinesCarryATimeStampAndStayWhole) {
    TempFolder dir;
    const std::string path = dir.File("log.txt");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const test::SettableClock clock(LocalTime{2026, 12, 6, 21, 50, 7});
    {
        ConsoleLog log(fd, clock);
        ConsoleDialogs dialogs(log);
        ConsoleNoticeSink notices(log);
        EXPECT_TRUE(dialogs.Confirm("Confirmati inchiderea Tallyport?"));
        dialogs.ShowMessage(MessageKind::Error, "Eroare: doua\nlinii");
        notices.ShowNotice("Eroare", "Articol inexistent", 10, NoticeIcon::Error);
        EXPECT_FALSE(dialogs.ChooseFile("/tmp"));
    }
    ::close(fd);
    EXPECT_EQ(ReadFile(path),
              "2026-12-06 21:50:07 [confirmare] Confirmati inchiderea Tallyport? Da\n"
              "2026-12-06 21:50:07 [eroare] Eroare: doua linii\n"
              "2026-12-06 21:50:07 [eroare] Eroare: Articol inexistent\n");
}

// The stop request inside one process: the watcher, the control and a simulated register.
TEST(StopSignalWatcher, ASignalWaitsForTheOpenReceiptThenExitsInOrder) {
    TempFolder dir;
    sim::EcrSimulator reg(1);
    AppSettings = AppSettingsRecord{};
    AppSettings.PLU = dir.File("PLU.txt");
    AppSettings.ECRList = dir.File("ECRs.dat");
    AppSettings.ReceiptMaster = dir.File("Bon.txt");
    AppSettings.ReceiptDetail = dir.File("Tran.txt");
    WriteFile(AppSettings.PLU, "");
    WriteFile(AppSettings.ECRList, Line(1, reg.PortName()));
    test::FakeDialogs dialogs;
    test::FakeView view;
    test::NoticeRecorder notices;
    StopSignalWatcher watcher(50);
    TConnectionControl control(dir.File("Tallyport.ini"), view, dialogs, notices, nullptr);
    int ended = 0;
    watcher.Attach(control, [&ended] { ++ended; });
    ASSERT_EQ(control.TrayStartup(), TConnectionControl::StartupResult::Running);
    ASSERT_TRUE(Connected);
    control.ECRThreads()[0]->Link().PendingTranLines.Append("open receipt");

    ::raise(SIGTERM);
    ASSERT_TRUE(ProcessUntil([&] { return watcher.WaitingForReceipts(); }, 5s));
    EXPECT_EQ(dialogs.logLines,
              std::vector<std::string>{
                  "Eroare: Nu puteti deconecta casele cit timp exista bonuri deschise!"});
    EXPECT_TRUE(dialogs.messages.empty());  // no box: nobody may be there to answer it
    EXPECT_FALSE(ProcessUntil([&] { return ended > 0; }, 300ms));
    EXPECT_TRUE(Connected);
    const std::size_t polls = reg.PollCount();
    EXPECT_TRUE(reg.WaitForPolls(polls + 2, 5s));  // still serving

    control.ECRThreads()[0]->Link().PendingTranLines.Clear();
    ASSERT_TRUE(ProcessUntil([&] { return ended > 0; }, 5s));
    EXPECT_EQ(ended, 1);
    EXPECT_TRUE(control.Ended());
    EXPECT_FALSE(Connected);
    EXPECT_FALSE(watcher.WaitingForReceipts());
    EXPECT_NE(ReadFile(dir.File("Tallyport.ini")).find("[Options]"), std::string::npos);
}

// The program itself, started without a window in a folder of its own.
class HeadlessProgram {
public:
    HeadlessProgram(const std::string& program, const TempFolder& dir) : dir_(dir) {
        // The configuration lies next to the program: run a copy that lives in the folder.
        const std::string copy = dir.File("tallyport");
        std::filesystem::copy_file(program, copy);
        const std::string log = dir.File("stderr.txt");
        pid_ = ::fork();
        if (pid_ == 0) {
            if (::chdir(dir.Path().c_str()) != 0) {
                ::_exit(126);
            }
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 2);
            ::execl(copy.c_str(), copy.c_str(), "--headless", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~HeadlessProgram() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    void Signal(int signalNumber) { ::kill(pid_, signalNumber); }
    // The exit status, or nullopt while it still runs after `timeout`.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > end) {
                break;
            }
            std::this_thread::sleep_for(10ms);
        }
        return status_;
    }
    std::string Log() const { return ReadFile(dir_.File("stderr.txt")); }

private:
    const TempFolder& dir_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

TEST(HeadlessProgram, SigtermWithNoReceiptOpenExitsZeroAndWritesTheSettings) {
    TempFolder dir;
    sim::EcrSimulator reg(4);
    WriteFile(dir.File("PLU.txt"), "");
    WriteFile(dir.File("ECRs.dat"), Line(4, reg.PortName()));
    HeadlessProgram program(TALLYPORT_PROGRAM, dir);
    ASSERT_TRUE(reg.WaitForPolls(3, 10s)) << program.Log();
    EXPECT_FALSE(Exists(dir.File("Tallyport.ini")));

    program.Signal(SIGTERM);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Log();
    const std::string config = ReadFile(dir.File("Tallyport.ini"));
    EXPECT_NE(config.find("PLU=PLU.txt"), std::string::npos) << config;
    EXPECT_NE(config.find("Prefix=24"), std::string::npos);
    EXPECT_EQ(ReadFile(dir.File("ECRs.dat")), Line(4, reg.PortName()));
    // A poll written just before the stop is still crossing the wire (18 ms at 9600 baud).
    std::this_thread::sleep_for(100ms);
    const std::size_t polls = reg.PollCount();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(reg.PollCount(), polls);
    // Time-stamped lines on standard error.
    const std::string log = program.Log();
    EXPECT_NE(log.find("Casele de marcat sunt conectate."), std::string::npos) << log;
    EXPECT_EQ(log.find("20"), 0u) << log;
}

TEST(HeadlessProgram, AStartupErrorEndsWithoutWriting) {
    TempFolder dir;
    WriteFile(dir.File("PLU.txt"), "");  // no register list at all
    HeadlessProgram program(TALLYPORT_PROGRAM, dir);
    EXPECT_EQ(program.WaitForExit(10s), 1) << program.Log();
    EXPECT_NE(program.Log().find("Eroare: Fisierele aplicatiei sunt corupte! Reinstalati."),
              std::string::npos);
    EXPECT_FALSE(Exists(dir.File("Tallyport.ini")));
    EXPECT_FALSE(Exists(dir.File("ECRs.dat")));
}

TEST(HeadlessProgram, SigtermWithAReceiptOpenRunsUntilTheReceiptCloses) {
    TempFolder dir;
    sim::EcrSimulator reg(1);
    WriteFile(dir.File("PLU.txt"), "");
    WriteFile(dir.File("ECRs.dat"), Line(1, reg.PortName()));
    HeadlessProgram program(TALLYPORT_TESTHOST, dir);
    ASSERT_TRUE(reg.WaitForPolls(2, 10s)) << program.Log();
    // The register opens a receipt: the program holds one pending line.
    ASSERT_TRUE(reg.Exchange("DA01;0;1;0000000000123", 5s).acked) << program.Log();

    program.Signal(SIGTERM);
    EXPECT_FALSE(program.WaitForExit(1500ms)) << program.Log();
    EXPECT_NE(program.Log().find("bonuri deschise"), std::string::npos) << program.Log();
    const std::size_t polls = reg.PollCount();
    EXPECT_TRUE(reg.WaitForPolls(polls + 2, 5s));  // still serving the register
    EXPECT_FALSE(Exists(dir.File("Tallyport.ini")));

    // The receipt closes; the exit that was asked for follows.
    ASSERT_TRUE(reg.Exchange("DA01;0;3;0", 5s).acked);
    EXPECT_EQ(program.WaitForExit(10s), 0) << program.Log();
    EXPECT_TRUE(Exists(dir.File("Tallyport.ini")));
}

}  // namespace
}  // namespace tallyport
