#include "ecrsim/Shop.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "ecrsim/Verifier.h"

namespace tallyport::ecrsim {

namespace {

using namespace std::chrono_literals;

sigset_t ShopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    sigaddset(&set, SIGUSR2);
    return set;
}

// Writes a whole file through a temporary one in the same folder, so that a reader never sees
// half of it.
void WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << content;
        out.flush();
        if (!out) {
            std::filesystem::remove(temporary);
            throw std::runtime_error("cannot write " + path);
        }
    }
    std::filesystem::rename(temporary, path);
}

std::int64_t SteadyNanos(SteadyClock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

}  // namespace

void BlockShopSignals() {
    const sigset_t set = ShopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Shop::Shop(ShopOptions options, ShopSettings settings, ArticleFile articles)
    : options_(std::move(options)),
      settings_(std::move(settings)),
      articles_(std::move(articles)),
      printer_(options_.quiet),
      context_{options_, settings_, articles_, journal_, printer_, control_} {
    if (!options_.seedGiven) {
        options_.seed = std::random_device{}() % 1000000;
    }
    for (int i = 0; i < options_.registers; ++i) {
        clerks_.push_back(
            std::make_unique<Clerk>(context_, options_.firstNumber + i, options_.seed));
    }
    OutputLayout layout;
    layout.separateFiles = settings_.recSepFiles;
    for (const auto& clerk : clerks_) {
        for (const std::string& base : {settings_.receiptDetail, settings_.receiptMaster}) {
            const std::string path = RegisterFile(layout, base, clerk->LogicalNb());
            bool known = false;
            for (const auto& [p, size] : startSizes_) {
                known = known || p == path;
            }
            if (!known) {
                startSizes_.emplace_back(path, FileSizeOrZero(path));
            }
        }
    }
}

Shop::~Shop() = default;

void Shop::WriteRegisterList() const {
    static const char* const kModels[] = {"Datecs MP55", "Datecs MP500", "Datecs MP5000",
                                          "Datecs FP550T"};
    std::string content;
    for (std::size_t i = 0; i < clerks_.size(); ++i) {
        const Clerk& clerk = *clerks_[i];
        if (clerk.PortName().size() > 20) {
            printer_.Note("warning: the port name " + clerk.PortName() +
                          " is longer than the 20 characters the register list keeps");
        }
        // 8 data bits, no parity, 1 stop bit: the framing of the simulated line.
        content += std::to_string(clerk.LogicalNb()) + "," + kModels[i % 4] + "," +
                   std::to_string(ListedRate(options_.rate)) + ",8,None,1," +
                   EscapeTableText(clerk.PortName()) + "," + EscapeTableText(clerk.Fiscal()) +
                   ",CASA " + std::to_string(clerk.LogicalNb()) + "\r\n";
    }
    WriteFileAtomically(settings_.ecrList, content);
}

void Shop::SetStatus(const std::string& status) {
    if (status == status_) {
        return;
    }
    status_ = status;
    if (!options_.statusFile.empty()) {
        try {
            WriteFileAtomically(options_.statusFile, status + "\n");
        } catch (const std::exception& e) {
            printer_.Problem(std::string("status file: ") + e.what());
        }
    }
}

void Shop::Stop(const std::string& why) {
    if (control_.stop.load()) {
        return;
    }
    control_.finishDeadline =
        SteadyNanos(SteadyClock::now() + std::chrono::seconds(options_.finishTimeoutS));
    control_.stop = true;
    printer_.Note(why + (options_.finishReceipts ? ": closing the open receipts" : ": stopping"));
    SetStatus("finishing");
}

int Shop::Run() {
    if (options_.writeEcrList) {
        WriteRegisterList();
    }
    printer_.Note("tallyport-ecrsim: " + std::to_string(clerks_.size()) + " registers, seed " +
                  std::to_string(options_.seed) + ", articles from " + settings_.pluFile);
    for (const auto& clerk : clerks_) {
        printer_.Note("  ECR" + std::to_string(clerk->LogicalNb()) + " on " + clerk->PortName() +
                      ", fiscal series " + clerk->Fiscal() + ", " +
                      (options_.rate > 0 ? std::to_string(options_.rate) + " baud 8N1"
                                         : std::string("no line time")));
    }
    if (options_.writeEcrList) {
        printer_.Note("  register list: " + settings_.ecrList);
    }
    printer_.Note("  files: " + settings_.receiptDetail + ", " + settings_.receiptMaster +
                  (settings_.recSepFiles ? " (one pair per register)" : ""));

    runStart_ = SteadyClock::now();
    SetStatus("running");
    std::vector<std::thread> threads;
    for (auto& clerk : clerks_) {
        threads.emplace_back([&clerk] { clerk->Run(); });
    }
    Steer();
    for (std::thread& t : threads) {
        t.join();
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - runStart_).count();
    char took[64];
    std::snprintf(took, sizeof took, "%.1f", seconds);
    printer_.Note(std::string("run ended after ") + took + " s");

    const bool clean = PrintSummary();
    bool verified = true;
    if (options_.verify) {
        verified = Verify() && clean;
    }
    SetStatus("finished");
    int leftOpen = 0;
    for (const auto& clerk : clerks_) {
        leftOpen += clerk->Stats().receiptsLeftOpen;
    }
    if (!verified) {
        return 1;
    }
    if (options_.finishReceipts && leftOpen > 0) {
        printer_.Problem(std::to_string(leftOpen) + " receipt(s) left open");
        return 3;
    }
    return 0;
}

void Shop::Steer() {
    const sigset_t set = ShopSignals();
    for (;;) {
        timespec wait{0, 100'000'000};
        siginfo_t info{};
        const int signal = sigtimedwait(&set, &info, &wait);
        if (signal == SIGINT || signal == SIGTERM) {
            if (control_.stop.load()) {
                printer_.Note("second stop signal: leaving at once");
                control_.abort = true;
            } else {
                Stop(signal == SIGINT ? "SIGINT" : "SIGTERM");
            }
        } else if (signal == SIGUSR1 && !control_.paused.load()) {
            control_.paused = true;
            pausedAnnounced_ = false;
            printer_.Note("pause asked: closing the open receipts");
        } else if (signal == SIGUSR2 && control_.paused.load()) {
            control_.resumes.fetch_add(1);
            control_.paused = false;
            printer_.Note("resuming");
            if (!control_.stop.load()) {
                SetStatus("running");
            }
        }

        const auto elapsed = SteadyClock::now() - runStart_;
        if (options_.seconds > 0 && elapsed >= std::chrono::duration<double>(options_.seconds)) {
            Stop("run time over");
        }
        if (options_.receipts > 0 && control_.receiptsClosed.load() >= options_.receipts) {
            Stop(std::to_string(options_.receipts) + " receipts closed");
        }
        bool allEnded = true;
        bool allIdle = true;
        for (const auto& clerk : clerks_) {
            allEnded = allEnded && clerk->Ended();
            allIdle = allIdle && clerk->Idle();
        }
        if (allEnded) {
            return;
        }
        if (control_.paused.load() && allIdle && !control_.stop.load() && !pausedAnnounced_) {
            pausedAnnounced_ = true;
            printer_.Note("paused: no receipt is open");
            SetStatus("paused");
        }
    }
}

bool Shop::PrintSummary() const {
    ClerkStats total;
    std::string text = "summary (seed " + std::to_string(options_.seed) + "):";
    auto line = [](const std::string& who, const ClerkStats& s) {
        char buffer[512];
        std::snprintf(buffer, sizeof buffer,
                      "  %-6s %3d receipts (%d closings), %d sales, %d unconfirmed, %d unknown, "
                      "%d foreign, %d discounts, %d voids, cards %d accepted %d refused, %d other; "
                      "%d exchanges, %d not served, %d possible restarts, %d problems, "
                      "%d left open",
                      who.c_str(), s.receiptsClosed, s.closingMessages, s.sales, s.unconfirmed,
                      s.unknownCodes, s.foreignRequests, s.discounts, s.voids, s.cardAccepted,
                      s.cardRefused, s.otherMessages, s.exchanges, s.notServed, s.possibleRestarts,
                      s.protocolErrors, s.receiptsLeftOpen);
        return std::string(buffer);
    };
    for (const auto& clerk : clerks_) {
        const ClerkStats s = clerk->Stats();
        text += "\n" + line("ECR" + std::to_string(clerk->LogicalNb()), s);
        total.receiptsClosed += s.receiptsClosed;
        total.closingMessages += s.closingMessages;
        total.sales += s.sales;
        total.unconfirmed += s.unconfirmed;
        total.unknownCodes += s.unknownCodes;
        total.foreignRequests += s.foreignRequests;
        total.discounts += s.discounts;
        total.voids += s.voids;
        total.cardAccepted += s.cardAccepted;
        total.cardRefused += s.cardRefused;
        total.otherMessages += s.otherMessages;
        total.exchanges += s.exchanges;
        total.notServed += s.notServed;
        total.possibleRestarts += s.possibleRestarts;
        total.protocolErrors += s.protocolErrors;
        total.receiptsLeftOpen += s.receiptsLeftOpen;
    }
    text += "\n" + line("total", total);
    printer_.Note(text);
    if (total.protocolErrors > 0) {
        printer_.Problem(std::to_string(total.protocolErrors) +
                         " answer(s) of the program differed from the expected ones");
    }
    return total.protocolErrors == 0;
}

bool Shop::Verify() const {
    OutputLayout layout;
    layout.tranPath = settings_.receiptDetail;
    layout.bonPath = settings_.receiptMaster;
    layout.separateFiles = settings_.recSepFiles;
    layout.recAmount = settings_.recAmount;
    layout.timeSlack = std::chrono::seconds(options_.timeSlackS);
    std::vector<int> registers;
    for (const auto& clerk : clerks_) {
        registers.push_back(clerk->LogicalNb());
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(options_.settleMs);
    std::vector<OutputExpectation> expectations;
    std::vector<VerifyResult> results;
    for (;;) {
        expectations = BuildExpectations(journal_, layout, registers, startSizes_, runStart_);
        results.clear();
        bool ok = true;
        for (const OutputExpectation& e : expectations) {
            results.push_back(VerifyOutput(e));
            ok = ok && results.back().ok;
        }
        if (ok || SteadyClock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(200ms);
    }
    bool ok = true;
    constexpr std::size_t kMaxShown = 40;
    for (std::size_t k = 0; k < results.size(); ++k) {
        const VerifyResult& r = results[k];
        ok = ok && r.ok;
        std::string line = "verify " + expectations[k].path + ": " + std::to_string(r.expected) +
                           " lines expected, " + std::to_string(r.found) + " written, " +
                           std::to_string(r.matched) + " as expected";
        if (r.optionalMissing > 0) {
            line += ", " + std::to_string(r.optionalMissing) +
                    " told in an exchange the program never finished, not written";
        }
        line += r.ok ? ": OK" : ": " + std::to_string(r.differences.size()) + " difference(s)";
        printer_.Note(line);
        for (std::size_t d = 0; d < r.differences.size() && d < kMaxShown; ++d) {
            printer_.Problem(r.differences[d]);
        }
        if (r.differences.size() > kMaxShown) {
            printer_.Problem("... and " + std::to_string(r.differences.size() - kMaxShown) +
                             " more");
        }
    }
    if (journal_.Closings().empty()) {
        // Nothing was closed, so nothing was checked: the program did not serve the shop.
        printer_.Problem("no closing was acknowledged: there was nothing to verify");
        ok = false;
    }
    printer_.Note(ok ? "verification passed" : "verification FAILED");
    return ok;
}

}  // namespace tallyport::ecrsim
