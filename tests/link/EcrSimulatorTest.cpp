// The register simulator on its pty, driven from the slave side with plain POSIX calls (no link
// engine), so that its timing, recording and unplugging can be trusted by the link tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>
#include <thread>

#include "simulator/EcrProtocol.h"
#include "simulator/EcrSimulator.h"
#include "simulator/PtyPair.h"
#include "support/TempFolder.h"

namespace tallyport::sim {
namespace {

using namespace std::chrono_literals;
using test::TempFolder;

// The PC end of the line, bare.
class SlaveEnd {
public:
    explicit SlaveEnd(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    ~SlaveEnd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }
    void Write(const std::string& bytes) {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or the time is up.
    std::string Read(std::size_t count, std::chrono::milliseconds timeout) {
        std::string got;
        const auto deadline = Clock::now() + timeout;
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (poll(&p, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0) {
                break;
            }
            if (p.revents & POLLHUP) {
                hungUp_ = true;
                break;
            }
            char buffer[256];
            const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - got.size()));
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }
    bool HungUp() const { return hungUp_; }
    // The PC's side of a closing it took: the bare acknowledgement, then the padded one.
    void AcknowledgeClosing() {
        Write("\x06");
        Write(Fillers(6) + "\x06" + Fillers(10));
    }

private:
    int fd_ = -1;
    bool hungUp_ = false;
};

TEST(EcrSimulator, AnswersOnlyPollsForItsNumberAndRecordsTheLine) {
    EcrSimulator sim(7);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    sim.Enqueue(Answer::Frame("S1;X;5"));

    pc.Write(ExpectedPoll(8));  // someone else's number
    EXPECT_EQ(pc.Read(1, 150ms), "");
    EXPECT_EQ(sim.QueuedAnswers(), 1u);

    pc.Write(ExpectedPoll(7));
    EXPECT_EQ(pc.Read(FrameBytes("S1;X;5").size(), 1s), FrameBytes("S1;X;5"));
    pc.Write("\x06");
    ASSERT_TRUE(sim.WaitUntil([](const auto& m) { return m.size() == 3; }, 1s));

    EXPECT_EQ(sim.ReceivedBytes(), ExpectedPoll(8) + ExpectedPoll(7) + "\x06");
    const auto messages = sim.Messages();
    EXPECT_EQ(messages[0].logicalNb, 8);
    EXPECT_EQ(messages[1].logicalNb, 7);
    EXPECT_EQ(messages[2].kind, PcKind::Ack);
    EXPECT_EQ(sim.PollCount(), 1u);
    ASSERT_EQ(sim.Polls().size(), 1u);
    EXPECT_EQ(sim.Polls()[0].bytes, ExpectedPoll(7));
    const Recording rec = sim.Received();
    ASSERT_EQ(rec.times.size(), rec.bytes.size());
    EXPECT_LE(rec.times.front(), rec.times.back());
    const auto sent = sim.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].finished);
    EXPECT_EQ(sent[0].pollIndex, 1u);
    EXPECT_EQ(sent[0].bytes, FrameBytes("S1;X;5"));

    // An empty script keeps the register silent.
    pc.Write(ExpectedPoll(7));
    EXPECT_EQ(pc.Read(1, 150ms), "");
    EXPECT_TRUE(sim.WaitForPolls(2, 1s));
}

TEST(EcrSimulator, GapsAndDelaysAreKept) {
    EcrSimulator sim(1);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    sim.Enqueue(Answer::Frame("AB").Delay(30).GapBefore(2, 90));
    pc.Write(ExpectedPoll(1));
    const auto polled = Clock::now();
    EXPECT_EQ(pc.Read(2, 1s),
              "\x0A"
              "A");
    const auto firstPart = Clock::now();
    EXPECT_EQ(pc.Read(4, 1s), "B\x0D" + FrameBytes("AB").substr(4));
    const auto secondPart = Clock::now();
    EXPECT_GE(firstPart - polled, 30ms);
    EXPECT_GE(secondPart - firstPart, 80ms);  // 90 ms gap, a little slack for read scheduling
    const auto sent = sim.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_GE(sent[0].end - sent[0].start, 90ms);
}

