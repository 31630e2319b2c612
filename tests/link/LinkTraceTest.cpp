// The technician's trace: off unless TALLYPORT_TRACE asks for it; then every byte a worker sends
// and receives, per register, on standard error.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <thread>

#include "LinkTestSupport.h"
#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"
#include "link/LinkTrace.h"
#include "serial/LineTime.h"
#include "support/DrainingQueue.h"
#include "support/FakeLineStatus.h"

namespace tallyport::linktest {
namespace {

TEST(LinkTrace, LineFormat) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 22;
    t.tm_min = 15;
    t.tm_sec = 7;
    t.tm_isdst = -1;
    const auto when = std::chrono::system_clock::from_time_t(std::mktime(&t)) + 123ms;
    EXPECT_EQ(FormatTraceLine(when, 3, TraceDirection::Sent,
                              "\x0A"
                              "A\x0D\xA9\xA1"),
              "2026-12-07 22:15:07.123 ECR3 sent 5: 0A 41 0D A9 A1  |.A...|");
    EXPECT_EQ(FormatTraceLine(when, 12, TraceDirection::Received, std::string("\x00;", 2)),
              "2026-12-07 22:15:07.123 ECR12 recv 2: 00 3B  |.;|");
    EXPECT_EQ(FormatTraceLine(when, 4, TraceDirection::Note, "low-latency mode refused"),
              "2026-12-07 22:15:07.123 ECR4 note: low-latency mode refused");
}

TEST(LinkTrace, VariableSwitchesItOn) {
    unsetenv(kLinkTraceVariable);
    EXPECT_FALSE(LinkTraceRequested());
    setenv(kLinkTraceVariable, "", 1);
    EXPECT_FALSE(LinkTraceRequested());
    setenv(kLinkTraceVariable, "0", 1);
    EXPECT_FALSE(LinkTraceRequested());
    setenv(kLinkTraceVariable, "1", 1);
    EXPECT_TRUE(LinkTraceRequested());
    unsetenv(kLinkTraceVariable);
}

// Standard error goes to a file for the time of one run of a worker.
class StderrToFile {
public:
    explicit StderrToFile(const std::string& path) {
        saved_ = dup(2);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrToFile() {
        dup2(saved_, 2);
        close(saved_);
    }

private:
    int saved_ = -1;
};

std::string RunWorkerAndTrace(bool traceOn) {
    TempFolder folder;
    const std::string path = folder.File("trace.txt");
    if (traceOn) {
        setenv(kLinkTraceVariable, "1", 1);
    } else {
        unsetenv(kLinkTraceVariable);
    }
    {
        StderrToFile redirect(path);
        sim::EcrSimulator sim(5);
        auto worker = MakeWorker(sim.PortName(), 5);
        EXPECT_TRUE(worker->StartLink());
        const auto r = sim.Exchange("S1;7;4", 3s);
        EXPECT_TRUE(r.acked);
        EXPECT_TRUE(sim.WaitForPolls(sim.PollCount() + 1, 2s));
        worker->StopLink();
    }
    unsetenv(kLinkTraceVariable);
    return test::ReadFile(path);
}

// The trace standard error got while `run` ran with the trace on.
std::string TraceOf(const std::function<void()>& run) {
    TempFolder folder;
    const std::string path = folder.File("trace.txt");
    setenv(kLinkTraceVariable, "1", 1);
    {
        StderrToFile redirect(path);
        run();
    }
    unsetenv(kLinkTraceVariable);
    return test::ReadFile(path);
}

TEST(LinkTrace, NotesSayWhatTheLinkDidBesideTheBytesAndWhy) {
    std::atomic<int> lateSales{0};
    const std::string trace = TraceOf([&] {
        sim::EcrSimulator sim(6);
        auto driver = std::make_shared<test::FakeLineState>();
        // A handler that replies and, its confirmation not come within the wait, leaves the
        // recording of the sale for a late one.
        auto worker = MakeWorker(sim.PortName(), 6);
        worker->Link().SetHandlers(HandlersFor(
            '1',
            [&lateSales](TSerialExtended& link, const std::string&) {
                link.SendReply("Paine;2.5;1;1");
                const std::string answer = StripFillers(link.Port.ReadAvailable(ConfirmationWait));
                if (answer.empty()) {
                    link.AwaitLateConfirmation([&lateSales](TSerialExtended&) { ++lateSales; });
                }
                return true;
            },
            HandlerTurn::InTurn));
        worker->Link().Port.SetLineStatusProbe(std::make_unique<test::FakeLineStatus>(driver));
        ASSERT_TRUE(worker->StartLink());
        driver->ErrorWhen(test::LineErrorKind::Framing, [&sim] {
            const auto sent = sim.Sent();
            return !sent.empty() && sent.front().bytes.size() >= 4;
        });
        EXPECT_FALSE(sim.Exchange("S1;X;5;12345", 3s).acked);
        sim.SetConfirmation(sim::Confirmation{.enabled = true, .delayMs = 140});
        EXPECT_TRUE(sim.Exchange("S1;X;1;123", 3s).acked);
        const auto deadline = Clock::now() + 2s;
        while (lateSales.load() == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(5ms);
        }
        worker->StopLink();
    });
    EXPECT_EQ(lateSales.load(), 1);
    EXPECT_NE(trace.find(" ECR6 note: low-latency mode refused by the driver (" +
                         TBlockSerial::ErrorText(ENOTTY) + ")\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(" ECR6 note: frame dropped unacknowledged: a line error was reported "
                         "during it\n"),
              std::string::npos)
        << trace;
    const auto late = trace.find(" ECR6 note: late confirmation, ");
    ASSERT_NE(late, std::string::npos) << trace;
    EXPECT_NE(trace.find(" ms after its wait ended: recorded\n", late), std::string::npos) << trace;
}

TEST(LinkTrace, AStuckTransmitterIsNotedWithWhatWasSeen) {
    const std::string trace = TraceOf([] {
        sim::EcrSimulator sim(7);
        auto worker = MakeWorker(sim.PortName(), 7);
        PortSettings line;
        line.BaudRate = 9600;
        line.ByteSize = 8;
        auto queue = std::make_shared<test::DrainingQueueState>(CharacterTime(line));
        queue->SetStuck(true);
        worker->Link().Port.SetLineStatusProbe(std::make_unique<test::DrainingQueue>(queue));
        ASSERT_TRUE(worker->StartLink());
        EXPECT_TRUE(sim.WaitForPolls(2, 4s));
        worker->StopLink();
    });
    EXPECT_NE(trace.find(" ECR7 note: port closed (transmitter stuck: output queue did not empty "
                         "within the write time-out of "),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(" ECR7 note: port opened again\n"), std::string::npos) << trace;
}

TEST(LinkTrace, WorkerTracesWhatItSendsAndReceives) {
    const std::string trace = RunWorkerAndTrace(true);
    // The poll of register 5, the register's frame, the PC's bare acknowledgement.
    EXPECT_NE(trace.find(" ECR5 sent 19: FF FF FF FF FF FF FF FF FF FF 11 11 30 35 FF FF FF FF FF  "
                         "|............05.....|\n"),
              std::string::npos)
        << trace;
    EXPECT_NE(trace.find(" ECR5 recv "), std::string::npos) << trace;
    EXPECT_NE(trace.find(" ECR5 sent 1: 06  |.|\n"), std::string::npos) << trace;
    // All the frame's bytes were traced as received, in order (the worker reads them one by
    // one or in pieces, as they come).
    std::string received;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        const auto recv = line.find(" recv ");
        if (recv != std::string::npos) {
            received += line.substr(line.find("|") + 1, line.rfind('|') - line.find('|') - 1);
        }
    }
    EXPECT_NE(received.find(".S1;7;4."), std::string::npos) << trace;

    EXPECT_EQ(RunWorkerAndTrace(false), "");  // off by default: nothing at all
}

}  // namespace
}  // namespace tallyport::linktest
