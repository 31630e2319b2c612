#include "simulator/EcrSimulator.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "simulator/PtyPair.h"
#include "simulator/SerialDevice.h"

namespace tallyport::sim {

namespace {

std::chrono::nanoseconds ClockTime(clockid_t clock) {
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0) {
        return std::chrono::nanoseconds{0};
    }
    return std::chrono::seconds{ts.tv_sec} + std::chrono::nanoseconds{ts.tv_nsec};
}

timespec Timespec(Clock::duration d) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

int BaudOf(speed_t speed) {
    static constexpr std::pair<speed_t, int> kRates[] = {
        {B50, 50},       {B75, 75},         {B110, 110},      {B134, 134},     {B150, 150},
        {B200, 200},     {B300, 300},       {B600, 600},      {B1200, 1200},   {B1800, 1800},
        {B2400, 2400},   {B4800, 4800},     {B9600, 9600},    {B19200, 19200}, {B38400, 38400},
        {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    for (const auto& [code, baud] : kRates) {
        if (code == speed) {
            return baud;
        }
    }
    return 0;
}

}  // namespace

// ---- Answer ----

Answer Answer::Silence() {
    return Answer{};
}

Answer Answer::Frame(std::string_view body) {
    return Raw(FrameBytes(body));
}

Answer Answer::FrameWithoutCrc(std::string_view body) {
    return Raw(FrameBytesWithoutCrc(body));
}

Answer Answer::FrameWithCrc(std::string_view body, std::uint8_t high, std::uint8_t low) {
    Answer a = Raw(FrameBytesWithoutCrc(body));
    a.bytes_ += static_cast<char>(high);
    a.bytes_ += static_cast<char>(low);
    return a;
}

Answer Answer::Raw(std::string_view bytes) {
    Answer a;
    a.bytes_ = std::string(bytes);
    return a;
}

Answer& Answer::Prefix(std::string_view stray) {
    bytes_.insert(0, stray);
    return *this;
}

Answer& Answer::Delay(int ms) {
    delayMs_ = ms;
    return *this;
}

Answer& Answer::GapBefore(std::size_t index, int ms) {
    gaps_[index] = ms;
    return *this;
}

Answer& Answer::Spaced(int ms) {
    spacingMs_ = ms;
    return *this;
}

Answer& Answer::Cut(std::size_t keep) {
    if (keep < bytes_.size()) {
        bytes_.resize(keep);
    }
    return *this;
}

std::vector<Answer::Piece> Answer::Pieces() const {
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        int pause = i == 0 ? delayMs_ : spacingMs_;
        if (auto gap = gaps_.find(i); gap != gaps_.end()) {
            pause += gap->second;
        }
        if (pieces.empty() || pause > 0) {
            pieces.push_back(Piece{pause, {}});
        }
        pieces.back().bytes += bytes_[i];
    }
    return pieces;
}

// ---- EcrSimulator ----

EcrSimulator::EcrSimulator(int logicalNb) : EcrSimulator(Options{.logicalNb = logicalNb}) {}

EcrSimulator::EcrSimulator(int logicalNb, LineRate line)
    : EcrSimulator(Options{.logicalNb = logicalNb, .line = line}) {}

EcrSimulator::EcrSimulator(Options options)
    : logicalNb_(options.logicalNb),
      linkPath_(std::move(options.linkPath)),
      device_(std::move(options.device)),
      line_(options.line),
      timed_(line_.Timed() && device_.empty()),
      confirmation_(options.confirmation) {
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    if (options.plugged) {
        Plug();
    }
}

std::unique_ptr<LineEnd> EcrSimulator::MakeEnd() const {
    if (device_.empty()) {
        return std::make_unique<PtyPair>();
    }
    return std::make_unique<SerialDevice>(device_, line_);
}

EcrSimulator::~EcrSimulator() {
    StopThread();
    if (!linkPath_.empty() && end_) {
        unlink(linkPath_.c_str());
    }
    close(wakeFd_);
}

std::string EcrSimulator::PortName() const {
    return linkPath_.empty() ? SlavePath() : linkPath_;
}

std::string EcrSimulator::SlavePath() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return end_ ? end_->PortName() : std::string{};
}

