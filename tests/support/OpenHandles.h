#pragma once

namespace tallyport::test {

// The descriptors (POSIX) or handles (Windows) this process holds right now, so that a test can
// show that no path of the code under test leaks one. Any thread; one file per platform.
int OpenHandleCount();

}  // namespace tallyport::test
