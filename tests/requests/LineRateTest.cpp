// Registers on serial lines that take time, as real lines do: the simulated register hears the
// PC's bytes only after their time on the wire and sends its own one character time apart. Real
// link workers and the real request handlers serve them; every sale, reply and closing is
// checked on the line and in the back-office files.
#include <algorithm>
#include <thread>
#include <tuple>

#include "RequestFixture.h"
#include "link/LinkProtocol.h"

namespace tallyport::testing {
namespace {

using sim::Answer;
using sim::LineRate;
using sim::PcKind;
using sim::PcMessage;

// The longest name a reply carries (22 characters): the reply is 59 bytes on the line, 123 ms
// at 4800 baud and 246 ms at 2400, longer than the 110 ms the register is given to confirm it.
const std::string kLongArticle = "5941234000123,09,1,13.7,3,Napolitane cu crema de alune 500g";
const std::string kLongReply = ";NAPOLITANE CU CREMA DE;13.7;100.000;9;1;1;;;";
const std::string kPaineReply = ";PAINE;2.5;100.000;1;1;1;;;";

// A register confirms a reply a few milliseconds after it has arrived.
constexpr sim::Confirmation kPromptConfirmation{.enabled = true, .delayMs = 5};

std::string Number(int value, std::size_t width) {
    std::string text = std::to_string(value);
    return std::string(width - std::min(width, text.size()), '0') + text;
}

// The transaction lines of one receipt (operator 1, receipt 42, Z report 12) with the long
// article and Paine, and its closing line paid 16.2 of 20 in cash, for a register.
std::vector<std::string> ClosedTranLines(int logicalNb) {
    const std::string head = Number(logicalNb, 4) + ",01,0042,";
    const std::string tail = ",00012,06/12/26,21:50";
    std::string longName = "Napolitane cu crema de";
    longName.resize(40, ' ');
    std::string paine = "Paine";
    paine.resize(40, ' ');
    return {head + "5941234000123,00000137,3,+0000001000," + longName + ",09,1" + tail,
            head + "0000000000123,00000025,3,+0000001000," + paine + ",01,1" + tail};
}

std::string ClosingLine(int logicalNb) {
    return Number(logicalNb, 4) +
           ",01,0042,0,1,0000001620,0000002000,3,0000000000000,21:50,06/12/26,00012";
}

std::string ReceiptClosing() {
    return ClosingBody("0", "1", "42", "12", "16.2", "20");
}

// The reply's text, or a note of what came instead.
std::string ReplyText(const sim::ExchangeResult& r) {
    if (!r.response) {
        return "<no reply>";
    }
    if (r.response->kind != PcKind::Reply) {
        return std::string("<") + sim::PcKindName(r.response->kind) + ">";
    }
    return r.response->crcOk ? r.response->text : "<bad CRC>";
}

// True when the PC sent the register no poll while its answer was on the wire: no poll began
// to arrive between the answer's first and last bytes (the trailing fillers of the poll it
// answers may still come in then).
bool NoPollDuringAnswer(const sim::EcrSimulator& sim, const sim::SentRecord& answer) {
    for (const PcMessage& poll : sim.Polls()) {
        if (poll.first > answer.start && poll.first <= answer.end) {
            return false;
        }
    }
    return true;
}

class LineRates : public RequestTest,
                  public ::testing::WithParamInterface<std::tuple<int, LineMode>> {
protected:
    LineRates() { lineMode_ = std::get<LineMode>(GetParam()); }

    SimulatedRegister& AddRegisterAtRate(int logicalNb = 3) {
        RegisterOptions options;
        options.logicalNb = logicalNb;
        options.line = LineRate::Baud(std::get<int>(GetParam()));
        options.confirmation = kPromptConfirmation;
        return AddRegister(options);
    }
};

TEST_P(LineRates, EveryFrameAcknowledgedEverySaleAndClosingRecorded) {
    WriteArticles({kPaineArticle, kLongArticle});
    SimulatedRegister& reg = AddRegisterAtRate();

    auto r = Request(reg, ArticleRequestBody("5941234000123"));
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(ReplyText(r), kLongReply);
    r = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(ReplyText(r), kPaineReply);
    // A reply the register does not confirm records nothing.
    reg.sim->SetConfirmation(sim::Confirmation{.enabled = false});
    r = Request(reg, ArticleRequestBody("123", "2.000"));
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(ReplyText(r), kPaineReply);  // the unit price: only weighed articles are scaled
    reg.sim->SetConfirmation(kPromptConfirmation);
    EXPECT_EQ(reg.PendingTran().size(), 2u);

    r = Request(reg, ReceiptClosing());
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, PcKind::PaddedAck);
    EXPECT_EQ(r.response->bytes, sim::ExpectedPaddedAck());

