// What the journal costs the registers: simulated registers on pseudo-terminals, each served by
// a real link worker, sell without pause (article request, reply, confirmation; every fifth
// sale a receipt closing) for a while, with the journal off and then on. Measured per mode:
//   - the article reply time seen by the register: from the last byte of its request frame to
//     the first byte of the reply (median, p99, max);
//   - the sales confirmed per second, all registers together, and the fewest of one register;
//   - requests not served: the register was not polled, or no reply came, within 2 s.
// The journal is fsync'd on the file system of the temporary folder ($TMPDIR, else /tmp).
//
//   tallyport-bench-journal_cost [--registers=N] [--seconds=S]   (defaults 3 and 10)

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/NoticeSink.h"
#include "journal/ReceiptJournal.h"
#include "link/SerialThread.h"
#include "requests/Journalling.h"
#include "requests/RequestHandlers.h"
#include "simulator/EcrSimulator.h"
#include "store/PluHolder.h"

using namespace tallyport;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class QuietNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string& text, int, NoticeIcon) override {
        std::fprintf(stderr, "notice: %s\n", text.c_str());
    }
};

long Option(int argc, char** argv, const char* name, long fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return std::strtol(argv[i] + prefix.size(), nullptr, 10);
        }
    }
    return fallback;
}

std::string Code(int n) {
    const std::string digits = std::to_string(n);
    return std::string(13 - digits.size(), '0') + digits;
}

struct RegisterResult {
    std::vector<double> replyMs;
    int sales = 0;
    int notServed = 0;
};

struct Mode {
    const char* name;
    bool journal;
};

void Run(const Mode& mode, int registers, int seconds) {
    std::string folder = (std::filesystem::temp_directory_path() / "tallyport-bench-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    {
        std::ofstream plu(folder + "/PLU.txt", std::ios::binary);
        for (int i = 1; i <= 1000; ++i) {
            plu << Code(i) << ",01,1," << (i % 100) << ".5,3,Articol " << i << "\r\n";
        }
    }
    TPluH holder(folder + "/PLU.txt");
    QuietNotices notices;
    RequestContext context;
    std::unique_ptr<ReceiptJournal> journal;
    if (mode.journal) {
        journal = std::make_unique<ReceiptJournal>(folder + "/Tallyport.journal", notices);
        journal->Load();
        context.UseJournal(journal.get());
    }

    std::vector<std::unique_ptr<sim::EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int r = 1; r <= registers; ++r) {
        sim::EcrSimulator::Options o;
        o.logicalNb = r;
        o.confirmation = sim::Confirmation{.enabled = true, .delayMs = 0};
        sims.push_back(std::make_unique<sim::EcrSimulator>(o));
        LinkOptions options;
        options.PluHolder = &holder;
        options.ReceiptMasterFile = folder + "/Bon.txt";
        options.ReceiptDetailFile = folder + "/Tran.txt";
        auto worker = std::make_unique<TSerialThread>(ThreadPriority::Normal, options, notices);
        worker->Link().CommPort = sims.back()->PortName();
        worker->Link().LogicalNb = r;
        worker->Link().Fiscal = "S1";
        worker->Link().TranRate = 9600;
        worker->Link().SetHandlers(RequestHandlerFactory(context)(worker->Link()));
        if (!worker->StartLink()) {
            std::fprintf(stderr, "cannot open %s\n", worker->Link().CommPort.c_str());
            std::exit(1);
        }
        workers.push_back(std::move(worker));
    }

    std::vector<RegisterResult> results(static_cast<std::size_t>(registers));
    std::atomic<bool> stop{false};
    std::vector<std::thread> shop;
    const auto start = Clock::now();
    for (int r = 0; r < registers; ++r) {
        shop.emplace_back([&, r] {
            sim::EcrSimulator& reg = *sims[static_cast<std::size_t>(r)];
            RegisterResult& out = results[static_cast<std::size_t>(r)];
            int receipt = 1;
            int n = r * 37;
            while (!stop.load()) {
                n = n % 1000 + 1;
                const auto result = reg.Exchange(
                    sim::Answer::Frame("S1;X;1;" + std::to_string(n) + ";;1.000"), 2000ms, 2000ms);
                const auto sent = reg.Sent();
                const sim::SentRecord* answer = nullptr;
                for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
                    if (it->what == sim::SentRecord::What::Answer) {
                        answer = &*it;
                        break;
                    }
                }
                if (!result.sent || !result.response || answer == nullptr) {
                    ++out.notServed;
                    continue;
                }
                out.replyMs.push_back(
                    std::chrono::duration<double, std::milli>(result.response->first - answer->end)
                        .count());
                if (++out.sales % 5 == 0) {
                    const std::string closing =
                        "S1;X;3;0;1;;;;" + std::to_string(receipt++) + ";1;10.00;;;;;;;;;10.00";
                    reg.Exchange(sim::Answer::Frame(closing), 2000ms, 2000ms);
                }
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& t : shop) {
        t.join();
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    workers.clear();
    sims.clear();
    context.UseJournal(nullptr);
    journal.reset();
    std::filesystem::remove_all(folder);

    std::vector<double> all;
    int sales = 0;
    int fewest = 1 << 30;
    int notServed = 0;
    for (const RegisterResult& r : results) {
        all.insert(all.end(), r.replyMs.begin(), r.replyMs.end());
        sales += r.sales;
        fewest = std::min(fewest, r.sales);
        notServed += r.notServed;
    }
    std::sort(all.begin(), all.end());
    auto at = [&](double q) {
        return all.empty()
                   ? 0.0
                   : all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))];
    };
    std::printf(
        "journal %-3s  %2d registers  reply ms: median %.2f  p99 %.2f  max %.2f  |  sales/s %.1f  "
        "fewest of one register %.1f/s  not served %d\n",
        mode.name, registers, at(0.5), at(0.99), all.empty() ? 0.0 : all.back(), sales / elapsed,
        fewest / elapsed, notServed);
}

// One register's record at a time, written and synced: how long a register's worker waits for
// the journal when nobody else writes (the window in which a kill loses what was just told).
void DurableWriteTime() {
    std::string folder = (std::filesystem::temp_directory_path() / "tallyport-bench-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    QuietNotices notices;
    std::vector<double> ms;
    {
        ReceiptJournal journal(folder + "/Tallyport.journal", notices);
        journal.Load();
        const std::string line = "0001,OP,NRBN,0000000000123,00000025,3,+0000001000,Paine" +
                                 std::string(35, ' ') + ",01,1,NRZZZ,06/12/26,21:50";
        for (int i = 0; i < 300; ++i) {
            const auto t0 = Clock::now();
            const auto ticket = journal.Append(1, {SaleRecord(line)});
            journal.WaitDurable(1, ticket, 10s);
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        }
    }
    std::filesystem::remove_all(folder);
    std::sort(ms.begin(), ms.end());
    std::printf(
        "journal record written and synced, alone: median %.2f ms  p99 %.2f ms  max %.2f ms\n",
        ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
}

}  // namespace

int main(int argc, char** argv) {
    const int registers = static_cast<int>(Option(argc, argv, "registers", 3));
    const int seconds = static_cast<int>(Option(argc, argv, "seconds", 10));
    DurableWriteTime();
    Run({"off", false}, registers, seconds);
    Run({"on", true}, registers, seconds);
    return 0;
}
