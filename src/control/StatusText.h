#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "control/RegisterStatus.h"

namespace tallyport {

// The registers' status in words, in the window's Romanian without diacritics, and the names
// the status file uses. Free functions without state: any thread may call them.

// A register that used to answer and has sent no frame for this long is shown as silent. That
// is information, not a fault: an idle register stays silent when it is polled.
inline constexpr std::chrono::seconds kSilentAfter{5 * 60};

// The state as a word of the grid: "conectata", "port pierdut", "nu se deschide, se reincearca"
// (the port is tried again about once a second), "deconectata".
std::string PortStateText(PortState state);
// The state's name in the status file: "open", "lost", "could_not_open", "stopped".
std::string PortStateName(PortState state);
std::optional<PortState> PortStateFromName(const std::string& name);

// How long a served register has been silent: the age of its last frame from kSilentAfter on;
// empty when it is not served, never answered since the start, or answered lately.
std::optional<std::chrono::seconds> SilentFor(const RegisterStatus& status);

// A register's state in words: the port state's word, "jurnal nescris" while its port is open
// but its journal cannot be written (the register is not served), "conectata, tacuta de 7 min"
// while it is served but silent (SilentFor).
std::string StateText(const RegisterStatus& status);
// The error shown beside it: the journal's reason while it holds the register, else why the
// port is not open, else a request handler's last error.
std::string ErrorText(const RegisterStatus& status);

// A length of time in words: "5 s", "3 min", "2 h", "1 zi", "4 zile".
std::string DurationText(std::chrono::seconds length);
// How long ago the last frame came: "acum 5 s", "acum 3 min", "acum 2 h", "acum 4 zile";
// "nici un cadru" when none came.
std::string LastFrameText(const std::optional<std::chrono::seconds>& age);

// A grid row's status: "conectata, ultimul cadru acum 5 s", "jurnal nescris, ultimul cadru
// acum 5 s", "conectata, tacuta de 12 min", "nu se deschide, se reincearca, nici un cadru".
std::string GridStatusText(const RegisterStatus& status);
// The tip of a grid row's status: its error (ErrorText), such as why the port does not open in
// the system's words; empty when there is none.
std::string GridStatusTip(const RegisterStatus& status);
// The longest status a grid row shows in common use: the grid's column is sized for it.
inline constexpr char kWidestGridStatus[] =
    "nu se deschide, se reincearca, ultimul cadru acum 59 min";

// The tray's summary: "4 case conectate, 1 port pierdut" (the kinds that occur, in the order
// connected, held by the journal ("1 casa cu jurnal nescris"), lost, not opening,
// disconnected); "nici o casa de marcat" without registers.
std::string StatusSummary(const std::vector<RegisterStatus>& registers);

// The status as a table for a person, one line per register after a heading line.
std::string StatusTable(const std::vector<RegisterStatus>& registers);

// The exit status of the status command for a running program: 0 when there are registers and
// every one is served (its port open, its journal written; silent or not), 1 otherwise (a
// journal that cannot be written, a port lost, not opening, or the registers disconnected).
int StatusExitCode(const std::vector<RegisterStatus>& registers);

}  // namespace tallyport
