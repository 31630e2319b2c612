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
#include <tuple>

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
std::string kClose41() {
    return ClosingBody("0", "1", "41", "12", "2.5", "2.5");
}

std::string Field(const std::string& line, int n) {
    std::size_t start = 0;
    for (int i = 1; i < n; ++i) {
        start = line.find(',', start) + 1;
    }
    return line.substr(start, line.find(',', start) - start);
}

std::vector<test::Notice> NoticesWith(const std::vector<test::Notice>& all,
                                      const std::string& part);

bool StatusBecomes(SimulatedRegister& reg, const std::function<bool(const RegisterStatus&)>& done,
                   std::chrono::milliseconds timeout);

// Registers whose workers keep what they were told in a journal, as the program's do.
class JournalFixture : public RequestTest {
protected:
    ~JournalFixture() override {
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

    // What a killed run does at its point before it dies.
    struct KillAt {
        int occurrence = 1;                // the point's n-th time
        std::function<void()> beforeKill;  // e.g. the bytes a write had put in a file
    };

    // Runs `program` in a child process, with the journal opened and the crash hooks armed for
    // `point` (set before any worker runs), and kills the child when it gets there. True when
    // it was killed there; false when the program ended without reaching it.
    bool RunKilledAt(const std::string& point, const std::function<void()>& program) {
        return RunKilledAt(point, program, KillAt{1, nullptr});
    }
    bool RunKilledAt(const std::string& point, const std::function<void()>& program, KillAt kill) {
        const pid_t child = fork();
        if (child < 0) {
            ADD_FAILURE() << "fork: " << std::strerror(errno);
            return false;
        }
        if (child == 0) {
            auto seen = std::make_shared<std::atomic<int>>(0);
            auto hook = [point, kill, seen](std::string_view at) {
                if (at == point && ++*seen == kill.occurrence) {
                    if (kill.beforeKill) {
                        kill.beforeKill();
                    }
                    ::kill(::getpid(), SIGKILL);
                }
            };
            OpenJournal(hook);
            context_.SetCrashHook(hook);
            program();
            std::this_thread::sleep_for(500ms);  // the writer's points come after the worker's
            ::_exit(0);
        }
        int status = 0;
        if (::waitpid(child, &status, 0) != child) {
            ADD_FAILURE() << "waitpid: " << std::strerror(errno);
            return false;
        }
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    std::string ListPath() const { return JournalFolder() + "/DeVerificat.txt"; }

    std::unique_ptr<ReceiptJournal> journal_;
    ReceiptJournal::Loaded loaded_;
};

class Journalled : public InEveryLineMode<JournalFixture> {};

TEST_P(Journalled, ARestartKeepsTheOpenReceiptAndTheFieldsLaterLinesNeed) {
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

TEST_P(Journalled, ASaleConfirmedAfterItsWaitIsJournalledLikeAnyOther) {
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

TEST_P(Journalled, ARegisterThatToldTheJournalNothingYetIsServedOn) {
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

TEST_P(Journalled, AVoidAndAnEmptyReceiptReachTheJournal) {
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

class KilledInAClosing : public JournalFixture,
                         public ::testing::WithParamInterface<std::tuple<CrashPoint, LineMode>> {
protected:
    KilledInAClosing() { lineMode_ = std::get<LineMode>(GetParam()); }
};

TEST_P(KilledInAClosing, TheReceiptIsWrittenExactlyOnce) {
    const CrashPoint point = std::get<CrashPoint>(GetParam());
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
    // The files showed where the receipt stood: nothing for the back office to check.
    EXPECT_FALSE(std::filesystem::exists(ListPath())) << ReadFile(ListPath());
}

INSTANTIATE_TEST_SUITE_P(
    EveryPoint, KilledInAClosing,
    ::testing::Combine(
        ::testing::Values(CrashPoint{"journal written, not synced", true, true},
                          CrashPoint{"journal written, not synced", true, true, true},
                          CrashPoint{"closing journalled, not acknowledged", false, true},
                          CrashPoint{"acknowledged, not appended", false, false},
                          CrashPoint{"appends journalled, not written", false, false},
                          CrashPoint{"appends journalled, not written", false, false, false, 30},
                          CrashPoint{"receipt-closing file written", false, false},
                          CrashPoint{"transaction file written", false, false},
                          CrashPoint{"closing done, not compacted", true, false},
                          CrashPoint{"compaction written, not renamed", true, false}),
        EveryLineMode()));

// ---- a restart interrupted, again and again --------------------------------------------

struct RestartKill {
    const char* first;    // where the program died in the closing
    const char* restart;  // where each of the next two starts dies while completing it
};

std::ostream& operator<<(std::ostream& out, const RestartKill& k) {
    return out << k.first << " / " << k.restart;
}

class KilledInARestart : public JournalFixture,
                         public ::testing::WithParamInterface<std::tuple<RestartKill, LineMode>> {
protected:
    KilledInARestart() { lineMode_ = std::get<LineMode>(GetParam()); }
};

TEST_P(KilledInARestart, TheReceiptIsWrittenExactlyOnce) {
    const RestartKill kill = std::get<RestartKill>(GetParam());
    ASSERT_TRUE(RunKilledAt(kill.first,
                            [this] {
                                auto& reg = StartRegister();
                                Request(reg, ArticleRequestBody("123"));
                                Request(reg, kClose42);
                            }))
        << "the program never reached " << kill.first;
    // Twice in a row at the same step of the restart's completion: each start goes on from
    // what the one before it journalled.
    for (int start = 0; start < 2; ++start) {
        const bool killed = RunKilledAt(kill.restart, [this] { StartRegister(); });
        if (start == 0) {
            ASSERT_TRUE(killed) << "the restart never reached " << kill.restart;
        }
    }
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_TRUE(reg.PendingBon().empty());
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, kClose43));
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n" + kClosing43 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n" + kPaine43 + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(ListPath())) << ReadFile(ListPath());
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, KilledInARestart,
    ::testing::Combine(
        ::testing::Values(
            RestartKill{"acknowledged, not appended", "restart: appends journalled, not written"},
            RestartKill{"acknowledged, not appended",
                        "restart: receipt-closing place known, not written"},
            RestartKill{"acknowledged, not appended", "restart: receipt-closing file written"},
            RestartKill{"acknowledged, not appended",
                        "restart: transaction place known, not written"},
            RestartKill{"acknowledged, not appended", "restart: transaction file written"},
            RestartKill{"appends journalled, not written",
                        "restart: receipt-closing place known, not written"},
            RestartKill{"appends journalled, not written", "restart: receipt-closing file written"},
            RestartKill{"appends journalled, not written",
                        "restart: transaction place known, not written"},
            RestartKill{"appends journalled, not written", "restart: transaction file written"}),
        EveryLineMode()));

TEST_P(Journalled, ARestartThatCanWriteOnlyTheClosingFileFinishesTheRestLater) {
    ASSERT_TRUE(RunKilledAt("acknowledged, not appended", [this] {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        Request(reg, kClose42);
    }));
    std::filesystem::create_directory(TranPath());  // the transaction file cannot be written
    OpenJournal();
    {
        auto& reg = StartRegister();
        EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
        // Told, with the file; the receipt's transaction lines stay pending.
        const auto told = NoticesWith(notices_.Notices(), "raman in asteptare");
        ASSERT_EQ(told.size(), 1u);
        EXPECT_NE(told[0].text.find(TranPath()), std::string::npos) << told[0].text;
        EXPECT_EQ(told[0].icon, NoticeIcon::Error);
        EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{kPaine42});
        EXPECT_TRUE(reg.PendingBon().empty());
    }
    StopProgram();
    std::filesystem::remove(TranPath());
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
}

// ---- an import between a crash and the restart -------------------------------------------

// Writes the closing's lines as the killed program would have, just before it died.
void AppendAsTheProgramDid(const std::string& bonPath, const std::string& tranPath) {
    WriteFile(bonPath, ReadFile(bonPath) + kClosing42 + "\r\n");
    WriteFile(tranPath, ReadFile(tranPath) + kPaine42 + "\r\n");
}

TEST_P(Journalled, AFileEmptiedBeforeTheRestartIsWrittenAgainAndListed) {
    // The program died with the receipt in both files but before its done-record; the back
    // office then imported and emptied the files. The register was told the receipt is
    // recorded, so it is written; the file cannot show it was not taken already: listed.
    ASSERT_TRUE(RunKilledAt(
        "appends journalled, not written",
        [this] {
            auto& reg = StartRegister();
            Request(reg, ArticleRequestBody("123"));
            Request(reg, kClose42);
        },
        KillAt{1, [this] { AppendAsTheProgramDid(BonPath(), TranPath()); }}));
    WriteFile(BonPath(), "");
    WriteFile(TranPath(), "");
    OpenJournal();
    StartRegister();
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
    const auto told = NoticesWith(notices_.Notices(), "poate exista deja");
    ASSERT_EQ(told.size(), 2u);  // one per file
    EXPECT_NE(told[0].text.find("bonul 0042 al casei 3"), std::string::npos) << told[0].text;
    EXPECT_NE(told[0].text.find(ListPath()), std::string::npos) << told[0].text;
    const auto listed = ReadCrLfLines(ListPath());
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].rfind("casa 3; bon 0042; suma 0000000250; inchis 06/12/26 21:50; "
                              "scris din nou 06/12/26 21:50; " +
                                  BonPath() + "; ",
                              0),
              0u)
        << listed[0];
    EXPECT_NE(listed[1].find(TranPath()), std::string::npos) << listed[1];
}

