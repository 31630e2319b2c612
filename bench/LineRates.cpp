// Registers on timed lines, each with a cashier selling at a steady pace: how many registers the
// link serves without a dropped frame, how long a register waits for an article reply, and
// whether every confirmed sale reaches the transaction file.
//
// Each register is simulated on a pseudo-terminal with the line-rate model (8N1 at the given
// rate) and served by a real link worker with the real request handlers, a real article file and
// real output files, all in one process. A cashier thread per register plays receipts: one to
// six article requests (names of 5 to 22 characters), then a closing; the register confirms
// every reply 5 ms after it has arrived. A frame the program does not acknowledge is a dropped
// frame; the register sends it again at its next poll, as a register does.
//
//   tallyport-bench-LineRates [--registers=4,8,16,32,48] [--rates=9600] [--seconds=5]
//                             [--pace=200] [--modes=serial,parallel]
//
// One line per way of serving the lines ("serial": in turn under the one link lock; "parallel":
// each on its own, LinkOptions::ParallelLines), rate and number of registers:
//   run         trading time, from the end of connecting to the last closing
//   frames      request and closing frames the registers sent (again after a drop)
//   dropped     frames not acknowledged
//   unserved    exchanges whose register was not polled within 10 s
//   first poll  the longest time a register waited for its first poll from the start of
//               connecting (the ports are opened one after the other, each in its turn)
//   poll gap    the longest time a register went without a poll once trading
//   wait        what the cashier waits for: from the moment the register has an article request
//               ready to the moment the reply's last byte has arrived there, the wait for the
//               poll and any sending again after a dropped frame included (median, 99th
//               percentile, maximum)
//   reply       from the request's last byte at the PC to the reply's first byte at the
//               register (median, 90th percentile, maximum), over the answered requests;
//               "stale" replies began before the request ended: the reply to an earlier copy of
//               a frame the register took for dropped
//   missed      sales the register confirmed, in receipts whose closing was acknowledged, that
//               are not in the transaction file (and lines there that no confirmed sale explains)
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
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
using Clock = std::chrono::steady_clock;

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

// --modes=serial,parallel: which ways of serving the lines to run, in that order (true for
// parallel).
std::vector<bool> ModesOption(int argc, char** argv) {
    const std::string prefix = "--modes=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            std::vector<bool> modes;
            std::stringstream list(argv[i] + prefix.size());
            std::string item;
            while (std::getline(list, item, ',')) {
                modes.push_back(item == "parallel");
            }
            return modes;
        }
    }
    return {false, true};
}

// Codes and reply names of the article file: short and long names, so replies of 30 to 59 bytes.
struct Article {
    std::string code;
    std::string line;
};
const std::vector<Article> kArticles = {
    {"123", "0000000000123,01,1,2.5,3,Paine"},
    {"124", "0000000000124,02,1,4.75,3,Lapte 1.5% 1L"},
    {"125", "0000000000125,02,2,12.4,3,Branza telemea"},
    {"5941234000123", "5941234000123,09,1,13.7,3,Napolitane cu crema de alune 500g"},
    {"5941234000048", "5941234000048,07,1,19.9,3,Ulei floarea soarelui 1L"},
    {"5941234000086", "5941234000086,08,3,24.99,3,Vin rosu sec de Dealu Mare 0.75L"},
};

struct Totals {
    std::mutex mutex;
    int frames = 0;
    int dropped = 0;
    int unserved = 0;
    int unanswered = 0;
    int stale = 0;  // a reply that began before the request had ended: an earlier copy's
    std::vector<double> replyMs;
    std::vector<double> waitMs;                    // request ready to reply arrived
    std::map<int, int> confirmedInClosedReceipts;  // by logical number
};

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// One register's cashier: receipts until the time is up, then the open one is closed.
void Cashier(sim::EcrSimulator& sim, int logicalNb, Clock::time_point end, int paceMs,
             Totals& totals) {
    std::mt19937 random(static_cast<unsigned>(logicalNb) * 7919u);
    const std::string fiscal = "S" + std::to_string(logicalNb);
    int receipt = 1;
    auto pause = [&] {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(paceMs / 2 + random() % (paceMs + 1)));
    };
    // Sends one frame until it is acknowledged; the result of the acknowledged one.
    auto send = [&](const std::string& body) -> std::optional<sim::ExchangeResult> {
        for (int attempt = 0; attempt < 5; ++attempt) {
            auto r = sim.Exchange(sim::Answer::Frame(body), 10s, 3s);
            std::lock_guard<std::mutex> guard(totals.mutex);
            ++totals.frames;
            if (!r.sent) {
                ++totals.unserved;
                return std::nullopt;
            }
            if (r.acked) {
                return r;
            }
            ++totals.dropped;
        }
        return std::nullopt;
    };
    while (Clock::now() < end) {
        int confirmed = 0;
        const int items = 1 + static_cast<int>(random() % 6);
        for (int i = 0; i < items; ++i) {
            const Article& a = kArticles[random() % kArticles.size()];
            const auto ready = Clock::now();
            const auto r = send(fiscal + ";1;1;" + a.code + ";;1.000");
            if (!r) {
                continue;
            }
            std::lock_guard<std::mutex> guard(totals.mutex);
            if (r->response && r->response->kind == sim::PcKind::Reply && r->response->crcOk) {
                ++confirmed;  // the register confirms every reply it receives
                totals.waitMs.push_back(Ms(r->response->last - ready));
                if (r->response->first >= r->answer.end) {
                    totals.replyMs.push_back(Ms(r->response->first - r->answer.end));
                } else {
                    ++totals.stale;
                }
            } else {
                ++totals.unanswered;
            }
            pause();
        }
        const std::string closing =
            fiscal + ";1;3;0;1;;;;" + std::to_string(receipt++) + ";12;100.00;;;;;;;;;100.00";
        const auto r = send(closing);
        if (r && r->response && r->response->kind == sim::PcKind::PaddedAck) {
            std::lock_guard<std::mutex> guard(totals.mutex);
            totals.confirmedInClosedReceipts[logicalNb] += confirmed;
        }
        pause();
    }
}