TEST(EcrSimulator, ConfirmsRepliesAsConfigured) {
    EcrSimulator sim(2);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    sim.SetConfirmation(Confirmation{true, 40, 2, 3});
    pc.Write(ExpectedReply("abc"));
    const auto sentReply = Clock::now();
    EXPECT_EQ(pc.Read(6, 1s), Fillers(2) + "\x06" + Fillers(3));
    EXPECT_GE(Clock::now() - sentReply, 40ms);

    sim.SetConfirmation(Confirmation{false, 0, 0, 0});
    pc.Write(ExpectedReply("abc"));
    EXPECT_EQ(pc.Read(1, 200ms), "");
    const auto messages = sim.Messages();
    std::string seen;
    for (const PcMessage& m : messages) {
        seen += std::string(PcKindName(m.kind)) + ": " + HexBytes(m.bytes) + "\n";
    }
    ASSERT_EQ(messages.size(), 2u) << seen;
    EXPECT_EQ(messages[1].kind, PcKind::Reply);
    EXPECT_EQ(messages[1].text, "ABC");
    EXPECT_TRUE(messages[1].crcOk);
}

TEST(EcrSimulator, ExchangeFollowsThePcToItsResponse) {
    EcrSimulator sim(4);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    std::thread pcSide([&] {
        std::this_thread::sleep_for(20ms);
        pc.Write(ExpectedPoll(4));
        const std::string frame = pc.Read(FrameBytes("S;X;3").size(), 2s);
        if (frame == FrameBytes("S;X;3")) {
            pc.AcknowledgeClosing();
        }
    });
    ExchangeResult r = sim.Exchange("S;X;3", 3s);
    pcSide.join();
    EXPECT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    ASSERT_TRUE(r.response.has_value());
    EXPECT_EQ(r.response->kind, PcKind::PaddedAck);
    EXPECT_EQ(r.response->bytes, ExpectedPaddedAck());
    EXPECT_FALSE(r.nextPoll);  // the whole padded acknowledgement ends the exchange
    EXPECT_EQ(r.answer.bytes, FrameBytes("S;X;3"));
    EXPECT_TRUE(r.answer.finished);
    EXPECT_LE(r.answer.end, r.messages.front().first);  // acknowledged after its last byte

    // Nobody polls: the answer is not sent and is taken back from the script.
    r = sim.Exchange("S;X;3", 100ms);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(sim.QueuedAnswers(), 0u);
}

TEST(EcrSimulator, ALateAnswerBelongsToThePollThePcWroteBeforeIt) {
    EcrSimulator sim(4);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    // The register answers 300 ms after the first poll; the PC has given up and polled again
    // at 50 ms, so it takes the answer for one to that poll and acknowledges it.
    std::thread pcSide([&] {
        std::this_thread::sleep_for(20ms);
        pc.Write(ExpectedPoll(4));
        std::this_thread::sleep_for(50ms);
        pc.Write(ExpectedPoll(4));
        if (pc.Read(FrameBytes("S;X;3").size(), 2s) == FrameBytes("S;X;3")) {
            pc.AcknowledgeClosing();
        }
    });
    ExchangeResult r = sim.Exchange(Answer::Frame("S;X;3").Delay(300), 3s);
    pcSide.join();
    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    EXPECT_FALSE(r.nextPoll);
    const auto messages = sim.Messages();
    ASSERT_EQ(messages.size(), 4u);  // two polls, the ACK, the padded acknowledgement
    EXPECT_EQ(r.poll.first, messages[1].first);

    // In time, the answer is the first poll's; a poll after it and before any ACK means the PC
    // did not take it.
    std::thread again([&] {
        pc.Write(ExpectedPoll(4));
        pc.Read(FrameBytes("S;X;4").size(), 2s);
        pc.Write(ExpectedPoll(4));
    });
    r = sim.Exchange("S;X;4", 3s);
    again.join();
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    EXPECT_TRUE(r.nextPoll);
}