int EcrSimulator::ProgramBaud() const {
    std::lock_guard<std::mutex> guard(mutex_);
    termios settings{};
    // Only a pty shares its settings with the program's end; a real line's far end is not ours.
    if (!end_ || !end_->ModelsLineTime() || tcgetattr(end_->Fd(), &settings) != 0) {
        return 0;
    }
    return BaudOf(cfgetospeed(&settings));
}

std::uint64_t EcrSimulator::Enqueue(Answer answer) {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::uint64_t id = nextId_++;
    script_.emplace_back(id, std::move(answer));
    return id;
}

std::size_t EcrSimulator::QueuedAnswers() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return script_.size();
}

void EcrSimulator::ClearScript() {
    std::lock_guard<std::mutex> guard(mutex_);
    script_.clear();
}

void EcrSimulator::SetConfirmation(const Confirmation& confirmation) {
    std::lock_guard<std::mutex> guard(mutex_);
    confirmation_ = confirmation;
}

void EcrSimulator::SendNow(std::string_view bytes) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        SentRecord record;
        record.what = SentRecord::What::Unsolicited;
        Schedule(std::move(record), {Answer::Piece{0, std::string(bytes)}}, Clock::now());
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
}

Recording EcrSimulator::Received() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_;
}

std::string EcrSimulator::ReceivedBytes() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_.bytes;
}

std::vector<PcMessage> EcrSimulator::Messages() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return parser_.Messages();
}

std::vector<PcMessage> EcrSimulator::Polls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<PcMessage> polls;
    for (const PcMessage& m : parser_.Messages()) {
        if (m.kind == PcKind::Poll && m.logicalNb == logicalNb_) {
            polls.push_back(m);
        }
    }
    return polls;
}

std::size_t EcrSimulator::PollCount() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return pollCount_;
}

std::vector<SentRecord> EcrSimulator::Sent() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return sent_;
}

bool EcrSimulator::WaitForPolls(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return pollCount_ >= count; });
}

bool EcrSimulator::WaitUntil(const std::function<bool(const std::vector<PcMessage>&)>& ready,
                             std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, timeout, [&] { return ready(parser_.Messages()); });
}

Clock::duration EcrSimulator::LongestPollGap(Clock::time_point from, Clock::time_point to) const {
    std::lock_guard<std::mutex> guard(mutex_);
    auto poll = std::lower_bound(pollTimes_.begin(), pollTimes_.end(), from);
    Clock::duration longest{0};
    Clock::time_point previous = from;
    for (; poll != pollTimes_.end() && *poll <= to; ++poll) {
        longest = std::max(longest, *poll - previous);
        previous = *poll;
    }
    return std::max(longest, to - previous);
}

ExchangeResult EcrSimulator::Exchange(std::string_view body, std::chrono::milliseconds timeout) {
    return Exchange(Answer::Frame(body), timeout);
}

ExchangeResult EcrSimulator::Exchange(Answer answer, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::uint64_t id = Enqueue(std::move(answer));
    ExchangeResult result;
    std::unique_lock<std::mutex> guard(mutex_);
    changed_.wait_until(guard, deadline, [&] { return AnswerDone(id, result); });
    AnswerDone(id, result);
    if (!result.sent) {
        // Never used: it must not answer a later poll that the caller no longer waits for.
        std::erase_if(script_, [id](const auto& entry) { return entry.first == id; });
    }
    return result;
}

ExchangeResult EcrSimulator::Exchange(Answer answer, std::chrono::milliseconds pollTimeout,
                                      std::chrono::milliseconds responseTimeout) {
    const std::uint64_t id = Enqueue(std::move(answer));
    ExchangeResult result;
    std::unique_lock<std::mutex> guard(mutex_);
    const bool sent =
        changed_.wait_for(guard, pollTimeout, [&] { return AnswerRecord(id) != nullptr; });
    if (!sent) {
        std::erase_if(script_, [id](const auto& entry) { return entry.first == id; });
        return result;
    }
    const Clock::time_point polled = parser_.Messages()[AnswerRecord(id)->pollIndex].last;
    changed_.wait_until(guard, polled + responseTimeout, [&] { return AnswerDone(id, result); });
    AnswerDone(id, result);
    return result;
}

const SentRecord* EcrSimulator::AnswerRecord(std::uint64_t id) const {
    auto record = std::find_if(sent_.begin(), sent_.end(), [id](const SentRecord& r) {
        return r.what == SentRecord::What::Answer && r.answerId == id;
    });
    return record == sent_.end() ? nullptr : &*record;
}

