#pragma once

#include <optional>
#include <string>
#include <vector>

#include "control/RegisterStatus.h"

namespace tallyport {

// The registers' status in words, in the window's Romanian without diacritics, and the names
// the status file uses. Free functions without state: any thread may call them.

// The state as a word of the grid: "conectata", "port pierdut", "nu se deschide",
// "deconectata".
std::string PortStateText(PortState state);
// The state's name in the status file: "open", "lost", "could_not_open", "stopped".
std::string PortStateName(PortState state);
std::optional<PortState> PortStateFromName(const std::string& name);

// A register's state as a word of the grid: the port state's word, or "jurnal nescris" while
// its port is open but its journal cannot be written (the register is not served).
std::string StateText(const RegisterStatus& status);
// The error shown beside it: the journal's reason while it holds the register, else the last
// port or file error.
std::string ErrorText(const RegisterStatus& status);

// How long ago the last frame came: "acum 5 s", "acum 3 min", "acum 2 h", "acum 4 zile";
// "nici un cadru" when none came.
std::string LastFrameText(const std::optional<std::chrono::seconds>& age);

// A grid row's status: "conectata, ultimul cadru acum 5 s", "jurnal nescris, ultimul cadru
// acum 5 s".
std::string GridStatusText(const RegisterStatus& status);

// The tray's summary: "4 case conectate, 1 port pierdut" (the kinds that occur, in the order
// connected, held by the journal ("1 casa cu jurnal nescris"), lost, not opening,
// disconnected); "nici o casa de marcat" without registers.
std::string StatusSummary(const std::vector<RegisterStatus>& registers);

// The status as a table for a person, one line per register after a heading line.
std::string StatusTable(const std::vector<RegisterStatus>& registers);

// The exit status of the status command for a running program: 0 when there are registers and
// every one is served (its port open, its journal written), 1 otherwise (a journal that cannot
// be written, a port lost, not opening, or the registers disconnected).
int StatusExitCode(const std::vector<RegisterStatus>& registers);

}  // namespace tallyport
