#pragma once

#include "control/CommandLine.h"
#include "link/MessageHandlers.h"

namespace tallyport {

class RequestContext;

// tallyport.exe as a Windows service (`--service`, started by the service control manager):
// the program without a window (control/ProgramRun.h) on the service's thread, its log in
// "Tallyport.log" in the service's folder and in the Windows event log (EventLog.h). STOP, SHUTDOWN
// and PRESHUTDOWN ask for the orderly exit that may not be refused (StopRequest::mustEnd): the
// workers stop, the journal keeps the open receipts for the next start and the log names them; the
// service reports SERVICE_STOP_PENDING with a wait hint meanwhile and SERVICE_STOPPED with the exit
// status. Returns the exit status; 1 with a message on standard error when the program was not
// started by the service control manager. Main thread.
int RunAsService(const CommandLine& line, HandlerFactory handlers, RequestContext* context);

// `--install-service`: registers the service "Tallyport" (automatic start as LocalSystem, a
// restart after a failure, time to stop at a shutdown), running this program with --service
// and, when given, --config with the file's absolute path, and its event-log source; an
// existing registration is updated. Then starts it. `--remove-service`: stops it (waiting for
// its orderly exit) and removes it and its source; a service that is not there is no error. Both
// print what they did and return the exit status (0, or 1 with the system's reason). Need an
// administrator. Main thread.
int InstallService(const CommandLine& line);
int RemoveService();

// The service's name for the service control manager and sc.exe.
inline constexpr wchar_t kServiceName[] = L"Tallyport";

}  // namespace tallyport
