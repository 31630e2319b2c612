// The link worker against the simulated register on a pty: real bytes, real timing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>

#include "LinkTestSupport.h"
#include "link/LinkFrame.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"
#include "support/FakeLineStatus.h"

namespace tallyport::linktest {
namespace {

using sim::Answer;
using sim::EcrSimulator;
using sim::ExpectedPoll;
using sim::FrameBytes;
using sim::PcKind;
using sim::PcMessage;
using sim::SentRecord;

// What a handler saw, handed from the worker's thread to the test's.
struct Seen {
    std::mutex mutex;
    int calls = 0;
    std::string received;
    std::string messageType;
    std::string fiscalSeries;
    std::string secondField;
    bool ackAlreadySent = false;
    bool linkLockHeld = true;
    int nice = 0;

    void Record(TSerialExtended& link, const std::string& frame) {
        std::lock_guard<std::mutex> g(mutex);
        ++calls;
        received = frame;
        messageType = link.MessageType;
        fiscalSeries = link.FiscalSeries;
        secondField = link.SecondField;
        linkLockHeld = LinkLock.HeldByCurrentThread();
        nice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    }
    int Calls() {
        std::lock_guard<std::mutex> g(mutex);
        return calls;
    }
};

MessageHandler Recorder(Seen& seen) {
    return [&seen](TSerialExtended& link, const std::string& frame) {
        seen.Record(link, frame);
        return true;
    };
}

bool AnyAck(const std::vector<PcMessage>& messages) {
    return std::any_of(messages.begin(), messages.end(),
                       [](const PcMessage& m) { return m.kind == PcKind::Ack; });
}

TEST(LinkWorker, SilentRegisterIsPolledOncePerByteTimeout) {
    for (int logicalNb : {7, 123}) {
        EcrSimulator sim(logicalNb);
        auto worker = MakeWorker(sim.PortName(), logicalNb);
        ASSERT_TRUE(worker->StartLink()) << worker->Link().Port.LastErrorText();
        EXPECT_TRUE(worker->Running());
        ASSERT_TRUE(sim.WaitForPolls(12, 3s));
        worker->StopLink();
        EXPECT_FALSE(worker->Running());

        auto messages = sim.Messages();
        // The last poll may still be on its way over the wire when the stop is over.
        if (!messages.empty() && !messages.back().complete) {
            messages.pop_back();
        }
        std::vector<Clock::time_point> starts;
        for (const PcMessage& m : messages) {
            ASSERT_EQ(m.kind, PcKind::Poll) << sim::HexBytes(m.bytes);
            EXPECT_EQ(m.bytes, ExpectedPoll(logicalNb)) << sim::HexBytes(m.bytes);
            starts.push_back(m.first);
        }
        EXPECT_EQ(sim.ReceivedBytes().find('\x06'), std::string::npos);  // never an ACK
        // One poll, then one ByteTimeout wait for an answer, then the next poll.
        std::vector<long> gaps;
        for (std::size_t i = 1; i < starts.size(); ++i) {
            gaps.push_back(Ms(starts[i] - starts[i - 1]));
        }
        std::sort(gaps.begin(), gaps.end());
        // (Arrival times are taken by the simulator's thread, so one late reading can shorten
        // the next gap; the median carries the rhythm.)
        EXPECT_GE(gaps.front(), ByteTimeout / 2);
        EXPECT_GE(gaps[gaps.size() / 2], ByteTimeout - 5);
        EXPECT_LE(gaps[gaps.size() / 2], ByteTimeout + 40);
        EXPECT_LE(gaps.back(), ByteTimeout + 250);
    }
}

TEST(LinkWorker, StrayByteIsDroppedAndTheRegisterPolledAgain) {
    // The bare pty delivers the register's answer in one piece: the stray byte and the frame
    // behind it are waiting together when the worker reads. (On a timed line the worker may
    // read the stray byte before the frame's first byte has come: see the test below.)
    EcrSimulator sim(3, sim::LineRate::Instant());
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 3);
    worker->Link().SetHandlers(HandlersFor('5', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());

    auto r = sim.Exchange(Answer::Raw("\xFF"), 2s);
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    EXPECT_TRUE(r.nextPoll);
    // The next poll, and no acknowledgement. (The test's thread, late on a loaded machine, may
    // see later polls too.)
    ASSERT_FALSE(r.messages.empty());
    EXPECT_EQ(r.messages.front().kind, PcKind::Poll);
    EXPECT_FALSE(AnyAck(r.messages));

    // A stray byte in front of a frame: the byte is dropped and the PC polls again. The frame
    // behind the byte answered the poll before: it goes with the byte, and the register sends
    // it again at the new poll.
    r = sim.Exchange(Answer::Frame("S;X;5").Prefix("\x42"), 2s);
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    EXPECT_TRUE(r.nextPoll);
    r = sim.Exchange(Answer::Frame("S;X;5"), 2s);
    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 2s));
    worker->StopLink();
    EXPECT_EQ(seen.Calls(), 1);
}

