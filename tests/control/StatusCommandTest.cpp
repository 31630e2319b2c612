// `tallyport --status`: finding the running program's status file and reading it back.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

#include "GoneProcess.h"
#include "base/Paths.h"
#include "control/JsonValue.h"
#include "control/ProcessIdentity.h"
#include "control/StatusCommand.h"
#include "control/StatusFile.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;
using test::WriteFile;

constexpr char kConfig[] = "/opt/tallyport/Tallyport.ini";

RegisterStatus Reg(int n, PortState state) {
    RegisterStatus r;
    r.logicalNb = n;
    r.port = "/dev/ttyUSB" + std::to_string(n - 1);
    r.state = state;
    return r;
}

class StatusCommandTest : public ::testing::Test {
protected:
    StatusCommandTest() {
        for (const char* name : {"first", "second"}) {
            std::filesystem::create_directory(folder.File(name));
            folders.push_back(folder.File(name));
        }
        header.pid = ThisProcessId();
        header.processStart = ProcessStart(ThisProcessId()).value_or(0);
        header.config = kConfig;
        header.connected = true;
        header.written = now;
    }

    std::string Write(const std::string& dir, const std::vector<RegisterStatus>& regs) {
        const std::string path = JoinPath(dir, StatusFileName(kConfig));
        const std::string json = StatusJson(header, regs);
        WriteFile(path, json);
        return json;
    }

    TempFolder folder;
    std::vector<std::string> folders;
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    StatusFileHeader header;
};

TEST_F(StatusCommandTest, NoFileMeansNotRunning) {
    const StatusReport table = ReadStatus(kConfig, folders, false, now);
    EXPECT_EQ(table.exitCode, 2);
    EXPECT_EQ(table.text, "Tallyport nu ruleaza (configurare: /opt/tallyport/Tallyport.ini).\n");
    const StatusReport json = ReadStatus(kConfig, folders, true, now);
    EXPECT_EQ(json.exitCode, 2);
    ASSERT_TRUE(JsonValue::Parse(json.text)) << json.text;
    EXPECT_TRUE(JsonValue::Parse(json.text)->IsObject());
    EXPECT_EQ(json.text, "{\"program\":\"tallyport\",\"running\":false}\n");
}

TEST_F(StatusCommandTest, EveryPortOpenIsZeroAndTheTableShowsEachRegister) {
    RegisterStatus a = Reg(1, PortState::Open);
    a.lastFrameAge = 4s;
    a.sales = 9;
    const std::string json = Write(folders[1], {a, Reg(2, PortState::Open)});
    // Read two seconds after it was written: the frame's age has grown by as much.
    const StatusReport table = ReadStatus(kConfig, folders, false, now + 2);
    EXPECT_EQ(table.exitCode, 0) << table.text;
    EXPECT_EQ(table.text.rfind("Tallyport ruleaza (pid " + std::to_string(ThisProcessId()) +
                                   "), conectat; configurare: " + kConfig + "\n2 case conectate\n",
                               0),
              0u)
        << table.text;
    EXPECT_NE(table.text.find("/dev/ttyUSB0"), std::string::npos);
    EXPECT_NE(table.text.find("acum 6 s"), std::string::npos) << table.text;
    EXPECT_NE(table.text.find("nici un cadru"), std::string::npos);

    const StatusReport asJson = ReadStatus(kConfig, folders, true, now);
    EXPECT_EQ(asJson.exitCode, 0);
    EXPECT_EQ(asJson.text, json);
}

TEST_F(StatusCommandTest, ALostOrUnopenedPortIsOne) {
    Write(folders[0], {Reg(1, PortState::Open), Reg(2, PortState::Lost)});
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 1);
    EXPECT_EQ(ReadStatus(kConfig, folders, true, now).exitCode, 1);
    Write(folders[0], {Reg(1, PortState::CouldNotOpen)});
    const StatusReport report = ReadStatus(kConfig, folders, false, now);
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_NE(report.text.find("nu se deschide"), std::string::npos);
}

TEST_F(StatusCommandTest, ARegisterHeldByItsJournalIsOneAndShownWithTheReason) {
    RegisterStatus held = Reg(2, PortState::Open);
    held.lastFrameAge = 8s;
    held.journalHeld = true;
    held.journalError = "Cannot write file /srv/Tallyport.journal/ECR2.txt: Read-only file system";
    Write(folders[0], {Reg(1, PortState::Open), held});
    const StatusReport table = ReadStatus(kConfig, folders, false, now);
    EXPECT_EQ(table.exitCode, 1) << table.text;
    EXPECT_NE(table.text.find("\n1 casa conectata, 1 casa cu jurnal nescris\n"), std::string::npos)
        << table.text;
    const std::size_t line = table.text.find("\n2    ");
    ASSERT_NE(line, std::string::npos) << table.text;
    const std::string row = table.text.substr(line + 1, table.text.find('\n', line + 1) - line - 1);
    EXPECT_NE(row.find("jurnal nescris"), std::string::npos) << row;
    EXPECT_NE(row.find(held.journalError), std::string::npos) << row;
    EXPECT_EQ(ReadStatus(kConfig, folders, true, now).exitCode, 1);

    // Served again: zero.
    Write(folders[0], {Reg(1, PortState::Open), Reg(2, PortState::Open)});
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 0);
}