    EXPECT_EQ(ReadCrLfLines(TranPath()), ClosedTranLines(3));
    EXPECT_EQ(ReadCrLfLines(BonPath()), std::vector<std::string>{ClosingLine(3)});
    EXPECT_TRUE(reg.PendingTran().empty());
    // Every answer went out at a poll and was acknowledged before the next poll.
    for (const sim::SentRecord& sent : reg.sim->Sent()) {
        if (sent.what == sim::SentRecord::What::Answer) {
            EXPECT_TRUE(NoPollDuringAnswer(*reg.sim, sent));
        }
    }
}

TEST_P(LineRates, RegisterSilentForAWhileThenAnsweringGetsNoPollIntoItsAnswer) {
    SimulatedRegister& reg = AddRegisterAtRate(6);
    for (int round = 0; round < 3; ++round) {
        // Nothing to say for three polls.
        ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 3, 5s));
        // Then an answer that starts 10 ms after the poll has arrived, as a register takes a
        // moment: it has ByteTimeout (55 ms) from the end of the poll on the wire.
        const auto r = reg.sim->Exchange(Answer::Frame("S1;X;0").Delay(10), 5s);
        ASSERT_TRUE(r.sent);
        EXPECT_TRUE(r.acked) << "round " << round;
        ASSERT_FALSE(r.messages.empty());
        EXPECT_EQ(r.messages.front().kind, PcKind::Ack) << sim::HexBytes(r.messages.front().bytes);
    }
    ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 5s));
    for (const sim::SentRecord& sent : reg.sim->Sent()) {
        EXPECT_TRUE(NoPollDuringAnswer(*reg.sim, sent));
    }
}

INSTANTIATE_TEST_SUITE_P(Baud, LineRates,
                         ::testing::Combine(::testing::Values(2400, 4800, 9600, 19200, 38400),
                                            EveryLineMode()),
                         [](const ::testing::TestParamInfo<std::tuple<int, LineMode>>& info) {
                             return std::to_string(std::get<int>(info.param)) +
                                    LineModeName({std::get<LineMode>(info.param), info.index});
                         });

// Lines whose frames fill the protocol's times, and many registers at once.
class PacedLines : public InEveryLineMode<> {};

// At 1200 baud (8N1) a character takes 8.33 ms. The protocol's times are fixed: the PC reads a
// frame up to its EndByte within FrameDeadline (550 ms), counted from the start of its reception,
// which begins when the poll has left. A frame whose bytes up to the EndByte take longer on the
// wire, about 66 characters at this rate, cannot be received at 1200 baud whatever the program
// does: it is cut and dropped without an acknowledgement. The frames the registers send for
// sales and closings are shorter (the closing below, with a full fiscal series and amounts with
// decimals, is 54 bytes, 450 ms) and work as at any rate.
TEST_P(PacedLines, At1200BaudFramesWithinTheDeadlineWorkAndLongerOnesCannot) {
    const LineRate line{1200, 8, false, 1};
    ASSERT_LT(line.WireTime(66), std::chrono::milliseconds(FrameDeadline));
    ASSERT_GT(line.WireTime(67), std::chrono::milliseconds(FrameDeadline));
    WriteArticles({kPaineArticle, kLongArticle});
    RegisterOptions options;
    options.line = line;
    options.confirmation = kPromptConfirmation;
    SimulatedRegister& reg = AddRegister(options);

    auto r = Request(reg, ArticleRequestBody("5941234000123"));
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(ReplyText(r), kLongReply);  // 59 bytes: 492 ms on the wire, then confirmed
    r = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(ReplyText(r), kPaineReply);
    const std::string closing = "DA00000003;1234;3;0;1;;;;42;12;16.20;;;;;;;;;20.00";
    ASSERT_EQ(sim::FrameBytes(closing).size(), 54u);
    r = Request(reg, closing);
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, PcKind::PaddedAck);
    EXPECT_EQ(ReadCrLfLines(TranPath()), ClosedTranLines(3));
    EXPECT_EQ(ReadCrLfLines(BonPath()), std::vector<std::string>{ClosingLine(3)});

    // 89 bytes up to the EndByte: 740 ms on the wire, past the deadline.
    const std::string tooLong = "S1;X;5;" + std::string(80, 'A');
    ASSERT_EQ(sim::FrameBytesWithoutCrc(tooLong).size(), 89u);
    r = reg.sim->Exchange(Answer::Frame(tooLong), 5s);
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    ASSERT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 1, 5s));
    const auto messages = reg.sim->Messages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const PcMessage& m) { return m.kind == PcKind::Ack; }),
              3);  // the three frames above, not this one
}

