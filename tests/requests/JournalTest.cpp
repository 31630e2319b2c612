// What the registers were told survives the program: real workers serving simulated registers,
// with the journal beside the output files. A restart restores the pending lines and the working
// fields; a program killed at each point of a closing's commit writes that receipt exactly once
// after its restart (also when the register sends the closing again because it never saw the
// acknowledgement); a journal that cannot be written leaves the register without an
// acknowledgement, unpolled, shown as held by its journal and the user told, until it can be
// written again; an unreadable closing is kept and reported.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "RequestFixture.h"
#include "control/RegisterStatus.h"
#include "control/StatusText.h"
#include "requests/Journalling.h"
#include "support/ScratchMount.h"

namespace tallyport::testing {
namespace {

using sim::PcKind;

const std::string kPaine42 = "0003,01,0042,0000000000123,00000025,3,+0000001000,Paine" +
                             std::string(35, ' ') + ",01,1,00012,06/12/26,21:50";
const std::string kPaine43 = "0003,01,0043,0000000000123,00000025,3,+0000001000,Paine" +
                             std::string(35, ' ') + ",01,1,00012,06/12/26,21:50";
const std::string kClosing42 =
    "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012";
const std::string kClosing43 =
    "0003,01,0043,0,0,0000000250,0000000250,3,0000000000000,21:50,06/12/26,00012";
const std::string kClose42 = ClosingBody("0", "1", "42", "12", "2.5", "5");
const std::string kClose43 = ClosingBody("0", "1", "43", "12", "2.5", "2.5");

std::string Field(const std::string& line, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = line.find(',', start) + 1;
    }
    return line.substr(start, line.find(',', start) - start);
}

class Journalled : public RequestTest {
protected:
    ~Journalled() override {
        registers_.clear();  // the workers first: they use the journal
        context_.UseJournal(nullptr);
    }

    std::string JournalFolder() const { return folder_.File("Tallyport.journal"); }

    // Opens the journal as the start-up does and reads it back.
    void OpenJournal(ReceiptJournal::CrashHook hook = {}) {
        context_.UseJournal(nullptr);
        journal_ = std::make_unique<ReceiptJournal>(JournalFolder(), notices_, std::move(hook));
        loaded_ = journal_->Load();
        context_.UseJournal(journal_.get());
    }

    // The register as the program has it after a start: its journal's lines and fields restored.
    SimulatedRegister& StartRegister(RegisterOptions options = {}) {
        options.beforeStart = [this](TSerialExtended& link) {
            RestoreFromJournal(loaded_, {&link}, context_, notices_);
        };
        return AddRegister(options);
    }

    // The program goes away: its workers stop, its journal writes what it queued.
    void StopProgram() {
        registers_.clear();
        context_.UseJournal(nullptr);
        journal_.reset();
    }

    void ExpectPaddedAck(const sim::ExchangeResult& result) {
        EXPECT_TRUE(result.acked);
        ASSERT_TRUE(result.response) << "no padded acknowledgement";
        EXPECT_EQ(result.response->kind, PcKind::PaddedAck);
    }

    std::unique_ptr<ReceiptJournal> journal_;
    ReceiptJournal::Loaded loaded_;
};

TEST_F(Journalled, ARestartKeepsTheOpenReceiptAndTheFieldsLaterLinesNeed) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        auto card = Request(reg, CardBody("4111", "2.5"));
        ASSERT_TRUE(card.response);
        EXPECT_EQ(card.response->text, "PLATA CARD;;;;;");
        ASSERT_EQ(reg.PendingTran().size(), 1u);
    }
    StopProgram();
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
    EXPECT_EQ(reg.Field(&RequestFields::CommaText), "3");
    // The discount takes the department, VAT group and decimals code of the article sold before
    // the restart; the closing its decimals code and card reference.
    Request(reg, DiscountBody("12.34", "-10.00"));
    ExpectPaddedAck(Request(reg, kClose42));
    const auto tran = ReadCrLfLines(TranPath());
    ASSERT_EQ(tran.size(), 2u);
    EXPECT_EQ(tran[0], kPaine42);
    EXPECT_EQ(Field(tran[1], 4), "9999999999999");
    EXPECT_EQ(Field(tran[1], 6), "3");
    EXPECT_EQ(Field(tran[1], 9), "01");
    EXPECT_EQ(Field(tran[1], 10), "1");
    const auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 1u);
    EXPECT_EQ(Field(bon[0], 6), "0000000250");  // scaled by the decimals code 3
    EXPECT_EQ(Field(bon[0], 9), "0000000004111");
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(reg.PendingBon().empty());
}

