// The registers' status without widgets: the words and the summary, the status file's form,
// name and atomic replacement, and the monitor that tells of lost and returning ports. A
// register held by its journal is a kind of its own everywhere.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <atomic>
#include <thread>

#include "control/ConnectionControl.h"
#include "control/ProcessIdentity.h"
#include "control/RegisterStatus.h"
#include "control/StatusFile.h"
#include "control/StatusMonitor.h"
#include "control/StatusText.h"
#include "link/SerialThread.h"
#include "simulator/EcrSimulator.h"
#include "support/NoticeRecorder.h"
#include "support/ShellTestSupport.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::NoticeRecorder;
using test::ReadFile;
using test::TempFolder;

RegisterStatus Reg(int n, PortState state, std::optional<std::chrono::seconds> age = {}) {
    RegisterStatus r;
    r.logicalNb = n;
    r.port = "/dev/ttyUSB" + std::to_string(n);
    r.state = state;
    r.lastFrameAge = age;
    return r;
}

// An open port whose worker waits for its journal.
RegisterStatus Held(int n, std::optional<std::chrono::seconds> age = {}) {
    RegisterStatus r = Reg(n, PortState::Open, age);
    r.journalHeld = true;
    r.journalError = "Cannot write file /srv/Tallyport.journal/ECR" + std::to_string(n) +
                     ".txt: No space left on device";
    return r;
}

// The document, parsed; a null object when it is not valid JSON.
QJsonObject Parsed(const std::string& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray(json.data(), static_cast<qsizetype>(json.size())), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return {};
    }
    return doc.object();
}

TEST(StatusText, SummaryCountsEachKindInRomanian) {
    std::vector<RegisterStatus> regs;
    for (int n = 1; n <= 4; ++n) {
        regs.push_back(Reg(n, PortState::Open));
    }
    regs.push_back(Reg(5, PortState::Lost));
    EXPECT_EQ(StatusSummary(regs), "4 case conectate, 1 port pierdut");
    regs.push_back(Reg(6, PortState::Lost));
    regs.push_back(Reg(7, PortState::CouldNotOpen));
    EXPECT_EQ(StatusSummary(regs),
              "4 case conectate, 2 porturi pierdute, 1 port care nu se deschide");
    EXPECT_EQ(StatusSummary({Reg(1, PortState::Open)}), "1 casa conectata");
    EXPECT_EQ(StatusSummary({Reg(1, PortState::Stopped), Reg(2, PortState::Stopped)}),
              "2 case deconectate");
    EXPECT_EQ(StatusSummary({Reg(1, PortState::CouldNotOpen), Reg(2, PortState::CouldNotOpen)}),
              "2 porturi care nu se deschid");
    EXPECT_EQ(StatusSummary({}), "nici o casa de marcat");
}

TEST(StatusText, LastFrameAndGridText) {
    EXPECT_EQ(LastFrameText(std::nullopt), "nici un cadru");
    EXPECT_EQ(LastFrameText(0s), "acum 0 s");
    EXPECT_EQ(LastFrameText(59s), "acum 59 s");
    EXPECT_EQ(LastFrameText(60s), "acum 1 min");
    EXPECT_EQ(LastFrameText(3599s), "acum 59 min");
    EXPECT_EQ(LastFrameText(3600s), "acum 1 h");
    EXPECT_EQ(LastFrameText(86400s), "acum 1 zi");
    EXPECT_EQ(LastFrameText(3 * 86400s), "acum 3 zile");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Open, 5s)), "conectata, ultimul cadru acum 5 s");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Lost)), "port pierdut, nici un cadru");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::CouldNotOpen)),
              "nu se deschide, se reincearca, nici un cadru");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Stopped, 120s)),
              "deconectata, ultimul cadru acum 2 min");
    // A port that is not open says why, in the system's words, as the row's tip.
    RegisterStatus missing = Reg(1, PortState::CouldNotOpen);
    missing.portError = "No such file or directory";
    EXPECT_EQ(GridStatusText(missing), "nu se deschide, se reincearca, nici un cadru");
    EXPECT_EQ(GridStatusTip(missing), "No such file or directory");
    RegisterStatus lost = Reg(2, PortState::Lost, 30s);
    lost.portError = "Input/output error";
    EXPECT_EQ(GridStatusText(lost), "port pierdut, ultimul cadru acum 30 s");
    EXPECT_EQ(GridStatusTip(lost), "Input/output error");
    EXPECT_EQ(ErrorText(lost), "Input/output error");
    EXPECT_EQ(GridStatusTip(Reg(3, PortState::Open, 1s)), "");
    // The grid's column is sized for the longest of these.
    RegisterStatus widest = Reg(4, PortState::CouldNotOpen, 59 * 60s);
    EXPECT_EQ(GridStatusText(widest), kWidestGridStatus);
    // A file error of a handler stays beside an open port; a port error says more while it lasts.
    RegisterStatus fileError = Reg(3, PortState::Open, 1s);
    fileError.lastError = "Cannot write file Tran.txt: No space left on device";
    EXPECT_EQ(ErrorText(fileError), fileError.lastError);
    fileError.state = PortState::Lost;
    fileError.portError = "Input/output error";
    EXPECT_EQ(ErrorText(fileError), "Input/output error");
}

