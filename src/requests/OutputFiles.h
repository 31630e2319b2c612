#pragma once

#include <string>
#include <vector>

namespace tallyport {

// Appends the lines, each followed by CR LF, to the file at `path` (created when missing) with
// one write, then flushes the file to the disk (fsync; for a new file its folder too). Either
// every line reaches the file or none does: a failed write or sync cuts the file back to its
// length before the call. Throws RequestError with the path and the system's reason.
//
// Callers serialise their appends to shared files (RequestContext::OutputFilesMutex).
void AppendLinesToFile(const std::string& path, const std::vector<std::string>& lines);

}  // namespace tallyport