TEST_F(Journalled, ASaleConfirmedAfterItsWaitIsJournalledLikeAnyOther) {
    OpenJournal();
    {
        RegisterOptions late;
        late.confirmation = sim::Confirmation{.enabled = true, .delayMs = 140};
        auto& reg = StartRegister(late);
        Request(reg, ArticleRequestBody("123"));
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (reg.PendingTran().empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
        EXPECT_EQ(reg.Link().Status.Snapshot().lateSales, 1u);
    }
    StopProgram();
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
    ExpectPaddedAck(Request(reg, kClose42));
    EXPECT_EQ(ReadCrLfLines(TranPath()), std::vector<std::string>{kPaine42});
}

TEST_F(Journalled, ARegisterThatToldTheJournalNothingYetIsServedOn) {
    OpenJournal();
    auto& reg = StartRegister();
    // Nothing to keep from these: an unknown article, a void of nothing, a type without handler.
    Request(reg, ArticleRequestBody("999"));
    Request(reg, sim::Answer::Frame("S1;X;B;"));
    Request(reg, sim::Answer::Frame("S1;X;5;"));
    const auto sale = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(sale.sent);
    ASSERT_TRUE(sale.response);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
}

TEST_F(Journalled, AVoidAndAnEmptyReceiptReachTheJournal) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        Request(reg, ArticleRequestBody("123", "2.000"));
        Request(reg, sim::Answer::Frame("S1;X;B;"));
        ASSERT_EQ(reg.PendingTran().size(), 1u);
    }
    StopProgram();
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
}

// ---- crash points ----------------------------------------------------------------------

struct CrashPoint {
    const char* name;
    bool inWriter;                 // a point of the journal's writer thread (else of the closing)
    bool beforeAck;                // the register never saw its padded acknowledgement
    bool powerCut = false;         // what was not synced is gone too (the last journal line)
    std::size_t tornBonBytes = 0;  // a part of the closing line reached the file before the kill
};

std::ostream& operator<<(std::ostream& out, const CrashPoint& p) {
    return out << p.name << (p.powerCut ? " (power cut)" : "")
               << (p.tornBonBytes ? " (torn append)" : "");
}

class KilledInAClosing : public Journalled, public ::testing::WithParamInterface<CrashPoint> {};