TEST(StatusText, ARegisterSilentForAWhileIsInformationNotAFault) {
    // It used to answer and has sent no frame for five minutes or more: an idle register is
    // silent by design, so it is said, and the register still counts as served.
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Open, 299s)), "conectata, ultimul cadru acum 4 min");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Open, 300s)), "conectata, tacuta de 5 min");
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Open, 3 * 3600s)), "conectata, tacuta de 3 h");
    EXPECT_EQ(SilentFor(Reg(1, PortState::Open, 720s)), 720s);
    // Never answered since the start, not served, or held by its journal: not "silent".
    EXPECT_EQ(SilentFor(Reg(1, PortState::Open)), std::nullopt);
    EXPECT_EQ(SilentFor(Reg(1, PortState::Lost, 720s)), std::nullopt);
    EXPECT_EQ(SilentFor(Reg(1, PortState::Stopped, 720s)), std::nullopt);
    EXPECT_EQ(SilentFor(Held(1, 720s)), std::nullopt);
    EXPECT_EQ(GridStatusText(Reg(1, PortState::Lost, 720s)),
              "port pierdut, ultimul cadru acum 12 min");

    const std::vector<RegisterStatus> shop = {Reg(1, PortState::Open, 3s),
                                              Reg(2, PortState::Open, 720s)};
    EXPECT_EQ(StatusExitCode(shop), 0) << "silence is no fault";
    EXPECT_EQ(StatusSummary(shop), "2 case conectate");
    const std::string table = StatusTable(shop);
    const std::string heading = table.substr(0, table.find('\n'));
    const std::size_t second = table.find('\n', table.find('\n') + 1) + 1;
    const std::string line = table.substr(second, table.find('\n', second) - second);
    EXPECT_EQ(line.find("conectata, tacuta de 12 min"), heading.find("Stare")) << table;
    EXPECT_EQ(line.find("acum 12 min"), heading.find("Ultimul cadru")) << table;
    const QJsonArray regs = Parsed(StatusJson(StatusFileHeader{}, shop))["registers"].toArray();
    EXPECT_FALSE(regs[0].toObject()["silent"].toBool(true));
    EXPECT_TRUE(regs[1].toObject()["silent"].toBool(false));
    EXPECT_EQ(regs[1].toObject()["state"].toString(), "open");
}

TEST(StatusText, StateNamesRoundTripAndExitCodes) {
    for (PortState s :
         {PortState::Open, PortState::Lost, PortState::CouldNotOpen, PortState::Stopped}) {
        EXPECT_EQ(PortStateFromName(PortStateName(s)), s);
    }
    EXPECT_EQ(PortStateFromName("opened"), std::nullopt);
    EXPECT_EQ(StatusExitCode({Reg(1, PortState::Open), Reg(2, PortState::Open)}), 0);
    EXPECT_EQ(StatusExitCode({Reg(1, PortState::Open), Reg(2, PortState::Lost)}), 1);
    EXPECT_EQ(StatusExitCode({Reg(1, PortState::CouldNotOpen)}), 1);
    EXPECT_EQ(StatusExitCode({Reg(1, PortState::Stopped)}), 1);
    EXPECT_EQ(StatusExitCode({}), 1);
}

