// The status a worker keeps for the shell: port state through start, loss, return and stop;
// the time of the last frame; the last error; a worker held by its journal, with the reason.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

#include "LinkTestSupport.h"
#include "link/LinkStatus.h"

namespace tallyport::linktest {
namespace {

using sim::EcrSimulator;

// Waits until the worker's port state is `state`; false when it does not come within `timeout`.
bool WaitForState(const TSerialThread& worker, PortState state, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (worker.Link().Status.State() != state) {
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(LinkStatus, PortStatesFollowAVanishingAndReturningPort) {
    TempFolder folder;
    const std::string link = folder.File("ecr6");
    EcrSimulator sim(EcrSimulator::Options{6, link, {}});
    auto worker = MakeWorker(link, 6);
    EXPECT_EQ(worker->Link().Status.State(), PortState::Stopped);
    ASSERT_TRUE(worker->StartLink());
    EXPECT_EQ(worker->Link().Status.State(), PortState::Open);
    EXPECT_EQ(worker->Link().Status.Snapshot().losses, 0u);

    sim.Unplug();
    ASSERT_TRUE(WaitForState(*worker, PortState::Lost, 2s));
    const LinkStatusSnapshot lost = worker->Link().Status.Snapshot();
    EXPECT_EQ(lost.losses, 1u);
    EXPECT_FALSE(lost.portError.empty());
    // Still lost while the device stays away: the failed re-opens change nothing but the
    // reason, which is now why the re-open fails.
    std::this_thread::sleep_for(1200ms);
    EXPECT_EQ(worker->Link().Status.State(), PortState::Lost);
    EXPECT_EQ(worker->Link().Status.Snapshot().losses, 1u);
    EXPECT_EQ(worker->Link().Status.Snapshot().portError, TBlockSerial::ErrorText(ENOENT));

    sim.Plug();
    ASSERT_TRUE(WaitForState(*worker, PortState::Open, 4s));
    EXPECT_TRUE(sim.Exchange("S;X;5", 2s).acked);
    EXPECT_EQ(worker->Link().Status.Snapshot().losses, 1u);
    EXPECT_EQ(worker->Link().Status.Snapshot().portError, "") << "the error text clears";

    worker->StopLink();
    EXPECT_EQ(worker->Link().Status.State(), PortState::Stopped);
    // A stopped worker does not call its closed port lost.
    EXPECT_EQ(worker->Link().Status.Snapshot().losses, 1u);
}

TEST(LinkStatus, APortThatCannotOpenSaysSoWithTheReason) {
    TempFolder folder;
    auto worker = MakeWorker(folder.File("no-such-port"), 1);
    EXPECT_TRUE(worker->StartLink());  // tried again about once a second
    const LinkStatusSnapshot s = worker->Link().Status.Snapshot();
    EXPECT_EQ(s.state, PortState::CouldNotOpen);
    EXPECT_EQ(s.portError, TBlockSerial::ErrorText(ENOENT));
    EXPECT_EQ(s.lastError, "");
    EXPECT_FALSE(s.lastFrame.has_value());
    worker->StopLink();
    EXPECT_EQ(worker->Link().Status.State(), PortState::Stopped);
}

TEST(LinkStatus, LastFrameTimeMovesWithEachAcceptedFrame) {
    EcrSimulator sim(2);
    auto worker = MakeWorker(sim.PortName(), 2);
    ASSERT_TRUE(worker->StartLink());
    ASSERT_TRUE(sim.WaitForPolls(3, 2s));
    // Silence is no frame.
    EXPECT_FALSE(worker->Link().Status.Snapshot().lastFrame.has_value());

    const auto beforeFirst = Clock::now();
    ASSERT_TRUE(sim.Exchange("S;X;5", 2s).acked);
    const auto first = worker->Link().Status.Snapshot().lastFrame;
    ASSERT_TRUE(first.has_value());
    EXPECT_GE(*first, beforeFirst);
    EXPECT_LE(*first, Clock::now());

    // Polls answered with silence leave it where it is.
    const std::size_t polls = sim.PollCount();
    ASSERT_TRUE(sim.WaitForPolls(polls + 3, 2s));
    EXPECT_EQ(worker->Link().Status.Snapshot().lastFrame, first);

    ASSERT_TRUE(sim.Exchange("S;X;5", 2s).acked);
    const auto second = worker->Link().Status.Snapshot().lastFrame;
    ASSERT_TRUE(second.has_value());
    EXPECT_GT(*second, *first);
    worker->StopLink();
}

TEST(LinkStatus, CountsAndErrorTextReadFromAnotherThread) {
    LinkStatus status;
    std::thread writer([&] {
        for (int i = 0; i < 1000; ++i) {
            status.SaleRecorded();
            if (i % 100 == 0) {
                status.ReceiptRecorded();
                status.SetError("error " + std::to_string(i));
            }
        }
    });
    // Reading while the writer runs sees counts that only grow.
    std::uint64_t lastSales = 0;
    for (int i = 0; i < 200; ++i) {
        const LinkStatusSnapshot s = status.Snapshot();
        EXPECT_GE(s.sales, lastSales);
        lastSales = s.sales;
    }
    writer.join();
    const LinkStatusSnapshot s = status.Snapshot();
    EXPECT_EQ(s.sales, 1000u);
    EXPECT_EQ(s.receipts, 10u);
    EXPECT_EQ(s.lastError, "error 900");
}

TEST(LinkStatus, AJournalHoldIsShownWithItsReasonApartFromThePortsError) {
    LinkStatus status;
    EXPECT_FALSE(status.JournalHeld());
    EXPECT_FALSE(status.Snapshot().journalHeld);
    status.SetError("Input/output error");
    status.SetJournalError("Cannot write file /j/ECR3.txt: No space left on device");
    EXPECT_TRUE(status.JournalHeld());
    LinkStatusSnapshot s = status.Snapshot();
    EXPECT_TRUE(s.journalHeld);
    EXPECT_EQ(s.journalError, "Cannot write file /j/ECR3.txt: No space left on device");
    EXPECT_EQ(s.lastError, "Input/output error") << "each keeps its own text";
    // A later reason replaces the first; a port error meanwhile leaves it.
    status.SetJournalError("Cannot write file /j/ECR3.txt: Read-only file system");
    status.SetError("Broken pipe");
    s = status.Snapshot();
    EXPECT_EQ(s.journalError, "Cannot write file /j/ECR3.txt: Read-only file system");
    EXPECT_EQ(s.lastError, "Broken pipe");

    status.ClearJournalError();
    EXPECT_FALSE(status.JournalHeld());
    s = status.Snapshot();
    EXPECT_FALSE(s.journalHeld);
    EXPECT_EQ(s.journalError, "");
    EXPECT_EQ(s.lastError, "Broken pipe");
}

TEST(LinkStatus, AJournalHoldAndItsReasonAreNeverSeenApart) {
    LinkStatus status;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 20000; ++i) {
            status.SetJournalError("reason " + std::to_string(i));
            status.ClearJournalError();
        }
        done = true;
    });
    int torn = 0;
    while (!done.load()) {
        const LinkStatusSnapshot s = status.Snapshot();
        torn += s.journalHeld == s.journalError.empty() ? 1 : 0;
    }
    worker.join();
    EXPECT_EQ(torn, 0) << "a hold without its reason, or a reason without the hold";
    EXPECT_FALSE(status.Snapshot().journalHeld);
}

}  // namespace
}  // namespace tallyport::linktest