TEST_P(KilledInAClosing, TheReceiptIsWrittenExactlyOnce) {
    const CrashPoint point = GetParam();
    // The program runs in a child process that kills itself at the point; the test is the
    // register that goes on afterwards with a restarted program.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto armed = std::make_shared<std::atomic<bool>>(false);
        auto hook = [armed, name = std::string(point.name)](std::string_view at) {
            if (armed->load() && at == name) {
                ::kill(::getpid(), SIGKILL);
            }
        };
        OpenJournal(point.inWriter ? ReceiptJournal::CrashHook(hook) : nullptr);
        if (!point.inWriter) {
            context_.SetCrashHook(hook);
        }
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        armed->store(true);
        Request(reg, kClose42);
        Request(reg, ArticleRequestBody("123"));  // the compaction's points come after the closing
        std::this_thread::sleep_for(2s);
        ::_exit(0);  // the point was never reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the program never reached " << point.name;
    ASSERT_EQ(WTERMSIG(status), SIGKILL);

    const std::string journalFile = JournalFolder() + "/ECR3.txt";
    if (point.powerCut) {
        // Only the last record was not synced: the power cut takes it.
        std::string bytes = ReadFile(journalFile);
        ASSERT_FALSE(bytes.empty());
        bytes.pop_back();
        WriteFile(journalFile, bytes.substr(0, bytes.rfind('\n') + 1));
    }
    if (point.tornBonBytes > 0) {
        WriteFile(BonPath(),
                  ReadFile(BonPath()) + (kClosing42 + "\r\n").substr(0, point.tornBonBytes));
    }

    OpenJournal();
    auto& reg = StartRegister();
    if (point.beforeAck) {
        // The register did not see its acknowledgement and closes again (numbering the
        // transmission anew in the second field).
        std::string again = kClose42;
        again.replace(again.find(";X;"), 3, ";77;");
        ExpectPaddedAck(Request(reg, again));
    }
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(reg.PendingBon().empty());
    // The next receipt goes on as usual.
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, kClose43));

    EXPECT_EQ(ReadCrLfLines(BonPath()), (std::vector<std::string>{kClosing42, kClosing43}));
    EXPECT_EQ(ReadCrLfLines(TranPath()), (std::vector<std::string>{kPaine42, kPaine43}));
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n" + kClosing43 + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, KilledInAClosing,
    ::testing::Values(CrashPoint{"journal written, not synced", true, true},
                      CrashPoint{"journal written, not synced", true, true, true},
                      CrashPoint{"closing journalled, not acknowledged", false, true},
                      CrashPoint{"acknowledged, not appended", false, false},
                      CrashPoint{"appends journalled, not written", false, false},
                      CrashPoint{"appends journalled, not written", false, false, false, 30},
                      CrashPoint{"receipt-closing file written", false, false},
                      CrashPoint{"transaction file written", false, false},
                      CrashPoint{"closing done, not compacted", true, false},
                      CrashPoint{"compaction written, not renamed", true, false}));

// ---- a closing sent twice in normal running is two payments ------------------------------

TEST_F(Journalled, TheSameClosingTwiceWithoutARestartIsWrittenTwice) {
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, kClose42));
    ExpectPaddedAck(Request(reg, kClose42));
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 2u);
}

TEST_F(Journalled, AfterARestartOnlyTheVeryNextIdenticalClosingIsTakenAsRepeated) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        ExpectPaddedAck(Request(reg, kClose42));
    }
    StopProgram();
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));  // the register went on: it had its acknowledgement
    ExpectPaddedAck(Request(reg, kClose42));  // a new receipt that happens to look the same
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 2u);
    EXPECT_EQ(ReadCrLfLines(TranPath()).size(), 2u);
}

// ---- a journal that cannot be written ------------------------------------------------------

TEST_F(Journalled, AJournalThatCannotBeWrittenGetsNoAcknowledgementAndTheUserIsTold) {
    test::ScratchMounts fs;
    if (!fs.MountTmpfs(JournalFolder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(fs.SetReadOnly(JournalFolder(), true));

    const auto refused = reg.sim->Exchange(sim::Answer::Frame(kClose42), 3s);
    EXPECT_TRUE(refused.acked);
    EXPECT_FALSE(refused.response) << "acknowledged a closing the journal does not hold";
    bool told = false;
    for (const auto& n : notices_.Notices()) {
        told = told || n.text.find("Jurnalul casei 3") != std::string::npos;
    }
    EXPECT_TRUE(told);
    EXPECT_EQ(ReadFile(BonPath()), "");
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});

    ASSERT_TRUE(fs.SetReadOnly(JournalFolder(), false));
    // The register closes again; now it is kept, acknowledged and written once.
    ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 10s));
    ExpectPaddedAck(Request(reg, kClose42));
    EXPECT_EQ(ReadCrLfLines(BonPath()), std::vector<std::string>{kClosing42});
    EXPECT_EQ(ReadCrLfLines(TranPath()), std::vector<std::string>{kPaine42});
}

