// The link on a line with time: every write of the link completes when its bytes have left the
// port, so the waits for the register's answer start when the PC's last byte is on the wire.
// The pseudo-terminal delivers at once; the register's side here answers as a register that
// hears the bytes only after their time on the wire, and a fake driver queue shows what a
// pseudo-terminal cannot.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "LinkTestSupport.h"
#include "link/LinkFrame.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"
#include "serial/LineTime.h"
#include "support/DrainingQueue.h"

namespace tallyport::linktest {
namespace {

using sim::Answer;
using sim::EcrSimulator;
using sim::PcKind;

constexpr const char* kReplyText = "Paine alba;2.50;1;1";

PortSettings Line8N1(std::uint32_t rate) {
    PortSettings s;
    s.BaudRate = rate;
    s.ByteSize = 8;
    return s;
}

int WireMs(std::uint32_t rate, std::size_t count) {
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(WireTime(Line8N1(rate), count)).count());
}

// An article handler as the request module has it: reply, then read the confirmation within
// the confirmation wait, all in the register's turn.
struct ReplyOutcome {
    std::atomic<int> sent{0};
    std::atomic<int> refused{0};
    std::atomic<int> confirmed{0};
};

std::shared_ptr<const HandlerTable> ReplyHandlers(ReplyOutcome& outcome) {
    return HandlersFor(
        '1',
        [&outcome](TSerialExtended& link, const std::string&) {
            if (!link.SendReply(kReplyText)) {
                ++outcome.refused;
                return false;
            }
            ++outcome.sent;
            const std::string answer = StripFillers(link.Port.ReadAvailable(ConfirmationWait));
            if (!answer.empty() && answer.front() == AckByte) {
                ++outcome.confirmed;
            }
            return true;
        },
        HandlerTurn::InTurn);
}

std::shared_ptr<test::DrainingQueueState> InstallQueue(TSerialThread& worker, std::uint32_t rate) {
    auto state = std::make_shared<test::DrainingQueueState>(CharacterTime(Line8N1(rate)));
    worker.Link().Port.SetLineStatusProbe(std::make_unique<test::DrainingQueue>(state));
    return state;
}

TEST(LinkWriteTimeout, LongestWriteOnTheWirePlusAMargin) {
    // 256 characters at 9600 8N1 take 267 ms, at 1200 baud 2134 ms.
    EXPECT_EQ(LinkWriteTimeoutMs(Line8N1(9600)), 267 + WriteTimeoutMargin);
    EXPECT_EQ(LinkWriteTimeoutMs(Line8N1(1200)), 2134 + WriteTimeoutMargin);
    EXPECT_LT(LinkWriteTimeoutMs(Line8N1(38400)), LinkWriteTimeoutMs(Line8N1(4800)));
    PortSettings parity = Line8N1(1200);
    parity.Parity = PortParity::Even;
    EXPECT_GT(LinkWriteTimeoutMs(parity), LinkWriteTimeoutMs(Line8N1(1200)));
}

TEST(LinkWriteTimeout, OpenLinkSetsItForItsRate) {
    for (int rate : {1200, 9600}) {
        EcrSimulator sim(1);
        auto worker = MakeWorker(sim.PortName(), 1);
        TSerialExtended& link = worker->Link();
        link.TranRate = rate;
        ASSERT_TRUE(link.OpenLink()) << link.Port.LastErrorText();
        EXPECT_EQ(link.Port.IoTimeout(), LinkWriteTimeoutMs(link.Port.PortState())) << rate;
        EXPECT_LT(link.Port.IoTimeout(), 30000);
        link.Port.ClosePort();
    }
}

TEST(LinkLineTime, NoPollIsSentIntoTheRegistersAnswer) {
    // The register hears the poll only when its 19 characters are on the wire, and answers
    // 15 ms later. The wait for its first byte (ByteTimeout) starts after the poll has left.
    for (std::uint32_t rate : {1200u, 2400u, 4800u}) {
        EcrSimulator sim(4);
        auto worker = MakeWorker(sim.PortName(), 4);
        worker->Link().TranRate = static_cast<int>(rate);
        ASSERT_TRUE(worker->StartLink());
        for (int i = 0; i < 3; ++i) {
            const int heard = WireMs(rate, sim::ExpectedPoll(4).size());
            const auto r = sim.Exchange(Answer::Frame("S;X;5").Delay(heard + 15), 3s);
            ASSERT_TRUE(r.sent) << rate;
            EXPECT_TRUE(r.acked) << rate << " baud: polled again before the answer";
            ASSERT_FALSE(r.messages.empty()) << rate;
            EXPECT_EQ(r.messages.front().kind, PcKind::Ack) << rate;
        }
        worker->StopLink();
    }
}

TEST(LinkLineTime, AcknowledgementFollowsThePollsWireTime) {
    // At 2400 baud the poll's bytes arrive at once on a pty, but the next write (the
    // acknowledgement) can only follow once the poll has had its 79 ms on the wire. Arrival
    // times are taken by the simulator's thread, which may note the poll a little late: the
    // bound allows 20 ms for that.
    EcrSimulator sim(6);
    ReplyOutcome outcome;
    auto worker = MakeWorker(sim.PortName(), 6);
    worker->Link().TranRate = 2400;
    worker->Link().SetHandlers(ReplyHandlers(outcome));
    ASSERT_TRUE(worker->StartLink());
    const auto r = sim.Exchange("S;X;1;123", 3s);
    worker->StopLink();
    ASSERT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    ASSERT_GE(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[0].kind, PcKind::Ack);
    EXPECT_GE(Ms(r.messages[0].first - r.poll.first), WireMs(2400, r.poll.bytes.size()) - 20);
    EXPECT_EQ(outcome.sent.load(), 1);
}

TEST(LinkLineTime, ReplyAfterTheBareAcknowledgementIsSent) {
    // A driver still holds the bare acknowledgement a little while after the write handed it
    // over (a USB adapter: 20 ms). The reply's empty-queue check must not find it there.
    EcrSimulator sim(7);
    ReplyOutcome outcome;
    auto worker = MakeWorker(sim.PortName(), 7);
    worker->Link().SetHandlers(ReplyHandlers(outcome));
    auto queue = InstallQueue(*worker, 9600);
    queue->SetHold(20ms);
    ASSERT_TRUE(worker->StartLink());
    for (int i = 0; i < 3; ++i) {
        const auto r = sim.Exchange("S;X;1;123", 3s);
        ASSERT_TRUE(r.acked);
        ASSERT_TRUE(r.response.has_value()) << "the reply was refused";
        EXPECT_EQ(r.response->kind, PcKind::Reply);
    }
    worker->StopLink();
    EXPECT_EQ(outcome.refused.load(), 0);
    EXPECT_EQ(outcome.sent.load(), 3);
}

TEST(LinkLineTime, ConfirmationWindowStartsAfterTheDrain) {
    // The adapter starts sending 150 ms after the write; the reply then takes its own time on
    // the wire, and the register confirms 5 ms after its last byte. The 110 ms window must
    // count from the drain, not from the write's start nor from the computed time alone.
    EcrSimulator sim(8);
    ReplyOutcome outcome;
    auto worker = MakeWorker(sim.PortName(), 8);
    worker->Link().SetHandlers(ReplyHandlers(outcome));
    auto queue = InstallQueue(*worker, 9600);
    queue->SetHold(150ms);
    const int replyOnWire = WireMs(9600, sim::ExpectedReply(kReplyText).size());
    sim.SetConfirmation(sim::Confirmation{true, 150 + replyOnWire + 5, 0, 0});
    ASSERT_TRUE(worker->StartLink());
    for (int i = 0; i < 2; ++i) {
        const auto r = sim.Exchange("S;X;1;123", 3s);
        ASSERT_TRUE(r.response.has_value());
        ASSERT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 3s));
    }
    worker->StopLink();
    EXPECT_EQ(outcome.sent.load(), 2);
    EXPECT_EQ(outcome.confirmed.load(), 2) << "a confirmed reply was taken for unconfirmed";
}

