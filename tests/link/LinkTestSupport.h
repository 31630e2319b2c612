#pragma once

#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "base/NoticeSink.h"
#include "link/MessageHandlers.h"
#include "link/SerialThread.h"
#include "serial/BlockSerial.h"
#include "simulator/EcrSimulator.h"
#include "support/TempFolder.h"

namespace tallyport::linktest {

using namespace std::chrono_literals;
using sim::Clock;
using test::TempFolder;

// The link engine shows no notices itself; handlers in these tests do not either.
class SilentNotices final : public NoticeSink {
public:
    void ShowNotice(const std::string&, const std::string&, int, NoticeIcon) override {}
};

inline SilentNotices& Notices() {
    static SilentNotices notices;
    return notices;
}

inline std::unique_ptr<TSerialThread> MakeWorker(const std::string& port, int logicalNb) {
    LinkOptions options;
    options.CardMax = 0;
    options.RecDiscount = false;
    options.RecAmount = false;
    options.ScalePrefix = "27";
    auto worker = std::make_unique<TSerialThread>(ThreadPriority::Lowest, options, Notices());
    worker->Link().CommPort = port;
    worker->Link().LogicalNb = logicalNb;
    worker->Link().TranRate = 9600;
    return worker;
}

// A table with one handler for one message type.
inline std::shared_ptr<const HandlerTable> HandlersFor(char type, MessageHandler handler,
                                                       HandlerTurn turn = HandlerTurn::AfterTurn) {
    auto table = std::make_shared<HandlerTable>();
    (*table)[static_cast<unsigned char>(type)] = HandlerEntry{std::move(handler), turn};
    return table;
}

// A pty always reports an empty output queue, so a busy transmitter is produced here: the probe
// answers the port's output-queue query as told.
class QueueProbe final : public LineStatusProbe {
public:
    explicit QueueProbe(std::atomic<int>& queued, std::atomic<int>& queries)
        : queued_(queued), queries_(queries) {}
    std::optional<int> OutputQueueCount(std::intptr_t) override {
        ++queries_;
        return queued_.load();
    }
    std::optional<LineErrorCounters> LineErrors(std::intptr_t) override { return std::nullopt; }

private:
    std::atomic<int>& queued_;
    std::atomic<int>& queries_;
};

// CPU time of the whole process (user and system).
inline std::chrono::microseconds ProcessCpuTime() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
}

inline long Ms(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

}  // namespace tallyport::linktest