// Every acknowledgement follows the poll its frame answered, with no other poll in between: a
// register that has heard a new poll and no acknowledgement takes its frame for lost and sends
// it again, so a copy taken after that poll would be handled twice (a closing recorded twice).
void ExpectEveryAckAnswersItsOwnPoll(const EcrSimulator& sim);

TEST(LinkWorker, AFrameBehindAStrayByteIsHandledOnceWhicheverPollItAnswers) {
    // On a timed line the frame's bytes come one character time after the stray byte. A worker
    // that reads the stray byte alone drops it and polls again while the frame is still coming:
    // the frame then arrives after that poll, answers it, and is acknowledged. A worker that
    // reads them together drops both, and the register sends the frame again. Either way the
    // frame is handled once and every acknowledgement answers its own poll.
    EcrSimulator sim(3);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 3);
    worker->Link().SetHandlers(HandlersFor('5', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    for (const int gap : {0, 5, 30}) {
        const int before = seen.Calls();
        Answer answer = Answer::Frame("S;X;5").Prefix("\x42");
        answer.GapBefore(1, gap);
        bool acked = false;
        // As a register does: the frame again at each poll until it is acknowledged.
        for (int attempt = 0; attempt < 3 && !acked; ++attempt) {
            const auto r = sim.Exchange(attempt == 0 ? answer : Answer::Frame("S;X;5"), 2s);
            ASSERT_TRUE(r.sent);
            acked = r.acked;
        }
        EXPECT_TRUE(acked) << "gap " << gap << " ms";
        ASSERT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 2s));
        EXPECT_EQ(seen.Calls(), before + 1) << "gap " << gap << " ms";
    }
    worker->StopLink();
    ExpectEveryAckAnswersItsOwnPoll(sim);
}

void ExpectEveryAckAnswersItsOwnPoll(const EcrSimulator& sim) {
    const auto messages = sim.Messages();
    for (const SentRecord& answer : sim.Sent()) {
        if (answer.what == SentRecord::What::Confirmation || answer.bytes.empty()) {
            continue;
        }
        // The first poll or acknowledgement after the answer's last byte went out.
        auto next = std::find_if(messages.begin(), messages.end(), [&](const PcMessage& m) {
            return m.first > answer.end && (m.kind == PcKind::Poll || m.kind == PcKind::Ack);
        });
        if (next != messages.end() && next->kind == PcKind::Ack) {
            // Acknowledged: no poll may lie between the answer's start and that ACK.
            const bool pollBetween = std::any_of(messages.begin(), next, [&](const PcMessage& m) {
                return m.kind == PcKind::Poll && m.first > answer.start;
            });
            EXPECT_FALSE(pollBetween) << "a frame was acknowledged after a later poll";
        }
    }
}

