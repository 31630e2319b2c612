// How much time a register has to confirm an article reply, by line rate: the longest delay
// between the reply's last CRC byte reaching the register and the register starting to send its
// confirmation (the AckByte, after `fillers` FillerBytes) for which the sale is still recorded
// within the 110 ms confirmation wait, and the longest for which it is recorded at all (late,
// before the register has answered its next poll). The wait counts from the reply's last byte
// on the wire, the fifth filler after the CRC, so at the register's side it is longer by those
// five characters and shorter by the confirmation's own.
//
// One register simulated on a pseudo-terminal with the line-rate model (8N1), served by a real
// link worker with the real request handlers and a real article file; the reply is the longest
// the handlers send (59 bytes). For each delay the register confirms `trials` replies; a binary
// search finds the largest delay at which every one was recorded in the wait (then at all).
//
//   tallyport-bench-ConfirmationMargin [--rates=1200,2400,4800,9600,19200,38400]
//                                      [--fillers=0,3] [--trials=5]
//
// What the table adds by arithmetic: an FTDI adapter not in low-latency mode holds a received
// byte up to its 16 ms latency timer, and a 16550 UART with its receive FIFO on hands a lone
// byte over only after about 4 character times; each such hold comes off the margin.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/NoticeSink.h"
#include "link/SerialThread.h"
#include "requests/RequestHandlers.h"
#include "simulator/EcrSimulator.h"
#include "store/PluHolder.h"

using namespace tallyport;
using namespace std::chrono_literals;

namespace {

class NoNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

std::vector<int> ListOption(int argc, char** argv, const char* name, std::vector<int> fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            std::vector<int> values;
            std::stringstream list(argv[i] + prefix.size());
            std::string item;
            while (std::getline(list, item, ',')) {
                values.push_back(std::atoi(item.c_str()));
            }
            return values;
        }
    }
    return fallback;
}

const std::string kArticle = "5941234000123,09,1,13.7,3,Napolitane cu crema de alune 500g";
const std::string kRequest = "S1;1;1;5941234000123;;1.000";

enum class Outcome { InWait, Late, None, Unserved };

// One register and its worker at one rate.
class Bench {
public:
    Bench(const std::string& folder, int rate) : holder_(folder + "/PLU.txt") {
        sim_ = std::make_unique<sim::EcrSimulator>(
            sim::EcrSimulator::Options{.logicalNb = 1, .line = sim::LineRate::Baud(rate)});
        LinkOptions options;
        options.PluHolder = &holder_;
        options.ReceiptMasterFile = folder + "/Bon.txt";
        options.ReceiptDetailFile = folder + "/Tran.txt";
        worker_ = std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, notices_);
        TSerialExtended& link = worker_->Link();
        link.CommPort = sim_->PortName();
        link.LogicalNb = 1;
        link.Fiscal = "S1";
        link.TranRate = rate;
        link.SetHandlers(MakeRequestHandlers(context_));
    }
    ~Bench() { worker_->StopLink(); }

    bool Start() { return worker_->StartLink() && worker_->Link().Port.PortReady(); }

    // The register confirms one reply `delayMs` after it has arrived.
    Outcome Trial(int delayMs, int fillers) {
        sim_->SetConfirmation(sim::Confirmation{true, delayMs, fillers, 0});
        const LinkStatusSnapshot before = worker_->Link().Status.Snapshot();
        const std::size_t confirmations = Confirmations();
        const auto r = sim_->Exchange(sim::Answer::Frame(kRequest), 10s, 5s);
        if (!r.sent || !r.acked || !r.response || r.response->kind != sim::PcKind::Reply) {
            return Outcome::Unserved;
        }
        // Until the confirmation is out and the register has been polled three times since: by
        // then a late one has been taken or given up.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (Confirmations() == confirmations && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(2ms);
        }
        sim_->WaitForPolls(sim_->PollCount() + 3, 5s);
        const LinkStatusSnapshot after = worker_->Link().Status.Snapshot();
        if (after.lateSales > before.lateSales) {
            return Outcome::Late;
        }
        return after.sales > before.sales ? Outcome::InWait : Outcome::None;
    }

private:
    std::size_t Confirmations() const {
        std::size_t n = 0;
        for (const sim::SentRecord& s : sim_->Sent()) {
            n += s.what == sim::SentRecord::What::Confirmation && s.finished ? 1 : 0;
        }
        return n;
    }

    NoNotices notices_;
    RequestContext context_;
    TPluH holder_;
    std::unique_ptr<sim::EcrSimulator> sim_;
    std::unique_ptr<TSerialThread> worker_;
};

// The largest delay in [lo, hi) at which `good` holds for every one of `trials` replies, given
// that it holds at `lo` and not at `hi`.
int LargestDelay(int lo, int hi, int trials, const std::function<bool(int)>& good) {
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        bool all = true;
        for (int t = 0; t < trials && all; ++t) {
            all = good(mid);
        }
        (all ? lo : hi) = mid;
    }
    return lo;
}

int Run(int rate, int fillers, int trials) {
    std::string folder =
        (std::filesystem::temp_directory_path() / "tallyport-confirmation-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    std::ofstream(folder + "/PLU.txt", std::ios::binary) << kArticle << "\r\n";
    int inWait = 0;
    int recorded = 0;
    {
        Bench bench(folder, rate);
        if (!bench.Start()) {
            std::fprintf(stderr, "cannot open the simulated port\n");
            return 1;
        }
        // The register counts from the reply's last CRC byte; the 5 fillers after it are still
        // on the wire then, and the wait counts from the last of them.
        const int beyond = 110 + static_cast<int>(6 * 10000 / rate) + 20;
        inWait = LargestDelay(0, beyond, trials, [&](int delay) {
            return bench.Trial(delay, fillers) == Outcome::InWait;
        });
        recorded = LargestDelay(inWait, 2000, trials, [&](int delay) {
            const Outcome o = bench.Trial(delay, fillers);
            return o == Outcome::InWait || o == Outcome::Late;
        });
    }
    std::filesystem::remove_all(folder);
    const double character = 10000.0 / rate;  // ms, 8N1
    std::printf("| %5d | %d | %5.2f | %5.1f | %3d | %4.0f | %5.1f | %3d |\n", rate, fillers,
                character, character * (fillers + 1), inWait, inWait - 16.0, inWait - 4 * character,
                recorded);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto rates = ListOption(argc, argv, "rates", {1200, 2400, 4800, 9600, 19200, 38400});
    const auto fillers = ListOption(argc, argv, "fillers", {0, 3});
    const int trials = ListOption(argc, argv, "trials", {5}).front();
    std::printf(
        "| baud | fillers before the ACK | character ms | confirmation on the wire ms | longest "
        "delay in the wait ms | left after a 16 ms FTDI latency timer | left after a 16550's 4 "
        "characters | longest delay recorded late ms |\n|---|---|---|---|---|---|---|---|\n");
    for (int rate : rates) {
        for (int f : fillers) {
            if (Run(rate, f, trials) != 0) {
                return 1;
            }
        }
    }
    return 0;
}