TEST(LinkLineTime, DrainThatNeverEndsFailsTheWriteAndFreesTheTurn) {
    EcrSimulator sim(9);
    auto worker = MakeWorker(sim.PortName(), 9);
    auto queue = InstallQueue(*worker, 9600);
    queue->SetStuck(true);
    ASSERT_TRUE(worker->StartLink());
    const int timeout = worker->Link().Port.IoTimeout();
    EXPECT_EQ(timeout, LinkWriteTimeoutMs(Line8N1(9600)));
    // The first poll went out and never drains: the write gives up at the link's write
    // time-out, and the worker lets the other registers have the lock.
    ASSERT_TRUE(sim.WaitForPolls(1, 2s));
    std::this_thread::sleep_for(std::chrono::milliseconds(timeout + 300));
    const auto lockStart = Clock::now();
    {
        std::lock_guard<FairRecursiveMutex> other(LinkLock);  // would block for good on a hang
    }
    EXPECT_LT(Ms(Clock::now() - lockStart), timeout);
    EXPECT_TRUE(worker->Running());
    // Nothing more is written into the full queue: only into the new one of the port opened
    // again (below), at most one poll per write time-out.
    EXPECT_LE(sim.PollCount(), 2u);
    const auto stopStart = Clock::now();
    worker->StopLink();
    EXPECT_LT(Ms(Clock::now() - stopStart), 1000);
}