// How long before the register heard a poll the PC may already have written it: the poll's
// bytes reach this thread through the kernel and the thread's own wake-up, which on a loaded
// machine lag the PC's write. Generous, since a stalled thread was seen to lag 200 ms.
constexpr std::chrono::milliseconds kHearingLag{250};

// Whether the PC may have taken the answer for one to poll `index`: the answer started when
// the PC may already have written that poll, and the register sent nothing else for it.
bool EcrSimulator::MayAnswer(std::size_t index, const SentRecord& record) const {
    const PcMessage& m = parser_.Messages()[index];
    if (m.kind != PcKind::Poll || m.logicalNb != logicalNb_ ||
        record.start == Clock::time_point{} ||
        m.first - line_.CharTime() - kHearingLag > record.start ||
        record.bytes.find(wire::Start) == std::string::npos) {
        return false;  // not a poll it can answer, or no frame for the PC to take
    }
    return std::none_of(sent_.begin(), sent_.end(), [&](const SentRecord& other) {
        return other.what == SentRecord::What::Answer && other.pollIndex == index;
    });
}

// A register answers the poll it was asked with, unless its answer went out late: then the PC
// has polled again meanwhile, and takes the answer for one to its latest poll. So the answer
// belongs to the last poll the PC had written when the answer's first byte went out (a poll
// is heard one character time after it was written), or to a later one the register heard
// only after its answer had started, if the PC acknowledged right after that poll: the PC
// drops what came before a poll, so what it acknowledges came after it.
std::size_t EcrSimulator::AnsweredPoll(const SentRecord& record) const {
    const auto& messages = parser_.Messages();
    std::size_t answered = record.pollIndex;
    if (record.start == Clock::time_point{}) {
        return answered;  // nothing out yet
    }
    for (std::size_t i = record.pollIndex + 1; i < messages.size(); ++i) {
        const PcMessage& m = messages[i];
        if (m.kind != PcKind::Poll || m.logicalNb != logicalNb_) {
            continue;
        }
        const bool writtenBefore = m.first - line_.CharTime() <= record.start;
        const bool takenFor =
            MayAnswer(i, record) && i + 1 < messages.size() && messages[i + 1].kind == PcKind::Ack;
        if (!writtenBefore && !takenFor) {
            break;
        }
        answered = i;
    }
    return answered;
}

bool EcrSimulator::AnswerDone(std::uint64_t id, ExchangeResult& result) const {
    result = ExchangeResult{};
    const SentRecord* record = AnswerRecord(id);
    if (record == nullptr) {
        return false;
    }
    result.sent = true;
    result.answer = *record;
    const auto& messages = parser_.Messages();
    const std::size_t answered = AnsweredPoll(*record);
    result.poll = messages[answered];
    result.messages.assign(messages.begin() + static_cast<std::ptrdiff_t>(answered) + 1,
                           messages.end());
    if (record->start == Clock::time_point{}) {
        return false;  // not on the line yet: a poll meanwhile is one it will answer
    }
    for (std::size_t i = answered + 1; i < messages.size(); ++i) {
        const PcMessage& m = messages[i];
        if (m.kind == PcKind::Poll) {
            result.nextPoll = true;
            // The PC may yet acknowledge it for this poll: wait for its next word (a wait that
            // ends first keeps the poll as the end of the exchange).
            return result.acked || !MayAnswer(i, *record) || i + 1 < messages.size();
        }
        if (!result.acked) {
            result.acked = m.kind == PcKind::Ack;
        } else if (m.kind == PcKind::Reply || m.kind == PcKind::PaddedAck) {
            result.response = m;
            return m.complete;
        }
    }
    return false;
}

void EcrSimulator::Unplug() {
    StopThread();
    std::lock_guard<std::mutex> guard(mutex_);
    if (!end_) {
        return;
    }
    parser_.Break();
    outgoing_.clear();
    onWire_.clear();
    blockedOnWrite_ = false;
    end_.reset();
    if (!linkPath_.empty()) {
        unlink(linkPath_.c_str());
    }
    changed_.notify_all();
}

