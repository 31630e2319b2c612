#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "simulator/EcrProtocol.h"
#include "simulator/LineRate.h"

namespace tallyport::sim {

class LineEnd;

// One answer of the simulated register to a poll addressed to it. Built from a frame body or
// raw bytes, then shaped: stray bytes before it, a delay, gaps, spacing between bytes, a cut.
// Indices count the bytes as built so far (Prefix first, then gaps and cuts).
class Answer {
public:
    struct Piece {
        int pauseBeforeMs = 0;
        std::string bytes;
    };

    static Answer Silence();                               // stays silent at that poll
    static Answer Frame(std::string_view body);            // StartByte body EndByte CRC high, low
    static Answer FrameWithoutCrc(std::string_view body);  // ... EndByte and nothing more
    static Answer FrameWithCrc(std::string_view body, std::uint8_t high, std::uint8_t low);
    static Answer Raw(std::string_view bytes);

    Answer& Prefix(std::string_view stray);        // bytes sent before everything else
    Answer& Delay(int ms);                         // pause before the first byte
    Answer& GapBefore(std::size_t index, int ms);  // pause before byte `index`
    Answer& Spaced(int ms);                        // pause before every byte after the first
    Answer& Cut(std::size_t keep);                 // only the first `keep` bytes go out

    const std::string& Bytes() const { return bytes_; }
    bool Silent() const { return bytes_.empty(); }
    std::vector<Piece> Pieces() const;

private:
    std::string bytes_;
    int delayMs_ = 0;
    int spacingMs_ = 0;
    std::map<std::size_t, int> gaps_;
};

// How the register confirms a reply frame of the PC (the AckByte, optionally among fillers,
// a delay after the reply's last CRC byte has arrived, that is after its time on the wire).
struct Confirmation {
    bool enabled = true;
    int delayMs = 5;
    int fillersBefore = 0;
    int fillersAfter = 0;
};

// Something the simulator wrote to the line.
struct SentRecord {
    enum class What { Answer, Confirmation, Unsolicited };
    What what = What::Answer;
    std::uint64_t answerId = 0;  // Answer: the id Enqueue gave
    std::size_t pollIndex = 0;   // Answer: index in Messages() of the poll it was sent at
    std::string bytes;           // as written so far
    bool finished = false;       // every byte written (false when an unplug cut it)
    Clock::time_point start{};   // first write
    Clock::time_point end{};     // last write
};

// Every byte the PC sent, with its arrival time.
struct Recording {
    std::string bytes;
    std::vector<Clock::time_point> times;
};

// The outcome of Exchange.
struct ExchangeResult {
    bool sent = false;   // the answer went out at a poll within the time
    PcMessage poll;      // the poll it answered (when sent): the one it was sent at, or a later one
                         // the PC had written before the answer went out
    SentRecord answer;   // the answer as it went out (when sent)
    bool acked = false;  // the PC acknowledged it with a bare AckByte
    std::optional<PcMessage> response;  // reply frame or padded acknowledgement after the ACK
    bool nextPoll = false;              // the PC polled again: its side of the exchange is over
    std::vector<PcMessage> messages;    // everything the PC sent after the poll that was answered
};

// A cash register simulated on a pseudo-terminal. It holds the master side and runs its own
// thread there: it records every byte the PC sends with its arrival time, cuts the stream into
// polls, acknowledgements and reply frames, answers polls addressed to its logical number from
// a script (one answer per poll, silence when the script is empty) and confirms the PC's reply
// frames. The port can be unplugged (master closed, link removed) and plugged back (a new pty,
// the link re-pointed) to simulate a register or adapter that goes away.
//
// The line has time, as a real serial line has: at the register's rate and framing the
// register hears each byte of the PC only once the byte has crossed the wire (byte k of a burst
// written at t0 at t0 + (k + 1) character times, behind the bytes still on the wire), and its
// own bytes reach the PC one character time apart. Arrival times, polls and messages are those
// of the far end of the wire. A rate of 0 keeps the bare pseudo-terminal, which delivers every
// write at once, for tests that need exact byte timing.
//
// Threads: every public member may be called from any thread; the object itself is owned by one
// (the test, the tool or the demo), which must not destroy it while others use it.
class EcrSimulator {
public:
    struct Options {
        int logicalNb = 1;
        std::string linkPath{};  // publish the port under this symbolic link ("": no link)
        Confirmation confirmation{};
        LineRate line = kDefaultLineRate;
        // A real serial port to simulate the register on, at `line`, instead of a pty ("": a
        // pty). The real wire gives the bytes their time; the simulator then models none.
        std::string device{};
        // False: the register's port is not there until Plug() (a USB adapter that the system
        // finds only after the program has started): no pty, no link path.
        bool plugged = true;
    };

    explicit EcrSimulator(Options options);
    explicit EcrSimulator(int logicalNb);
    EcrSimulator(int logicalNb, LineRate line);
    ~EcrSimulator();
    EcrSimulator(const EcrSimulator&) = delete;
    EcrSimulator& operator=(const EcrSimulator&) = delete;