TEST(StatusText, TableHasOneAlignedLinePerRegister) {
    RegisterStatus a = Reg(1, PortState::Open, 3s);
    a.sales = 12;
    a.lateSales = 3;
    a.receipts = 2;
    a.pendingLines = 1;
    RegisterStatus b = Reg(12, PortState::Lost);
    b.port = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    b.lastError = "Input/output error";
    const std::string table = StatusTable({a, b});
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = table.find('\n', start)) != std::string::npos;
         start = end + 1) {
        lines.push_back(table.substr(start, end - start));
    }
    ASSERT_EQ(lines.size(), 3u) << table;
    EXPECT_EQ(lines[0].find("Casa"), 0u);
    // Every column starts where its heading does.
    for (const char* heading : {"Port", "Stare", "Ultimul cadru", "Bonuri", "Vanzari", "Tarzii"}) {
        SCOPED_TRACE(heading);
        const std::size_t at = lines[0].find(heading);
        ASSERT_NE(at, std::string::npos);
        EXPECT_NE(lines[1][at], ' ');
        EXPECT_EQ(lines[1][at - 1], ' ');
        EXPECT_NE(lines[2][at], ' ');
    }
    EXPECT_NE(lines[1].find("conectata"), std::string::npos);
    EXPECT_NE(lines[1].find("acum 3 s"), std::string::npos);
    EXPECT_EQ(lines[1].find("3", lines[0].find("Tarzii")), lines[0].find("Tarzii"));
    EXPECT_NE(lines[2].find(b.port), std::string::npos);
    EXPECT_NE(lines[2].find("port pierdut"), std::string::npos);
    EXPECT_NE(lines[2].find("Input/output error"), std::string::npos);
}

TEST(StatusText, AJournalThatCannotBeWrittenIsAKindOfItsOwn) {
    EXPECT_EQ(GridStatusText(Held(1, 5s)), "jurnal nescris, ultimul cadru acum 5 s");
    EXPECT_EQ(GridStatusText(Held(1)), "jurnal nescris, nici un cadru");
    EXPECT_EQ(StatusSummary({Reg(1, PortState::Open), Held(2), Reg(3, PortState::Lost)}),
              "1 casa conectata, 1 casa cu jurnal nescris, 1 port pierdut");
    EXPECT_EQ(StatusSummary({Held(1), Held(2)}), "2 case cu jurnal nescris");
    EXPECT_EQ(StatusExitCode({Reg(1, PortState::Open), Held(2)}), 1);
    EXPECT_EQ(StatusExitCode({Held(1)}), 1);
    // A port that is lost or stopped says more than the journal: it wins.
    RegisterStatus lost = Held(4);
    lost.state = PortState::Lost;
    EXPECT_EQ(GridStatusText(lost), "port pierdut, nici un cadru");
    EXPECT_EQ(StatusSummary({lost}), "1 port pierdut");
    RegisterStatus stopped = Held(5);
    stopped.state = PortState::Stopped;
    EXPECT_EQ(StatusSummary({stopped}), "1 casa deconectata");

    // The table: the state's word in its column, the journal's reason where errors stand.
    RegisterStatus held = Held(2, 7s);
    held.lastError = "Input/output error";  // an older port error gives way to the reason
    const std::string table = StatusTable({Reg(1, PortState::Open, 1s), held});
    const std::size_t second = table.find('\n', table.find('\n') + 1) + 1;
    const std::string line = table.substr(second, table.find('\n', second) - second);
    const std::string heading = table.substr(0, table.find('\n'));
    EXPECT_EQ(line.find("jurnal nescris"), heading.find("Stare")) << table;
    EXPECT_EQ(line.find("acum 7 s"), heading.find("Ultimul cadru")) << table;
    EXPECT_EQ(line.find(held.journalError), heading.find("Eroare")) << table;
    EXPECT_EQ(line.find("Input/output error"), std::string::npos) << table;
}

