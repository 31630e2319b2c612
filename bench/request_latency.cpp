// Software time of one article request through a real link worker: from the moment the
// request frame's last byte reaches the worker to the moment the first byte of its reply is
// written, with a large article table.
//
// The register's side runs on this thread on the master side of a pseudo-terminal. For every
// request it waits for its poll, writes the frame except its last CRC byte, lets the worker read
// those bytes and wait for the last one, then writes the last byte (t0), and reads the worker's
// ACK and reply.
//
// Software time, traced in the worker: the port asks its line-status probe for the line errors
// right after every read and write returns, and for the output queue right before every write
// (and after it, while the write waits for its bytes to leave). A tracing probe (doing the same
// ioctls as the terminal's own) stamps those calls, so the figure runs from the return of the
// read that brought the frame's last byte to the start of the write that puts the reply on the
// line: the frame test, the ACK and its write (with its one character time on the wire), the
// header, the dispatch and the whole lookup under the link lock (article file time check, search of
// the table, reading of the row, reply text and frame) up to the reply's write.
//
// End to end, seen from the register: t0 to the arrival of the reply's first byte. That adds
// one trip of a byte through the pty each way and the thread wake-ups; an echo thread on a
// second pty (same syscalls, no link code) measures those right after each request.
//
//   tallyport-bench-request_latency [--articles=N] [--requests=N]
//   (defaults 1000000 and 20000; --articles=10000 --requests=2000 runs in a few seconds)

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/SerialThread.h"
#include "requests/RequestHandlers.h"
#include "serial/LineTime.h"
#include "simulator/EcrProtocol.h"
#include "simulator/PtyPair.h"
#include "store/PluHolder.h"
#include "support/SilentNotices.h"

using namespace tallyport;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t Option(int argc, char** argv, const char* name, std::size_t fallback) {
    std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0) {
            return std::strtoull(argv[i] + prefix.size(), nullptr, 10);
        }
    }
    return fallback;
}

std::string Code(std::size_t n) {
    std::string digits = std::to_string(n);
    return std::string(13 - digits.size(), '0') + digits;
}

void WriteArticleFile(const std::string& path, std::size_t count) {
    std::ofstream out(path, std::ios::binary);
    for (std::size_t i = 1; i <= count; ++i) {
        out << Code(i) << ",01,1," << (i % 1000) << "." << (i % 100) << ",3,Articol " << i
            << "\r\n";
    }
}

// Reads what is waiting on a non-blocking descriptor, waiting up to 1 s for the first byte.
bool ReadSome(int fd, std::string& into) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) <= 0) {
        return false;
    }
    char buffer[512];
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) {
        return false;
    }
    into.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

struct Percentiles {
    double median = 0, p99 = 0, max = 0;
};

Percentiles Summarise(std::vector<double> micros) {
    if (micros.empty()) {
        return {};
    }
    std::sort(micros.begin(), micros.end());
    auto at = [&](double q) {
        return micros[std::min(micros.size() - 1, static_cast<std::size_t>(q * micros.size()))];
    };
    return {at(0.5), at(0.99), micros.back()};
}

double Micros(Clock::duration d) {
    return std::chrono::duration<double, std::micro>(d).count();
}

// A byte sent to an echo thread on the slave side of a second pseudo-terminal and back: the
// pty's own round trip with the same syscalls and wake-ups as a request, without link code.
class PtyEcho {
public:
    PtyEcho() {
        slave_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        thread_ = std::thread([this] {
            char byte = 0;
            while (!stop_) {
                pollfd p{slave_, POLLIN, 0};
                if (::poll(&p, 1, 100) > 0 && ::read(slave_, &byte, 1) == 1) {
                    [[maybe_unused]] auto n = ::write(slave_, &byte, 1);
                }
            }
        });
    }
    ~PtyEcho() {
        stop_ = true;
        thread_.join();
        ::close(slave_);
    }
    // Microseconds for one round trip, or a negative value when the echo did not come.
    double RoundTrip() {
        std::string got;
        auto t0 = Clock::now();
        WriteAll(pty_.MasterFd(), "x");
        if (!ReadSome(pty_.MasterFd(), got)) {
            return -1;
        }
        return Micros(Clock::now() - t0);
    }

private:
    sim::PtyPair pty_;
    int slave_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Asks the terminal what the port's own probe asks, and stamps each call: 'O' when the output
// queue is asked (before a write, and after it while the write waits for its bytes to leave),
// 'L' when the line errors are asked (a read or write returned), 'W' when a write has handed
// its bytes to the driver.
class TracingProbe final : public LineStatusProbe {
public:
    struct Event {
        char kind;
        Clock::time_point at;
    };

