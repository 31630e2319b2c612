#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/BuildInfo.h"
#include "simulator/EcrSimulator.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

// The program as a separate process: its arguments, environment changes (an empty value
// unsets the variable) and working folder; standard output and error go to files.
class Program {
public:
    Program(const std::string& path, const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment, const fs::path& folder,
            const TempFolder& logs)
        : out_(logs.File("stdout.txt")), err_(logs.File("stderr.txt")) {
        pid_ = ::fork();
        if (pid_ != 0) {
            return;
        }
        for (const auto& [name, value] : environment) {
            if (value.empty()) {
                ::unsetenv(name.c_str());
            } else {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
        }
        const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (::chdir(folder.c_str()) != 0 || out < 0 || err < 0) {
            ::_exit(126);
        }
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ~Program() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The exit status, or nullopt while it still runs after `timeout`.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!status_) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            } else if (std::chrono::steady_clock::now() > end) {
                break;
            } else {
                std::this_thread::sleep_for(10ms);
            }
        }
        return status_;
    }
    // True once standard error holds `text`, false after `timeout` or when the program ended.
    bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (Err().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > end || WaitForExit(0ms)) {
                return Err().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }
    void Stop() { ::kill(pid_, SIGTERM); }
    std::string Out() const { return ReadFile(out_); }
    std::string Err() const { return ReadFile(err_); }

private:
    std::string out_;
    std::string err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs the program headless until it has settled (connected or not), then stops it in order.
void RunSettledAndStop(Program& program) {
    ASSERT_TRUE(program.WaitForLog("sunt conectate.", 20s)) << program.Err();
    program.Stop();
    EXPECT_EQ(program.WaitForExit(20s), 0) << program.Err();
}

// A copy of the program where an install puts it, under `root`.
std::string InstalledCopy(const TempFolder& temp) {
    const fs::path bin =
        temp.Path() / "root" / fs::path(build_info::kInstallBinDir).relative_path();
    fs::create_directories(bin);
    fs::copy_file(TALLYPORT_PROGRAM, bin / "tallyport");
    return (bin / "tallyport").string();
}

