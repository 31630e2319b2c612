#pragma once

#include <string>

namespace tallyport {

// True when `path` names a file (a link to one counts), not a folder or nothing. Never throws;
// any thread. One implementation per platform.
bool IsFile(const std::string& path);

}  // namespace tallyport
