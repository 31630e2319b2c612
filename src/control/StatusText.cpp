#include "control/StatusText.h"

#include <algorithm>
#include <array>

namespace tallyport {
namespace {

constexpr std::array<PortState, 4> kStates = {PortState::Open, PortState::Lost,
                                              PortState::CouldNotOpen, PortState::Stopped};

// What the user is told of a register: its port state, and apart from an open one the one whose
// worker waits for its journal.
enum class Kind { Served, HeldByJournal, Lost, CouldNotOpen, Stopped };

constexpr std::array<Kind, 5> kSummaryOrder = {Kind::Served, Kind::HeldByJournal, Kind::Lost,
                                               Kind::CouldNotOpen, Kind::Stopped};

Kind KindOf(const RegisterStatus& status) {
    if (HeldByJournal(status)) {
        return Kind::HeldByJournal;
    }
    switch (status.state) {
        case PortState::Open:
            return Kind::Served;
        case PortState::Lost:
            return Kind::Lost;
        case PortState::CouldNotOpen:
            return Kind::CouldNotOpen;
        case PortState::Stopped:
            break;
    }
    return Kind::Stopped;
}

// "1 port pierdut" or "3 porturi pierdute".
std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string SummaryPart(Kind kind, std::size_t count) {
    switch (kind) {
        case Kind::Served:
            return Counted(count, "casa conectata", "case conectate");
        case Kind::HeldByJournal:
            return Counted(count, "casa cu jurnal nescris", "case cu jurnal nescris");
        case Kind::Lost:
            return Counted(count, "port pierdut", "porturi pierdute");
        case Kind::CouldNotOpen:
            return Counted(count, "port care nu se deschide", "porturi care nu se deschid");
        case Kind::Stopped:
            break;
    }
    return Counted(count, "casa deconectata", "case deconectate");
}

// Pads or keeps `text` to `width` characters, for the table's columns.
std::string Column(const std::string& text, std::size_t width) {
    return text.size() >= width ? text + " " : text + std::string(width - text.size() + 1, ' ');
}

}  // namespace

std::string PortStateText(PortState state) {
    switch (state) {
        case PortState::Open:
            return "conectata";
        case PortState::Lost:
            return "port pierdut";
        case PortState::CouldNotOpen:
            return "nu se deschide, se reincearca";
        case PortState::Stopped:
            break;
    }
    return "deconectata";
}

std::string PortStateName(PortState state) {
    switch (state) {
        case PortState::Open:
            return "open";
        case PortState::Lost:
            return "lost";
        case PortState::CouldNotOpen:
            return "could_not_open";
        case PortState::Stopped:
            break;
    }
    return "stopped";
}

std::optional<PortState> PortStateFromName(const std::string& name) {
    for (PortState state : kStates) {
        if (PortStateName(state) == name) {
            return state;
        }
    }
    return std::nullopt;
}

std::string DurationText(std::chrono::seconds length) {
    const long long s = std::max<long long>(0, length.count());
    if (s < 60) {
        return std::to_string(s) + " s";
    }
    if (s < 3600) {
        return std::to_string(s / 60) + " min";
    }
    if (s < 86400) {
        return std::to_string(s / 3600) + " h";
    }
    const long long days = s / 86400;
    return std::to_string(days) + (days == 1 ? " zi" : " zile");
}

std::string LastFrameText(const std::optional<std::chrono::seconds>& age) {
    return age ? "acum " + DurationText(*age) : "nici un cadru";
}

std::optional<std::chrono::seconds> SilentFor(const RegisterStatus& status) {
    if (KindOf(status) != Kind::Served || !status.lastFrameAge ||
        *status.lastFrameAge < kSilentAfter) {
        return std::nullopt;
    }
    return status.lastFrameAge;
}

std::string StateText(const RegisterStatus& status) {
    if (HeldByJournal(status)) {
        return "jurnal nescris";
    }
    if (const auto silent = SilentFor(status)) {
        return PortStateText(status.state) + ", tacuta de " + DurationText(*silent);
    }
    return PortStateText(status.state);
}

std::string ErrorText(const RegisterStatus& status) {
    if (HeldByJournal(status)) {
        return status.journalError;
    }
    return status.portError.empty() ? status.lastError : status.portError;
}

std::string GridStatusText(const RegisterStatus& status) {
    std::string text = StateText(status);
    if (SilentFor(status)) {
        return text;  // the state says since when
    }
    text += status.lastFrameAge ? ", ultimul cadru " + LastFrameText(status.lastFrameAge)
                                : ", " + LastFrameText(std::nullopt);
    if (status.unreadableClosings > 0) {
        text += ", " + std::to_string(status.unreadableClosings) + " inchideri necitite in jurnal";
    }
    return text;
}

std::string GridStatusTip(const RegisterStatus& status) {
    return ErrorText(status);
}

std::string StatusSummary(const std::vector<RegisterStatus>& registers) {
    if (registers.empty()) {
        return "nici o casa de marcat";
    }
    std::string summary;
    for (Kind kind : kSummaryOrder) {
        const auto count = static_cast<std::size_t>(
            std::count_if(registers.begin(), registers.end(),
                          [kind](const RegisterStatus& r) { return KindOf(r) == kind; }));
        if (count > 0) {
            summary += (summary.empty() ? "" : ", ") + SummaryPart(kind, count);
        }
    }
    return summary;
}

std::string StatusTable(const std::vector<RegisterStatus>& registers) {
    std::size_t portWidth = 4;
    std::size_t stateWidth = 14;
    for (const RegisterStatus& r : registers) {
        portWidth = std::max(portWidth, r.port.size());
        stateWidth = std::max(stateWidth, StateText(r).size());
    }
    std::string table;
    const auto line = [&table](std::string text) {
        text.erase(text.find_last_not_of(' ') + 1);
        table += text + "\n";
    };
    // "Tarzii": sales whose confirmation came after the confirmation wait (counted in "Vanzari").
    line(Column("Casa", 4) + Column("Port", portWidth) + Column("Stare", stateWidth) +
         Column("Ultimul cadru", 14) + Column("Bonuri", 6) + Column("Vanzari", 7) +
         Column("Tarzii", 6) + Column("Linii", 5) + "Eroare");
    for (const RegisterStatus& r : registers) {
        line(Column(std::to_string(r.logicalNb), 4) + Column(r.port, portWidth) +
             Column(StateText(r), stateWidth) + Column(LastFrameText(r.lastFrameAge), 14) +
             Column(std::to_string(r.receipts), 6) + Column(std::to_string(r.sales), 7) +
             Column(std::to_string(r.lateSales), 6) + Column(std::to_string(r.pendingLines), 5) +
             ErrorText(r));
    }
    return table;
}

int StatusExitCode(const std::vector<RegisterStatus>& registers) {
    const bool allServed =
        std::all_of(registers.begin(), registers.end(),
                    [](const RegisterStatus& r) { return KindOf(r) == Kind::Served; });
    return !registers.empty() && allServed ? 0 : 1;
}

}  // namespace tallyport
