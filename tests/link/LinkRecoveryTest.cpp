// Starting, stopping, ports that cannot be opened or go away, and several registers sharing the
// link lock.
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <mutex>
#include <thread>

#include "LinkTestSupport.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"

namespace tallyport::linktest {
namespace {

using sim::Answer;
using sim::EcrSimulator;

// Runs `action` and gives the milliseconds it took.
template <typename F>
long Timed(F&& action) {
    const auto start = Clock::now();
    action();
    return Ms(Clock::now() - start);
}

TEST(LinkStop, PromptWhileWaitingForTheFirstByte) {
    EcrSimulator sim(1);
    auto worker = MakeWorker(sim.PortName(), 1);
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(3, 2s));
    std::this_thread::sleep_for(20ms);  // inside the wait for an answer
    EXPECT_LE(Timed([&] { worker->StopLink(); }), ByteTimeout + 100);
    EXPECT_FALSE(worker->Running());
    // An ended worker stops at once.
    EXPECT_LE(Timed([&] { worker->StopLink(); }), 20);
    // Nothing more is sent after the stop.
    const std::size_t polls = sim.PollCount();
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(sim.PollCount(), polls);
}

TEST(LinkStop, PromptInTheMiddleOfAFrame) {
    EcrSimulator sim(2);
    auto worker = MakeWorker(sim.PortName(), 2);
    ASSERT_TRUE(worker->StartLink());
    sim.Enqueue(Answer::Frame("S;X;1;1234567890").Spaced(30));
    // Wait until the frame has begun to go out, then stop in the middle of it.
    const auto deadline = Clock::now() + 3s;
    while (Clock::now() < deadline) {
        const auto sent = sim.Sent();
        if (!sent.empty() && sent[0].bytes.size() >= 4) {
            break;
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_FALSE(sim.Sent().empty());
    EXPECT_LE(Timed([&] { worker->StopLink(); }), FrameDeadline + 2 * ByteTimeout + 100);
    EXPECT_FALSE(worker->Running());
}

TEST(LinkStop, RestartResumesPollingAndKeepsLinkState) {
    EcrSimulator sim(3);
    auto worker = MakeWorker(sim.PortName(), 3);
    ASSERT_TRUE(worker->StartLink());
    EXPECT_TRUE(sim.Exchange("FS9;two;7", 2s).acked);
    worker->Link().PendingTranLines.Append("line 1");
    worker->Link().PendingTranLines.Append("line 2");
    worker->Link().PendingBonLines.Append("closing");
    worker->StopLink();
    EXPECT_FALSE(worker->Running());
    const std::size_t polls = sim.PollCount();

    ASSERT_TRUE(worker->StartLink()) << worker->Link().Port.LastErrorText();
    EXPECT_TRUE(worker->Running());
    EXPECT_TRUE(sim.WaitForPolls(polls + 3, 2s));
    EXPECT_EQ(worker->Link().PendingTranLines.Copy(),
              (std::vector<std::string>{"line 1", "line 2"}));
    EXPECT_EQ(worker->Link().PendingBonLines.Count(), 1u);
    EXPECT_EQ(worker->Link().MessageType, "7");
    EXPECT_EQ(worker->Link().FiscalSeries, "FS9");
    EXPECT_EQ(worker->Link().SecondField, "two");
    // A second start while running is refused and changes nothing.
    EXPECT_FALSE(worker->StartLink());
    EXPECT_TRUE(worker->Running());
    worker->StopLink();
}

// Waits until `done` holds; false when it does not within `timeout`.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// True when another port object can open `path` now, and closes it again: the worker does not
// hold it. Asked under LinkLock, so that the worker cannot be inside an attempt of its own.
bool OpenableByAnother(const std::string& path) {
    std::lock_guard<FairRecursiveMutex> noAttemptMeanwhile(LinkLock);
    TBlockSerial other;
    other.OpenPort(path);
    const bool opened = other.PortReady();
    other.ClosePort();
    return opened;
}

TEST(LinkStart, NeverStartedWorkerRunsNoCycle) {
    EcrSimulator sim(1);
    {
        auto worker = MakeWorker(sim.PortName(), 1);
        EXPECT_FALSE(worker->Running());
    }
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(sim.ReceivedBytes(), "");
}

TEST(LinkStart, APortThatIsNotThereYetIsTriedUntilItAppears) {
    // A service started at boot before the USB adapter was found: the worker starts all the
    // same, tries the port about once a second without spinning, and serves the register once
    // the port appears.
    TempFolder folder;
    const std::string link = folder.File("ecr2");
    EcrSimulator sim(EcrSimulator::Options{.logicalNb = 2, .linkPath = link, .plugged = false});
    auto worker = MakeWorker(link, 2);
    ASSERT_TRUE(worker->StartLink());
    EXPECT_TRUE(worker->Running());
    EXPECT_FALSE(worker->Link().Port.PortReady());
    LinkStatusSnapshot s = worker->Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::CouldNotOpen);
    EXPECT_EQ(s.portError, TBlockSerial::ErrorText(ENOENT));

    const auto cpuBefore = ProcessCpuTime();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(1500ms);
    const auto cpu = ProcessCpuTime() - cpuBefore;
    const auto wall =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - wallBefore);
    EXPECT_LT(cpu.count(), wall.count() / 10) << "CPU " << cpu.count() << " us while waiting";
    EXPECT_EQ(worker->Link().Status.State(), PortState::CouldNotOpen);

    sim.Plug();
    ASSERT_TRUE(sim.WaitForPolls(2, 3s)) << "not polled once the port appeared";
    EXPECT_TRUE(sim.Exchange("S;X;5", 2s).acked);
    s = worker->Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::Open);
    EXPECT_EQ(s.portError, "") << "the reason goes with the fault";
    EXPECT_EQ(s.losses, 0u);