TEST_P(Journalled, AFileShorterThanRecordedAtTheRestartIsWrittenAgainAndListed) {
    ASSERT_TRUE(RunKilledAt(
        "appends journalled, not written",
        [this] {
            auto& reg = StartRegister();
            Request(reg, ArticleRequestBody("123"));
            ExpectPaddedAck(Request(reg, kClose41()));
            Request(reg, ArticleRequestBody("123"));
            Request(reg, kClose42);
        },
        KillAt{2, [this] { AppendAsTheProgramDid(BonPath(), TranPath()); }}));
    WriteFile(TranPath(), "");  // the transaction file imported; the closing file left
    OpenJournal();
    StartRegister();
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 2u) << "its closing line was proven there";
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
    const auto told = NoticesWith(notices_.Notices(), "poate exista deja");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_NE(told[0].text.find("mai scurt"), std::string::npos) << told[0].text;
    EXPECT_NE(told[0].text.find(TranPath()), std::string::npos) << told[0].text;
    ASSERT_EQ(ReadCrLfLines(ListPath()).size(), 1u);
}

TEST_P(Journalled, ATornTailOfZerosAtTheRecordedPlaceIsCutBack) {
    // The file system kept the append's new length but not its bytes: zeros where the
    // receipt's lines were going, which must not stay as a line of nobody's.
    ASSERT_TRUE(RunKilledAt("appends journalled, not written", [this] {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        Request(reg, kClose42);
    }));
    WriteFile(TranPath(), std::string(kPaine42.size() + 2, '\0'));
    OpenJournal();
    StartRegister();
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
    EXPECT_FALSE(std::filesystem::exists(ListPath()));
}

