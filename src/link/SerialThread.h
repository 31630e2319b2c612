#pragma once

#include <memory>
#include <string>

#include "link/SerialExtended.h"

namespace tallyport {

// Scheduling priority of a worker thread. Lowest is two steps below normal, the lowest level
// above idle (a nice value of +10 on Linux).
enum class ThreadPriority { Normal, Lowest };

// One register's link worker: a thread that repeats the service cycle (poll, receive at most
// one frame, acknowledge and dispatch it) on its own TSerialExtended. Each cycle is the
// register's turn on the link: the link's turn lock (LinkLock, or with parallel lines the
// link's own: TSerialExtended::TurnLock) is held from the poll to the end of the exchange, the
// handlers marked HandlerTurn::InTurn included; the others run after the turn.
//
// A port that goes away, cannot be opened or whose transmitter sticks is closed and opened
// again by the same name about once a second, without a disconnect; the status says why.
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

    // OpenLink, then run the service loop; true if it was started. A port that cannot be opened
    // does not keep the loop from starting: the loop tries it again about once a second (status
    // CouldNotOpen, with the reason) and serves the register once it opens, as after a loss.
    // False only when the loop already runs or no thread could be made. Works on a new worker
    // and on one that StopLink stopped (pending lines and header fields are kept).
    bool StartLink();
    // Closes the port, asks the loop to end and waits for it. Returns at once on an ended worker.
    void StopLink();
    // True between a successful StartLink and the end of the loop (serving, or trying to open
    // its port).
    bool Running() const;

private:
    struct Loop;  // thread, termination flag, wake-up
    std::unique_ptr<TSerialExtended> link_;
    std::unique_ptr<Loop> loop_;
    ThreadPriority priority_;
};

}  // namespace tallyport
