#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "control/RegisterStatus.h"

namespace tallyport {

// The running program's status file: a small JSON document in the runtime folder that
// `tallyport --status` reads. Its name is derived from the configuration file, so that two
// programs with different configurations never share one. Free functions without state: any
// thread may call them.

// Who wrote the file and when.
struct StatusFileHeader {
    long pid = 0;
    std::uint64_t processStart = 0;  // the writer's start time (kernel ticks), against pid reuse
    std::string config;              // the configuration file the writer runs on
    bool connected = false;
    std::int64_t written = 0;  // seconds since 1970
};

// The document, one line, valid JSON whatever bytes the texts hold (bytes that are not UTF-8
// are written as the characters of the same code).
std::string StatusJson(const StatusFileHeader& header,
                       const std::vector<RegisterStatus>& registers);

// The POSIX runtime folders to use, in order: the service's own ($RUNTIME_DIRECTORY, which
// systemd sets for RuntimeDirectory=), the session's ($XDG_RUNTIME_DIR/tallyport), then
// /run/tallyport. An unset or empty variable is left out.
std::vector<std::string> StatusFolders(const char* runtimeDirectory, const char* xdgRuntimeDir);

// The status folders of this platform, in order (one file per platform). POSIX: the above, from
// the environment (systemd tells the service by it; `service` is not used). Windows: the
// service's %ProgramData%\Tallyport\Status when `service`; otherwise the user's
// %LOCALAPPDATA%\Tallyport\Status, then the service's, where --status finds the service.
std::vector<std::string> StatusFolders(bool service = false);

// "status-<16 hex digits>.json", the digits a hash of the configuration file's absolute path.
std::string StatusFileName(const std::string& configPath);

// Where this program writes its status: the first folder of `folders` that exists or can be
// made (UsableFolder); empty when none can.
std::string StatusFileForWriting(const std::string& configPath,
                                 const std::vector<std::string>& folders);

// Replaces the file with `json` through a temporary file and a rename, so a reader sees the old
// or the new document, never a part. False when it could not be written.
bool WriteStatusFile(const std::string& path, const std::string& json);

}  // namespace tallyport