void EcrSimulator::Plug() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (end_) {
            return;
        }
        end_ = MakeEnd();
        if (!linkPath_.empty()) {
            PointSymlink(linkPath_, end_->PortName());
        }
    }
    StartThread();
}

bool EcrSimulator::Plugged() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return end_ != nullptr;
}

std::chrono::nanoseconds EcrSimulator::CpuTime() const {
    std::lock_guard<std::mutex> guard(mutex_);
    std::chrono::nanoseconds total = cpuOfEndedThreads_;
    if (thread_.joinable()) {
        clockid_t clock{};
        // const_cast: native_handle() is not const, the thread is only looked at
        if (pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &clock) == 0) {
            total += ClockTime(clock);
        }
    }
    return total;
}

void EcrSimulator::StartThread() {
    std::lock_guard<std::mutex> guard(mutex_);
    stop_ = false;
    thread_ = std::thread(&EcrSimulator::Run, this);
}

void EcrSimulator::StopThread() {
    std::thread running;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (!thread_.joinable()) {
            return;
        }
        stop_ = true;
        running = std::move(thread_);
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_, &one, sizeof one);
    running.join();
}

void EcrSimulator::Run() {
    int master = -1;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        master = end_->Fd();
    }
    for (;;) {
        short events = POLLIN;
        Clock::duration wait{};
        {
            std::lock_guard<std::mutex> guard(mutex_);
            if (stop_) {
                break;
            }
            wait = NextWake(Clock::now());
            if (blockedOnWrite_) {
                events |= POLLOUT;
            }
        }
        pollfd fds[2] = {{master, events, 0}, {wakeFd_, POLLIN, 0}};
        // ppoll: a character at 38400 baud lasts a quarter of a millisecond, finer than poll's.
        const timespec limit = Timespec(wait);
        if (ppoll(fds, 2, wait < Clock::duration::zero() ? nullptr : &limit, nullptr) < 0 &&
            errno != EINTR) {
            break;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t value = 0;
            [[maybe_unused]] auto n = read(wakeFd_, &value, sizeof value);
        }
        std::lock_guard<std::mutex> guard(mutex_);
        if (stop_) {
            break;
        }
        const auto now = Clock::now();
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            ReadMaster(now);
        }
        HearDue(now);
        WriteDue(now);
        changed_.notify_all();
    }
    const auto spent = ClockTime(CLOCK_THREAD_CPUTIME_ID);
    std::lock_guard<std::mutex> guard(mutex_);
    cpuOfEndedThreads_ += spent;
}

void EcrSimulator::ReadMaster(Clock::time_point now) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(end_->Fd(), buffer, sizeof buffer);
        if (n <= 0) {
            return;  // EAGAIN: all read; the pair keeps a slave open, so no hang-up to spin on
        }
        const std::string_view chunk(buffer, static_cast<std::size_t>(n));
        if (!timed_) {
            Hear(std::string(chunk), std::vector<Clock::time_point>(chunk.size(), now));
            continue;
        }
        // The PC wrote these bytes a moment ago; each crosses the wire in one character time,
        // behind those still on it.
        Clock::time_point at = onWire_.empty() ? now : std::max(now, onWire_.back().second);
        for (char c : chunk) {
            at += line_.CharTime();
            onWire_.emplace_back(c, at);
        }
    }
}

void EcrSimulator::HearDue(Clock::time_point now) {
    std::string bytes;
    std::vector<Clock::time_point> times;
    while (!onWire_.empty() && onWire_.front().second <= now) {
        bytes += onWire_.front().first;
        times.push_back(onWire_.front().second);
        onWire_.pop_front();
    }
    if (!bytes.empty()) {
        Hear(bytes, times);
    }
}

void EcrSimulator::Hear(const std::string& bytes, const std::vector<Clock::time_point>& times) {
    received_.bytes.append(bytes);
    received_.times.insert(received_.times.end(), times.begin(), times.end());
    const std::size_t firstNew = parser_.Messages().size();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        parser_.Feed(std::string_view(bytes).substr(i, 1), times[i]);
    }
    React(firstNew);
}

