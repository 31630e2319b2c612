#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tallyport {

// `tallyport --status [--json]`: finds the status file of the program that runs on
// `configPath` in `folders` (StatusFolders()), and says how its registers stand: as a table for
// a person or as the file's JSON. The exit status is 0 when every register is served (its port
// open, its journal written), 1 when a register's journal cannot be written or its port is
// lost, cannot open or is disconnected (or the status has not been renewed for longer than
// 10 s), 2 when no program runs on that configuration (no file, or the process that wrote it is
// gone). Any thread; reads files only.
struct StatusReport {
    int exitCode = 2;
    std::string text;  // for standard output
};
StatusReport ReadStatus(const std::string& configPath, const std::vector<std::string>& folders,
                        bool json, std::int64_t now);

}  // namespace tallyport