    // The name the program opens: the link path if there is one, else the slave path (on a real
    // serial port, that port's own name).
    std::string PortName() const;
    std::string SlavePath() const;
    int LogicalNb() const { return logicalNb_; }
    const LineRate& Line() const { return line_; }
    // The rate the program set on its end of the pty (a pty keeps it, though it does not use
    // it); 0 when it cannot be read. Where it differs from Line().baud a real line would carry
    // garbage.
    int ProgramBaud() const;

    // Script: answers given at the next polls in order; an id per answer for Sent()/Exchange.
    std::uint64_t Enqueue(Answer answer);
    std::size_t QueuedAnswers() const;
    void ClearScript();
    void SetConfirmation(const Confirmation& confirmation);
    // Sends bytes now, outside the script (a byte left on the line, noise), at the line's rate.
    void SendNow(std::string_view bytes);

    // What the PC sent and what the simulator wrote.
    Recording Received() const;
    std::string ReceivedBytes() const;
    std::vector<PcMessage> Messages() const;
    std::vector<PcMessage> Polls() const;  // complete or not, addressed to this register
    std::size_t PollCount() const;
    std::vector<SentRecord> Sent() const;

    // Waits (false on time-out) until the register has been polled `count` times in all, or
    // until `ready` holds for the PC's messages.
    bool WaitForPolls(std::size_t count, std::chrono::milliseconds timeout) const;
    bool WaitUntil(const std::function<bool(const std::vector<PcMessage>&)>& ready,
                   std::chrono::milliseconds timeout) const;

    // The longest stretch of [from, to] in which the register was not polled: from `from` to
    // its first poll in it, between two polls, from the last one to `to`. A program that went
    // away (or was restarted) shows up as a long gap.
    Clock::duration LongestPollGap(Clock::time_point from, Clock::time_point to) const;

    // Sends the answer at the next poll and waits up to `timeout` for the PC's ACK and for the
    // reply frame or padded acknowledgement after it; it returns early once the PC polls again.
    ExchangeResult Exchange(Answer answer, std::chrono::milliseconds timeout);
    ExchangeResult Exchange(std::string_view body, std::chrono::milliseconds timeout);
    // The same with two limits: up to `pollTimeout` for the poll that takes the answer (an
    // answer not sent by then is withdrawn), then up to `responseTimeout` from that poll for
    // the PC's side of the exchange. A PC that is slow to poll then still gets its full time
    // to answer, and a register that is not served is told so after `pollTimeout`.
    ExchangeResult Exchange(Answer answer, std::chrono::milliseconds pollTimeout,
                            std::chrono::milliseconds responseTimeout);

    // The line: unplug closes the master and removes the link (the program's port hangs up);
    // plug makes a new pty and points the link at it (the first time, for a simulator made
    // unplugged: the port appears). Pending writes are dropped at unplug.
    void Unplug();
    void Plug();
    bool Plugged() const;

    // CPU time used by the simulator's own threads so far.
    std::chrono::nanoseconds CpuTime() const;

private:
    struct Outgoing {
        Clock::time_point due;  // on a timed line: when its last byte has reached the PC
        std::string bytes;
        std::size_t record;  // index in sent_
        bool last;           // last piece of that record
    };

    std::unique_ptr<LineEnd> MakeEnd() const;
    void StartThread();
    void StopThread();
    void Run();
    void ReadMaster(Clock::time_point now);
    void Hear(const std::string& bytes, const std::vector<Clock::time_point>& times);
    void HearDue(Clock::time_point now);
    void React(std::size_t firstNew);
    void Schedule(SentRecord record, const std::vector<Answer::Piece>& pieces,
                  Clock::time_point now);
    void KeepSpacingAfterALateWrite(std::size_t record, Clock::duration late,
                                    Clock::time_point now);
    bool WriteDue(Clock::time_point now);
    // How long the thread may sleep: until the next byte is due either way (-1: no limit).
    Clock::duration NextWake(Clock::time_point now) const;
    bool MayAnswer(std::size_t index, const SentRecord& record) const;
    std::size_t AnsweredPoll(const SentRecord& record) const;
    bool AnswerDone(std::uint64_t id, ExchangeResult& result) const;
    const SentRecord* AnswerRecord(std::uint64_t id) const;

    const int logicalNb_;
    const std::string linkPath_;
    const std::string device_;
    const LineRate line_;
    const bool timed_;  // the line's time is modelled here

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::unique_ptr<LineEnd> end_;
    std::deque<std::pair<std::uint64_t, Answer>> script_;
    std::uint64_t nextId_ = 1;
    Confirmation confirmation_;
    Recording received_;
    PcStreamParser parser_;
    std::size_t pollCount_ = 0;
    std::vector<Clock::time_point> pollTimes_;  // arrival of each poll to this register
    std::vector<SentRecord> sent_;
    std::deque<Outgoing> outgoing_;
    // The PC's bytes still on the wire, with the moment each reaches the register.
    std::deque<std::pair<char, Clock::time_point>> onWire_;
    bool blockedOnWrite_ = false;
    std::chrono::nanoseconds cpuOfEndedThreads_{0};

    std::thread thread_;
    int wakeFd_ = -1;
    bool stop_ = false;
};

}  // namespace tallyport::sim
