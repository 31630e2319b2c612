#pragma once

#include <string>

namespace tallyport {

// Text of one of the port object's own codes (0 and 9991..10003), or nullptr for any other
// code, which is then a platform error number.
const char* SerialOwnErrorText(int code);

// The operating system's message for a platform error number (one file per platform).
std::string PlatformErrorText(int code);

// Receive-line conditions seen since the last check.
struct LineErrorFlags {
    bool framing = false;
    bool overrun = false;     // hardware overrun
    bool rxOverflow = false;  // input queue overflow
    bool parity = false;
    bool txFull = false;  // output queue full
};

// The outcome code after a read or write that saw `flags`: every condition that is present
// replaces `current`, tested in the order framing, overrun, input overflow, parity, output
// full, so the last one present wins (framing together with parity gives the parity code).
int LineErrorCode(const LineErrorFlags& flags, int current);

}  // namespace tallyport
