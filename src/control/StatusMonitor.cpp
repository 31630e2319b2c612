#include "control/StatusMonitor.h"

#include <ctime>

#include "base/NoticeSink.h"
#include "base/Paths.h"
#include "control/StatusText.h"

namespace tallyport {
namespace {

constexpr auto kWriteInterval = std::chrono::seconds(1);
constexpr int kNoticeSeconds = 10;

std::string Title(const RegisterStatus& r, const char* what) {
    return "Casa " + std::to_string(r.logicalNb) + ": " + what;
}

std::string WithReason(const std::string& text, const std::string& reason) {
    return reason.empty() ? text : text + " (" + reason + ")";
}

}  // namespace

StatusMonitor::StatusMonitor(NoticeSink& notices, std::string statusFile, StatusFileHeader header)
    : notices_(notices), statusFile_(std::move(statusFile)), header_(std::move(header)) {}

StatusMonitor::~StatusMonitor() {
    if (written_) {
        (void)RemoveFile(statusFile_);  // a status file already gone is what was wanted
    }
}

void StatusMonitor::Update(const std::vector<RegisterStatus>& registers, bool connected,
                           Clock::time_point now) {
    for (const RegisterStatus& r : registers) {
        const auto found = seen_.find(r.logicalNb);
        Notify(r, found == seen_.end() ? nullptr : &found->second);
        seen_[r.logicalNb] = Seen{r.state, r.losses};
    }
    last_ = registers;
    if (!statusFile_.empty() && (!lastWrite_ || now - *lastWrite_ >= kWriteInterval)) {
        Write(connected, now);
    }
}

// One notice per change of a port: lost, back, not opening, opened at last. A loss and return
// that both fell between two looks are told as one notice. Starting and stopping are the user's
// own doing and are not told.
void StatusMonitor::Notify(const RegisterStatus& r, const Seen* before) {
    const PortState was = before ? before->state : PortState::Stopped;
    const bool newLoss = before && r.losses > before->losses;
    if (r.state == PortState::Lost && (was != PortState::Lost || newLoss)) {
        notices_.ShowNotice(
            Title(r, "port pierdut"),
            WithReason("Portul " + r.port + " nu mai este disponibil", ErrorText(r)) +
                ". Se redeschide singur cand revine.",
            kNoticeSeconds, NoticeIcon::Warning);
    } else if (r.state == PortState::Open && (was == PortState::Lost || newLoss)) {
        notices_.ShowNotice(Title(r, "port revenit"),
                            was == PortState::Lost
                                ? "Portul " + r.port + " functioneaza din nou."
                                : "Portul " + r.port + " a fost pierdut si functioneaza din nou.",
                            kNoticeSeconds, NoticeIcon::Information);
    } else if (r.state == PortState::Open && was == PortState::CouldNotOpen) {
        notices_.ShowNotice(Title(r, "port deschis"),
                            "Portul " + r.port + " s-a deschis; casa este servita.", kNoticeSeconds,
                            NoticeIcon::Information);
    } else if (r.state == PortState::CouldNotOpen && was != PortState::CouldNotOpen) {
        notices_.ShowNotice(Title(r, "port nedeschis"),
                            WithReason("Portul " + r.port + " nu poate fi deschis", ErrorText(r)) +
                                ". Se incearca din nou in fiecare secunda.",
                            kNoticeSeconds, NoticeIcon::Error);
    }
}

void StatusMonitor::Write(bool connected, Clock::time_point now) {
    header_.connected = connected;
    header_.written = static_cast<std::int64_t>(std::time(nullptr));
    if (WriteStatusFile(statusFile_, StatusJson(header_, last_))) {
        lastWrite_ = now;
        written_ = true;
    }
}

}  // namespace tallyport