// ---- lines sold after a closing whose append failed ----------------------------------------

TEST_P(Journalled, LinesSoldAfterAClosingWhoseAppendFailedSurviveARestart) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        std::filesystem::create_directory(BonPath());  // the closing file cannot be written
        ExpectPaddedAck(Request(reg, kClose42));
        Request(reg, ArticleRequestBody("123"));  // the next receipt goes on
        ASSERT_EQ(reg.PendingTran(), (std::vector<std::string>{kPaine42, PainePendingLine()}));
    }
    StopProgram();  // killed or a power cut: a normal stop is refused with lines pending
    std::filesystem::remove(BonPath());
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
    ExpectPaddedAck(Request(reg, kClose43));
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n" + kClosing43 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n" + kPaine43 + "\r\n");
}

TEST_P(Journalled, LinesAfterAnUnreadableClosingThatFollowedAFailedAppendSurviveARestart) {
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        std::filesystem::create_directory(BonPath());
        ExpectPaddedAck(Request(reg, kClose42));
        Request(reg, ArticleRequestBody("123"));
        ExpectPaddedAck(Request(reg, ClosingBody("0", "1", "43", "12", "2,5x", "5")));
        Request(reg, ArticleRequestBody("123"));
        ASSERT_EQ(reg.PendingTran().size(), 3u);
    }
    StopProgram();
    std::filesystem::remove(BonPath());
    OpenJournal();
    auto& reg = StartRegister();
    EXPECT_EQ(ReadFile(BonPath()), kClosing42 + "\r\n");
    EXPECT_EQ(ReadFile(TranPath()), kPaine42 + "\r\n");
    // The unreadable receipt's line (with its numbers) and the sale after it stay pending.
    EXPECT_EQ(reg.PendingTran(), (std::vector<std::string>{kPaine43, PainePendingLine()}));
}

