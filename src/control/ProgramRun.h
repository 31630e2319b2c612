#pragma once

#include <functional>
#include <string>

#include "base/ProgramFolders.h"
#include "control/CommandLine.h"
#include "control/StatusFile.h"
#include "link/MessageHandlers.h"

namespace tallyport {

class ConsoleLog;
class RequestContext;
class SignalPipe;

// The parts of a run that every shell shares, without widgets: the folders, the status
// command, and the whole program without a window. User-interface (main) thread only.

// The configuration file and the working folder by the folder rule (a service's when
// `line.service`); an installed program's folder is made and filled on its first start, and
// entered. Empty text on success, else the message for the user.
std::string SettleFolders(const CommandLine& line, ProgramFolders& folders);

// Who writes the status file: this process, on this configuration.
StatusFileHeader StatusHeader(const std::string& configPath);

// `--status [--json]`: looks for the program that runs on the configuration this command line
// names and, for an installed program without --config, also for the service; prints the
// report on standard output and returns its exit status (StatusCommand.h).
int RunStatusCommand(const CommandLine& line);

// The program without a window (`--headless`, the service): settles its folders, reads the
// configuration, starts up, serves the registers and keeps the status file and the notices of
// lost ports, until a request from `stops` ends it as the close query answered Yes
// (StopSequence). Everything the user should know goes to `log`. `started` is called once the
// start-up has succeeded. The link workers get `handlers`; with `context` what the registers are
// told is kept in the journal. Returns the exit status: 0 after an orderly exit (also one
// asked for during the start-up), 1 when the start-up failed.
int RunHeadless(const CommandLine& line, HandlerFactory handlers, RequestContext* context,
                SignalPipe& stops, ConsoleLog& log, const std::function<void()>& started = {});

}  // namespace tallyport