    std::optional<int> OutputQueueCount(std::intptr_t handle) override {
        Record('O');
        int count = 0;
        if (::ioctl(static_cast<int>(handle), TIOCOUTQ, &count) != 0) {
            return std::nullopt;
        }
        return count;
    }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t handle) override {
        Record('L');
        serial_icounter_struct c{};
        if (::ioctl(static_cast<int>(handle), TIOCGICOUNT, &c) != 0) {
            return std::nullopt;
        }
        return LineErrorCounters{
            static_cast<std::uint64_t>(c.frame), static_cast<std::uint64_t>(c.overrun),
            static_cast<std::uint64_t>(c.buf_overrun), static_cast<std::uint64_t>(c.parity)};
    }
    void BytesQueued(std::intptr_t, int) override { Record('W'); }

    std::vector<Event> Take() {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<Event> taken;
        taken.swap(events_);
        return taken;
    }

    // One request's trace: from the last read before the first output check after t0 (the read
    // that brought the frame's last byte; the ACK's check follows it) to the reply's output
    // check, which the reply's write follows at once; split at the ACK's output check and at
    // the end of the ACK's write. The ACK's write ends when the driver's queue is empty again
    // (the output query after its bytes were handed over) and not before its one character
    // time on the wire (`ackOnWire`) after that.
    struct Split {
        double total = 0;
        double toAck = 0;     // last byte read to the ACK's output check: frame test
        double ackWrite = 0;  // the ACK's output check, write and time on the wire
        double lookup = 0;    // end of the ACK's write to the reply's output check
    };

    static std::optional<Split> Analyse(const std::vector<Event>& events, Clock::time_point t0,
                                        Clock::duration ackOnWire) {
        std::optional<Clock::time_point> lastByte;
        std::optional<Clock::time_point> ackCheck;
        std::optional<Clock::time_point> ackQueued;
        std::optional<Clock::time_point> ackDrained;
        for (const Event& e : events) {
            if (e.at < t0) {
                continue;
            }
            if (!ackCheck) {
                if (e.kind == 'L') {
                    lastByte = e.at;
                } else if (e.kind == 'O' && lastByte) {
                    ackCheck = e.at;
                }
            } else if (!ackQueued) {
                if (e.kind == 'W') {
                    ackQueued = e.at;
                }
            } else if (e.kind == 'O' && !ackDrained) {
                ackDrained = e.at;
            } else if (e.kind == 'O') {
                const Clock::time_point ackWritten = std::max(*ackDrained, *ackQueued + ackOnWire);
                return Split{Micros(e.at - *lastByte), Micros(*ackCheck - *lastByte),
                             Micros(ackWritten - *ackCheck), Micros(e.at - ackWritten)};
            }
        }
        return std::nullopt;
    }

private:
    void Record(char kind) {
        auto now = Clock::now();
        std::lock_guard<std::mutex> guard(mutex_);
        events_.push_back({kind, now});
    }

    std::mutex mutex_;
    std::vector<Event> events_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::size_t articleCount = Option(argc, argv, "articles", 1000000);
    const std::size_t requestCount = Option(argc, argv, "requests", 20000);
    const std::size_t warmup = std::max<std::size_t>(requestCount / 20, 50);

    std::string folder = (std::filesystem::temp_directory_path() / "tallyport-bench-XXXXXX");
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string pluPath = folder + "/PLU.txt";
    WriteArticleFile(pluPath, articleCount);
    auto loadStart = Clock::now();
    TPluH holder(pluPath);
    double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();

    test::SilentNotices notices;
    RequestContext context;
    auto handlers = MakeRequestHandlers(context);
    sim::PtyPair pty;
    LinkOptions options;
    options.PluHolder = &holder;
    options.ReceiptMasterFile = folder + "/Bon.txt";
    options.ReceiptDetailFile = folder + "/Tran.txt";
    TSerialThread worker(ThreadPriority::Normal, options, notices);
    worker.Link().CommPort = pty.SlavePath();
    worker.Link().LogicalNb = 1;
    worker.Link().Fiscal = "S1";
    worker.Link().SetHandlers(handlers);
    auto probe = std::make_unique<TracingProbe>();
    TracingProbe& trace = *probe;
    worker.Link().Port.SetLineStatusProbe(std::move(probe));
    if (!worker.StartLink()) {
        std::fprintf(stderr, "cannot open %s\n", pty.SlavePath().c_str());
        return 1;
    }

