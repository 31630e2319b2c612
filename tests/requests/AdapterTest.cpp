// What real adapters and a real boot do to a register's sales, end to end: receive-line errors
// reported by the driver at chosen moments (a fake driver on the pseudo-terminal, which has no
// line errors of its own), confirmations that come after their wait, and a port that appears
// only after the program has started.
#include <gtest/gtest.h>

#include <thread>

#include "RequestFixture.h"
#include "serial/BlockSerial.h"

namespace tallyport::testing {
namespace {

using sim::PcKind;
using sim::SentRecord;
using test::LineErrorKind;

// The longest name a reply carries: 59 bytes on the line, 123 ms at 4800 baud, longer than the
// 110 ms the register is given to confirm it.
const std::string kLongArticle = "5941234000123,09,1,13.7,3,Napolitane cu crema de alune 500g";
const std::string kLongReply = ";NAPOLITANE CU CREMA DE;13.7;100.000;9;1;1;;;";
const std::string kPaineReply = ";PAINE;2.5;100.000;1;1;1;;;";

std::string ReplyText(const sim::ExchangeResult& result) {
    if (!result.response || result.response->kind != PcKind::Reply) {
        return "<no reply>";
    }
    return result.response->text;
}

// True when the register has begun to send something of kind `what` with at least `bytes`
// bytes of it on the line.
bool Sending(const sim::EcrSimulator& sim, SentRecord::What what, std::size_t bytes) {
    for (const SentRecord& r : sim.Sent()) {
        if (r.what == what && r.bytes.size() >= bytes) {
            return true;
        }
    }
    return false;
}

// Waits until `done` holds; false when it does not within `timeout`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

class Adapter : public InEveryLineMode<> {};

TEST_P(Adapter, ALineErrorDuringTheExchangeLeavesTheReplyItsTimeOnTheWire) {
    // The driver counts an error while the bare acknowledgement is on the line (the register
    // dropping its line driver after its frame, a cable moved), and another while the reply
    // goes out. Neither may start the 110 ms confirmation wait before the reply's last byte is
    // out: at 4800 baud the reply takes 123 ms, and the register's confirmation, 5 ms after the
    // reply has reached it, must still be in its wait.
    WriteArticles({kLongArticle});
    const std::size_t replyBytes = sim::ExpectedReply(kLongReply).size();
    auto driver = std::make_shared<test::FakeLineState>();
    driver->ErrorDuringWrite(LineErrorKind::Framing, 1);
    driver->ErrorDuringWrite(LineErrorKind::Overrun, static_cast<int>(replyBytes));
    RegisterOptions options;
    options.line = sim::LineRate::Baud(4800);
    options.confirmation = sim::Confirmation{.enabled = true, .delayMs = 5};
    options.lineStatus = driver;
    auto& reg = AddRegister(options);

    const auto result = Request(reg, ArticleRequestBody("5941234000123"));
    EXPECT_TRUE(result.acked);
    EXPECT_EQ(ReplyText(result), kLongReply);
    ASSERT_TRUE(WaitUntil([&] { return reg.PendingTran().size() == 1; }, 2s))
        << "a sale the register confirmed was not recorded";
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 2);
    const LinkStatusSnapshot s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.sales, 1u);
    EXPECT_EQ(s.lateSales, 0u) << "the confirmation wait began before the reply was out";
}

TEST_P(Adapter, AFrameReceivedWithALineErrorIsNotAcknowledgedAndItsSecondCopyIs) {
    // A parity error while the request is arriving: a byte of it may be wrong (a wrong article
    // code, an unreadable closing). The frame is dropped without acknowledgement, like one that
    // fails the framing test, and the register sends it again at the next poll.
    auto driver = std::make_shared<test::FakeLineState>();
    RegisterOptions options;
    options.lineStatus = driver;
    auto& reg = AddRegister(options);
    const sim::EcrSimulator* register3 = reg.sim.get();
    driver->ErrorWhen(LineErrorKind::Parity,
                      [register3] { return Sending(*register3, SentRecord::What::Answer, 6); });

    const auto first = Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(first.sent);
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 1);
    EXPECT_FALSE(first.acked) << "a frame received with a line error was acknowledged";
    EXPECT_FALSE(first.response);
    EXPECT_TRUE(first.nextPoll);
    EXPECT_TRUE(reg.PendingTran().empty());
    EXPECT_FALSE(reg.Link().Status.Snapshot().lastFrame.has_value());

    const auto second = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(second.acked);
    EXPECT_EQ(ReplyText(second), kPaineReply);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    EXPECT_TRUE(reg.Link().Status.Snapshot().lastFrame.has_value());
}

TEST_P(Adapter, AConfirmationAfterALineErrorInItsWaitRecordsTheSale) {
    // The register confirms with fillers before its ACK; the driver reports an error with the
    // first of them. The wait goes on for the ACK, which comes within it.
    auto driver = std::make_shared<test::FakeLineState>();
    RegisterOptions options;
    options.confirmation = sim::Confirmation{.enabled = true, .delayMs = 20, .fillersBefore = 3};
    options.lineStatus = driver;
    auto& reg = AddRegister(options);
    const sim::EcrSimulator* register3 = reg.sim.get();
    driver->ErrorWhen(LineErrorKind::Framing, [register3] {
        return Sending(*register3, SentRecord::What::Confirmation, 1);
    });

    const auto result = Request(reg, ArticleRequestBody("123"));
    EXPECT_EQ(ReplyText(result), kPaineReply);
    ASSERT_TRUE(WaitUntil([&] { return !reg.PendingTran().empty(); }, 2s))
        << "the confirmation after the line error was not taken";
    EXPECT_EQ(driver->ScriptedErrorsCounted(), 1);
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    EXPECT_EQ(reg.Link().Status.Snapshot().lateSales, 0u);
}