TEST(StatusFile, DocumentIsValidJsonWhateverTheTextsHold) {
    StatusFileHeader header;
    header.pid = 4321;
    header.processStart = 99;
    header.config = "/opt/tallyport/Tallyport.ini";
    header.connected = true;
    header.written = 1765180000;
    RegisterStatus a = Reg(3, PortState::Open, 7s);
    a.sales = 5;
    a.lateSales = 2;
    a.receipts = 1;
    a.pendingLines = 2;
    a.losses = 1;
    RegisterStatus b = Reg(4, PortState::CouldNotOpen);
    b.port =
        std::string("we\"ird\\na\tme\x01\xff", 14) + "\xc8\x99";  // ends in a two-byte UTF-8 letter
    b.portError = "No such file or directory";
    const QJsonObject doc = Parsed(StatusJson(header, {a, b}));
    ASSERT_FALSE(doc.isEmpty()) << StatusJson(header, {a, b});
    EXPECT_EQ(doc["pid"].toInteger(), 4321);
    EXPECT_EQ(doc["process_start"].toInteger(), 99);
    EXPECT_EQ(doc["config"].toString(), "/opt/tallyport/Tallyport.ini");
    EXPECT_TRUE(doc["connected"].toBool());
    EXPECT_EQ(doc["written"].toInteger(), 1765180000);
    const QJsonArray regs = doc["registers"].toArray();
    ASSERT_EQ(regs.size(), 2);
    const QJsonObject r0 = regs[0].toObject();
    EXPECT_EQ(r0["logical"].toInt(), 3);
    EXPECT_EQ(r0["port"].toString(), "/dev/ttyUSB3");
    EXPECT_EQ(r0["state"].toString(), "open");
    EXPECT_EQ(r0["last_frame_age_s"].toInteger(), 7);
    EXPECT_EQ(r0["sales"].toInteger(), 5);
    EXPECT_EQ(r0["late_sales"].toInteger(), 2);
    EXPECT_EQ(r0["receipts"].toInteger(), 1);
    EXPECT_EQ(r0["pending_lines"].toInteger(), 2);
    EXPECT_EQ(r0["losses"].toInteger(), 1);
    const QJsonObject r1 = regs[1].toObject();
    EXPECT_EQ(r1["state"].toString(), "could_not_open");
    EXPECT_TRUE(r1["last_frame_age_s"].isNull());
    EXPECT_EQ(r1["port"].toString(), QString::fromUtf8("we\"ird\\na\tme\x01\xc3\xbf\xc8\x99"));
    EXPECT_EQ(r1["last_error"].toString(), "No such file or directory");
}

TEST(StatusFile, AHeldRegisterIsAFieldOfItsOwnAndTheOthersKeepTheirMeaning) {
    RegisterStatus held = Held(2, 3s);
    held.lastError = "Input/output error";
    const QJsonObject doc = Parsed(StatusJson(StatusFileHeader{}, {Reg(1, PortState::Open), held}));
    ASSERT_FALSE(doc.isEmpty());
    const QJsonObject served = doc["registers"].toArray()[0].toObject();
    EXPECT_FALSE(served["journal_held"].toBool(true));
    EXPECT_EQ(served["journal_error"].toString("x"), "");
    const QJsonObject r = doc["registers"].toArray()[1].toObject();
    EXPECT_TRUE(r["journal_held"].toBool(false));
    EXPECT_EQ(r["journal_error"].toString().toStdString(), held.journalError);
    // The port's own fields say what they always said.
    EXPECT_EQ(r["state"].toString(), "open");
    EXPECT_EQ(r["last_error"].toString(), "Input/output error");
    EXPECT_EQ(r["last_frame_age_s"].toInteger(), 3);
    // A hold behind a lost port is not written as one (the port's state says more).
    RegisterStatus lost = Held(3);
    lost.state = PortState::Lost;
    const QJsonObject l =
        Parsed(StatusJson(StatusFileHeader{}, {lost}))["registers"].toArray()[0].toObject();
    EXPECT_FALSE(l["journal_held"].toBool(true));
    EXPECT_EQ(l["journal_error"].toString("x"), "");
}

