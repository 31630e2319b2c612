#pragma once

#include <string>

namespace tallyport {

// True when `folder` is a folder this process may create files in: made here when it is
// missing (POSIX: mode 0755; Windows: with the folders above it), or already there, a folder,
// and writable. Never throws; any thread.
bool UsableFolder(const std::string& folder);

}  // namespace tallyport