TEST(LinkWorker, AFrameWaitingBeforeThePollIsNotTaken) {
    EcrSimulator sim(4);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 4);
    worker->Link().SetHandlers(HandlersFor('5', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(2, 2s));
    {
        // Between two turns of the register a frame comes that answers no poll the worker
        // waits for: the register answered the last poll of a program since restarted.
        std::lock_guard<FairRecursiveMutex> betweenTurns(LinkLock);
        sim.SendNow(FrameBytes("S;1;5"));
        std::this_thread::sleep_for(100ms);  // on the wire for 15 ms at 9600 baud
    }
    const auto r = sim.Exchange(Answer::Frame("S;2;5"), 2s);
    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 2s));
    worker->StopLink();
    EXPECT_EQ(seen.Calls(), 1);  // only the frame that answered a poll
    ExpectEveryAckAnswersItsOwnPoll(sim);
}

TEST(LinkWorker, FrameIsAcknowledgedBeforeItsHandlerRuns) {
    EcrSimulator sim(5);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 5);
    worker->Link().SetHandlers(HandlersFor('1', [&](TSerialExtended& link, const std::string& f) {
        // The ACK must already be on the line: wait for it (a handler run before it was sent
        // would wait in vain).
        const bool ack = sim.WaitUntil([](const auto& m) { return AnyAck(m); }, 1s);
        seen.Record(link, f);
        std::lock_guard<std::mutex> g(seen.mutex);
        seen.ackAlreadySent = ack;
        return true;
    }));
    ASSERT_TRUE(worker->StartLink());
    const auto r = sim.Exchange("FS1234;extra;1;0000000000017;1.000", 3s);
    worker->StopLink();

    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    ASSERT_GE(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].bytes, "\x06");  // the bare AckByte, nothing around it
    std::lock_guard<std::mutex> g(seen.mutex);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_TRUE(seen.ackAlreadySent);
    EXPECT_EQ(seen.received, FrameBytes("FS1234;extra;1;0000000000017;1.000"));
    EXPECT_EQ(seen.fiscalSeries, "FS1234");
    EXPECT_EQ(seen.secondField, "extra");
    EXPECT_EQ(seen.messageType, "1");
    EXPECT_FALSE(seen.linkLockHeld);             // dispatch itself runs outside the link lock
    EXPECT_EQ(seen.nice, 10);                    // the worker runs two steps below normal
    EXPECT_EQ(worker->Link().MessageType, "1");  // the header stays after the stop
}

TEST(LinkWorker, MissingCrcBytesAreCompletedWithZeros) {
    EcrSimulator sim(2);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 2);
    worker->Link().SetHandlers(HandlersFor('2', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    const auto r = sim.Exchange(Answer::FrameWithoutCrc("S;X;2;5"), 3s);
    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    // The two missing bytes each cost one ByteTimeout before the frame is acknowledged.
    const auto sent = sim.Sent();
    ASSERT_FALSE(sent.empty());
    ASSERT_FALSE(r.messages.empty());
    EXPECT_GE(Ms(r.messages[0].first - sent.back().end), 2 * ByteTimeout - 5);

    worker->StopLink();
    std::lock_guard<std::mutex> g(seen.mutex);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.received, std::string("\x0AS;X;2;5\x0D") + '\0' + '\0');
}