TEST(StatusFile, NameFollowsTheConfigurationAndFoldersTheirOrder) {
    const std::string a = StatusFileName("/opt/tallyport/Tallyport.ini");
    EXPECT_EQ(a, StatusFileName("/opt/tallyport/./Tallyport.ini"));
    EXPECT_NE(a, StatusFileName("/opt/tallyport2/Tallyport.ini"));
    EXPECT_EQ(a.size(), std::string("status-0123456789abcdef.json").size());
    EXPECT_EQ(a.rfind("status-", 0), 0u);
    // A relative name stands for the same file as its absolute form.
    char cwd[4096];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(StatusFileName("Tallyport.ini"), StatusFileName(std::string(cwd) + "/Tallyport.ini"));

    EXPECT_EQ(
        StatusFolders("/run/tallyport", "/run/user/1000"),
        (std::vector<std::string>{"/run/tallyport", "/run/user/1000/tallyport", "/run/tallyport"}));
    EXPECT_EQ(StatusFolders("/run/a:/run/b", ""),
              (std::vector<std::string>{"/run/a", "/run/tallyport"}));
    EXPECT_EQ(StatusFolders(nullptr, nullptr), std::vector<std::string>{"/run/tallyport"});

    TempFolder folder;
    const std::string notAFolder = folder.File("plain");
    test::WriteFile(notAFolder, "x");
    EXPECT_EQ(StatusFileForWriting("/x/Tallyport.ini", {notAFolder, folder.File("run")}),
              folder.File("run") + "/" + StatusFileName("/x/Tallyport.ini"));
    EXPECT_EQ(StatusFileForWriting("/x/Tallyport.ini", {notAFolder}), "");
}

TEST(StatusFile, AReaderSeesAWholeDocumentAtEveryInstant) {
    TempFolder folder;
    const std::string path = folder.File("status.json");
    StatusFileHeader header;
    header.pid = 1;
    ASSERT_TRUE(WriteStatusFile(path, StatusJson(header, {})));
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> bad{0};
    std::string badText;
    std::thread reader([&] {
        while (!done.load()) {
            const std::string text = ReadFile(path);
            if (Parsed(text).isEmpty()) {
                if (bad++ == 0) {
                    badText = text;
                }
            }
            ++reads;
        }
    });
    // Documents of very different lengths, so that a torn read could not pass for whole.
    for (int i = 0; i < 300; ++i) {
        std::vector<RegisterStatus> regs;
        for (int n = 0; n < (i % 7) * 5; ++n) {
            regs.push_back(Reg(n, PortState::Open, std::chrono::seconds(i)));
        }
        header.written = i;
        ASSERT_TRUE(WriteStatusFile(path, StatusJson(header, regs)));
    }
    done = true;
    reader.join();
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(bad.load(), 0) << badText;
    EXPECT_EQ(Parsed(ReadFile(path))["written"].toInteger(), 299);
    // No temporary file is left beside it.
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"status.json"});
}

TEST(ProcessIdentity, TellsThisProcessFromAGoneOne) {
    const auto self = ProcessStart(::getpid());
    ASSERT_TRUE(self.has_value());
    EXPECT_TRUE(ProcessRunning(::getpid(), *self));
    EXPECT_FALSE(ProcessRunning(::getpid(), *self + 1)) << "same number, another start";
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    EXPECT_FALSE(ProcessStart(child).has_value());
    EXPECT_FALSE(ProcessStart(0).has_value());
    EXPECT_FALSE(ProcessStart(-5).has_value());
}

TEST(StatusMonitorNotices, AHeldRegisterIsLeftToTheJournalsOwnNoticesAndTheFileSaysSo) {
    TempFolder folder;
    NoticeRecorder notices;
    const std::string file = folder.File("status.json");
    StatusMonitor monitor(notices, file, StatusFileHeader{});
    auto now = Clock::now();
    monitor.Update({Reg(1, PortState::Open), Reg(2, PortState::Open)}, true, now);
    now += 1s;
    monitor.Update({Reg(1, PortState::Open), Held(2)}, true, now);
    QJsonObject doc = Parsed(ReadFile(file));
    EXPECT_TRUE(doc["registers"].toArray()[1].toObject()["journal_held"].toBool(false));
    EXPECT_EQ(StatusSummary(monitor.Last()), "1 casa conectata, 1 casa cu jurnal nescris");
    now += 1s;
    monitor.Update({Reg(1, PortState::Open), Reg(2, PortState::Open)}, true, now);
    doc = Parsed(ReadFile(file));
    EXPECT_FALSE(doc["registers"].toArray()[1].toObject()["journal_held"].toBool(true));
    // The journal tells its failure and its return itself; told here too, each would be twice.
    EXPECT_TRUE(notices.Notices().empty());
}

