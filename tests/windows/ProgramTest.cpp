// tallyport.exe as the user runs it: its command line, a start-up that fails without writing
// anything, and the status of a running program read by a second one.
#include <gtest/gtest.h>

#include "ProgramRun.h"
#include "base/BuildInfo.h"
#include "base/Paths.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::RunToEnd;
using test::TempFolder;
using test::WriteFile;

TEST(ConsoleProgram, VersionHelpAndMistakes) {
    TempFolder logs;
    std::string out;
    std::string err;
    EXPECT_EQ(RunToEnd({"--version"}, logs, &out), 0u);
    EXPECT_EQ(out, std::string("Tallyport versiunea ") + build_info::kVersion + "\n");
    EXPECT_EQ(RunToEnd({"--help"}, logs, &out), 0u);
    EXPECT_NE(out.find("--install-service"), std::string::npos) << out;
    EXPECT_NE(out.find("%ProgramData%\\Tallyport"), std::string::npos) << out;
    EXPECT_EQ(RunToEnd({"--headles"}, logs, &out, &err), 2u);
    EXPECT_NE(err.find("Optiune necunoscuta: headles"), std::string::npos) << err;
    // Run as the service from a console, it says how it is meant to be started.
    EXPECT_EQ(RunToEnd({"--service"}, logs, &out, &err), 1u);
    EXPECT_NE(err.find("--install-service"), std::string::npos) << err;
}

TEST(ConsoleProgram, AStartupErrorEndsWithoutWriting) {
    TempFolder dir;
    TempFolder logs;
    WriteFile(dir.File("PLU.txt"), "");  // no register list at all
    std::string err;
    EXPECT_EQ(RunToEnd({"--config", dir.File("Tallyport.ini")}, logs, nullptr, &err), 1u);
    EXPECT_NE(err.find("Eroare: Fisierele aplicatiei sunt corupte! Reinstalati."),
              std::string::npos)
        << err;
    EXPECT_FALSE(PathExists(dir.File("Tallyport.ini")));
    EXPECT_FALSE(PathExists(dir.File("ECRs.dat")));
}

TEST(ConsoleProgram, ARunningProgramsStatusIsReadByAnother) {
    TempFolder dir;
    TempFolder logs;
    TempFolder statusLogs;
    WriteFile(dir.File("PLU.txt"), "");
    // A register on a port that this computer does not have: the program runs and says so.
    WriteFile(dir.File("ECRs.dat"), "3,Datecs MP55,9600,8,None,1,COM219,DA03,CASA\r\n");
    const std::string config = dir.File("Tallyport.ini");
    test::ProgramRun program({"--config", config}, logs);
    ASSERT_TRUE(program.Started());

    std::string out;
    const bool seen = test::WaitUntil(
        [&] {
            return RunToEnd({"--status", "--config", config}, statusLogs, &out) != 2;
        },
        20s);
    ASSERT_TRUE(seen) << program.Err() << out;
    EXPECT_EQ(RunToEnd({"--status", "--config", config}, statusLogs, &out), 1u)
        << "a port that does not open: " << out;
    EXPECT_NE(out.find("Tallyport ruleaza (pid " + std::to_string(program.Pid()) + ")"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("COM219"), std::string::npos) << out;
    EXPECT_NE(out.find("nu se deschide"), std::string::npos) << out;
    EXPECT_EQ(RunToEnd({"--status", "--json", "--config", config}, statusLogs, &out), 1u);
    EXPECT_NE(out.find("\"state\":\"could_not_open\""), std::string::npos) << out;
    EXPECT_NE(program.Err().find("porneste fara fereastra"), std::string::npos) << program.Err();
    EXPECT_FALSE(program.WaitForExit(0ms).has_value()) << program.Err();
}

}  // namespace
}  // namespace tallyport