    // Stopping is prompt while it waits for a port too.
    sim.Unplug();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(Timed([&] { worker->StopLink(); }), ByteTimeout + 100);
    EXPECT_FALSE(worker->Running());
    EXPECT_EQ(worker->Link().Status.State(), PortState::Stopped);
}

TEST(LinkStart, APortThatFailsAfterItOpenedIsClosedAgain) {
    // The device opens but refuses the line settings (a byte size it does not have stands for a
    // device that refuses them): the port must be closed again, or every later attempt, here or
    // at the next connect, would be refused as "Instance already in use".
    EcrSimulator sim(1);
    auto worker = MakeWorker(sim.PortName(), 1);
    worker->Link().DataBits = 9;
    ASSERT_TRUE(worker->StartLink());
    const LinkStatusSnapshot s = worker->Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::CouldNotOpen);
    EXPECT_EQ(s.portError, TBlockSerial::ErrorText(EINVAL));
    EXPECT_TRUE(OpenableByAnother(sim.PortName())) << "the failed attempt kept the port";
    // Later attempts fail for the same reason, never as "in use".
    std::this_thread::sleep_for(1300ms);
    EXPECT_EQ(worker->Link().Status.Snapshot().portError, TBlockSerial::ErrorText(EINVAL));
    EXPECT_TRUE(OpenableByAnother(sim.PortName()));
    EXPECT_EQ(sim.ReceivedBytes(), "");

    // Once the device takes the settings, the register is served. (The link reads DataBits in
    // its attempt, under LinkLock: changed under it, the change reaches the worker's thread.)
    {
        std::lock_guard<FairRecursiveMutex> guard(LinkLock);
        worker->Link().DataBits = 8;
    }
    ASSERT_TRUE(sim.WaitForPolls(2, 3s));
    EXPECT_TRUE(WaitFor([&] { return worker->Link().Status.State() == PortState::Open; }, 2s));
    worker->StopLink();
    EXPECT_TRUE(OpenableByAnother(sim.PortName()));
}