TEST(LinkLineTime, AStuckTransmitterIsClosedAndOpenedAgainUntilItSends) {
    // A driver whose output queue keeps its bytes after the write gave up on them (and discarded
    // them): every later poll would be skipped for a busy queue, the register never polled
    // again while its status says open. The port is closed and opened again instead, once a
    // second while the transmitter sticks, counted as one loss, with the reason in the status.
    EcrSimulator sim(11);
    auto worker = MakeWorker(sim.PortName(), 11);
    auto queue = InstallQueue(*worker, 9600);
    queue->SetStuck(true);
    ASSERT_TRUE(worker->StartLink());
    const auto timeout = std::chrono::milliseconds(worker->Link().Port.IoTimeout());
    const auto status = [&] { return worker->Link().Status.Snapshot(); };
    const auto waitFor = [](const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!done() && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        return done();
    };
    // The first poll's write gives up after the write time-out; the port is opened again (its
    // queue starts empty) and the next poll goes into the new queue, which sticks as well.
    ASSERT_TRUE(sim.WaitForPolls(2, timeout + 2s)) << "the stuck queue was never let go";
    EXPECT_GE(queue->Opens(), 2);
    ASSERT_TRUE(waitFor([&] { return status().portError.rfind("transmitter stuck: ", 0) == 0; },
                        timeout + 2s))
        << status().portError;
    EXPECT_EQ(status().state, PortState::Lost);
    std::this_thread::sleep_for(timeout + 500ms);
    EXPECT_GE(queue->Opens(), 3);
    EXPECT_EQ(status().losses, 1u) << "one stuck transmitter, one loss, however many re-opens";

    queue->SetStuck(false);
    ASSERT_TRUE(waitFor([&] { return status().state == PortState::Open; }, timeout + 3s));
    EXPECT_EQ(status().portError, "");
    EXPECT_TRUE(sim.WaitForPolls(sim.PollCount() + 3, 2s));
    EXPECT_EQ(status().losses, 1u);
    worker->StopLink();
}

TEST(LinkLineTime, StopEndsAWriteThatWaitsForItsDrain) {
    EcrSimulator sim(10);
    auto worker = MakeWorker(sim.PortName(), 10);
    auto queue = InstallQueue(*worker, 9600);
    queue->SetStuck(true);
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(1, 2s));
    std::this_thread::sleep_for(100ms);  // inside the write's drain
    const auto stopStart = Clock::now();
    worker->StopLink();
    EXPECT_LT(Ms(Clock::now() - stopStart), 500);
    EXPECT_FALSE(worker->Running());
}

}  // namespace
}  // namespace tallyport::linktest
