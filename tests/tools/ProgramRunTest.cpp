// The program and the register simulator tool as the shop runs them: separate processes,
// three registers on pseudo-terminals, the real article, configuration and back-office files.
// The tool checks every answer and every line written; these tests check the tool's verdict,
// also when the program is killed and restarted and when the files are tampered with.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "support/LineModes.h"
#include "support/TempFolder.h"

namespace tallyport::ecrsim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

std::vector<std::string> FileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& l : lines) {
        text += l + "\r\n";
    }
    return text;
}

// A child process with its output in files. Killed and reaped by the destructor if still
// running, so a failing test leaves nothing behind.
class Process {
public:
    Process(const std::vector<std::string>& argv, const std::string& cwd,
            const std::string& output) {
        pid_ = fork();
        if (pid_ == 0) {
            if (chdir(cwd.c_str()) != 0) {
                _exit(127);
            }
            const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(fd, 1);
            dup2(fd, 2);
            std::vector<char*> args;
            for (const std::string& a : argv) {
                args.push_back(const_cast<char*>(a.c_str()));
            }
            args.push_back(nullptr);
            // The test blocks nothing; the child starts with the default signal mask.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~Process() {
        if (Running()) {
            kill(pid_, SIGKILL);
            Wait(10s);
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Running() const { return pid_ > 0 && !status_; }
    void Signal(int signal) const {
        if (Running()) {
            kill(pid_, signal);
        }
    }
    // The exit status (128 + n for a signal n), or nothing when it runs on after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!status_) {
            int raw = 0;
            const pid_t done = waitpid(pid_, &raw, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
            } else if (Clock::now() >= deadline) {
                break;
            } else {
                std::this_thread::sleep_for(20ms);
            }
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// A shop folder: the program beside its configuration, the article file; the tool's and the
// program's output in log files.
class ShopRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::copy_file(TALLYPORT_PROGRAM, folder_.File("tallyport"));
        WriteFile(
            folder_.File("PLU.txt"),
            JoinCrLf(
                {"0000000000001,01,1,2.5,3,PAINE ALB", "0000000000002,01,1,3.2,3,PAINE INTEGRAL",
                 "0000000000010,02,1,4.75,3,LAPTE 1.5%% 1L",
                 "0000000000020,03,1,5.5,3,APA MINERALA 2L", "0000000000123,01,1,2.5,3,Paine",
                 "5941234000017,06,1,7.99,3,Detergent vase 500ml",
                 "5941234000024,06,1,15.5,3,Sapun lichid",
                 "5941234000031,06,2,11.25,3,Napolitane cu crema de alune 500g",
                 "0000059412347,09,1,1.5,3,Guma de mestecat",
                 "2400001000000,10,1,29.9,3,Piept de pui", "2400004000000,11,1,6.99,3,Mere golden",
                 "2400008000000,12,2,32.5,2,Salam de vara", "2400009000000,13,1,3,1,Cartofi"}));
        WriteFile(
            folder_.File("Tallyport.ini"),
            JoinCrLf({"[Files]", "PLU=PLU.txt", "ReceiptMaster=Bon.txt", "ReceiptDetail=Tran.txt",
                      "ECRList=ECRs.dat", "[CardOptions]", "Min=1", "Max=150", "[Options]",
                      "RecAmount=0", parallelLines_ ? "ParallelLines=1" : "ParallelLines=0"}));
    }

    std::string Path(const std::string& name) const { return folder_.File(name); }

    std::unique_ptr<Process> StartTool(std::vector<std::string> extra) {
        std::vector<std::string> argv = {TALLYPORT_ECRSIM,
                                         "--config",
                                         Path("Tallyport.ini"),
                                         "--dir",
                                         folder_.Path().string(),
                                         "--registers",
                                         "3",
                                         "--pace",
                                         "40",
                                         "--quiet",
                                         "--status-file",
                                         Path("status")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        auto tool = std::make_unique<Process>(argv, folder_.Path().string(), Path("ecrsim.out"));
        EXPECT_TRUE(WaitForStatus("running", 20s)) << ToolOutput();
        return tool;
    }

    std::unique_ptr<Process> StartProgram() {
        return std::make_unique<Process>(std::vector<std::string>{Path("tallyport"), "--headless"},
                                         folder_.Path().string(), Path("tallyport.log"));
    }

    bool WaitForStatus(const std::string& status, std::chrono::milliseconds timeout) const {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            if (ReadFile(Path("status")) == status + "\n") {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    // Ends the program the orderly way; it refuses while a receipt is open, so a prompt exit
    // also shows that the tool left no receipt open.
    void StopProgram(Process& program) {
        program.Signal(SIGTERM);
        EXPECT_EQ(program.Wait(20s), 0) << ReadFile(Path("tallyport.log"));
    }

    std::string ToolOutput() const { return ReadFile(Path("ecrsim.out")); }

    // The lines of a file, by register (its first field).
    std::map<std::string, int> LinesPerRegister(const std::string& name) const {
        std::map<std::string, int> count;
        for (const std::string& line : FileLines(Path(name))) {
            ++count[line.substr(0, 4)];
        }
        return count;
    }

    // The program serves its registers' lines in parallel rather than in turn.
    bool parallelLines_ = false;
    TempFolder folder_;
};

// The program at work, once with its lines served in turn and once in parallel: the files it
// writes must be the same exact lines either way, kills and restarts included.
class ProgramRun : public ShopRun, public ::testing::WithParamInterface<bool> {
protected:
    ProgramRun() { parallelLines_ = GetParam(); }
};

std::string LinesName(const ::testing::TestParamInfo<bool>& info) {
    return info.param ? "Parallel" : "Serial";
}

TEST_P(ProgramRun, ThreeRegistersAFewDozenReceiptsVerify) {
    auto tool = StartTool(
        {"--seed", "11", "--receipts", "36", "--seconds", "150", "--finish-receipts", "--verify"});
    auto program = StartProgram();
    ASSERT_EQ(tool->Wait(200s), 0) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("verification passed"), std::string::npos) << out;
    EXPECT_NE(out.find(" 0 problems, 0 left open"), std::string::npos) << out;
    const auto bon = LinesPerRegister("Bon.txt");
    const auto tran = LinesPerRegister("Tran.txt");
    int closings = 0;
    for (const char* reg : {"0001", "0002", "0003"}) {
        EXPECT_GT(bon.count(reg) ? bon.at(reg) : 0, 3) << reg;
        EXPECT_GT(tran.count(reg) ? tran.at(reg) : 0, 3) << reg;
        closings += bon.count(reg) ? bon.at(reg) : 0;
    }
    EXPECT_GE(closings, 36);
    EXPECT_EQ(bon.size(), 3u);  // nothing but the three registers' lines
}

TEST_P(ProgramRun, ProgramKilledAndRestartedBetweenReceipts) {
    auto tool = StartTool({"--seed", "12", "--seconds", "0", "--finish-receipts", "--verify"});
    auto program = StartProgram();
    std::size_t closedBefore = 0;
    for (int restart = 0; restart < 2; ++restart) {
        std::this_thread::sleep_for(3s);
        tool->Signal(SIGUSR1);
        ASSERT_TRUE(WaitForStatus("paused", 30s)) << ToolOutput();
        const std::size_t closed = FileLines(Path("Bon.txt")).size();
        EXPECT_GT(closed, closedBefore) << "the program served the registers before the kill";
        closedBefore = closed;
        program->Signal(SIGKILL);
        ASSERT_EQ(program->Wait(10s), 128 + SIGKILL);
        program = StartProgram();
        tool->Signal(SIGUSR2);
        ASSERT_TRUE(WaitForStatus("running", 10s));
    }
    std::this_thread::sleep_for(3s);
    tool->Signal(SIGINT);  // the open receipts are closed, then the files checked
    ASSERT_EQ(tool->Wait(60s), 0) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("verification passed"), std::string::npos) << out;
    EXPECT_NE(out.find("resumed after a pause"), std::string::npos) << out;
    EXPECT_GT(FileLines(Path("Bon.txt")).size(), closedBefore) << "served after the restart";
}

TEST_P(ProgramRun, ProgramKilledInTheMiddleOfReceipts) {
    // No pause: the program dies wherever it is, in the middle of long receipts. Its journal
    // keeps what the registers were told, so after the restart every receipt is exact: the
    // lines sold before the kill, the discounts' departments and the closings' decimals.
    auto tool = StartTool({"--seed", "13", "--seconds", "0", "--finish-receipts", "--verify",
                           "--pace", "10", "--max-items", "12"});
    auto program = StartProgram();
    for (int restart = 0; restart < 2; ++restart) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500 + 700 * restart));
        program->Signal(SIGKILL);
        ASSERT_EQ(program->Wait(10s), 128 + SIGKILL);
        std::this_thread::sleep_for(3s);  // longer than the gap the tool takes for a restart
        program = StartProgram();
    }
    std::this_thread::sleep_for(4s);
    tool->Signal(SIGTERM);
    ASSERT_EQ(tool->Wait(60s), 0) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("verification passed"), std::string::npos) << out;
    EXPECT_NE(out.find("the program may have restarted"), std::string::npos) << out;
}