struct Percentiles {
    double median = 0, p90 = 0, p99 = 0, max = 0;
};

Percentiles Summarise(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) {
        return values[std::min(values.size() - 1, static_cast<std::size_t>(q * values.size()))];
    };
    return {at(0.5), at(0.9), at(0.99), values.back()};
}

std::map<int, int> LinesByRegister(const std::string& path) {
    std::map<int, int> counts;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() >= 4) {
            ++counts[std::atoi(line.substr(0, 4).c_str())];
        }
    }
    return counts;
}

int Run(bool parallel, int rate, int registers, int seconds, int paceMs) {
    std::string folder = (std::filesystem::temp_directory_path() / "tallyport-linerates-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    {
        std::ofstream plu(folder + "/PLU.txt", std::ios::binary);
        for (const Article& a : kArticles) {
            plu << a.line << "\r\n";
        }
    }
    TPluH holder(folder + "/PLU.txt");
    NoNotices notices;
    RequestContext context;

    std::vector<std::unique_ptr<sim::EcrSimulator>> sims;
    std::vector<std::unique_ptr<TSerialThread>> workers;
    for (int n = 1; n <= registers; ++n) {
        sims.push_back(std::make_unique<sim::EcrSimulator>(
            sim::EcrSimulator::Options{.logicalNb = n,
                                       .confirmation = sim::Confirmation{true, 5, 0, 0},
                                       .line = sim::LineRate::Baud(rate)}));
        LinkOptions options;
        options.ParallelLines = parallel;
        options.PluHolder = &holder;
        options.ReceiptMasterFile = folder + "/Bon.txt";
        options.ReceiptDetailFile = folder + "/Tran.txt";
        workers.push_back(
            std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, notices));
        TSerialExtended& link = workers.back()->Link();
        link.CommPort = sims.back()->PortName();
        link.LogicalNb = n;
        link.Fiscal = "S" + std::to_string(n);
        link.TranRate = rate;
        link.SetHandlers(MakeRequestHandlers(context));  // one table per register
    }
    const auto start = Clock::now();
    for (auto& w : workers) {
        if (!w->StartLink()) {
            std::fprintf(stderr, "cannot open %s\n", w->Link().CommPort.c_str());
            return 1;
        }
    }
    // Connecting takes its time with many registers (each one's port is opened in its turn);
    // the trading time counts from the end of it.
    const auto connected = Clock::now();
    Totals totals;
    const auto end = connected + std::chrono::seconds(seconds);
    std::vector<std::thread> cashiers;
    for (int n = 1; n <= registers; ++n) {
        cashiers.emplace_back(Cashier, std::ref(*sims[static_cast<std::size_t>(n - 1)]), n, end,
                              paceMs, std::ref(totals));
    }
    for (auto& c : cashiers) {
        c.join();
    }
    const auto finished = Clock::now();
    for (auto& w : workers) {
        w->StopLink();
    }

    double firstPoll = 0;
    double longestGap = 0;
    for (auto& s : sims) {
        const auto polls = s->Polls();
        firstPoll = std::max(firstPoll,
                             polls.empty() ? Ms(finished - start) : Ms(polls.front().last - start));
        if (!polls.empty()) {
            longestGap = std::max(longestGap, Ms(s->LongestPollGap(polls.front().last, finished)));
        }
    }
    const auto written = LinesByRegister(folder + "/Tran.txt");
    int missed = 0;
    int extra = 0;
    for (int n = 1; n <= registers; ++n) {
        const int expected = totals.confirmedInClosedReceipts[n];
        const int found = written.count(n) ? written.at(n) : 0;
        missed += std::max(0, expected - found);
        extra += std::max(0, found - expected);
    }
    const Percentiles reply = Summarise(totals.replyMs);
    const Percentiles wait = Summarise(totals.waitMs);
    std::printf(
        "| %s | %5d | %3d | %4.0f s | %5d | %4d | %4d | %6.0f ms | %6.0f ms | %5.0f | %5.0f | "
        "%5.0f | %5zu | %4d | %5.1f | %5.1f | %6.1f | %d (%d) |\n",
        parallel ? "parallel" : "serial", rate, registers, Ms(finished - connected) / 1000,
        totals.frames, totals.dropped, totals.unserved, firstPoll, longestGap, wait.median,
        wait.p99, wait.max, totals.replyMs.size(), totals.stale, reply.median, reply.p90, reply.max,
        missed, extra);
    std::fflush(stdout);
    std::filesystem::remove_all(folder);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const auto registers = ListOption(argc, argv, "registers", {4, 8, 16, 32, 48});
    const auto rates = ListOption(argc, argv, "rates", {9600});
    const int seconds = ListOption(argc, argv, "seconds", {5}).front();
    const int pace = ListOption(argc, argv, "pace", {200}).front();
    const auto modes = ModesOption(argc, argv);
    std::printf(
        "| lines | baud | registers | run | frames | dropped | unserved | first poll | poll gap | "
        "wait median ms | p99 ms | max ms | replies | stale | reply median ms | p90 ms | max ms | "
        "missed (extra) |\n"
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const bool parallel : modes) {
        for (int rate : rates) {
            for (int n : registers) {
                if (Run(parallel, rate, n, seconds, pace) != 0) {
                    return 1;
                }
            }
        }
    }
    return 0;
}
