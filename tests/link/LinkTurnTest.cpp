// One register's turn on the link: from its poll to the end of its exchange no other
// register's bytes go out on any line, and the turns go round in arrival order.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <thread>

#include "LinkTestSupport.h"
#include "link/LinkFrame.h"
#include "link/LinkLock.h"
#include "link/LinkProtocol.h"
#include "support/WriteLog.h"

namespace tallyport::linktest {
namespace {

using sim::Answer;
using sim::EcrSimulator;
using sim::PcMessage;
using sim::SentRecord;

struct Handled {
    std::atomic<int> repliesSent{0};
    std::atomic<int> confirmed{0};
    std::atomic<int> articleWithoutLock{0};
    std::atomic<int> discounts{0};
    std::atomic<int> discountsUnderLock{0};
};

std::shared_ptr<const HandlerTable> TurnHandlers(Handled& handled) {
    auto table = std::make_shared<HandlerTable>();
    (*table)['1'] = HandlerEntry{[&handled](TSerialExtended& link, const std::string&) {
                                     if (!LinkLock.HeldByCurrentThread()) {
                                         ++handled.articleWithoutLock;
                                     }
                                     if (!link.SendReply("Paine;2.5;100.000;1;1;1;;;")) {
                                         return false;
                                     }
                                     ++handled.repliesSent;
                                     const std::string answer =
                                         StripFillers(link.Port.ReadAvailable(ConfirmationWait));
                                     if (!answer.empty() && answer.front() == AckByte) {
                                         ++handled.confirmed;
                                     }
                                     return true;
                                 },
                                 HandlerTurn::InTurn};
    (*table)['2'] = HandlerEntry{[&handled](TSerialExtended&, const std::string&) {
                                     if (LinkLock.HeldByCurrentThread()) {
                                         ++handled.discountsUnderLock;
                                     }
                                     ++handled.discounts;
                                     // Stands for the file work, which must not hold up the
                                     // other registers.
                                     std::this_thread::sleep_for(20ms);
                                     return true;
                                 },
                                 HandlerTurn::AfterTurn};
    return table;
}

// One article exchange as a register saw it: from the arrival of the poll it answered to its
// own confirmation of the PC's reply.
struct Turn {
    int logicalNb = 0;
    Clock::time_point from{};
    Clock::time_point to{};
};

std::vector<Turn> ArticleTurns(const EcrSimulator& sim) {
    const std::vector<PcMessage> messages = sim.Messages();
    const std::vector<SentRecord> sent = sim.Sent();
    std::vector<Turn> turns;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const SentRecord& answer = sent[i];
        if (answer.what != SentRecord::What::Answer ||
            answer.bytes.find(";1;") == std::string::npos) {
            continue;
        }
        auto confirmation = std::find_if(
            sent.begin() + static_cast<std::ptrdiff_t>(i) + 1, sent.end(),
            [](const SentRecord& r) { return r.what == SentRecord::What::Confirmation; });
        if (confirmation == sent.end() || !confirmation->finished) {
            continue;
        }
        turns.push_back(Turn{sim.LogicalNb(), messages[answer.pollIndex].last, confirmation->end});
    }
    return turns;
}

TEST(LinkTurn, NoOtherRegistersBytesInsideOneRegistersExchange) {
    constexpr int kRegisters = 4;
    constexpr int kRounds = 4;
    Handled handled;
    auto handlers = TurnHandlers(handled);
    auto writes = std::make_shared<test::WriteLog>();
    std::vector<std::unique_ptr<EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= kRegisters; ++n) {
        sims.push_back(std::make_unique<EcrSimulator>(30 + n));
        // An article request, a silent poll (a whole ByteTimeout for the others to wait
        // through), a discount and another article request, again and again.
        for (int round = 0; round < kRounds; ++round) {
            sims.back()->Enqueue(Answer::Frame("S;X;1;123;;1.000"));
            sims.back()->Enqueue(Answer::Silence());
            sims.back()->Enqueue(Answer::Frame("S;X;2;;-1.00;10.00"));
            sims.back()->Enqueue(Answer::Frame("S;X;1;456;;1.000"));
        }
        workers.push_back(MakeWorker(sims.back()->PortName(), 30 + n));
        workers.back()->Link().SetHandlers(handlers);
        workers.back()->Link().Port.SetLineStatusProbe(
            std::make_unique<test::LoggingDriver>(writes, 30 + n));
    }
    for (auto& w : workers) {
        ASSERT_TRUE(w->StartLink());
    }
    const auto servedBy = Clock::now() + 30s;
    for (auto& s : sims) {
        while (s->QueuedAnswers() > 0 && Clock::now() < servedBy) {
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_EQ(s->QueuedAnswers(), 0u) << "register " << s->LogicalNb() << " was not served";
    }
    for (auto& s : sims) {
        EXPECT_TRUE(s->WaitForPolls(s->PollCount() + 1, 5s));
    }
    for (auto& w : workers) {
        w->StopLink();
    }

    EXPECT_EQ(handled.repliesSent.load(), kRegisters * kRounds * 2);
    EXPECT_EQ(handled.confirmed.load(), handled.repliesSent.load());
    EXPECT_EQ(handled.articleWithoutLock.load(), 0);
    EXPECT_EQ(handled.discounts.load(), kRegisters * kRounds);
    EXPECT_EQ(handled.discountsUnderLock.load(), 0);

    // In the order the PC wrote: after a register's poll, nothing to another line until that
    // register's exchange is over (its acknowledgement and reply follow its own poll).
    const std::size_t pollSize = sim::ExpectedPoll(31).size();
    int turnOf = 0;
    std::size_t polls = 0;
    for (const test::WriteLog::Entry& w : writes->Entries()) {
        if (w.count == static_cast<int>(pollSize)) {
            turnOf = w.line;
            ++polls;
            continue;
        }
        EXPECT_EQ(w.line, turnOf) << "a write of " << w.count << " bytes to register " << w.line
                                  << " inside the turn of register " << turnOf;
    }
    EXPECT_GE(polls, static_cast<std::size_t>(kRegisters * kRounds * 4));

    // The same seen from the registers, up to the confirmation that ends an article exchange.
    // The simulators note arrivals on their own threads, so one may note a byte of the turn
    // before a little late: 25 ms are allowed at the start of a turn. Its end is exact: the
    // PC writes to another line only after it has read the register's confirmation.
    constexpr auto kNotingDelay = 25ms;
    std::size_t turnsChecked = 0;
    for (const auto& owner : sims) {
        for (const Turn& turn : ArticleTurns(*owner)) {
            ++turnsChecked;
            for (const auto& other : sims) {
                if (other.get() == owner.get()) {
                    continue;
                }
                for (const PcMessage& m : other->Messages()) {
                    const bool inside = m.last > turn.from + kNotingDelay && m.first < turn.to;
                    EXPECT_FALSE(inside)
                        << sim::PcKindName(m.kind) << " to register " << other->LogicalNb()
                        << " inside the turn of register " << turn.logicalNb << " ("
                        << Ms(m.first - turn.from) << " ms after its poll, turn "
                        << Ms(turn.to - turn.from) << " ms)";
                }
            }
        }
    }
    EXPECT_EQ(turnsChecked, static_cast<std::size_t>(kRegisters * kRounds * 2));
}

TEST(LinkTurn, TurnsGoRoundInArrivalOrder) {
    // Four trading registers: each worker re-queues for the lock as soon as its turn ends, and
    // the FIFO hand-over serves them in turn, so their poll counts stay together.
    constexpr int kRegisters = 4;
    Handled handled;
    auto handlers = TurnHandlers(handled);
    std::vector<std::unique_ptr<EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= kRegisters; ++n) {
        sims.push_back(std::make_unique<EcrSimulator>(40 + n));
        for (int i = 0; i < 200; ++i) {
            sims.back()->Enqueue(Answer::Frame("S;X;1;123;;1.000"));
        }
        workers.push_back(MakeWorker(sims.back()->PortName(), 40 + n));
        workers.back()->Link().SetHandlers(handlers);
    }
    for (auto& w : workers) {
        ASSERT_TRUE(w->StartLink());
    }
    // Counted between two moments while all four run: starting and stopping them one after
    // the other gives the first and the last a few turns alone.
    std::this_thread::sleep_for(500ms);
    std::vector<std::size_t> before;
    for (auto& s : sims) {
        before.push_back(s->PollCount());
    }
    std::this_thread::sleep_for(3s);
    std::vector<std::size_t> counts;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        counts.push_back(sims[i]->PollCount() - before[i]);
    }
    for (auto& w : workers) {
        w->StopLink();
    }
    const auto [least, most] = std::minmax_element(counts.begin(), counts.end());
    std::ostringstream all;
    for (std::size_t c : counts) {
        all << c << " ";
    }
    EXPECT_GE(*least, 5u) << all.str();
    // In arrival order every worker has one turn per round: the counts differ only by the
    // rounds under way at the two moments.
    EXPECT_LE(*most - *least, 3u) << all.str();
    // Stopping a worker may cut the confirmation wait of the reply it has just sent.
    EXPECT_GE(handled.confirmed.load(), handled.repliesSent.load() - kRegisters);
}

