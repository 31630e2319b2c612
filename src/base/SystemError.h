#pragma once

#include <string>

namespace tallyport {

// The platform's error codes, as the file helpers and the stores report them: errno values on
// POSIX, Win32 error codes (GetLastError) on Windows. Free functions: any thread.

// The platform's text for an error code ("Read-only file system", "Access is denied").
std::string ErrorText(int error);

// The code for an argument the platform would refuse (EINVAL, ERROR_INVALID_PARAMETER): a
// store that refuses a value itself says why in the platform's words.
int InvalidArgumentError();

}  // namespace tallyport