// Fills the file system that holds `folder` to its last byte with one file; "" when it cannot.
std::string FillFileSystem(const std::string& folder) {
    const std::string filler = folder + "/filler";
    std::FILE* f = std::fopen(filler.c_str(), "wb");
    if (f == nullptr) {
        return {};
    }
    const std::string block(1024, 'x');
    while (std::fwrite(block.data(), 1, block.size(), f) == block.size()) {
    }
    while (std::fputc('x', f) != EOF) {
    }
    std::fclose(f);
    return filler;
}

// Waits until `done` holds for the register's status as the shell sees it; false after `timeout`.
bool StatusBecomes(SimulatedRegister& reg, const std::function<bool(const RegisterStatus&)>& done,
                   std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done(StatusOf(*reg.worker, std::chrono::steady_clock::now()))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<test::Notice> NoticesWith(const std::vector<test::Notice>& all,
                                      const std::string& part) {
    std::vector<test::Notice> found;
    for (const auto& n : all) {
        if (n.text.find(part) != std::string::npos) {
            found.push_back(n);
        }
    }
    return found;
}

// The notices that hold `part`, once there is one (the journal's writer tells them on its own
// thread, just after the change the worker sees); none after `timeout`.
std::vector<test::Notice> AwaitNoticesWith(const test::NoticeRecorder& notices,
                                           const std::string& part,
                                           std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto found = NoticesWith(notices.Notices(), part);
    while (found.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
        found = NoticesWith(notices.Notices(), part);
    }
    return found;
}

TEST_F(Journalled, AFullJournalHoldsTheRegisterVisiblyUntilSpaceIsFreed) {
    test::ScratchMounts fs;
    if (!fs.MountTmpfs(JournalFolder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    OpenJournal();
    auto& reg = StartRegister();
    ASSERT_TRUE(reg.sim->WaitForPolls(2, 3s));
    RegisterStatus served = StatusOf(*reg.worker, std::chrono::steady_clock::now());
    EXPECT_FALSE(served.journalHeld);
    EXPECT_EQ(StatusExitCode({served}), 0);
    // Full before the register's file has its first byte: no page of it is left to fill.
    const std::string filler = FillFileSystem(JournalFolder());
    ASSERT_FALSE(filler.empty());

    // The register is told of the sale; the journal cannot keep it.
    const auto sale = reg.sim->Exchange(sim::Answer::Frame(ArticleRequestBody("123")), 3s);
    ASSERT_TRUE(sale.sent);
    ASSERT_TRUE(sale.response) << "the article request was answered";
    ASSERT_TRUE(StatusBecomes(
        reg, [](const RegisterStatus& r) { return r.journalHeld; }, 5s))
        << GridStatusText(StatusOf(*reg.worker, std::chrono::steady_clock::now()));
    RegisterStatus held = StatusOf(*reg.worker, std::chrono::steady_clock::now());
    EXPECT_EQ(held.state, PortState::Open);
    EXPECT_NE(held.journalError.find(journal_->PathOf(3)), std::string::npos) << held.journalError;
    EXPECT_NE(held.journalError.find(std::strerror(ENOSPC)), std::string::npos)
        << held.journalError;
    EXPECT_EQ(GridStatusText(held).rfind("jurnal nescris, ultimul cadru acum ", 0), 0u)
        << GridStatusText(held);
    EXPECT_EQ(StatusSummary({held}), "1 casa cu jurnal nescris");
    EXPECT_EQ(StatusExitCode({held}), 1);
    // Held, not served: no poll while it lasts, and told once although the writer retries.
    const std::size_t polls = reg.sim->PollCount();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(reg.sim->PollCount(), polls);
    EXPECT_TRUE(StatusOf(*reg.worker, std::chrono::steady_clock::now()).journalHeld);
    EXPECT_EQ(AwaitNoticesWith(notices_, "Jurnalul casei 3 nu poate fi scris", 5s).size(), 1u);
    EXPECT_TRUE(NoticesWith(notices_.Notices(), "din nou").empty());

    std::filesystem::remove(filler);
    ASSERT_TRUE(StatusBecomes(
        reg, [](const RegisterStatus& r) { return !r.journalHeld; }, 10s));
    ASSERT_TRUE(reg.sim->WaitForPolls(polls + 1, 3s)) << "served again";
    served = StatusOf(*reg.worker, std::chrono::steady_clock::now());
    EXPECT_EQ(served.journalError, "");
    EXPECT_EQ(GridStatusText(served).rfind("conectata, ultimul cadru acum ", 0), 0u)
        << GridStatusText(served);
    EXPECT_EQ(StatusExitCode({served}), 0);
    EXPECT_NE(ReadFile(journal_->PathOf(3)).find("Paine"), std::string::npos);
    // The return is told once, as the failure was.
    const auto back = AwaitNoticesWith(notices_, "poate fi scris din nou", 5s);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].title, "Casa 3: jurnal scris din nou");
    EXPECT_EQ(back[0].text, "Jurnalul casei 3 poate fi scris din nou; casa este servita din nou.");
    EXPECT_EQ(back[0].icon, NoticeIcon::Information);
    EXPECT_EQ(NoticesWith(notices_.Notices(), "Jurnalul casei 3 nu poate fi scris").size(), 1u);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
}

// ---- a closing that cannot be read -------------------------------------------------------

TEST_F(Journalled, AnUnreadableClosingIsKeptInTheJournalAndReported) {
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));
    const std::string bad = ClosingBody("0", "1", "42", "12", "2,5x", "5");
    ExpectPaddedAck(Request(reg, bad));  // the register believes its receipt recorded
    bool told = false;
    for (const auto& n : notices_.Notices()) {
        told = told || (n.text.find("nu poate fi citita") != std::string::npos &&
                        n.text.find(journal_->PathOf(3)) != std::string::npos);
    }
    EXPECT_TRUE(told);
    EXPECT_EQ(ReadFile(BonPath()), "");
    // Its lines stay, with its receipt's numbers, and its frame is in the journal.
    ASSERT_EQ(reg.PendingTran().size(), 1u);
    EXPECT_EQ(Field(reg.PendingTran()[0], 3), "0042");
    StopProgram();
    OpenJournal();
    ASSERT_EQ(loaded_.registers.count(3), 1u);
    ASSERT_EQ(loaded_.registers.at(3).unreadableClosings.size(), 1u);
    EXPECT_NE(loaded_.registers.at(3).unreadableClosings[0].find("2,5x"), std::string::npos);
}