TEST(EcrSimulator, AnAnswerThatCrossedAPollIsTheOneThePcAcknowledges) {
    EcrSimulator sim(4);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    const std::string frame = FrameBytes("S;X;3");
    // The answer is already on its way when the PC, tired of waiting, polls again: the register
    // hears that poll after its answer began. The PC takes the answer for one to its new poll.
    std::thread pcSide([&] {
        std::this_thread::sleep_for(20ms);
        pc.Write(ExpectedPoll(4));
        std::string got = pc.Read(1, 2s);  // the answer's first byte
        pc.Write(ExpectedPoll(4));
        got += pc.Read(frame.size() - 1, 2s);
        if (got == frame) {
            pc.AcknowledgeClosing();
        }
    });
    ExchangeResult r = sim.Exchange(Answer::Frame("S;X;3").Delay(100), 3s);
    pcSide.join();
    ASSERT_TRUE(r.sent);
    EXPECT_TRUE(r.acked);
    EXPECT_FALSE(r.nextPoll);
    ASSERT_GE(sim.Messages().size(), 2u);
    EXPECT_EQ(r.poll.first, sim.Messages()[1].first);

    // The same crossing, but the PC polls a third time instead: it did not take the answer.
    std::thread notTaken([&] {
        pc.Write(ExpectedPoll(4));
        pc.Read(1, 2s);
        pc.Write(ExpectedPoll(4));
        pc.Read(frame.size() - 1, 2s);
        pc.Write(ExpectedPoll(4));
    });
    r = sim.Exchange(Answer::Frame("S;X;3").Delay(100), 3s);
    notTaken.join();
    ASSERT_TRUE(r.sent);
    EXPECT_FALSE(r.acked);
    EXPECT_TRUE(r.nextPoll);
}

TEST(EcrSimulator, UnplugAndPlugBackUnderTheSameLink) {
    TempFolder folder;
    const std::string link = folder.File("ecr1");
    EcrSimulator sim(EcrSimulator::Options{.logicalNb = 1, .linkPath = link});
    EXPECT_EQ(sim.PortName(), link);
    const std::string firstSlave = sim.SlavePath();
    EXPECT_EQ(std::filesystem::read_symlink(link), firstSlave);
    {
        SlaveEnd pc(link);
        ASSERT_TRUE(pc.Ok());
        sim.Unplug();
        EXPECT_FALSE(sim.Plugged());
        EXPECT_FALSE(std::filesystem::is_symlink(link));
        EXPECT_EQ(pc.Read(1, 500ms), "");
        EXPECT_TRUE(pc.HungUp());
    }
    sim.Plug();
    EXPECT_TRUE(sim.Plugged());
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    SlaveEnd pc(link);
    ASSERT_TRUE(pc.Ok());
    sim.Enqueue(Answer::Raw("\x42"));
    pc.Write(ExpectedPoll(1));
    EXPECT_EQ(pc.Read(1, 1s), "\x42");
    EXPECT_EQ(sim.PollCount(), 1u);
}

TEST(EcrSimulator, APortThatAppearsOnlyWhenPluggedIn) {
    // A USB adapter the system finds after the program has started: no port until Plug().
    TempFolder folder;
    const std::string link = folder.File("ecr2");
    EcrSimulator sim(EcrSimulator::Options{.logicalNb = 2, .linkPath = link, .plugged = false});
    EXPECT_FALSE(sim.Plugged());
    EXPECT_EQ(sim.PortName(), link);
    EXPECT_EQ(sim.SlavePath(), "");
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    EXPECT_FALSE(SlaveEnd(link).Ok());
    sim.Unplug();  // nothing to unplug: harmless

    sim.Plug();
    EXPECT_TRUE(sim.Plugged());
    ASSERT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.SlavePath());
    SlaveEnd pc(link);
    ASSERT_TRUE(pc.Ok());
    sim.Enqueue(Answer::Raw("\x42"));
    pc.Write(ExpectedPoll(2));
    EXPECT_EQ(pc.Read(1, 1s), "\x42");
    EXPECT_EQ(sim.PollCount(), 1u);
}

// ---- the line's time ----

