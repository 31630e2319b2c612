#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "link/LinkLock.h"
#include "link/PendingLines.h"

namespace tallyport {
namespace {

using namespace std::chrono_literals;

bool TryFromOtherThread(FairRecursiveMutex& m) {
    bool got = false;
    std::thread other([&] {
        got = m.try_lock();
        if (got) {
            m.unlock();
        }
    });
    other.join();
    return got;
}

TEST(FairRecursiveMutex, ReEntryCountsDepth) {
    FairRecursiveMutex m;
    EXPECT_FALSE(m.HeldByCurrentThread());
    m.lock();
    m.lock();
    EXPECT_TRUE(m.try_lock());
    EXPECT_TRUE(m.HeldByCurrentThread());
    EXPECT_FALSE(TryFromOtherThread(m));
    m.unlock();
    m.unlock();
    EXPECT_TRUE(m.HeldByCurrentThread());
    EXPECT_FALSE(TryFromOtherThread(m));
    m.unlock();
    EXPECT_FALSE(m.HeldByCurrentThread());
    EXPECT_TRUE(TryFromOtherThread(m));
    // A release by a thread that does not hold it changes nothing.
    m.lock();
    std::thread([&] { m.unlock(); }).join();
    EXPECT_TRUE(m.HeldByCurrentThread());
    EXPECT_FALSE(TryFromOtherThread(m));
    m.unlock();
}

// Waits until `count` threads stand in line for the lock, as the lock itself counts them.
void AwaitWaiting(const FairRecursiveMutex& m, std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (m.Waiting() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(m.Waiting(), count);
}

// What the lock reports: the tickets in the order they were drawn and in the order granted.
class HandOverLog final : public FairRecursiveMutex::Observer {
public:
    void Arrived(std::uint64_t ticket) override { arrived.push_back(ticket); }
    void Granted(std::uint64_t ticket) override { granted.push_back(ticket); }
    std::vector<std::uint64_t> arrived;
    std::vector<std::uint64_t> granted;
};

TEST(FairRecursiveMutex, HandsOverInArrivalOrder) {
    FairRecursiveMutex m;
    std::mutex orderMutex;
    std::vector<int> order;
    auto record = [&](int who) {
        std::lock_guard<std::mutex> g(orderMutex);
        order.push_back(who);
    };

    m.lock();
    std::vector<std::thread> waiters;
    for (int who = 1; who <= 3; ++who) {
        waiters.emplace_back([&, who] {
            std::lock_guard<FairRecursiveMutex> guard(m);
            record(who);
        });
        AwaitWaiting(m, static_cast<std::size_t>(who));  // in line before the next arrives
    }
    // A thread already in line blocks try_lock even while the lock is between holders.
    EXPECT_FALSE(TryFromOtherThread(m));
    m.unlock();
    // The releasing thread re-takes at once, yet it must queue behind the three waiters.
    m.lock();
    record(0);
    m.unlock();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 0}));
    EXPECT_EQ(m.Waiting(), 0u);
}

TEST(FairRecursiveMutex, GreedyThreadsAreServedInTicketOrder) {
    // Four threads each take the lock and re-take it at once, as idle workers do. However the
    // machine schedules them, the lock must grant every ticket, in the order drawn: a thread
    // that re-takes at once goes behind everyone already in line.
    FairRecursiveMutex m;
    HandOverLog log;
    m.SetObserver(&log);
    constexpr int kThreads = 4;
    constexpr int kTurns = 300;
    std::vector<int> turns(kThreads, 0);
    std::vector<std::thread> threads;
    m.lock();
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < kTurns; ++n) {
                std::lock_guard<FairRecursiveMutex> guard(m);
                ++turns[static_cast<std::size_t>(i)];
            }
        });
    }
    AwaitWaiting(m, kThreads);
    m.unlock();
    for (auto& t : threads) {
        t.join();
    }
    m.SetObserver(nullptr);

    const std::size_t total = 1 + kThreads * kTurns;
    ASSERT_EQ(log.arrived.size(), total);
    ASSERT_EQ(log.granted.size(), total);
    EXPECT_EQ(log.granted, log.arrived);  // each ticket in turn, none skipped, none twice
    for (std::size_t k = 1; k < log.granted.size(); ++k) {
        ASSERT_EQ(log.granted[k], log.granted[k - 1] + 1) << "at grant " << k;
    }
    EXPECT_EQ(turns, std::vector<int>(kThreads, kTurns));
}

TEST(FairRecursiveMutex, ReEntryAndTryLockDrawNoExtraTurn) {
    FairRecursiveMutex m;
    HandOverLog log;
    m.SetObserver(&log);
    m.lock();
    m.lock();  // re-entry: no ticket of its own
    EXPECT_TRUE(m.try_lock());
    m.unlock();
    m.unlock();
    m.unlock();
    EXPECT_TRUE(m.try_lock());  // free and nobody in line: a turn of its own
    m.unlock();
    m.SetObserver(nullptr);
    EXPECT_EQ(log.arrived, (std::vector<std::uint64_t>{0, 1}));
    EXPECT_EQ(log.granted, (std::vector<std::uint64_t>{0, 1}));
}

TEST(PendingLines, OrderedOperations) {
    PendingLines lines;
    EXPECT_TRUE(lines.Empty());
    EXPECT_FALSE(lines.RemoveLast());
    lines.Append("a");
    lines.Append("b");
    lines.Append("c");
    EXPECT_EQ(lines.Count(), 3u);
    EXPECT_TRUE(lines.RemoveLast());
    EXPECT_EQ(lines.Copy(), (std::vector<std::string>{"a", "b"}));
    lines.Update([](std::vector<std::string>& v) {
        for (auto& s : v) {
            s += "!";
        }
    });
    EXPECT_EQ(lines.Copy(), (std::vector<std::string>{"a!", "b!"}));
    lines.Append("c");
    lines.DropFront(2);
    EXPECT_EQ(lines.Copy(), (std::vector<std::string>{"c"}));
    lines.DropFront(5);
    EXPECT_TRUE(lines.Empty());
    lines.Append("x");
    lines.Clear();
    EXPECT_EQ(lines.Count(), 0u);
}

TEST(PendingLines, SafeFromSeveralThreads) {
    PendingLines lines;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        std::size_t last = 0;
        while (!done.load()) {
            const std::size_t now = lines.Count();
            EXPECT_GE(now, last);  // only appends happen meanwhile
            last = now;
            (void)lines.Copy();
        }
    });
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&] {
            for (int i = 0; i < 2000; ++i) {
                lines.Append(std::to_string(i));
            }
        });
    }
    for (auto& t : writers) {
        t.join();
    }
    done = true;
    reader.join();
    EXPECT_EQ(lines.Count(), 6000u);
}

}  // namespace
}  // namespace tallyport