// ---- a closing sent twice in normal running is two payments ------------------------------

TEST_P(Journalled, TheSameClosingTwiceWithoutARestartIsWrittenTwice) {
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, kClose42));
    ExpectPaddedAck(Request(reg, kClose42));
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 2u);
}

TEST_P(Journalled, TwoEqualPaymentsAroundANormalStopAreBothWritten) {
    // Two vouchers of the same value pay one receipt: two closings, equal but for the second
    // field. The first one's acknowledgement had left the port before the stop, so after the
    // start the second one is a payment of its own, not the first one sent again.
    OpenJournal();
    {
        auto& reg = StartRegister();
        Request(reg, ArticleRequestBody("123"));
        ExpectPaddedAck(Request(reg, kClose42));
    }
    StopProgram();
    OpenJournal();
    auto& reg = StartRegister();
    std::string second = kClose42;
    second.replace(second.find(";X;"), 3, ";78;");
    ExpectPaddedAck(Request(reg, second));
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 2u);
}

TEST_P(Journalled, AfterARestartOnlyTheVeryNextIdenticalClosingIsTakenAsRepeated) {
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

TEST_P(Journalled, AJournalThatCannotBeWrittenGetsNoAcknowledgementAndTheUserIsTold) {
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

TEST_P(Journalled, AFullJournalHoldsTheRegisterVisiblyUntilSpaceIsFreed) {
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

TEST_P(Journalled, AFailingJournalFileHoldsBackOnlyItsOwnRegister) {
    OpenJournal();
    auto& held = StartRegister();
    RegisterOptions other;
    other.logicalNb = 4;
    other.beforeStart = [this](TSerialExtended& link) {
        RestoreFromJournal(loaded_, {&link}, context_, notices_);
    };
    auto& served = AddRegister(other);
    std::filesystem::create_directory(journal_->PathOf(3));  // register 3's file cannot be written
    ASSERT_TRUE(held.sim->Exchange(sim::Answer::Frame(ArticleRequestBody("123")), 3s).response);
    ASSERT_TRUE(StatusBecomes(
        held, [](const RegisterStatus& r) { return r.journalHeld; }, 5s));

    // Register 4's records go out at once: every closing is kept within its one-second limit
    // and acknowledged, while register 3's file is tried again and again.
    for (int receipt = 1; receipt <= 4; ++receipt) {
        Request(served, ArticleRequestBody("123"));
        const auto closed = served.sim->Exchange(
            sim::Answer::Frame(ClosingBody("0", "1", std::to_string(receipt), "12", "2.5", "2.5")),
            3s);
        ASSERT_TRUE(closed.response) << "receipt " << receipt << " not acknowledged";
        ASSERT_TRUE(served.sim->WaitForPolls(served.sim->PollCount() + 1, 3s));
    }
    EXPECT_EQ(ReadCrLfLines(BonPath()).size(), 4u);
    EXPECT_TRUE(StatusOf(*held.worker, std::chrono::steady_clock::now()).journalHeld);

    std::filesystem::remove(journal_->PathOf(3));
    ASSERT_TRUE(StatusBecomes(
        held, [](const RegisterStatus& r) { return !r.journalHeld; }, 10s));
    ExpectPaddedAck(Request(held, kClose42));
    EXPECT_NE(ReadFile(BonPath()).find(kClosing42), std::string::npos);
}

TEST_P(Journalled, AClosingRefusedForTheJournalLeavesTheFirstAmountToTheRepeat) {
    // With RecAmount off only a receipt's first closing carries the first amount. A closing the
    // journal could not keep in time is not acknowledged; its repeat is still the first.
    test::ScratchMounts fs;
    if (!fs.MountTmpfs(JournalFolder())) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << fs.Why();
    }
    OpenJournal();
    RegisterOptions options;
    options.recAmount = false;
    options.beforeStart = [this](TSerialExtended& link) {
        RestoreFromJournal(loaded_, {&link}, context_, notices_);
    };
    auto& reg = AddRegister(options);
    Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(fs.SetReadOnly(JournalFolder(), true));
    const auto refused = reg.sim->Exchange(sim::Answer::Frame(kClose42), 3s);
    EXPECT_FALSE(refused.response) << "acknowledged a closing the journal does not hold";
    EXPECT_EQ(context_.LastClosingKey(), "") << "the refused closing's key stays";
    ASSERT_TRUE(fs.SetReadOnly(JournalFolder(), false));
    ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 10s));
    ExpectPaddedAck(Request(reg, kClose42));
    EXPECT_EQ(ReadCrLfLines(BonPath()), std::vector<std::string>{kClosing42});
}