    const Clock::duration ackOnWire = CharacterTime(worker.Link().Port.PortState());
    const Clock::duration pollOnWire =
        WireTime(worker.Link().Port.PortState(), sim::ExpectedPoll(1).size());
    const int master = pty.MasterFd();
    const std::string poll = sim::ExpectedPoll(1);
    std::mt19937_64 random(20261206);
    std::uniform_int_distribution<std::size_t> pick(1, articleCount);
    PtyEcho echo;
    std::vector<double> samples;
    std::vector<double> echoSamples;
    std::vector<double> differences;
    std::vector<double> traced;
    std::vector<double> tracedToAck;
    std::vector<double> tracedAckWrite;
    std::vector<double> tracedLookup;
    Clock::time_point previousT0 = Clock::time_point::max();
    std::size_t wrongReplies = 0;
    for (std::size_t i = 0; i < warmup + requestCount; ++i) {
        std::string line;
        while (line.find(poll) == std::string::npos) {
            if (!ReadSome(master, line)) {
                std::fprintf(stderr, "no poll from the worker\n");
                return 1;
            }
        }
        // A register hears the poll only once it has had its time on the wire; the pty hands
        // it over at once, and the worker's write lasts that time.
        std::this_thread::sleep_for(pollOnWire);
        // The worker polls only once it is done with the previous request: its trace is whole.
        auto split = TracingProbe::Analyse(trace.Take(), previousT0, ackOnWire);
        if (i > warmup && split) {
            traced.push_back(split->total);
            tracedToAck.push_back(split->toAck);
            tracedAckWrite.push_back(split->ackWrite);
            tracedLookup.push_back(split->lookup);
        }
        const std::size_t article = pick(random);
        const std::string frame = sim::FrameBytes("S1;X;1;" + std::to_string(article) + ";;1.000");
        WriteAll(master, std::string_view(frame).substr(0, frame.size() - 1));
        std::this_thread::sleep_for(
            std::chrono::milliseconds(1));  // the worker waits for the last byte
        const auto t0 = Clock::now();
        WriteAll(master, std::string_view(frame).substr(frame.size() - 1));

        std::string answer;
        Clock::time_point t1{};
        for (;;) {
            if (!ReadSome(master, answer)) {
                break;
            }
            if (t1 == Clock::time_point{} && answer.size() >= 2) {
                t1 = Clock::now();  // the ACK and the reply's first byte are here
            }
            auto end = answer.find('\x0D');  // the reply's EndByte, then 2 CRC bytes, 5 fillers
            if (end != std::string::npos && answer.size() >= end + 3 + 5) {
                break;
            }
        }
        const std::string expected = "ARTICOL " + std::to_string(article) + ";";
        if (answer.empty() || answer[0] != '\x06' || answer.find(expected) == std::string::npos) {
            ++wrongReplies;
        }
        WriteAll(master, "\x06");  // the register's confirmation
        // The pty's own round trip, taken right after each request so both see the same load.
        const double echoMicros = echo.RoundTrip();
        if (i >= warmup && t1 != Clock::time_point{} && echoMicros >= 0) {
            samples.push_back(Micros(t1 - t0));
            echoSamples.push_back(echoMicros);
            differences.push_back(samples.back() - echoMicros);
        }
        previousT0 = t0;
    }
    worker.StopLink();

    const auto echoTimes = Summarise(echoSamples);
    const auto request = Summarise(samples);
    const auto software = Summarise(differences);
    const auto tracedTimes = Summarise(traced);
    std::printf("articles                 %zu (loaded in %.2f s)\n", articleCount, loadSeconds);
    std::printf("requests measured        %zu (after %zu warm-up), wrong replies %zu\n",
                samples.size(), warmup, wrongReplies);
    std::printf("pty round trip (echo)    median %7.1f us  p99 %7.1f us  max %7.1f us\n",
                echoTimes.median, echoTimes.p99, echoTimes.max);
    std::printf("request, end to end      median %7.1f us  p99 %7.1f us  max %7.1f us\n",
                request.median, request.p99, request.max);
    std::printf("request minus echo       median %7.1f us  p99 %7.1f us\n", software.median,
                software.p99);
    std::printf("software time (traced)   median %7.1f us  p99 %7.1f us  max %7.1f us  (%zu)\n",
                tracedTimes.median, tracedTimes.p99, tracedTimes.max, traced.size());
    const auto toAck = Summarise(tracedToAck);
    const auto ackWrite = Summarise(tracedAckWrite);
    const auto lookup = Summarise(tracedLookup);
    std::printf(
        "  of which (medians)     frame test %.1f us, ACK write %.1f us, "
        "ACK to reply %.1f us\n",
        toAck.median, ackWrite.median, lookup.median);
    std::printf(
        "  of which (p99)         frame test %.1f us, ACK write %.1f us, "
        "ACK to reply %.1f us\n",
        toAck.p99, ackWrite.p99, lookup.p99);
    std::filesystem::remove_all(folder);
    return wrongReplies == 0 ? 0 : 1;
}
