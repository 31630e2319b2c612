#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "control/RegisterStatus.h"
#include "control/StatusFile.h"

namespace tallyport {

class NoticeSink;

// Looks at the registers' status about twice a second: tells the user once when a port is lost,
// when it is back, when it cannot be opened and when it opens at last, and keeps the status file
// (at most one write a second). A register held by its journal is not told here: the journal tells
// it once when it fails and once when it is written again (ReceiptJournal), also when the failure
// came and went between two looks. Owned by the shell; user-interface thread only. Notices go to
// the sink given; a status file that cannot be written is tried again at the next look, and
// reported nowhere else.
class StatusMonitor {
public:
    using Clock = std::chrono::steady_clock;

    // `statusFile` empty: no file is kept. `header` gives the writer's pid, start and
    // configuration; its time and connected state are filled in at each write.
    StatusMonitor(NoticeSink& notices, std::string statusFile, StatusFileHeader header);
    ~StatusMonitor();  // removes the status file: a program that ended has no status
    StatusMonitor(const StatusMonitor&) = delete;
    StatusMonitor& operator=(const StatusMonitor&) = delete;

    // One look at the registers as they are at `now`.
    void Update(const std::vector<RegisterStatus>& registers, bool connected,
                Clock::time_point now);

    const std::vector<RegisterStatus>& Last() const { return last_; }
    const std::string& StatusFile() const { return statusFile_; }

private:
    struct Seen {
        PortState state;
        std::uint64_t losses;
    };
    void Notify(const RegisterStatus& now, const Seen* before);
    void Write(bool connected, Clock::time_point now);

    NoticeSink& notices_;
    std::string statusFile_;
    StatusFileHeader header_;
    std::map<int, Seen> seen_;  // by logical number
    std::vector<RegisterStatus> last_;
    std::optional<Clock::time_point> lastWrite_;
    bool written_ = false;
};

}  // namespace tallyport
