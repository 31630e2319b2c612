#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "TestFiles.h"
#include "link/LinkLock.h"
#include "link/SerialThread.h"
#include "requests/RequestHandlers.h"
#include "simulator/EcrProtocol.h"
#include "simulator/EcrSimulator.h"
#include "store/PluHolder.h"
#include "support/DrainingQueue.h"
#include "support/FakeLineStatus.h"
#include "support/LineModes.h"
#include "support/NoticeRecorder.h"
#include "support/SettableClock.h"

namespace tallyport::testing {

using namespace std::chrono_literals;

using test::Notice;
using test::NoticeRecorder;
using test::SettableClock;

// How one simulated register's worker is built.
struct RegisterOptions {
    int logicalNb = 3;
    std::string fiscal = "S1";
    bool recDiscount = true;
    bool recAmount = true;
    bool recDecimals = false;
    double cardMin = 0;
    double cardMax = 100000000;
    std::string scalePrefix = "24";
    std::string bonFile;   // empty: Bon.txt in the test's folder
    std::string tranFile;  // empty: Tran.txt in the test's folder
    sim::Confirmation confirmation{.enabled = true, .delayMs = 0};
    // The register's line; the worker's port is set to the same rate (9600 for the bare pty).
    sim::LineRate line = sim::kDefaultLineRate;
    // A driver output queue that drains at the line rate, standing in for the pty's (which is
    // always empty); none when null.
    std::shared_ptr<test::DrainingQueueState> drainingQueue;
    // A driver that reports line errors when the test says (FakeLineStatus); none when null.
    std::shared_ptr<test::FakeLineState> lineStatus;
    // The name the register's port is published under ("": the pty's own), and whether it is
    // there when the worker starts (false: only once the test plugs it in).
    std::string linkPath;
    bool plugged = true;
    // Runs on the link before its worker starts (a restart restores the journal's lines here).
    std::function<void(TSerialExtended&)> beforeStart;
};

// A register on a pseudo-terminal and the link worker that serves it.
struct SimulatedRegister {
    std::unique_ptr<sim::EcrSimulator> sim;
    std::unique_ptr<TSerialThread> worker;
    std::shared_ptr<RequestFields> fields = std::make_shared<RequestFields>();

    TSerialExtended& Link() { return worker->Link(); }
    // A working field of the register's handlers, read under the link's turn lock: the worker
    // changes the fields on its own thread and takes the lock for its next poll, so the lock
    // orders the read after the change.
    std::string Field(std::string RequestFields::*field) {
        std::lock_guard<FairRecursiveMutex> guard(worker->Link().TurnLock());
        return (*fields).*field;
    }
    std::vector<std::string> PendingTran() const { return worker->Link().PendingTranLines.Copy(); }
    std::vector<std::string> PendingBon() const { return worker->Link().PendingBonLines.Copy(); }
    ~SimulatedRegister() {
        worker.reset();  // stop the worker before its line goes away
        sim.reset();
    }
};

// A driver queue at the fixture's 9600 baud 8N1 that starts sending `hold` after each write,
// as a USB adapter does; the pseudo-terminal itself always reports an empty queue.
std::shared_ptr<test::DrainingQueueState> AdapterQueue(std::chrono::milliseconds hold);

// Message bodies as the registers send them.
std::string ArticleRequestBody(const std::string& code, const std::string& quantity = "1.000",
                               const std::string& fiscal = "S1", char type = '1');
std::string DiscountBody(const std::string& value, const std::string& rate);
std::string ClosingBody(const std::string& paymentType, const std::string& operatorNo,
                        const std::string& receiptNo, const std::string& zReportNo,
                        const std::string& amount1, const std::string& amount2);
std::string CardBody(const std::string& reference, const std::string& amount, char type = '8');

// How the workers take their turns on the lines: all in turn under LinkLock, or each line on its
// own (LinkOptions::ParallelLines). The end-to-end suites run in both (support/LineModes.h).
enum class LineMode { Serial, Parallel };
inline auto EveryLineMode() {
    std::vector<LineMode> modes;
    for (const bool parallel : test::SelectedLineModes()) {
        modes.push_back(parallel ? LineMode::Parallel : LineMode::Serial);
    }
    return ::testing::ValuesIn(modes);
}
// Test names: ".../Serial", ".../Parallel".
std::string LineModeName(const ::testing::TestParamInfo<LineMode>& info);
std::ostream& operator<<(std::ostream& out, LineMode mode);

// 6 December 2026, 21:50.
inline constexpr LocalTime kTestTime{.year = 2026, .month = 12, .day = 6, .hour = 21, .minute = 50};

// The worked example's lines.
extern const std::string kPaineArticle;  // article file line of 123 Paine 2.5, Dept 01, VAT 1
std::string PainePendingLine(int logicalNb = 3);

// Registers served end to end: real link workers on pseudo-terminals, a real article file and
// real output files in a temporary folder, a fixed clock and a notice recorder.
class RequestTest : public ::testing::Test {
protected:
    RequestTest();
    ~RequestTest() override;

    // Writes the article file (lines without line ends) and loads it into a new holder; call
    // before AddRegister.
    void WriteArticles(const std::vector<std::string>& lines);
    // Rewrites the article file with a modification time later than the loaded one and, unless
    // told not to, waits until the holder's loader has taken it in.
    void RewriteArticles(const std::vector<std::string>& lines, bool waitForLoad = true);

    // A register served in the suite's line mode (lineMode_).
    SimulatedRegister& AddRegister(RegisterOptions options = {});

    // Sends one frame at the register's next poll and waits until the worker has handled it
    // (it polls again); the result holds the PC's acknowledgement and reply.
    sim::ExchangeResult Request(SimulatedRegister& reg, const std::string& body);
    sim::ExchangeResult Request(SimulatedRegister& reg, sim::Answer answer);

    std::string BonPath() const { return folder_.File("Bon.txt"); }
    std::string TranPath() const { return folder_.File("Tran.txt"); }
    std::string PluPath() const { return folder_.File("PLU.txt"); }

    // Set by a suite that runs in every line mode (InEveryLineMode), before it adds registers.
    LineMode lineMode_ = LineMode::Serial;
    TempFolder folder_;
    SettableClock clock_{kTestTime};
    NoticeRecorder notices_;
    RequestContext context_{clock_};
    // A loader that looks at the file often and waits little for it to hold still.
    ArticleReloadTimes reloadTimes_{.check = 20ms, .settle = 20ms, .retry = 200ms};
    // Given to the holders WriteArticles makes: runs on the loader's thread after each read.
    std::function<void()> afterEachRead_;
    std::unique_ptr<TPluH> holder_;
    std::vector<std::unique_ptr<SimulatedRegister>> registers_;  // destroyed first
};

// A suite of RequestTest (or of a fixture derived from it) whose tests run once with the lines
// served in turn and once in parallel: its tests are TEST_P, and it is instantiated with
//   INSTANTIATE_TEST_SUITE_P(Lines, Suite, EveryLineMode(), LineModeName);
template <typename Base = RequestTest>
class InEveryLineMode : public Base, public ::testing::WithParamInterface<LineMode> {
protected:
    InEveryLineMode() { this->lineMode_ = GetParam(); }
};

}  // namespace tallyport::testing
