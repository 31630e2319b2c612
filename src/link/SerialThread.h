#pragma once

#include <memory>
#include <string>

#include "link/SerialExtended.h"

namespace tallyport {

// Scheduling priority of a worker thread. Lowest is two steps below normal, the lowest level
// above idle (a nice value of +10 on Linux).
enum class ThreadPriority { Normal, Lowest };

// One register's link worker: a thread that repeats the service cycle (poll, receive at most
// one frame, acknowledge and dispatch it) on its own TSerialExtended.
//
// Threads: constructed, started, stopped and destroyed by the shell's thread; the service loop
// runs on the worker's own std::thread. An error escaping a handler ends that message only.
class TSerialThread {
public:
    TSerialThread(ThreadPriority priority, const LinkOptions& options, NoticeSink& trayIcon);
    ~TSerialThread();  // stops a running worker first; a never-started one runs no cycle
    TSerialThread(const TSerialThread&) = delete;
    TSerialThread& operator=(const TSerialThread&) = delete;

    TSerialExtended& Link() { return *link_; }
    const TSerialExtended& Link() const { return *link_; }

    // OpenLink, then run the service loop; true if it was started. Works on a new worker and on
    // one that StopLink stopped (pending lines and header fields are kept).
    bool StartLink();
    // Closes the port, asks the loop to end and waits for it. Returns at once on an ended worker.
    void StopLink();
    // True between a successful StartLink and the end of the loop.
    bool Running() const;

private:
    struct Loop;  // thread, termination flag, wake-up
    std::unique_ptr<TSerialExtended> link_;
    std::unique_ptr<Loop> loop_;
    ThreadPriority priority_;
};

}  // namespace tallyport
