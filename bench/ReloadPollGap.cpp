// Registers trading while the back office rewrites a large article file: how long a register goes
// without a poll while the new file is loaded, and how soon the new prices reach the replies.
//
// Each register is simulated on a pseudo-terminal with the line-rate model (8N1 at the given
// rate) and served by a real link worker with the real request handlers and a real article file
// of N articles, all in one process. A cashier thread per register sells one of six articles
// after another (a closing after every five) at a steady pace. After a quiet stretch that serves
// as the baseline, the article file is rewritten several times, a few seconds apart, each time
// with new prices for the six articles (a new file renamed over the old one, or with --in-place
// the old file truncated and written again in 64 KiB pieces).
//
//   tallyport-bench-ReloadPollGap [--articles=1000000] [--registers=4] [--rate=9600]
//                                 [--reloads=5] [--interval=4] [--pace=100] [--in-place]
//
// Printed: the longest time any register went without a poll in each stretch of --interval
// seconds before the first rewrite (the baseline: what four registers trading cost by
// themselves) and after each rewrite, the time from each rewrite to the first reply with the
// new prices, replies with old prices after the first new one (there must be none), and the
// peak resident size before the first rewrite and at the end (a load holds two tables).
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
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

int IntOption(int argc, char** argv, const char* name, int fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return std::atoi(argv[i] + prefix.size());
        }
    }
    return fallback;
}

bool FlagOption(int argc, char** argv, const char* name) {
    const std::string flag = std::string("--") + name;
    for (int i = 1; i < argc; ++i) {
        if (flag == argv[i]) {
            return true;
        }
    }
    return false;
}

// Peak resident size of this process so far, in MB (VmHWM).
double PeakResidentMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtod(line.c_str() + 6, nullptr) / 1024.0;
        }
    }
    return 0;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The six articles the cashiers sell: codes 1 to 6. Version v of the file prices article k at
// k * 100 + v, so a reply tells which version of the file answered it.
constexpr int kSold = 6;

std::string SoldLines(int version) {
    std::string lines;
    for (int k = 1; k <= kSold; ++k) {
        char line[96];
        std::snprintf(line, sizeof line, "%013d,01,1,%d,3,ARTICOL VANDUT %d\r\n", k,
                      k * 100 + version, k);
        lines += line;
    }
    return lines;
}

