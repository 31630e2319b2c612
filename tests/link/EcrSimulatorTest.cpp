// The register simulator on its pty, driven from the slave side with plain POSIX calls (no link
// engine), so that its timing, recording and unplugging can be trusted by the link tests.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "simulator/EcrProtocol.h"
#include "simulator/EcrSimulator.h"
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
    ASSERT_EQ(messages.size(), 2u);
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
            pc.Write("\x06");
            pc.Write(Fillers(6) + "\x06" + Fillers(10));
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

    // Nobody polls: the answer is not sent and is taken back from the script.
    r = sim.Exchange("S;X;3", 100ms);
    EXPECT_FALSE(r.sent);
    EXPECT_EQ(sim.QueuedAnswers(), 0u);
}

TEST(EcrSimulator, UnplugAndPlugBackUnderTheSameLink) {
    TempFolder folder;
    const std::string link = folder.File("ecr1");
    EcrSimulator sim(EcrSimulator::Options{1, link, {}});
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

}  // namespace
}  // namespace tallyport::sim