TEST(LinkWorker, OneCrcByteOnlyIsCompletedWithAZero) {
    EcrSimulator sim(2);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 2);
    worker->Link().SetHandlers(HandlersFor('2', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    const auto r = sim.Exchange(Answer::FrameWithCrc("S;X;2", 0x5A, 0x00).Cut(8), 3s);
    worker->StopLink();
    EXPECT_TRUE(r.acked);
    std::lock_guard<std::mutex> g(seen.mutex);
    EXPECT_EQ(seen.received, std::string("\x0AS;X;2\x0D\x5A") + '\0');
}

TEST(LinkWorker, GapInsideAFrameAddsNothing) {
    EcrSimulator sim(4);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 4);
    worker->Link().SetHandlers(HandlersFor('1', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    // A pause of more than two ByteTimeouts after "S;X", another before the EndByte.
    const std::string body = "S;X;1;123";
    const auto r = sim.Exchange(
        Answer::Frame(body).GapBefore(4, 2 * ByteTimeout + 20).GapBefore(10, ByteTimeout + 20), 3s);
    worker->StopLink();
    EXPECT_TRUE(r.acked);
    std::lock_guard<std::mutex> g(seen.mutex);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.received, FrameBytes(body));
}

TEST(LinkWorker, FrameCutByTheDeadlineIsDropped) {
    EcrSimulator sim(6);
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 6);
    worker->Link().SetHandlers(HandlersFor('1', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());

    // The body trickles in a byte every 40 ms: the EndByte would come after about 800 ms.
    const auto r = sim.Exchange(Answer::Frame("S;X;1;1234567890").Spaced(40), 3s);
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    ASSERT_TRUE(r.nextPoll);
    // Reception ran until the deadline and two ByteTimeouts for the CRC bytes.
    const auto& nextPoll = r.messages.back();
    EXPECT_GE(Ms(nextPoll.first - r.poll.last), FrameDeadline);
    EXPECT_LE(Ms(nextPoll.first - r.poll.last), FrameDeadline + 2 * ByteTimeout + 250);

    // The rest of the frame arrives later as stray bytes: still no ACK, no handler.
    std::this_thread::sleep_for(800ms);
    // A frame that just stops is dropped as well.
    const auto r2 = sim.Exchange(Answer::Frame("S;X;1;99").Cut(5), 3s);
    EXPECT_TRUE(r2.sent);
    EXPECT_FALSE(r2.acked);
    worker->StopLink();
    EXPECT_FALSE(AnyAck(sim.Messages()));
    EXPECT_EQ(seen.Calls(), 0);
}

TEST(LinkWorker, RunawayFrameIsCutBySize) {
    // The flood must arrive faster than the time limit: a bare pty, no line time.
    EcrSimulator sim(8, sim::LineRate::Instant());
    Seen seen;
    auto worker = MakeWorker(sim.PortName(), 8);
    worker->Link().SetHandlers(HandlersFor('1', Recorder(seen)));
    ASSERT_TRUE(worker->StartLink());
    // Far more than any frame, all at once and without an EndByte.
    const std::string flood = "\x0A" + std::string(MaxFrameLength + 200, 'A');
    const auto r = sim.Exchange(Answer::Raw(flood), 3s);
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    ASSERT_TRUE(r.nextPoll);
    // Cut by the size long before the time limit.
    EXPECT_LT(Ms(r.messages.back().first - r.poll.last), FrameDeadline - 100);
    // The leftover bytes answer no poll: the next poll drops them all, and the cycles are silent
    // ones again at once (not one cycle per leftover byte) and the register is served normally.
    ASSERT_TRUE(sim.WaitUntil(
        [](const std::vector<PcMessage>& m) {
            return m.size() >= 2 && m.back().kind == PcKind::Poll &&
                   m[m.size() - 2].kind == PcKind::Poll &&
                   m.back().first - m[m.size() - 2].first >= std::chrono::milliseconds(ByteTimeout);
        },
        5s));
    EXPECT_LT(sim.PollCount(), 10u);
    const auto ok = sim.Exchange("S;X;1", 5s);
    worker->StopLink();
    EXPECT_TRUE(ok.acked);
    EXPECT_EQ(seen.Calls(), 1);
}

TEST(LinkWorker, TypesWithoutHandlerAreAcknowledgedAndDropped) {
    EcrSimulator sim(9);
    std::atomic<int> calls{0};
    auto table = std::make_shared<HandlerTable>();
    for (auto& slot : *table) {
        slot.Run = [&calls](TSerialExtended&, const std::string&) {
            ++calls;
            return true;
        };
    }
    (*table)[static_cast<unsigned char>('5')].Run = nullptr;  // an empty slot
    auto worker = MakeWorker(sim.PortName(), 9);
    worker->Link().SetHandlers(table);
    ASSERT_TRUE(worker->StartLink());
    for (const char* body : {"S;X;0", "S;X;4", "S;X;5", "S;X;", "NOFIELDS"}) {
        const auto r = sim.Exchange(body, 2s);
        EXPECT_TRUE(r.acked) << body;
        EXPECT_FALSE(r.response.has_value()) << body;
    }
    EXPECT_EQ(calls.load(), 0);
    EXPECT_TRUE(sim.Exchange("S;X;6", 2s).acked);
    worker->StopLink();
    EXPECT_EQ(calls.load(), 1);  // the table itself works
}

TEST(LinkWorker, WithoutHandlersEveryTypeIsDropped) {
    EcrSimulator sim(9);
    auto worker = MakeWorker(sim.PortName(), 9);
    ASSERT_TRUE(worker->StartLink());
    EXPECT_TRUE(sim.Exchange("S;X;1", 2s).acked);
    EXPECT_TRUE(sim.WaitForPolls(sim.PollCount() + 2, 2s));
    worker->StopLink();
}

TEST(LinkWorker, NothingIsSentWhileTheOutputQueueIsBusy) {
    // A pty always reports an empty output queue; the probe reports a busy one instead.
    EcrSimulator sim(11);
    auto driver = std::make_shared<test::FakeLineState>();
    driver->outputQueue = 12;
    std::atomic<int>& queries = driver->outputQueries;
    auto worker = MakeWorker(sim.PortName(), 11);
    worker->Link().Port.SetLineStatusProbe(std::make_unique<test::FakeLineStatus>(driver));
    ASSERT_TRUE(worker->StartLink());
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(sim.ReceivedBytes(), "");
    // The worker asked again and again, but paced: no busy loop on the queue.
    EXPECT_GE(queries.load(), 3);
    EXPECT_LE(queries.load(), 600 / ByteTimeout + 5);
    driver->outputQueue = 0;
    EXPECT_TRUE(sim.WaitForPolls(3, 2s));
    worker->StopLink();
}

TEST(LinkWorker, ThrowingHandlerEndsOnlyThatMessage) {
    EcrSimulator sim(12);
    std::atomic<int> calls{0};
    auto table = std::make_shared<HandlerTable>();
    (*table)[static_cast<unsigned char>('1')].Run = [&calls](TSerialExtended&, const std::string&) {
        ++calls;
        throw std::runtime_error("conversion failed");
        return true;
    };
    (*table)[static_cast<unsigned char>('2')].Run = [&calls](TSerialExtended&,
                                                             const std::string&) -> bool {
        ++calls;
        throw 42;  // not even a std::exception
    };
    auto worker = MakeWorker(sim.PortName(), 12);
    worker->Link().SetHandlers(table);
    ASSERT_TRUE(worker->StartLink());
    EXPECT_TRUE(sim.Exchange("S;X;1", 2s).acked);
    EXPECT_TRUE(sim.Exchange("S;X;2", 2s).acked);
    const auto r = sim.Exchange("S;X;1", 2s);
    EXPECT_TRUE(r.acked);
    EXPECT_TRUE(r.nextPoll);  // still serving its register
    EXPECT_TRUE(worker->Running());
    worker->StopLink();
    EXPECT_EQ(calls.load(), 3);
}

TEST(LinkWorker, RepliesAndPaddedAcknowledgementsOnTheLine) {
    // Exact bytes, the confirmation's fillers among them, on a bare pty: on a timed line the
    // confirmation's first filler arrives alone and the read of the confirmation ends with it.
    EcrSimulator sim(13, sim::LineRate::Instant());
    std::atomic<bool> confirmed{false};
    auto table = std::make_shared<HandlerTable>();
    (*table)[static_cast<unsigned char>('1')].Run = [&](TSerialExtended& link, const std::string&) {
        // Held around the whole exchange; SendReply takes it again inside.
        std::lock_guard<FairRecursiveMutex> guard(LinkLock);
        if (!link.SendReply("Paine alba;2.50;1;1")) {
            return false;
        }
        const std::string answer = StripFillers(link.Port.ReadAvailable(ConfirmationWait));
        confirmed = !answer.empty() && answer.front() == AckByte;
        return confirmed.load();
    };
    (*table)[static_cast<unsigned char>('3')].Run = [](TSerialExtended& link, const std::string&) {
        return link.SendRaw(AddFillers(std::string(1, AckByte), 6, 10));
    };
    sim.SetConfirmation(sim::Confirmation{true, 10, 2, 2});
    auto worker = MakeWorker(sim.PortName(), 13);
    worker->Link().SetHandlers(table);
    ASSERT_TRUE(worker->StartLink());

    auto r = sim.Exchange("S;X;1;123", 2s);
    ASSERT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, PcKind::Reply);
    EXPECT_EQ(r.response->bytes, sim::ExpectedReply("Paine alba;2.50;1;1"));
    EXPECT_TRUE(r.response->crcOk);
    EXPECT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 2s));
    EXPECT_TRUE(confirmed.load());

    r = sim.Exchange("S;X;3;1;2;3", 2s);
    ASSERT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, PcKind::PaddedAck);
    EXPECT_EQ(r.response->bytes, sim::ExpectedPaddedAck());
    worker->StopLink();
}