TEST_F(StatusCommandTest, ASilentRegisterIsShownSoAndIsNoFaultAndLateSalesAreReadBack) {
    RegisterStatus quiet = Reg(1, PortState::Open);
    quiet.lastFrameAge = 295s;
    quiet.sales = 7;
    quiet.lateSales = 2;
    Write(folders[0], {quiet});
    // Read 8 s after it was written: silent for 5 min by then.
    const StatusReport report = ReadStatus(kConfig, folders, false, now + 8);
    EXPECT_EQ(report.exitCode, 0) << report.text;
    const std::size_t heading = report.text.find("Casa ");
    ASSERT_NE(heading, std::string::npos) << report.text;
    const std::size_t rowStart = report.text.find('\n', heading) + 1;
    const std::string head = report.text.substr(heading, rowStart - 1 - heading);
    const std::string row =
        report.text.substr(rowStart, report.text.find('\n', rowStart) - rowStart);
    EXPECT_EQ(row.find("conectata, tacuta de 5 min"), head.find("Stare")) << report.text;
    EXPECT_EQ(row.find("2", head.find("Tarzii")), head.find("Tarzii")) << report.text;
    EXPECT_EQ(row.find("7", head.find("Vanzari")), head.find("Vanzari")) << report.text;
}

TEST_F(StatusCommandTest, AFileWithoutTheJournalFieldsReadsAsBefore) {
    // As an earlier version writes it.
    const std::string document =
        "{\"program\":\"tallyport\",\"version\":\"3.3.0\",\"pid\":" + std::to_string(header.pid) +
        ",\"process_start\":" + std::to_string(header.processStart) +
        ",\"config\":\"/opt/tallyport/Tallyport.ini\",\"connected\":true,\"written\":" +
        std::to_string(now) +
        ",\"registers\":[{\"logical\":1,\"port\":\"/dev/ttyUSB0\",\"state\":\"open\","
        "\"last_frame_age_s\":2,\"receipts\":0,\"sales\":0,\"pending_lines\":0,\"losses\":0,"
        "\"last_error\":\"\"}]}\n";
    WriteFile(JoinPath(folders[0], StatusFileName(kConfig)), document);
    const StatusReport report = ReadStatus(kConfig, folders, false, now);
    EXPECT_EQ(report.exitCode, 0) << report.text;
    EXPECT_NE(report.text.find("\n1 casa conectata\n"), std::string::npos) << report.text;
}

TEST_F(StatusCommandTest, AStatusNotRenewedForLongIsOne) {
    header.written = now - 60;
    Write(folders[0], {Reg(1, PortState::Open)});
    const StatusReport report = ReadStatus(kConfig, folders, false, now);
    EXPECT_EQ(report.exitCode, 1);
    EXPECT_NE(report.text.find("Atentie: starea nu a mai fost scrisa de 60 s."), std::string::npos)
        << report.text;
}

TEST_F(StatusCommandTest, AFileLeftByAGoneProcessIsNotRunning) {
    const test::GoneProcess gone = test::RunShortProcess();
    ASSERT_GT(gone.pid, 0);
    header.pid = gone.pid;
    header.processStart = gone.start;
    Write(folders[0], {Reg(1, PortState::Open)});
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 2);

    // This process's number with another start time: a later process, not the writer.
    header.pid = ThisProcessId();
    header.processStart = ProcessStart(header.pid).value_or(0) + 12345;
    Write(folders[0], {Reg(1, PortState::Open)});
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 2);
}

TEST_F(StatusCommandTest, ADeadFileInAnEarlierFolderDoesNotHideTheLiveOne) {
    StatusFileHeader live = header;
    header.pid = 999999999;  // no such process
    Write(folders[0], {Reg(1, PortState::Lost)});
    header = live;
    Write(folders[1], {Reg(1, PortState::Open)});
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 0);
    // Another configuration's file is not this program's.
    EXPECT_EQ(ReadStatus("/elsewhere/Tallyport.ini", folders, false, now).exitCode, 2);
    // Neither is a file that is not a status document.
    WriteFile(JoinPath(folders[1], StatusFileName(kConfig)), "{\"pid\":");
    EXPECT_EQ(ReadStatus(kConfig, folders, false, now).exitCode, 2);
}

}  // namespace
}  // namespace tallyport
