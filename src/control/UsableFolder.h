#pragma once

#include <string>

namespace tallyport {

// True when `folder` is a folder this process may create files in: made here when it is
// missing (mode 0755), or already there, a folder, and writable. Never throws; any thread.
bool UsableFolder(const std::string& folder);

}  // namespace tallyport
