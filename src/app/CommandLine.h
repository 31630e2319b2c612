#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallyport {

// What the command line asks of the program.
struct CommandLine {
    enum class Action {
        Run,      // run the program (with its window, or headless)
        Help,     // print `text` (the help) on standard output and end with status 0
        Version,  // print `text` (the version) on standard output and end with status 0
        Error,    // print `text` (the error) on standard error and end with status 2
    };
    Action action = Action::Run;
    std::string text;
    bool headless = false;
    // --config FILE: the configuration file, its folder the working folder.
    std::optional<std::string> configFile;
    // --status: print how the running program's registers stand instead of running; --json:
    // as JSON instead of a table.
    bool status = false;
    bool json = false;
};

// Reads the arguments (argv[0] included) with Qt's command-line parser. Needs no application
// object, so that --help and --version work without a display. Any thread; never throws.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace tallyport