void EcrSimulator::React(std::size_t firstNew) {
    const auto& messages = parser_.Messages();
    for (std::size_t i = firstNew; i < messages.size(); ++i) {
        const PcMessage& m = messages[i];
        // Answers and confirmations count from the moment the message was heard whole, not from
        // the moment this thread got round to it.
        if (m.kind == PcKind::Poll && m.logicalNb == logicalNb_) {
            ++pollCount_;
            pollTimes_.push_back(m.last);
            if (script_.empty()) {
                continue;
            }
            auto [id, answer] = std::move(script_.front());
            script_.pop_front();
            SentRecord record;
            record.what = SentRecord::What::Answer;
            record.answerId = id;
            record.pollIndex = i;
            Schedule(std::move(record), answer.Pieces(), m.last);
        } else if (m.kind == PcKind::Reply && confirmation_.enabled) {
            SentRecord record;
            record.what = SentRecord::What::Confirmation;
            const std::string ack = Fillers(confirmation_.fillersBefore) + wire::Ack +
                                    Fillers(confirmation_.fillersAfter);
            Schedule(std::move(record), {Answer::Piece{confirmation_.delayMs, ack}}, m.last);
        }
    }
}

void EcrSimulator::Schedule(SentRecord record, const std::vector<Answer::Piece>& pieces,
                            Clock::time_point at) {
    const std::size_t index = sent_.size();
    record.finished = pieces.empty();
    if (pieces.empty()) {
        record.start = record.end = at;
    }
    sent_.push_back(std::move(record));
    // Behind whatever is still to go out; on a timed line each byte is written when it has
    // crossed the wire, one character time after the one before it.
    auto due = outgoing_.empty() ? at : std::max(at, outgoing_.back().due);
    for (std::size_t p = 0; p < pieces.size(); ++p) {
        due += std::chrono::milliseconds(pieces[p].pauseBeforeMs);
        const bool lastPiece = p + 1 == pieces.size();
        if (!timed_) {
            outgoing_.push_back(Outgoing{due, pieces[p].bytes, index, lastPiece});
            continue;
        }
        const std::string& bytes = pieces[p].bytes;
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            due += line_.CharTime();
            outgoing_.push_back(
                Outgoing{due, std::string(1, bytes[k]), index, lastPiece && k + 1 == bytes.size()});
        }
    }
}

bool EcrSimulator::WriteDue(Clock::time_point now) {
    blockedOnWrite_ = false;
    while (!outgoing_.empty() && outgoing_.front().due <= now) {
        Outgoing& out = outgoing_.front();
        const ssize_t n = write(end_->Fd(), out.bytes.data(), out.bytes.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                blockedOnWrite_ = true;
                return false;
            }
            outgoing_.clear();  // the line is unusable; what was due is lost, as on a real wire
            return false;
        }
        SentRecord& record = sent_[out.record];
        if (record.start == Clock::time_point{}) {
            record.start = now;
        }
        record.end = now;
        record.bytes.append(out.bytes, 0, static_cast<std::size_t>(n));
        out.bytes.erase(0, static_cast<std::size_t>(n));
        if (!out.bytes.empty()) {
            blockedOnWrite_ = true;
            return false;
        }
        record.finished = out.last;
        const std::size_t written = out.record;
        const Clock::duration late = now - out.due;
        outgoing_.pop_front();
        if (timed_) {
            KeepSpacingAfterALateWrite(written, late, now);
        }
    }
    return true;
}

// A byte written late (the thread woke late) has only now reached the PC: the rest of its
// answer keeps its character times and gaps behind it instead of catching up, and nothing
// follows it sooner than one character time, as on a wire.
void EcrSimulator::KeepSpacingAfterALateWrite(std::size_t record, Clock::duration late,
                                              Clock::time_point now) {
    if (late > Clock::duration::zero()) {
        for (Outgoing& next : outgoing_) {
            if (next.record != record) {
                break;
            }
            next.due += late;
        }
    }
    if (!outgoing_.empty()) {
        outgoing_.front().due = std::max(outgoing_.front().due, now + line_.CharTime());
    }
}

Clock::duration EcrSimulator::NextWake(Clock::time_point now) const {
    std::optional<Clock::time_point> next;
    if (!outgoing_.empty() && !blockedOnWrite_) {
        next = outgoing_.front().due;
    }
    if (!onWire_.empty() && (!next || onWire_.front().second < *next)) {
        next = onWire_.front().second;
    }
    if (!next) {
        return Clock::duration{-1};
    }
    return std::max(*next - now, Clock::duration::zero());
}

}  // namespace tallyport::sim