TEST(LinkSends, WrittenOnlyIntoAnEmptyOutputQueue) {
    EcrSimulator sim(1);
    auto driver = std::make_shared<test::FakeLineState>();
    driver->outputQueue = 3;
    auto worker = MakeWorker(sim.PortName(), 1);
    TSerialExtended& link = worker->Link();
    link.Port.SetLineStatusProbe(std::make_unique<test::FakeLineStatus>(driver));
    ASSERT_TRUE(link.OpenLink());  // the link state alone, no worker thread
    EXPECT_FALSE(link.PollRegister());
    EXPECT_FALSE(link.SendReply("abc"));
    EXPECT_FALSE(link.SendRaw("\x06"));
    driver->outputQueue = 0;
    EXPECT_TRUE(link.PollRegister());
    EXPECT_TRUE(link.SendReply("abc"));
    EXPECT_TRUE(link.SendRaw("\x06"));
    ASSERT_TRUE(sim.WaitUntil([](const auto& m) { return m.size() == 3; }, 1s));
    EXPECT_EQ(sim.ReceivedBytes(),
              ExpectedPoll(1) + "\xFF\xFF\xFF\xFF\x0A\x41\x42\x43\x0D\xA9\xA1\xFF\xFF\xFF\xFF\xFF" +
                  "\x06");
    link.Port.ClosePort();
    EXPECT_FALSE(link.SendRaw("\x06"));
    EXPECT_EQ(link.Port.LastErrorCode(), kSerialNotConnected);
}