// Real workers on simulated registers, looked at by the monitor as the window does.
class Monitored : public ::testing::Test {
protected:
    std::unique_ptr<TSerialThread> Worker(const std::string& port, int n) {
        auto w = std::make_unique<TSerialThread>(ThreadPriority::Normal, LinkOptions{}, notices_);
        w->Link().CommPort = port;
        w->Link().LogicalNb = n;
        w->Link().TranRate = 9600;
        return w;
    }
    // Looks every 50 ms until `done` holds for the file's document or `timeout` passes; the
    // file is written at most once a second, so the monitor is given a clock that moves on.
    bool LookUntil(StatusMonitor& monitor, const std::function<bool(const QJsonObject&)>& done,
                   std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (Clock::now() < deadline) {
            fakeNow_ += 1s;
            monitor.Update(CollectStatus(workers_, Clock::now()), true, fakeNow_);
            if (done(Parsed(ReadFile(monitor.StatusFile())))) {
                return true;
            }
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }
    static std::function<bool(const QJsonObject&)> StateIs(int index, const char* state) {
        return [index, state](const QJsonObject& doc) {
            return doc["registers"].toArray()[index].toObject()["state"].toString() == state;
        };
    }
    std::vector<test::Notice> NoticesTitled(const std::string& title) const {
        std::vector<test::Notice> found;
        for (const auto& n : notices_.Notices()) {
            if (n.title == title) {
                found.push_back(n);
            }
        }
        return found;
    }

    TempFolder folder_;
    NoticeRecorder notices_;
    std::vector<std::unique_ptr<TSerialThread>> workers_;
    Clock::time_point fakeNow_ = Clock::now();
};

TEST_F(Monitored, APortThatVanishesAndReturnsIsToldOnceEachWayAndTheFileFollows) {
    const std::string link = folder_.File("ecr1");
    sim::EcrSimulator reg1(sim::EcrSimulator::Options{1, link, {}});
    sim::EcrSimulator reg2(2);
    workers_.push_back(Worker(link, 1));
    workers_.push_back(Worker(reg2.PortName(), 2));
    ASSERT_TRUE(workers_[0]->StartLink());
    ASSERT_TRUE(workers_[1]->StartLink());
    const std::string file = folder_.File("run") + "/status.json";
    ::mkdir(folder_.File("run").c_str(), 0755);
    {
        StatusMonitor monitor(notices_, file, StatusFileHeader{});
        ASSERT_TRUE(LookUntil(monitor, StateIs(0, "open"), 2s));
        EXPECT_EQ(StatusSummary(monitor.Last()), "2 case conectate");
        EXPECT_TRUE(notices_.Notices().empty());

        reg1.Unplug();
        ASSERT_TRUE(LookUntil(monitor, StateIs(0, "lost"), 3s));
        EXPECT_EQ(StatusSummary(monitor.Last()), "1 casa conectata, 1 port pierdut");
        // Further looks while it stays away tell nothing more.
        LookUntil(
            monitor, [](const QJsonObject&) { return false; }, 1200ms);
        auto lost = NoticesTitled("Casa 1: port pierdut");
        ASSERT_EQ(lost.size(), 1u);
        EXPECT_NE(lost[0].text.find(link), std::string::npos) << lost[0].text;
        EXPECT_EQ(lost[0].icon, NoticeIcon::Warning);

        reg1.Plug();
        ASSERT_TRUE(LookUntil(monitor, StateIs(0, "open"), 4s));
        LookUntil(
            monitor, [](const QJsonObject&) { return false; }, 300ms);
        auto back = NoticesTitled("Casa 1: port revenit");
        ASSERT_EQ(back.size(), 1u);
        EXPECT_EQ(back[0].text, "Portul " + link + " functioneaza din nou.");
        EXPECT_EQ(NoticesTitled("Casa 1: port pierdut").size(), 1u);
        EXPECT_EQ(notices_.Notices().size(), 2u) << "the other register told nothing";
        const QJsonObject doc = Parsed(ReadFile(file));
        EXPECT_EQ(doc["registers"].toArray()[0].toObject()["losses"].toInteger(), 1);
        EXPECT_EQ(doc["registers"].toArray()[1].toObject()["state"].toString(), "open");

        // Stopping is the user's doing: no notice, and the file says stopped.
        for (auto& w : workers_) {
            w->StopLink();
        }
        ASSERT_TRUE(LookUntil(monitor, StateIs(1, "stopped"), 1s));
        EXPECT_EQ(notices_.Notices().size(), 2u);
    }
    // The monitor's end takes the file with it.
    EXPECT_EQ(ReadFile(file), "");
}

TEST_F(Monitored, APortThatCannotOpenIsToldOnceTriedAgainAndToldWhenItOpens) {
    const std::string late = folder_.File("usb-late");
    sim::EcrSimulator reg1(
        sim::EcrSimulator::Options{.logicalNb = 1, .linkPath = late, .plugged = false});
    sim::EcrSimulator reg2(2);
    workers_.push_back(Worker(late, 1));
    workers_.push_back(Worker(reg2.PortName(), 2));
    ASSERT_TRUE(workers_[0]->StartLink());
    ASSERT_TRUE(workers_[1]->StartLink());
    StatusMonitor monitor(notices_, folder_.File("status.json"), StatusFileHeader{});
    ASSERT_TRUE(LookUntil(monitor, StateIs(0, "could_not_open"), 2s));
    LookUntil(
        monitor, [](const QJsonObject&) { return false; }, 1500ms);  // attempts fail meanwhile
    const auto told = notices_.Notices();
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].title, "Casa 1: port nedeschis");
    EXPECT_EQ(told[0].text, "Portul " + late +
                                " nu poate fi deschis (No such file or directory). Se incearca "
                                "din nou in fiecare secunda.");
    EXPECT_EQ(told[0].icon, NoticeIcon::Error);
    const QJsonObject doc = Parsed(ReadFile(monitor.StatusFile()));
    EXPECT_EQ(doc["registers"].toArray()[0].toObject()["last_error"].toString(),
              "No such file or directory");
    EXPECT_EQ(StatusExitCode(monitor.Last()), 1);
    EXPECT_EQ(StatusSummary(monitor.Last()), "1 casa conectata, 1 port care nu se deschide");
    EXPECT_EQ(GridStatusText(monitor.Last()[0]), "nu se deschide, se reincearca, nici un cadru");
    EXPECT_EQ(GridStatusTip(monitor.Last()[0]), "No such file or directory");

    reg1.Plug();
    ASSERT_TRUE(LookUntil(monitor, StateIs(0, "open"), 4s));
    const auto opened = NoticesTitled("Casa 1: port deschis");
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].text, "Portul " + late + " s-a deschis; casa este servita.");
    EXPECT_EQ(opened[0].icon, NoticeIcon::Information);
    EXPECT_EQ(Parsed(ReadFile(monitor.StatusFile()))["registers"]
                  .toArray()[0]
                  .toObject()["last_error"]
                  .toString("x"),
              "");
    EXPECT_EQ(StatusExitCode(monitor.Last()), 0);
    EXPECT_EQ(notices_.Notices().size(), 2u);
    for (auto& w : workers_) {
        w->StopLink();
    }
}