const std::map<std::string, std::string> kNoDisplay{
    {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};

TEST(ProgramStart, HelpVersionAndMistakesNeedNoDisplay) {
    TempFolder temp;
    {
        Program program(TALLYPORT_PROGRAM, {"--version"}, kNoDisplay, temp.Path(), temp);
        EXPECT_EQ(program.WaitForExit(20s), 0) << program.Err();
        EXPECT_EQ(program.Out(), std::string("Tallyport versiunea ") + build_info::kVersion + "\n");
    }
    {
        Program program(TALLYPORT_PROGRAM, {"--help"}, kNoDisplay, temp.Path(), temp);
        EXPECT_EQ(program.WaitForExit(20s), 0) << program.Err();
        EXPECT_NE(program.Out().find("--config <FISIER>"), std::string::npos) << program.Out();
    }
    {
        Program program(TALLYPORT_PROGRAM, {"--confg", "x.ini"}, kNoDisplay, temp.Path(), temp);
        EXPECT_EQ(program.WaitForExit(20s), 2) << program.Err();
        EXPECT_NE(program.Err().find("Optiune necunoscuta: confg"), std::string::npos)
            << program.Err();
        EXPECT_EQ(program.Out(), "");
    }
    EXPECT_EQ(temp.Names(), (std::vector<std::string>{"stderr.txt", "stdout.txt"}))
        << "nothing else written";
}

TEST(ProgramStart, ConfigOptionUsesTheFileAndWorksInItsFolder) {
    TempFolder temp;
    TempFolder logs;
    fs::create_directories(temp.Path() / "shop");
    fs::create_directories(temp.Path() / "start");
    WriteFile(temp.File("shop/PLU.txt"), "");
    WriteFile(temp.File("shop/ECRs.dat"), "");
    Program program(TALLYPORT_PROGRAM, {"--headless", "--config", "../shop/Tallyport.ini"},
                    {{"STATE_DIRECTORY", ""}}, temp.Path() / "start", logs);
    RunSettledAndStop(program);
    EXPECT_NE(program.Err().find("configurare: " + temp.File("shop/Tallyport.ini")),
              std::string::npos)
        << program.Err();
    // The relative names of the settings were found in, and written to, the file's folder.
    EXPECT_NE(ReadFile(temp.File("shop/Tallyport.ini")).find("ECRList=ECRs.dat"),
              std::string::npos);
    EXPECT_TRUE(test::NamesIn(temp.Path() / "start").empty());
    // The journal of what the registers are told lies beside the transaction file.
    EXPECT_EQ(test::NamesIn(temp.Path() / "shop"),
              (std::vector<std::string>{"ECRs.dat", "PLU.txt", "Tallyport.ini", "Tallyport.journal",
                                        "Tallyport.journal-folder"}));
}

TEST(ProgramStart, InstalledForAUserFirstStartMakesTheUsersFolder) {
    TempFolder temp;
    TempFolder logs;
    const std::string program = InstalledCopy(temp);
    fs::create_directories(temp.Path() / "start");
    Program run(program, {"--headless"},
                {{"STATE_DIRECTORY", ""}, {"XDG_DATA_HOME", temp.File("data")}},
                temp.Path() / "start", logs);
    RunSettledAndStop(run);
    const std::string folder = temp.File("data/Tallyport");
    EXPECT_NE(run.Err().find("configurare: " + folder + "/Tallyport.ini"), std::string::npos)
        << run.Err();
    EXPECT_EQ(test::NamesIn(folder),
              (std::vector<std::string>{"ECRs.dat", "PLU.txt", "Tallyport.ini", "Tallyport.journal",
                                        "Tallyport.journal-folder"}));
    // The commented first configuration, completed at the orderly exit.
    const std::string config = ReadFile(folder + "/Tallyport.ini");
    EXPECT_NE(config.find(";PLU=PLU.txt"), std::string::npos) << config;
    EXPECT_NE(config.find("\nPLU=PLU.txt"), std::string::npos) << config;
    EXPECT_TRUE(test::NamesIn(temp.Path() / "start").empty());
    EXPECT_FALSE(fs::exists(fs::path(program).parent_path() / "Tallyport.ini"));
}

TEST(ProgramStart, InstalledAsTheServiceWorksInItsStateFolder) {
    TempFolder temp;
    TempFolder logs;
    const std::string program = InstalledCopy(temp);
    fs::create_directories(temp.Path() / "state");
    Program run(program, {"--headless"},
                {{"STATE_DIRECTORY", temp.File("state")}, {"XDG_DATA_HOME", temp.File("data")}},
                temp.Path(), logs);
    RunSettledAndStop(run);
    EXPECT_EQ(test::NamesIn(temp.Path() / "state"),
              (std::vector<std::string>{"ECRs.dat", "PLU.txt", "Tallyport.ini", "Tallyport.journal",
                                        "Tallyport.journal-folder"}));
    EXPECT_FALSE(fs::exists(temp.File("data")));

    // A later start is no first start: the shop's settings and article file stay theirs.
    std::string config = ReadFile(temp.File("state/Tallyport.ini"));
    const std::size_t prefix = config.find("\nPrefix=24");
    ASSERT_NE(prefix, std::string::npos) << config;
    config.replace(prefix, 10, "\nPrefix=27");
    WriteFile(temp.File("state/Tallyport.ini"), config);
    const std::string articles = "0000000000123,01,1,2.5,3,Paine\r\n";
    WriteFile(temp.File("state/PLU.txt"), articles);
    TempFolder moreLogs;  // fresh logs: the old ones would show the first run as settled
    Program again(program, {"--headless"}, {{"STATE_DIRECTORY", temp.File("state")}}, temp.Path(),
                  moreLogs);
    RunSettledAndStop(again);
    EXPECT_NE(ReadFile(temp.File("state/Tallyport.ini")).find("\nPrefix=27"), std::string::npos);
    EXPECT_EQ(ReadFile(temp.File("state/PLU.txt")), articles);
}

// `tallyport --status` against a running headless program: open, lost, ended.
TEST(ProgramStatus, TheStatusCommandFollowsTheRunningProgram) {
    TempFolder temp;
    TempFolder logs;
    TempFolder statusLogs;
    const std::string link = temp.File("ecr1");
    sim::EcrSimulator reg(sim::EcrSimulator::Options{1, link, {}});
    WriteFile(temp.File("PLU.txt"), "");
    WriteFile(temp.File("ECRs.dat"), "1,Datecs MP55,9600,8,None,1," + link + ",DA01,CASA 1\r\n");
    const std::string config = temp.File("Tallyport.ini");
    // Both processes find the status folder in the service's variable, as under systemd.
    const std::map<std::string, std::string> environment{
        {"RUNTIME_DIRECTORY", temp.File("run")}, {"XDG_RUNTIME_DIR", ""}, {"DISPLAY", ""}};
    const auto status = [&](std::vector<std::string> extra, std::string* out) {
        std::vector<std::string> arguments{"--status", "--config", config};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        Program command(TALLYPORT_PROGRAM, arguments, environment, temp.Path(), statusLogs);
        const auto code = command.WaitForExit(20s);
        *out = command.Out();
        return code.value_or(-1);
    };
    // Asks until the exit status is `expected` (the file is renewed about once a second).
    const auto statusBecomes = [&](int expected, std::string* out) {
        const auto end = std::chrono::steady_clock::now() + 10s;
        int code = -1;
        while ((code = status({}, out)) != expected && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(200ms);
        }
        return code;
    };

    std::string out;
    EXPECT_EQ(status({}, &out), 2);
    EXPECT_EQ(out, "Tallyport nu ruleaza (configurare: " + config + ").\n");

    Program program(TALLYPORT_PROGRAM, {"--headless", "--config", config}, environment, temp.Path(),
                    logs);
    ASSERT_TRUE(program.WaitForLog("sunt conectate.", 20s)) << program.Err();
    EXPECT_EQ(statusBecomes(0, &out), 0) << out << program.Err();
    EXPECT_NE(out.find("1 casa conectata"), std::string::npos) << out;
    EXPECT_NE(out.find(link), std::string::npos) << out;
    EXPECT_EQ(status({"--json"}, &out), 0);
    EXPECT_NE(out.find("\"state\":\"open\""), std::string::npos) << out;

    reg.Unplug();
    EXPECT_EQ(statusBecomes(1, &out), 1) << out;
    EXPECT_NE(out.find("port pierdut"), std::string::npos) << out;
    EXPECT_TRUE(program.WaitForLog("Casa 1: port pierdut", 5s)) << program.Err();
    reg.Plug();
    EXPECT_EQ(statusBecomes(0, &out), 0) << out;
    EXPECT_TRUE(program.WaitForLog("Casa 1: port revenit", 5s)) << program.Err();

    program.Stop();
    EXPECT_EQ(program.WaitForExit(20s), 0) << program.Err();
    EXPECT_EQ(status({}, &out), 2) << out;
    EXPECT_TRUE(test::NamesIn(temp.Path() / "run").empty()) << "the file went with the program";
}

}  // namespace
}  // namespace tallyport
