#include "control/ProgramRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <optional>

#include "base/BuildInfo.h"
#include "base/FirstStartFiles.h"
#include "control/ConfigFile.h"
#include "control/ConnectionControl.h"
#include "control/ConsoleOutput.h"
#include "control/HeadlessShell.h"
#include "control/ProcessIdentity.h"
#include "control/RegisterStatus.h"
#include "control/SignalPipe.h"
#include "control/StatusCommand.h"
#include "control/StatusMonitor.h"
#include "control/StopSequence.h"

namespace tallyport {
namespace {

using Clock = std::chrono::steady_clock;

// How often the registers' status is looked at, and an exit waiting for receipts tried again.
constexpr auto kLookInterval = std::chrono::milliseconds(500);

int ExitStatus(TConnectionControl::StartupResult result) {
    // A start-up cut short by a stop request is a requested end, not a failure.
    return result == TConnectionControl::StartupResult::Failed ? 1 : 0;
}

// The configurations whose running program --status looks for: the one this command would run
// on and, for an installed program without --config, also the service's, so that an
// administrator's plain `tallyport --status` finds the service.
std::vector<std::string> StatusConfigs(const CommandLine& line) {
    FolderFacts facts = FolderFactsOfProcess(line.configFile, line.service);
    std::vector<std::string> configs{ChooseProgramFolders(facts).configPath};
    if (!line.configFile && facts.stateDirectory.empty() &&
        IsInstalledFolder(facts.programFolder, facts.installBinDir)) {
        facts.stateDirectory = DefaultServiceFolder();
        configs.push_back(ChooseProgramFolders(facts).configPath);
    }
    return configs;
}

// Serves until a stop request ends the program: the status is looked at every
// kLookInterval, and an exit that waits for receipts is tried again as often.
void ServeUntilStopped(TConnectionControl& control, StopSequence& sequence, SignalPipe& stops,
                       StatusMonitor& monitor) {
    Clock::time_point nextLook = Clock::now() + kLookInterval;
    for (;;) {
        if (stops.Wait(std::chrono::duration_cast<std::chrono::milliseconds>(
                std::max(nextLook - Clock::now(), Clock::duration::zero())))) {
            while (const std::optional<StopRequest> request = stops.TakeRequest()) {
                if (sequence.Request(*request) == StopSequence::Outcome::Ended) {
                    return;
                }
            }
        }
        const Clock::time_point now = Clock::now();
        if (now < nextLook) {
            continue;
        }
        nextLook = std::max(nextLook + kLookInterval, now);
        monitor.Update(CollectStatus(control.ECRThreads(), now, control.Journal()), Connected, now);
        if (sequence.Retry() == StopSequence::Outcome::Ended || control.Ended()) {
            return;
        }
    }
}

}  // namespace

std::string SettleFolders(const CommandLine& line, ProgramFolders& folders) {
    folders = ChooseProgramFolders(FolderFactsOfProcess(line.configFile, line.service));
    std::string failure = PrepareProgramFolder(folders, FirstStartFiles());
    if (failure.empty()) {
        failure = EnterWorkingFolder(folders);
    }
    return failure.empty() ? failure : "Eroare: " + failure;
}

StatusFileHeader StatusHeader(const std::string& configPath) {
    StatusFileHeader header;
    header.pid = ThisProcessId();
    header.processStart = ProcessStart(header.pid).value_or(0);
    header.config = configPath;
    return header;
}

int RunStatusCommand(const CommandLine& line) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    std::optional<StatusReport> first;
    for (const std::string& config : StatusConfigs(line)) {
        StatusReport report = ReadStatus(config, StatusFolders(line.service), line.json, now);
        if (report.exitCode != 2) {
            first = std::move(report);
            break;
        }
        if (!first) {
            first = std::move(report);
        }
    }
    std::fputs(first->text.c_str(), stdout);
    std::fflush(stdout);
    return first->exitCode;
}

int RunHeadless(const CommandLine& line, HandlerFactory handlers, RequestContext* context,
                SignalPipe& stops, ConsoleLog& log, const std::function<void()>& started) {
    ProgramFolders folders;
    const std::string failure = SettleFolders(line, folders);
    if (!failure.empty()) {
        log.Line(failure);
        return 1;
    }
    ConsoleDialogs dialogs(log);
    if (!ReadConfigFile(folders.configPath, dialogs)) {
        return 1;
    }
    ConsoleNoticeSink notices(log);
    HeadlessShell view(log);
    TConnectionControl control(folders.configPath, view, dialogs, notices, std::move(handlers));
    StopSequence sequence(control);
    // A request between the start-up's steps ends the start-up; any kind does.
    control.SetStopProbe([&stops] {
        bool any = false;
        while (stops.TakeRequest()) {
            any = true;
        }
        return any;
    });
    control.UseRequestContext(context);
    log.Line(std::string(build_info::kProgramCaption) +
             (line.service ? " porneste ca serviciu; configurare: "
                           : " porneste fara fereastra; configurare: ") +
             folders.configPath);
    // Notices of lost and returning ports and the status file, as the window keeps them.
    StatusMonitor monitor(notices,
                          StatusFileForWriting(folders.configPath, StatusFolders(line.service)),
                          StatusHeader(folders.configPath));
    const auto result = control.TrayStartup();
    if (result != TConnectionControl::StartupResult::Running) {
        log.Line("Tallyport se opreste.");
        return ExitStatus(result);
    }
    if (started) {
        started();
    }
    ServeUntilStopped(control, sequence, stops, monitor);
    log.Line("Tallyport s-a oprit.");
    return 0;
}

}  // namespace tallyport