TEST(LinkTurn, WithParallelLinesARegisterThatStopsAnsweringDoesNotSlowTheOthers) {
    // Register 61 starts every answer and never ends it: its worker waits out the whole frame
    // deadline at each poll. Served in turn, every other register would wait through that too
    // (a poll gap of more than FrameDeadline); each on its own line, the others keep their own
    // rhythm: a silent cycle (the poll on the wire and one ByteTimeout) between two polls.
    constexpr int kRegisters = 4;
    LinkOptions options;
    options.ParallelLines = true;
    std::vector<std::unique_ptr<EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= kRegisters; ++n) {
        sims.push_back(std::make_unique<EcrSimulator>(60 + n));
        workers.push_back(
            std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, Notices()));
        workers.back()->Link().CommPort = sims.back()->PortName();
        workers.back()->Link().LogicalNb = 60 + n;
        workers.back()->Link().TranRate = 9600;
    }
    EcrSimulator& stuck = *sims.front();
    for (int i = 0; i < 40; ++i) {
        stuck.Enqueue(Answer::Frame("S;X;1;123;;1.000").Cut(6));
    }
    for (auto& w : workers) {
        ASSERT_TRUE(w->StartLink());
    }
    ASSERT_TRUE(stuck.WaitForPolls(2, 5s));
    const auto from = Clock::now();
    std::this_thread::sleep_for(3s);
    const auto to = Clock::now();
    const std::size_t stuckAnswers = stuck.Sent().size();
    for (auto& w : workers) {
        w->StopLink();
    }
    // The stuck register was answering with its broken frames all along.
    EXPECT_GE(stuckAnswers, 4u);
    // One silent cycle is about 75 ms at 9600 baud; the bound leaves room for a loaded machine
    // and stays well below one frame deadline of the stuck register.
    constexpr auto kBound = std::chrono::milliseconds(FrameDeadline * 3 / 4);
    for (std::size_t i = 1; i < sims.size(); ++i) {
        const auto gap = sims[i]->LongestPollGap(from, to);
        EXPECT_LT(gap, kBound) << "register " << sims[i]->LogicalNb() << ": " << Ms(gap)
                               << " ms without a poll";
    }
}

}  // namespace
}  // namespace tallyport::linktest
