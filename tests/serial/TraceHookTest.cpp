// The port's trace hook: every byte that went over the line, once, in order, with its direction;
// nothing for operations that moved nothing; nothing once the hook is removed.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "support/PtyLine.h"
#include "support/SerialPlatform.h"

namespace tallyport {
namespace {

using test::PtyLine;
using testing::milliseconds;
using testing::WaitUntil;

struct TraceRecord {
    std::vector<std::pair<TraceDirection, std::string>> calls;

    TraceHook Hook() {
        return [this](TraceDirection direction, std::string_view bytes) {
            calls.emplace_back(direction, std::string(bytes));
        };
    }
    std::string All(TraceDirection direction) const {
        std::string all;
        for (const auto& [d, bytes] : calls) {
            all += d == direction ? bytes : "";
        }
        return all;
    }
};

TEST(SerialTraceHook, SeesEveryByteOnceWithItsDirection) {
    PtyLine line;
    TBlockSerial port;
    TraceRecord trace;
    port.SetTraceHook(trace.Hook());
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();

    const std::string poll = std::string(10, '\xFF') +
                             "\x11\x11"
                             "03" +
                             std::string(5, '\xFF');
    ASSERT_EQ(port.WriteText(poll), static_cast<int>(poll.size()));
    EXPECT_EQ(line.Receive(poll.size(), milliseconds(2000)), poll);

    // A frame read byte by byte (the link's way), then a confirmation read at once.
    const std::string frame =
        "\x0A"
        "S;1;0\x0D\x12\x34";
    line.Send(frame);
    ASSERT_TRUE(WaitUntil([&] { return line.PortQueued() == static_cast<int>(frame.size()); },
                          milliseconds(2000)));
    std::string got;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        got += static_cast<char>(port.ReadByte(55));
    }
    EXPECT_EQ(got, frame);
    line.Send("\xFF\x06");
    EXPECT_EQ(port.ReadAvailable(500), "\xFF\x06");

    // Waits that end without input trace nothing.
    const std::size_t callsBefore = trace.calls.size();
    EXPECT_EQ(port.ReadByte(20), 0);
    EXPECT_EQ(port.ReadAvailable(20), "");
    EXPECT_EQ(trace.calls.size(), callsBefore);

    EXPECT_EQ(trace.All(TraceDirection::Sent), poll);
    EXPECT_EQ(trace.All(TraceDirection::Received), frame + "\xFF\x06");
    // The open's note (below) comes first; then the bytes.
    ASSERT_GE(trace.calls.size(), 2u);
    EXPECT_EQ(trace.calls[0].first, TraceDirection::Note);
    EXPECT_EQ(trace.calls[1].first, TraceDirection::Sent);
    EXPECT_EQ(trace.calls[1].second, poll);  // one write, one call

    port.SetTraceHook(nullptr);
    port.WriteText("\x06");
    EXPECT_EQ(line.Receive(1, milliseconds(2000)), "\x06");
    EXPECT_EQ(trace.calls.size(), callsBefore);
}

TEST(SerialTraceHook, LowLatencyModeNotHadIsNotedAndThePortOpens) {
    // A pseudo-terminal has no serial settings to ask low-latency mode of, as some USB
    // adapters' drivers refuse it; on Windows the program asks none, the latency being the
    // adapter driver's own setting. The port opens all the same and the trace says why.
    PtyLine line;
    TBlockSerial port;
    TraceRecord trace;
    port.SetTraceHook(trace.Hook());
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    EXPECT_EQ(port.LastErrorCode(), 0);
    ASSERT_EQ(trace.calls.size(), 1u);
    EXPECT_EQ(trace.calls[0].first, TraceDirection::Note);
    EXPECT_EQ(trace.calls[0].second, test::LowLatencyNoteOfTestLine());
    EXPECT_EQ(port.WriteText("\x06"), 1);
    EXPECT_EQ(line.Receive(1, milliseconds(2000)), "\x06");

    // Each open says it again: a trace started later still has it.
    port.ClosePort();
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    ASSERT_EQ(trace.calls.size(), 3u);
    EXPECT_EQ(trace.calls[2].first, TraceDirection::Note);
    EXPECT_EQ(trace.calls[2].second, test::LowLatencyNoteOfTestLine());
}

TEST(SerialTraceHook, AThrowingHookDoesNotFailTheLine) {
    PtyLine line;
    TBlockSerial port;
    port.SetTraceHook([](TraceDirection, std::string_view) { throw std::runtime_error("full"); });
    port.OpenPort(line.PortName());
    ASSERT_TRUE(port.PortReady());
    EXPECT_EQ(port.WriteText("\x06"), 1);
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(line.Receive(1, milliseconds(2000)), "\x06");
}

}  // namespace
}  // namespace tallyport