// How many times ProgramKilledAtRandomInstants kills the program (TALLYPORT_KILLS; the long
// run's figures are in BENCHMARKS.md).
int KillCount() {
    const char* text = std::getenv("TALLYPORT_KILLS");
    const int count = text != nullptr ? std::atoi(text) : 0;
    return count > 0 ? count : 25;
}

TEST_P(ProgramRun, ProgramKilledAtRandomInstants) {
    // Three registers trade without pause; the program is killed (SIGKILL) at random instants
    // and started again at once. Nothing any register was told is recorded may be lost,
    // doubled or reordered: the tool allows a missing line only for an exchange the program
    // never finished (it did not poll that register again before it died).
    auto tool =
        StartTool({"--seed", "15", "--seconds", "0", "--finish-receipts", "--verify", "--pace", "0",
                   "--max-items", "6", "--gap", "600", "--kills-file", Path("kills")});
    auto program = StartProgram();
    std::mt19937 random(15);
    std::uniform_int_distribution<int> wait(150, 900);
    const int kills = KillCount();
    for (int k = 0; k < kills; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(wait(random)));
        program->Signal(SIGKILL);
        ASSERT_EQ(program->Wait(10s), 128 + SIGKILL) << "kill " << k;
        {
            // Noted once the program is gone: every exchange it cut spans this instant.
            std::ofstream kills(Path("kills"), std::ios::app);
            kills << Clock::now().time_since_epoch().count() << "\n";
        }
        program = StartProgram();
    }
    std::this_thread::sleep_for(3s);
    tool->Signal(SIGTERM);
    ASSERT_EQ(tool->Wait(120s), 0) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("verification passed"), std::string::npos) << out;
    EXPECT_EQ(out.find("line doubled"), std::string::npos) << out;
    EXPECT_EQ(out.find("out of order"), std::string::npos) << out;
    // The summary and the check, for the figures.
    std::istringstream lines(out);
    std::cout << kills << " kills\n";
    for (std::string line; std::getline(lines, line);) {
        if (line.find("Tran.txt") != std::string::npos ||
            line.find("Bon.txt") != std::string::npos ||
            line.find("receipts") != std::string::npos ||
            line.find("verification") != std::string::npos) {
            std::cout << line << "\n";
        }
    }
}