// ---- a closing whose append fails -------------------------------------------------------

TEST_F(Journalled, AClosingWhoseAppendFailedIsWrittenWithTheNextOneAndSurvivesARestart) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        Request(reg, sim::Answer::Frame("S1;X;B;"));   // voided: no transaction line left
        std::filesystem::create_directory(BonPath());  // the closing file cannot be written
        ExpectPaddedAck(Request(reg, kClose42));
        EXPECT_EQ(reg.PendingBon().size(), 1u);  // an open receipt for disconnect and exit
    }
    StopProgram();
    std::filesystem::remove(BonPath());
    OpenJournal();
    auto& reg = StartRegister();
    // The restart wrote it already; the next closing writes its own.
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 1u);
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, kClose43));
    const auto bon = ReadCrLfLines(BonPath());
    ASSERT_EQ(bon.size(), 2u);
    EXPECT_EQ(Field(bon[0], 3), "0042");
    EXPECT_EQ(bon[1], kClosing43);
}

TEST_F(Journalled, ARegisterNoLongerInTheListKeepsItsLinesAndTheUserIsTold) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
    }
    StopProgram();
    OpenJournal();
    RestoreFromJournal(loaded_, {}, context_, notices_);
    bool told = false;
    for (const auto& n : notices_.Notices()) {
        told = told || (n.text.find("Casa 3 nu mai este") != std::string::npos &&
                        n.text.find(journal_->PathOf(3)) != std::string::npos);
    }
    EXPECT_TRUE(told);
    EXPECT_NE(ReadFile(journal_->PathOf(3)).find("Paine"), std::string::npos);
}

}  // namespace
}  // namespace tallyport::testing
