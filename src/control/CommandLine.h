#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// Which command line a program offers: the shells differ in what they can be asked for.
struct ProgramOptions {
    // The program has a window and runs with it unless --headless is given. Without one (the
    // Windows console program) it serves the registers in its console, --headless or not.
    bool window = true;
    // The program can run as a Windows service: --service (started so by the service control
    // manager), --install-service and --remove-service.
    bool service = false;
};

// What the command line asks of the program.
struct CommandLine {
    enum class Action {
        Run,             // run the program (with its window, headless or as the service)
        Help,            // print `text` (the help) on standard output and end with status 0
        Version,         // print `text` (the version) on standard output and end with status 0
        Error,           // print `text` (the error) on standard error and end with status 2
        InstallService,  // register the service (with configFile, when given) and end
        RemoveService,   // stop and remove the service and end
    };
    Action action = Action::Run;
    std::string text;
    // Without a window: messages go to standard error (always so for a program without one).
    bool headless = false;
    // Run as the service under the service control manager (headless as well).
    bool service = false;
    // --config FILE: the configuration file, its folder the working folder.
    std::optional<std::string> configFile;
    // --status: print how the running program's registers stand instead of running; --json:
    // as JSON instead of a table.
    bool status = false;
    bool json = false;
};

// Reads the arguments (argv[0] included): options begin with "--" or "-" ("-headless" is
// "--headless"), a value follows its option or an "=" ("--config=FILE", "-c FILE"), "--" ends
// the options. Texts in the program's language. Any thread; never throws.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                             const ProgramOptions& offered = ProgramOptions{});

}  // namespace tallyport
