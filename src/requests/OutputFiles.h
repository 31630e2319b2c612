#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

// Appends the lines, each followed by CR LF, to the file at `path` (created when missing) with
// one write, then flushes the file to the disk (fsync; for a new file its folder too). Either
// every line reaches the file or none does: a failed write or sync cuts the file back to its
// length before the call. Throws RequestError with the path and the system's reason.
//
// Callers serialise their appends to shared files (RequestContext::OutputFilesMutex).
void AppendLinesToFile(const std::string& path, const std::vector<std::string>& lines);

// The output file name of one register when every register has its own files: the configured
// name, then the logical number, then the configured name's extension with its dot. The
// extension is what follows the last "." after the last path separator ("/" or "\"), so
// "Bon.txt" for register 3 gives "Bon.txt3.txt", "C:\BO\Bon" gives "C:\BO\Bon3" and
// "/srv/bo.d/Bon" gives "/srv/bo.d/Bon3".
std::string PerRegisterFileName(std::string_view name, int logicalNb);

}  // namespace tallyport