TEST_F(Monitored, APortLostAndBackBetweenTwoLooksIsToldOnceAndItsErrorGoes) {
    const std::string link = folder_.File("ecr1");
    sim::EcrSimulator reg1(sim::EcrSimulator::Options{.logicalNb = 1, .linkPath = link});
    workers_.push_back(Worker(link, 1));
    ASSERT_TRUE(workers_[0]->StartLink());
    StatusMonitor monitor(notices_, folder_.File("status.json"), StatusFileHeader{});
    ASSERT_TRUE(LookUntil(monitor, StateIs(0, "open"), 2s));

    // Between this look and the next, the adapter goes away and comes back.
    const TSerialExtended& served = workers_[0]->Link();
    reg1.Unplug();
    const auto deadline = Clock::now() + 5s;
    while (served.Status.Snapshot().losses == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_EQ(served.Status.Snapshot().losses, 1u);
    EXPECT_FALSE(served.Status.Snapshot().portError.empty());
    const std::size_t polls = reg1.PollCount();
    reg1.Plug();
    ASSERT_TRUE(reg1.WaitForPolls(polls + 2, 4s));
    ASSERT_TRUE(LookUntil(monitor, StateIs(0, "open"), 1s));
    LookUntil(
        monitor, [](const QJsonObject&) { return false; }, 300ms);

    const auto back = NoticesTitled("Casa 1: port revenit");
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].text, "Portul " + link + " a fost pierdut si functioneaza din nou.");
    EXPECT_EQ(NoticesTitled("Casa 1: port pierdut").size(), 0u) << "one notice for both";
    EXPECT_EQ(notices_.Notices().size(), 1u);
    // The error went with the fault: grid, file and table show none.
    EXPECT_EQ(ErrorText(monitor.Last()[0]), "");
    EXPECT_EQ(GridStatusText(monitor.Last()[0]).rfind("conectata, ", 0), 0u)
        << GridStatusText(monitor.Last()[0]);
    const QJsonObject r =
        Parsed(ReadFile(monitor.StatusFile()))["registers"].toArray()[0].toObject();
    EXPECT_EQ(r["last_error"].toString("x"), "");
    EXPECT_EQ(r["losses"].toInteger(), 1);
    workers_[0]->StopLink();
}

