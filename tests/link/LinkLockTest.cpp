#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
            std::this_thread::sleep_for(5ms);
        });
        std::this_thread::sleep_for(60ms);  // let each one queue before the next arrives
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
}

TEST(FairRecursiveMutex, GreedyThreadsShareEvenly) {
    // Four threads each hold the lock briefly and re-take it at once.
    FairRecursiveMutex m;
    std::atomic<bool> stop{false};
    std::vector<long> counts(4, 0);
    std::vector<std::thread> threads;
    m.lock();  // all four queue up before the first turn
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            while (!stop.load()) {
                std::lock_guard<FairRecursiveMutex> guard(m);
                ++counts[static_cast<std::size_t>(i)];
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    std::this_thread::sleep_for(100ms);
    m.unlock();
    std::this_thread::sleep_for(1s);
    stop = true;
    for (auto& t : threads) {
        t.join();
    }
    const long total = counts[0] + counts[1] + counts[2] + counts[3];
    ASSERT_GT(total, 40);
    for (long c : counts) {
        // In FIFO order no thread can get more than one turn ahead of another.
        EXPECT_NEAR(static_cast<double>(c), total / 4.0, 2.0) << c << " of " << total;
    }
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