TEST_P(ProgramRun, ProgramKilledWhileTheTransactionFileIsAFolder) {
    // For a while a folder stands where the transaction file is (the back office holds it
    // away): each closing is acknowledged and its closing line written, its transaction lines
    // wait, and the registers go on selling. The program is killed meanwhile, the file comes
    // back, and the restart writes every line once: the waiting closings' and the sales after.
    auto tool = StartTool({"--seed", "16", "--seconds", "0", "--finish-receipts", "--verify",
                           "--pace", "20", "--max-items", "5", "--kills-file", Path("kills")});
    auto program = StartProgram();
    std::this_thread::sleep_for(3s);
    const std::string tran = Path("Tran.txt");
    const bool had = std::filesystem::exists(tran);
    if (had) {
        std::filesystem::rename(tran, Path("Tran.held"));
    }
    std::filesystem::create_directory(tran);
    const std::size_t closedBefore = FileLines(Path("Bon.txt")).size();
    std::this_thread::sleep_for(4s);
    EXPECT_GT(FileLines(Path("Bon.txt")).size(), closedBefore) << "closings went on meanwhile";
    program->Signal(SIGKILL);
    ASSERT_EQ(program->Wait(10s), 128 + SIGKILL);
    {
        std::ofstream kills(Path("kills"), std::ios::app);
        kills << Clock::now().time_since_epoch().count() << "\n";
    }
    std::filesystem::remove(tran);
    if (had) {
        std::filesystem::rename(Path("Tran.held"), tran);
    }
    program = StartProgram();
    std::this_thread::sleep_for(5s);
    tool->Signal(SIGTERM);
    ASSERT_EQ(tool->Wait(120s), 0) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("verification passed"), std::string::npos) << out;
    EXPECT_EQ(out.find("line doubled"), std::string::npos) << out;
    EXPECT_EQ(out.find("line missing"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(Path("Tallyport.journal/DeVerificat.txt")))
        << ReadFile(Path("Tallyport.journal/DeVerificat.txt"));
}