TEST(LinkOpen, LineSettings) {
    EcrSimulator sim(1);
    {
        // Two stop bits on the line beforehand: they must stay (the settings outlive the open).
        const int fd = open(sim.PortName().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        t.c_cflag |= CSTOPB;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
        close(fd);
    }
    auto worker = MakeWorker(sim.PortName(), 1);
    TSerialExtended& link = worker->Link();
    link.StopBits = 1;  // carried, not applied
    link.Parity = 'E';  // carried, not applied
    link.TranRate = 19200;
    link.DataBits = 7;
    ASSERT_TRUE(link.OpenLink()) << link.Port.LastErrorText();
    // What was written: exactly binary mode with DTR on, the rate, the byte size, no parity,
    // and the stop bits as the port had them.
    const PortSettings written = link.Port.PortState();
    EXPECT_EQ(written.Flags, kDcbBinary | kDcbDtrControlEnable);
    EXPECT_EQ(written.Flags, 0x11u);
    EXPECT_EQ(written.BaudRate, 19200u);
    EXPECT_EQ(written.ByteSize, 7);
    EXPECT_EQ(written.Parity, PortParity::None);
    EXPECT_EQ(written.StopBits, PortStopBits::Two);
    // Read back from the line (a pty keeps the rate and the stop bits but always runs 8 bits).
    link.Port.LoadPortState();
    const PortSettings s = link.Port.PortState();
    EXPECT_EQ(s.BaudRate, 19200u);
    EXPECT_EQ(s.Parity, PortParity::None);
    EXPECT_EQ(s.StopBits, PortStopBits::Two);
    EXPECT_EQ(s.Flags & (kDcbBinary | kDcbParityCheck | kDcbOutxCtsFlow | kDcbOutX | kDcbInX),
              kDcbBinary);
    link.Port.ClosePort();
}

}  // namespace
}  // namespace tallyport::linktest