TEST(LinkRecovery, RegisterUnpluggedAndPluggedBack) {
    TempFolder folder;
    const std::string link = folder.File("ecr4");
    EcrSimulator sim(EcrSimulator::Options{.logicalNb = 4, .linkPath = link});
    auto worker = MakeWorker(link, 4);
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(3, 2s));
    worker->Link().PendingTranLines.Append("sale 1");

    sim.Unplug();
    std::this_thread::sleep_for(200ms);  // the worker notices the hang-up
    const auto cpuBefore = ProcessCpuTime();
    const auto wallBefore = Clock::now();
    std::this_thread::sleep_for(1500ms);
    const auto cpu = ProcessCpuTime() - cpuBefore;
    const auto wall = Clock::now() - wallBefore;
    // A worker spinning on the dead line would use about the whole time.
    EXPECT_LT(cpu.count(), std::chrono::duration_cast<std::chrono::microseconds>(wall).count() / 10)
        << "CPU " << cpu.count() << " us while unplugged";
    EXPECT_TRUE(worker->Running());

    const std::size_t polls = sim.PollCount();
    sim.Plug();
    // Re-opened by the same name within about a second, without a disconnect and connect.
    EXPECT_TRUE(sim.WaitForPolls(polls + 3, 4s));
    const auto r = sim.Exchange("S;X;5", 2s);
    EXPECT_TRUE(r.acked);
    EXPECT_EQ(worker->Link().PendingTranLines.Copy(), std::vector<std::string>{"sale 1"});

    // Stopping stays prompt while the register is away.
    sim.Unplug();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(Timed([&] { worker->StopLink(); }), ByteTimeout + 100);
    EXPECT_FALSE(worker->Running());
    // And the stopped worker does not re-open the port behind the shell's back.
    const std::size_t pollsAtStop = sim.PollCount();
    sim.Plug();
    std::this_thread::sleep_for(1300ms);
    EXPECT_FALSE(worker->Link().Port.PortReady());
    EXPECT_EQ(sim.PollCount(), pollsAtStop);
}

TEST(LinkRecovery, ADeviceThatReturnsButRefusesItsSettingsIsClosedAfterEachAttempt) {
    TempFolder folder;
    const std::string link = folder.File("ecr5");
    EcrSimulator sim(EcrSimulator::Options{.logicalNb = 5, .linkPath = link});
    auto worker = MakeWorker(link, 5);
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(2, 2s));

    sim.Unplug();
    ASSERT_TRUE(WaitFor([&] { return worker->Link().Status.State() == PortState::Lost; }, 2s));
    {
        std::lock_guard<FairRecursiveMutex> guard(LinkLock);
        worker->Link().DataBits = 9;  // the device that comes back refuses the settings
    }
    const std::size_t polls = sim.PollCount();
    sim.Plug();
    ASSERT_TRUE(WaitFor(
        [&] {
            return worker->Link().Status.Snapshot().portError == TBlockSerial::ErrorText(EINVAL);
        },
        3s))
        << worker->Link().Status.Snapshot().portError;
    EXPECT_EQ(worker->Link().Status.State(), PortState::Lost);
    EXPECT_TRUE(OpenableByAnother(link)) << "a failed re-open kept the port";
    std::this_thread::sleep_for(1200ms);  // another attempt, refused for the same reason
    EXPECT_EQ(worker->Link().Status.Snapshot().portError, TBlockSerial::ErrorText(EINVAL));
    EXPECT_EQ(sim.PollCount(), polls);

    {
        std::lock_guard<FairRecursiveMutex> guard(LinkLock);
        worker->Link().DataBits = 8;
    }
    ASSERT_TRUE(sim.WaitForPolls(polls + 2, 3s));
    EXPECT_TRUE(WaitFor([&] { return worker->Link().Status.State() == PortState::Open; }, 2s));
    const LinkStatusSnapshot s = worker->Link().Status.Snapshot();
    EXPECT_EQ(s.portError, "");
    EXPECT_EQ(s.losses, 1u);
    worker->StopLink();
}

TEST(LinkFairness, FourSilentRegistersArePolledEvenly) {
    std::vector<std::unique_ptr<EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= 4; ++n) {
        sims.push_back(std::make_unique<EcrSimulator>(n));
        workers.push_back(MakeWorker(sims.back()->PortName(), n));
    }
    for (auto& w : workers) {
        ASSERT_TRUE(w->StartLink());
    }
    std::this_thread::sleep_for(300ms);  // all four in their rhythm
    std::vector<std::size_t> before;
    for (auto& s : sims) {
        before.push_back(s->PollCount());
    }
    std::this_thread::sleep_for(4s);
    std::vector<double> counts;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        counts.push_back(static_cast<double>(sims[i]->PollCount() - before[i]));
    }
    for (auto& w : workers) {
        w->StopLink();
    }
    const double mean = (counts[0] + counts[1] + counts[2] + counts[3]) / 4;
    // Each silent cycle holds the lock for about one ByteTimeout, so four registers share
    // roughly 1000 / (4 * 55) polls a second each.
    EXPECT_GT(mean, 4000.0 / (4 * ByteTimeout) * 0.5);
    for (double c : counts) {
        EXPECT_NEAR(c, mean, mean * 0.25)
            << "polls " << counts[0] << " " << counts[1] << " " << counts[2] << " " << counts[3];
    }
}

}  // namespace
}  // namespace tallyport::linktest