// Twenty-four registers at 9600 baud, each selling and closing a receipt at a cashier's pace.
// Served one at a time, each one's exchange (poll, frame, reply, confirmation) is one turn, so
// none of them waits through the others' turns in the middle of its frame; with parallel lines
// none waits for another at all.
TEST_P(PacedLines, TwentyFourRegistersOnPacedLinesAreAllServedAndNoneDropsAFrame) {
    constexpr int kRegisters = 24;
    WriteArticles({kPaineArticle, kLongArticle});
    std::vector<SimulatedRegister*> regs;
    {
        // As the shell connects: every port opens before the first turn, instead of each open
        // waiting behind the turns of the registers already running (parallel lines wait for no
        // other register's turn at all).
        std::lock_guard<FairRecursiveMutex> connecting(LinkLock);
        for (int n = 1; n <= kRegisters; ++n) {
            RegisterOptions options;
            options.logicalNb = n;
            options.line = LineRate::Baud(9600);
            options.confirmation = kPromptConfirmation;
            regs.push_back(&AddRegister(options));
        }
    }
    const auto start = sim::Clock::now();
    struct Outcome {
        std::vector<bool> acked;
        std::vector<std::string> replies;
    };
    std::vector<Outcome> outcomes(kRegisters);
    std::vector<std::thread> cashiers;
    for (int i = 0; i < kRegisters; ++i) {
        cashiers.emplace_back([&, i] {
            sim::EcrSimulator& sim = *regs[static_cast<std::size_t>(i)]->sim;
            for (const std::string& body : {ArticleRequestBody("5941234000123"),
                                            ArticleRequestBody("123"), ReceiptClosing()}) {
                // Up to 15 s for the poll (a full turn of all registers takes about 2 s), then
                // 3 s for the PC's side of the exchange.
                const auto r = sim.Exchange(Answer::Frame(body), 15s, 3s);
                outcomes[static_cast<std::size_t>(i)].acked.push_back(r.sent && r.acked);
                outcomes[static_cast<std::size_t>(i)].replies.push_back(
                    r.response && r.response->kind == PcKind::Reply ? r.response->text : "");
                std::this_thread::sleep_for(100ms);  // the cashier scans the next item
            }
        });
    }
    for (std::thread& t : cashiers) {
        t.join();
    }
    const auto end = sim::Clock::now();

    std::vector<std::string> expectedTran;
    std::vector<std::string> expectedBon;
    for (int i = 0; i < kRegisters; ++i) {
        const Outcome& o = outcomes[static_cast<std::size_t>(i)];
        EXPECT_EQ(o.acked, std::vector<bool>(3, true)) << "register " << i + 1;
        EXPECT_EQ(o.replies, (std::vector<std::string>{kLongReply, kPaineReply, ""}))
            << "register " << i + 1;
        // Served all along: never a long stretch without a poll (a full turn takes about 2 s).
        EXPECT_LT(regs[static_cast<std::size_t>(i)]->sim->LongestPollGap(start, end), 8s)
            << "register " << i + 1;
        for (const std::string& line : ClosedTranLines(i + 1)) {
            expectedTran.push_back(line);
        }
        expectedBon.push_back(ClosingLine(i + 1));
    }
    // Receipts close in any order; each one's lines stay together and in order.
    auto tran = ReadCrLfLines(TranPath());
    auto bon = ReadCrLfLines(BonPath());
    for (std::size_t k = 0; k + 1 < tran.size(); k += 2) {
        EXPECT_EQ(tran[k].substr(0, 4), tran[k + 1].substr(0, 4));
        EXPECT_NE(tran[k].find("5941234000123"), std::string::npos) << tran[k];
    }
    std::sort(tran.begin(), tran.end());
    std::sort(bon.begin(), bon.end());
    std::sort(expectedTran.begin(), expectedTran.end());
    std::sort(expectedBon.begin(), expectedBon.end());
    EXPECT_EQ(tran, expectedTran);
    EXPECT_EQ(bon, expectedBon);
}

INSTANTIATE_TEST_SUITE_P(Lines, PacedLines, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