TEST_P(Adapter, AConfirmationAfterItsWaitIsRecordedOnceAndCountedAsLate) {
    // The register's ACK comes 130 ms after the reply's last byte (an adapter that held it): after
    // the 110 ms wait, before the register has answered its next poll. The worker moved on at
    // 110 ms; the sale is recorded when the ACK comes, once. (The simulated register counts from
    // the reply's CRC, which the reply's five fillers follow: 5 ms at 9600 baud.)
    RegisterOptions options;
    options.confirmation = sim::Confirmation{.enabled = true, .delayMs = 135};
    auto& reg = AddRegister(options);
    const auto result = Request(reg, ArticleRequestBody("123"));
    EXPECT_EQ(ReplyText(result), kPaineReply);
    ASSERT_TRUE(WaitUntil([&] { return !reg.PendingTran().empty(); }, 2s))
        << "a sale the register confirmed late was not recorded";
    EXPECT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 4, 2s));
    EXPECT_EQ(reg.PendingTran(), std::vector<std::string>{PainePendingLine(3)});
    LinkStatusSnapshot s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.sales, 1u);
    EXPECT_EQ(s.lateSales, 1u);

    // The next sale, confirmed in time, is not late; nothing is recorded twice.
    reg.sim->SetConfirmation(sim::Confirmation{.enabled = true, .delayMs = 5});
    Request(reg, ArticleRequestBody("123"));
    ASSERT_TRUE(WaitUntil([&] { return reg.PendingTran().size() == 2; }, 2s));
    EXPECT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 4, 2s));
    EXPECT_EQ(reg.PendingTran().size(), 2u);
    s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.sales, 2u);
    EXPECT_EQ(s.lateSales, 1u);
}

TEST_P(Adapter, AReplyNeverConfirmedOrConfirmedAfterTheNextAnswerRecordsNothing) {
    RegisterOptions options;
    options.confirmation.enabled = false;
    auto& reg = AddRegister(options);
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))), kPaineReply);
    EXPECT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 6, 2s));
    EXPECT_TRUE(reg.PendingTran().empty());

    // An ACK 600 ms after the reply comes after the register was polled again and answered
    // nothing: it is no confirmation the program can still take for that reply.
    reg.sim->SetConfirmation(sim::Confirmation{.enabled = true, .delayMs = 600});
    EXPECT_EQ(ReplyText(Request(reg, ArticleRequestBody("123"))), kPaineReply);
    ASSERT_TRUE(
        WaitUntil([&] { return Sending(*reg.sim, SentRecord::What::Confirmation, 1); }, 2s));
    EXPECT_TRUE(reg.sim->WaitForPolls(reg.sim->PollCount() + 4, 2s));
    EXPECT_TRUE(reg.PendingTran().empty());
    const LinkStatusSnapshot s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.sales, 0u);
    EXPECT_EQ(s.lateSales, 0u);
}

TEST_P(Adapter, ARegisterWhosePortAppearsAfterTheStartIsServedAndItsReceiptWritten) {
    // The service starts at boot; the USB adapter is found 3 s later.
    RegisterOptions options;
    options.linkPath = folder_.File("usb-serial-late");
    options.plugged = false;
    auto& reg = AddRegister(options);
    EXPECT_TRUE(reg.worker->Running());
    LinkStatusSnapshot s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::CouldNotOpen);
    EXPECT_EQ(s.portError, TBlockSerial::ErrorText(ENOENT));

    std::this_thread::sleep_for(3s);
    reg.sim->Plug();
    const auto sale = Request(reg, ArticleRequestBody("123"));
    EXPECT_TRUE(sale.acked);
    EXPECT_EQ(ReplyText(sale), kPaineReply);
    const auto closing = Request(reg, ClosingBody("0", "1", "42", "12", "2.5", "5"));
    EXPECT_TRUE(closing.acked);
    ASSERT_TRUE(closing.response);
    EXPECT_EQ(closing.response->kind, PcKind::PaddedAck);
    EXPECT_EQ(ReadFile(TranPath()), "0003,01,0042,0000000000123,00000025,3,+0000001000,Paine" +
                                        std::string(35, ' ') + ",01,1,00012,06/12/26,21:50\r\n");
    EXPECT_EQ(ReadFile(BonPath()),
              "0003,01,0042,0,1,0000000250,0000000500,3,0000000000000,21:50,06/12/26,00012\r\n");
    s = reg.Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::Open);
    EXPECT_EQ(s.portError, "");
    EXPECT_EQ(s.receipts, 1u);
}

INSTANTIATE_TEST_SUITE_P(Lines, Adapter, EveryLineMode(), LineModeName);

}  // namespace
}  // namespace tallyport::testing
