#pragma once

#include <string>

namespace tallyport::test {

// The platform's own error codes that the serial port's shared tests expect, each with the
// condition that produces it.
struct SerialPlatformCodes {
    int notOpen;          // a count or the settings asked of a closed port
    int portInUse;        // another object holds the port
    int noSuchPort;       // the device does not exist
    int noSuchFolder;     // a name in a folder that does not exist
    int deviceGone;       // the line went away while the port was open
    int invalidArgument;  // settings that the line cannot take
    int queryRefused;     // a driver query that fails but leaves the port usable
    int queryGone;        // a driver query that fails because the device has left
};
const SerialPlatformCodes& PlatformCodes();

// The note that OpenPort gives the trace hook about low-latency mode on a line of the tests:
// refused by a pseudo-terminal on Linux; on Windows the adapter driver's own setting.
std::string LowLatencyNoteOfTestLine();

// True in the Windows build.
bool OnWindows();

// True when the tests run under Wine, whose COM ports are pseudo-terminals with limits of their
// own (listed where a test allows for them).
bool RunningUnderWine();

// True when the device of a numbered port exists on this machine (a device file; a DOS device
// name on Windows), without opening it.
bool PortDeviceExists(const std::string& devicePath);

}  // namespace tallyport::test