TEST(EcrLine, CharacterTimeCountsEveryBitOfTheFraming) {
    EXPECT_EQ(LineRate::Baud(9600).BitsPerCharacter(), 10);
    EXPECT_EQ(LineRate::Baud(9600).CharTime(), std::chrono::nanoseconds(1'041'666));
    EXPECT_EQ(LineRate::Baud(2400).CharTime(), std::chrono::nanoseconds(4'166'666));
    const LineRate sevenEvenTwo{1200, 7, true, 2};  // 1 + 7 + 1 + 2 = 11 bits
    EXPECT_EQ(sevenEvenTwo.BitsPerCharacter(), 11);
    EXPECT_EQ(sevenEvenTwo.CharTime(), std::chrono::nanoseconds(9'166'666));
    EXPECT_EQ(LineRate::Baud(4800).WireTime(19), LineRate::Baud(4800).CharTime() * 19);
    EXPECT_FALSE(LineRate::Instant().Timed());
    EXPECT_EQ(LineRate::Instant().WireTime(100), std::chrono::nanoseconds(0));
}

TEST(EcrLine, TheRegisterHearsThePcsBytesOnlyAfterTheirTimeOnTheWire) {
    const LineRate line = LineRate::Baud(2400);  // 4.17 ms a character
    EcrSimulator sim(7, line);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    sim.Enqueue(Answer::Raw("B"));
    const auto written = Clock::now();
    pc.Write(ExpectedPoll(7));
    EXPECT_EQ(pc.Read(1, 1s), "B");
    const auto answered = Clock::now();
    ASSERT_TRUE(sim.WaitUntil([](const auto& m) { return !m.empty() && m[0].complete; }, 1s));

    const Recording rec = sim.Received();
    ASSERT_EQ(rec.bytes, ExpectedPoll(7));
    // Byte k of the burst reaches the register (k + 1) character times after the write.
    EXPECT_GE(rec.times.front() - written, line.CharTime());
    for (std::size_t k = 1; k < rec.times.size(); ++k) {
        EXPECT_GE(rec.times[k] - rec.times[k - 1], line.CharTime()) << "byte " << k;
    }
    EXPECT_GE(rec.times.back() - written, line.WireTime(rec.bytes.size()));
    // The poll is whole once the filler after its digits has come (15 bytes); the answer then
    // takes one more character time back.
    const auto polls = sim.Polls();
    ASSERT_EQ(polls.size(), 1u);
    EXPECT_GE(polls[0].last - written, line.WireTime(15));
    EXPECT_GE(answered - written, line.WireTime(16));
}

TEST(EcrLine, BytesSentWhileOthersAreOnTheWireQueueBehindThem) {
    const LineRate line = LineRate::Baud(4800);
    EcrSimulator sim(1, line);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    const auto written = Clock::now();
    pc.Write(std::string(40, '\xFF'));
    pc.Write("\x06");  // written at once, but it can only follow the 40 fillers
    ASSERT_TRUE(sim.WaitUntil([](const auto& m) { return !m.empty(); }, 1s));
    const Recording rec = sim.Received();
    ASSERT_EQ(rec.bytes.size(), 41u);
    EXPECT_GE(rec.times.back() - written, line.WireTime(41));
}

TEST(EcrLine, TheRegistersBytesComeOneCharacterTimeApart) {
    const LineRate line = LineRate::Baud(2400);
    EcrSimulator sim(3, line);
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    const std::string frame = FrameBytes("S1;X;1;0000000000123;;1.000");
    sim.Enqueue(Answer::Raw(frame));
    pc.Write(ExpectedPoll(3));
    const auto written = Clock::now();
    EXPECT_EQ(pc.Read(1, 1s), frame.substr(0, 1));
    const auto first = Clock::now();
    EXPECT_EQ(pc.Read(frame.size() - 1, 2s), frame.substr(1));
    const auto last = Clock::now();
    // Reading wakes late at times, never early: the bounds are the line's own times.
    EXPECT_GE(last - first, line.WireTime(frame.size() - 1) - 1ms);
    EXPECT_GE(last - written, line.WireTime(15 + frame.size()) - 1ms);
    const auto sent = sim.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(sent[0].finished);
    EXPECT_GE(sent[0].end - sent[0].start, line.WireTime(frame.size() - 1) - 1ms);
}