// ---- a closing that cannot be read -------------------------------------------------------

TEST_P(Journalled, AnUnreadableClosingIsKeptInTheJournalAndReported) {
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
    // Counted in the register's status, for the window and the status file.
    const RegisterStatus status =
        StatusOf(*reg.worker, std::chrono::steady_clock::now(), journal_.get());
    EXPECT_EQ(status.unreadableClosings, 1u);
    EXPECT_NE(GridStatusText(status).find(", 1 inchideri necitite in jurnal"), std::string::npos)
        << GridStatusText(status);
    StopProgram();
    OpenJournal();
    ASSERT_EQ(loaded_.registers.count(3), 1u);
    ASSERT_EQ(loaded_.registers.at(3).unreadableClosings.size(), 1u);
    EXPECT_EQ(journal_->UnreadableKept(3), 1u);
    EXPECT_NE(loaded_.registers.at(3).unreadableClosings[0].find("2,5x"), std::string::npos);
}

TEST_P(Journalled, ANumberThatCannotStandInARecordKeepsTheClosingOutOfTheFiles) {
    // A line error turned the receipt number into "4,2": written, it would add a field to both
    // files' lines. The closing is kept for the user as an unreadable one; the sale stays
    // pending with its placeholders.
    OpenJournal();
    auto& reg = StartRegister();
    Request(reg, ArticleRequestBody("123"));
    ExpectPaddedAck(Request(reg, ClosingBody("0", "1", "4,2", "12", "2.5", "5")));
    EXPECT_EQ(ReadFile(BonPath()), "");
    EXPECT_EQ(ReadFile(TranPath()), "");
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine()});
    EXPECT_EQ(NoticesWith(notices_.Notices(), "nu poate fi citita").size(), 1u);
    // A card reference that could not stand in the closing line is refused.
    const auto card = Request(reg, CardBody("41\n11", "2.5"));
    ASSERT_TRUE(card.response);
    EXPECT_EQ(card.response->text, ".;;;;;");
}

// ---- a closing whose append fails -------------------------------------------------------

TEST_P(Journalled, AClosingWhoseAppendFailedIsWrittenWithTheNextOneAndSurvivesARestart) {
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

TEST_P(Journalled, ARegisterNoLongerInTheListKeepsItsLinesAndTheUserIsTold) {
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

INSTANTIATE_TEST_SUITE_P(Lines, Journalled, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