TEST_P(ProgramRun, TamperedFilesFailTheCheck) {
    auto tool = StartTool(
        {"--seed", "14", "--seconds", "0", "--finish-receipts", "--verify", "--settle", "1000"});
    auto program = StartProgram();
    // Let every register close a few receipts, then change the files while nothing is open.
    const auto deadline = Clock::now() + 60s;
    std::map<std::string, int> bon;
    while (Clock::now() < deadline) {
        std::this_thread::sleep_for(1s);
        bon = LinesPerRegister("Bon.txt");
        if (bon.size() == 3 && bon["0001"] >= 3 && bon["0002"] >= 3 && bon["0003"] >= 3 &&
            LinesPerRegister("Tran.txt").size() == 3) {
            break;
        }
    }
    tool->Signal(SIGUSR1);
    ASSERT_TRUE(WaitForStatus("paused", 30s)) << ToolOutput();
    std::this_thread::sleep_for(300ms);

    auto tamper = [&](const std::string& name, auto change) {
        std::vector<std::string> lines = FileLines(Path(name));
        change(lines);
        WriteFile(Path(name), JoinCrLf(lines));
    };
    auto firstOf = [](std::vector<std::string>& lines, const std::string& reg, int skip = 0) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].rfind(reg, 0) == 0 && skip-- == 0) {
                return i;
            }
        }
        ADD_FAILURE() << "no line of register " << reg;
        return std::size_t{0};
    };
    std::string changed;
    tamper("Tran.txt", [&](std::vector<std::string>& lines) {
        const auto r1 = firstOf(lines, "0001,");
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(r1));
        const auto r2 = firstOf(lines, "0002,");
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(r2) + 1, lines[r2]);
        // The quantity of register 3's first sale: "+" becomes "-".
        auto sale = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("0003,", 0) == 0 && l.find(",+00") != std::string::npos;
        });
        ASSERT_NE(sale, lines.end());
        (*sale)[sale->find(",+00") + 1] = '-';
        changed = *sale;
    });
    tamper("Bon.txt", [&](std::vector<std::string>& lines) {
        const auto a = firstOf(lines, "0001,");
        const auto b = firstOf(lines, "0001,", 1);
        std::swap(lines[a], lines[b]);
    });

    tool->Signal(SIGUSR2);
    std::this_thread::sleep_for(2s);
    tool->Signal(SIGTERM);
    ASSERT_EQ(tool->Wait(60s), 1) << ToolOutput();
    StopProgram(*program);

    const std::string out = ToolOutput();
    EXPECT_NE(out.find("Tran.txt, register 1: line missing"), std::string::npos) << out;
    EXPECT_NE(out.find("Tran.txt, register 2: line doubled"), std::string::npos) << out;
    EXPECT_NE(out.find("Tran.txt, register 3: line wrong"), std::string::npos) << out;
    EXPECT_NE(out.find("in quantity"), std::string::npos) << out;
    EXPECT_NE(out.find(changed), std::string::npos) << out;
    EXPECT_NE(out.find("Bon.txt, register 1: line out of order"), std::string::npos) << out;
    EXPECT_EQ(out.find("register 2: line missing"), std::string::npos) << out;
    EXPECT_NE(out.find("verification FAILED"), std::string::npos) << out;
}

TEST_F(ShopRun, RegistersNobodyServesDoNotHoldTheToolUp) {
    // No program: the registers are never polled. The run ends at its time, and a stop signal
    // ends an endless run, each within a few seconds.
    auto start = Clock::now();
    auto tool = StartTool(
        {"--seconds", "2", "--finish-receipts", "--finish-timeout", "3", "--rate", "4800"});
    EXPECT_EQ(tool->Wait(30s), 0) << ToolOutput();
    EXPECT_LT(Clock::now() - start, 15s);
    EXPECT_NE(ToolOutput().find("ECR2 was never polled"), std::string::npos) << ToolOutput();
    EXPECT_EQ(ReadFile(Path("status")), "finished\n");

    // The register list names the three ports the program would open.
    const auto list = FileLines(Path("ECRs.dat"));
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].rfind("1,Datecs MP55,4800,8,None,1,/dev/pts/", 0), 0u) << list[0];
    EXPECT_NE(list[2].find(",DA00000003,CASA 3"), std::string::npos) << list[2];

    // A check with nothing closed is no pass.
    tool = StartTool({"--seconds", "0", "--verify"});
    std::this_thread::sleep_for(1s);
    start = Clock::now();
    tool->Signal(SIGTERM);
    EXPECT_EQ(tool->Wait(20s), 1) << ToolOutput();
    EXPECT_LT(Clock::now() - start, 10s);
    EXPECT_NE(ToolOutput().find("there was nothing to verify"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Lines, ProgramRun, ::testing::ValuesIn(test::SelectedLineModes()),
                         LinesName);

}  // namespace
}  // namespace tallyport::ecrsim