TEST(EcrLine, TheRegisterConfirmsOnlyAfterTheWholeReplyHasArrived) {
    const LineRate line = LineRate::Baud(4800);  // a 60-character reply is 125 ms on the wire
    EcrSimulator sim(EcrSimulator::Options{
        .logicalNb = 2, .confirmation = Confirmation{true, 5, 0, 0}, .line = line});
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    const std::string text = ";PAINE ALBA FELIATA 500G INTEGRALA;12.5;100.000;1;1;1;;;";
    const std::string reply = ExpectedReply(text);
    const auto written = Clock::now();
    pc.Write(reply);
    EXPECT_EQ(pc.Read(1, 1s), "\x06");
    // Everything up to the second CRC byte (all but the 5 trailing fillers) has crossed the wire,
    // then the register's own few milliseconds, then the ACK's character.
    const auto frameEnd = line.WireTime(reply.size() - 5);
    EXPECT_GE(Clock::now() - written, frameEnd + 5ms + line.CharTime());
    const auto messages = sim.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages[0].kind, PcKind::Reply);
    EXPECT_EQ(messages[0].text, text);
}

TEST(EcrLine, TheBarePtyDeliversEveryByteAtOnce) {
    EcrSimulator sim(3, LineRate::Instant());
    SlaveEnd pc(sim.PortName());
    ASSERT_TRUE(pc.Ok());
    sim.SetConfirmation(Confirmation{true, 0, 0, 0});
    const std::string reply = ExpectedReply(std::string(200, 'A'));
    pc.Write(reply);
    EXPECT_EQ(pc.Read(1, 1s), "\x06");
    const Recording rec = sim.Received();
    ASSERT_FALSE(rec.times.empty());
    // 211 characters would take 220 ms at 9600 baud; without a line they come within a
    // few reads (generous bound for a loaded machine).
    EXPECT_LT(rec.times.back() - rec.times.front(), 150ms);
}

TEST(EcrLine, ShowsTheRateTheProgramSetOnItsEnd) {
    EcrSimulator sim(1, LineRate::Baud(9600));
    const int fd = open(sim.PortName().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    EXPECT_EQ(sim.ProgramBaud(), 19200);
    close(fd);
    EXPECT_EQ(sim.Line().baud, 9600);
}

TEST(EcrLine, RegisterOnARealSerialPort) {
    // The port the simulator takes is a tty like an adapter's; the pair's master end stands for
    // the program's port at the far end of the null-modem cable.
    PtyPair cable;
    EcrSimulator sim(EcrSimulator::Options{
        .logicalNb = 4, .line = LineRate::Baud(4800), .device = cable.SlavePath()});
    EXPECT_EQ(sim.PortName(), cable.SlavePath());
    termios t{};
    ASSERT_EQ(tcgetattr(cable.MasterFd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B4800));  // the port runs at the line's rate
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(sim.ProgramBaud(), 0);  // the far end is not the simulator's to read

    sim.Enqueue(Answer::Frame("S;X;5"));
    const std::string request = ExpectedPoll(4);
    ASSERT_EQ(write(cable.MasterFd(), request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    std::string got;
    const auto deadline = Clock::now() + 2s;
    while (got.size() < FrameBytes("S;X;5").size() && Clock::now() < deadline) {
        pollfd p{cable.MasterFd(), POLLIN, 0};
        char buffer[64];
        if (poll(&p, 1, 100) > 0) {
            const ssize_t n = read(cable.MasterFd(), buffer, sizeof buffer);
            if (n > 0) {
                got.append(buffer, static_cast<std::size_t>(n));
            }
        }
    }
    EXPECT_EQ(got, FrameBytes("S;X;5"));
    EXPECT_EQ(sim.PollCount(), 1u);

    // A port that does not exist cannot be a register's.
    EXPECT_THROW(EcrSimulator(EcrSimulator::Options{.logicalNb = 1,
                                                    .device = "/dev/tallyport-no-such-port"}),
                 std::system_error);
}

}  // namespace
}  // namespace tallyport::sim