// The other articles: codes from 1000 up, names of two to five words.
std::string OtherLines(int count) {
    static const char* const kWords[] = {"APA",  "MINERALA", "PAINE", "LAPTE", "CAFEA", "ZAHAR",
                                         "ULEI", "FAINA",    "OREZ",  "SUC",   "BERE",  "VIN",
                                         "0.5L", "1L",       "500G",  "1KG",   "BIO",   "PROMO"};
    std::mt19937 random(20261207);
    std::string lines;
    lines.reserve(static_cast<std::size_t>(count) * 48);
    for (int i = 0; i < count; ++i) {
        char head[64];
        const auto cents = static_cast<unsigned>(10 + random() % 99'990);
        const auto dept = static_cast<unsigned>(1 + random() % 20);
        const auto vat = static_cast<unsigned>(1 + random() % 5);
        std::snprintf(head, sizeof head, "%013d,%02u,%u,%u.%02u,2,", 1000 + i, dept, vat,
                      cents / 100, cents % 100);
        lines += head;
        const unsigned words = 2 + random() % 4;
        for (unsigned w = 0; w < words; ++w) {
            lines += (w > 0 ? " " : "");
            lines += kWords[random() % (sizeof kWords / sizeof kWords[0])];
        }
        lines += "\r\n";
    }
    return lines;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Replaces the article file: a new file renamed over it, or the old one rewritten in place.
bool Rewrite(const std::string& path, const std::string& content, bool inPlace) {
    const std::string target = inPlace ? path : path + ".new";
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = true;
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t at = 0; ok && at < content.size(); at += kPiece) {
        ok = WriteAll(fd, content.data() + at, std::min(kPiece, content.size() - at));
    }
    ::close(fd);
    return ok && (inPlace || ::rename(target.c_str(), path.c_str()) == 0);
}

struct Sale {
    Clock::time_point at;  // the reply's first byte at the register
    int version = -1;      // of the file that answered
};

struct Sales {
    std::mutex mutex;
    std::vector<Sale> sales;
    int unanswered = 0;
};

// The file version in an article reply ";NAME;price;...": price = k * 100 + version.
int VersionIn(const std::string& text, int article) {
    const std::size_t first = text.find(';', 1);
    if (first == std::string::npos) {
        return -1;
    }
    return std::atoi(text.c_str() + first + 1) - article * 100;
}

void Cashier(sim::EcrSimulator& sim, int logicalNb, const std::atomic<bool>& done, int paceMs,
             Sales& sales) {
    const std::string fiscal = "S" + std::to_string(logicalNb);
    int receipt = 1;
    for (int item = 0; !done.load(); ++item) {
        const int article = 1 + (item + logicalNb) % kSold;
        auto r = sim.Exchange(
            sim::Answer::Frame(fiscal + ";1;1;" + std::to_string(article) + ";;1.000"), 10s, 3s);
        {
            std::lock_guard<std::mutex> guard(sales.mutex);
            if (r.response && r.response->kind == sim::PcKind::Reply && r.response->crcOk) {
                sales.sales.push_back({r.response->first, VersionIn(r.response->text, article)});
            } else {
                ++sales.unanswered;
            }
        }
        if (item % 5 == 4) {
            sim.Exchange(sim::Answer::Frame(fiscal + ";1;3;0;1;;;;" + std::to_string(receipt++) +
                                            ";12;100.00;;;;;;;;;100.00"),
                         10s, 3s);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(paceMs));
    }
}

// The longest time any register went without a poll in [from, to].
double LongestGap(const std::vector<std::unique_ptr<sim::EcrSimulator>>& sims,
                  Clock::time_point from, Clock::time_point to) {
    double longest = 0;
    for (const auto& s : sims) {
        longest = std::max(longest, Ms(s->LongestPollGap(from, to)));
    }
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    const int articles = IntOption(argc, argv, "articles", 1'000'000);
    const int registers = IntOption(argc, argv, "registers", 4);
    const int rate = IntOption(argc, argv, "rate", 9600);
    const int reloads = IntOption(argc, argv, "reloads", 5);
    const auto interval = std::chrono::seconds(IntOption(argc, argv, "interval", 4));
    const int pace = IntOption(argc, argv, "pace", 100);
    const bool inPlace = FlagOption(argc, argv, "in-place");

    std::string folder = (std::filesystem::temp_directory_path() / "tallyport-reload-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string plu = folder + "/PLU.txt";
    const std::string others = OtherLines(std::max(0, articles - kSold));
    if (!Rewrite(plu, SoldLines(0) + others, false)) {
        std::perror(plu.c_str());
        return 1;
    }
    const auto loadStart = Clock::now();
    TPluH holder(plu);
    std::printf("%d articles, %zu bytes, first load %.0f ms; %d registers at %d baud, %s\n",
                articles, SoldLines(0).size() + others.size(), Ms(Clock::now() - loadStart),
                registers, rate, inPlace ? "rewritten in place" : "replaced by rename");

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
        link.SetHandlers(MakeRequestHandlers(context));
        if (!workers.back()->StartLink()) {
            std::fprintf(stderr, "cannot open %s\n", link.CommPort.c_str());
            return 1;
        }
    }

    Sales sales;
    std::atomic<bool> done{false};
    std::vector<std::thread> cashiers;
    for (int n = 1; n <= registers; ++n) {
        cashiers.emplace_back(Cashier, std::ref(*sims[static_cast<std::size_t>(n - 1)]), n,
                              std::cref(done), pace, std::ref(sales));
    }
    // Two stretches without a rewrite, after a second of warming up, then the rewrites.
    std::this_thread::sleep_for(1s);
    const auto baselineStart = Clock::now();
    std::this_thread::sleep_for(2 * interval);
    const double peakBefore = PeakResidentMb();
    std::vector<Clock::time_point> rewrites;
    for (int v = 1; v <= reloads; ++v) {
        rewrites.push_back(Clock::now());
        if (!Rewrite(plu, SoldLines(v) + others, inPlace)) {
            std::perror(plu.c_str());
            return 1;
        }
        std::this_thread::sleep_for(interval);
    }
    const auto end = Clock::now();
    done = true;
    for (auto& c : cashiers) {
        c.join();
    }
    for (auto& w : workers) {
        w->StopLink();
    }

    std::printf("baseline: longest poll gap %.0f ms, %.0f ms (two stretches of %lld s)\n",
                LongestGap(sims, baselineStart, baselineStart + interval),
                LongestGap(sims, baselineStart + interval, rewrites.front()),
                static_cast<long long>(interval.count()));
    std::lock_guard<std::mutex> guard(sales.mutex);
    for (int v = 1; v <= reloads; ++v) {
        const auto from = rewrites[static_cast<std::size_t>(v - 1)];
        const auto to = v < reloads ? rewrites[static_cast<std::size_t>(v)] : end;
        double firstNew = -1;
        int oldAfterNew = 0;
        int sold = 0;
        for (const Sale& s : sales.sales) {
            if (s.at < from || s.at >= to) {
                continue;
            }
            ++sold;
            if (s.version == v && firstNew < 0) {
                firstNew = Ms(s.at - from);
            } else if (s.version != v && firstNew >= 0) {
                ++oldAfterNew;
            }
        }
        std::printf(
            "rewrite %d: longest poll gap %.0f ms; new prices after %.0f ms; %d replies, %d with "
            "old prices after the first new one\n",
            v, LongestGap(sims, from, to), firstNew, sold, oldAfterNew);
    }
    std::printf("replies: %zu, unanswered requests: %d\n", sales.sales.size(), sales.unanswered);
    std::printf("peak resident size: %.0f MB before the first rewrite, %.0f MB at the end\n",
                peakBefore, PeakResidentMb());
    std::filesystem::remove_all(folder);
    return 0;
}