TEST_F(Monitored, FileWrittenAtMostOnceASecondAndLastFrameAgeMoves) {
    sim::EcrSimulator reg(3);
    workers_.push_back(Worker(reg.PortName(), 3));
    ASSERT_TRUE(workers_[0]->StartLink());
    const std::string file = folder_.File("status.json");
    StatusMonitor monitor(notices_, file, StatusFileHeader{});
    const auto t0 = Clock::now();
    monitor.Update(CollectStatus(workers_, Clock::now()), true, t0);
    const std::string first = ReadFile(file);
    ASSERT_FALSE(first.empty());
    ASSERT_TRUE(reg.Exchange("S;X;5", 2s).acked);
    // Within the second: the view moves on, the file does not.
    monitor.Update(CollectStatus(workers_, Clock::now()), true, t0 + 900ms);
    EXPECT_TRUE(monitor.Last()[0].lastFrameAge.has_value());
    EXPECT_EQ(ReadFile(file), first);
    monitor.Update(CollectStatus(workers_, Clock::now()), true, t0 + 1s);
    const QJsonObject doc = Parsed(ReadFile(file));
    EXPECT_EQ(doc["registers"].toArray()[0].toObject()["last_frame_age_s"].toInteger(-1), 0);
    // Two seconds later the age says so.
    EXPECT_EQ(CollectStatus(workers_, Clock::now() + 2s)[0].lastFrameAge, 2s);
    workers_[0]->StopLink();
}

TEST(LongPortName, AWorkerBuiltFromTheListOpensAPortNamedWith80Characters) {
    TempFolder dir;
    test::UseSettingsIn(dir);
    test::WriteFile(AppSettings.PLU, "");
    // A stable-looking name that makes the whole path exactly 80 characters.
    const std::string head = dir.Path().string() + "/usb-FTDI_FT232R_USB_UART_";
    const std::string tail = "-if00-port0";
    ASSERT_LT(head.size() + tail.size(), 80u);
    const std::string port = head + std::string(80 - head.size() - tail.size(), 'A') + tail;
    ASSERT_EQ(port.size(), 80u);
    sim::EcrSimulator reg(sim::EcrSimulator::Options{7, port, {}});
    test::WriteFile(AppSettings.ECRList, test::RegisterLine(7, port));

    test::FakeView view;
    test::FakeDialogs dialogs;
    NoticeRecorder notices;
    TConnectionControl control(dir.File("Tallyport.ini"), view, dialogs, notices, nullptr);
    ASSERT_EQ(control.TrayStartup(), TConnectionControl::StartupResult::Running);
    EXPECT_TRUE(Connected);
    ASSERT_EQ(control.ECRThreads().size(), 1u);
    EXPECT_EQ(control.ECRThreads()[0]->Link().CommPort, port);
    EXPECT_TRUE(reg.WaitForPolls(3, 5s));
    const auto status = CollectStatus(control.ECRThreads(), Clock::now());
    EXPECT_EQ(status[0].state, PortState::Open);
    EXPECT_EQ(status[0].port, port);
    // Written back whole at the exit.
    ASSERT_TRUE(control.CloseQuery(false));
    EXPECT_EQ(ReadFile(AppSettings.ECRList), test::RegisterLine(7, port));
}

}  // namespace
}  // namespace tallyport
