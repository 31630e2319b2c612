#pragma once

#include <string>
#include <string_view>

namespace tallyport {

// What OpenPort makes of a port name: the 0-based port number it carries and the path it opens.
struct ResolvedPortName {
    int portNumber = -1;     // -1: no number, the name is opened as given
    std::string devicePath;  // the device of the numbered port, or the name itself
};

// The port number in a name, tested on an upper-cased copy: "COM<n>" gives n - 1 (a COM name
// without a number gives -1); "/DEV/TTYS" followed by decimal digits only gives their number;
// every other name gives -1 and is opened as given: "/dev/ttySC0", "/dev/ttySTM0" and
// "/dev/ttySAC0" are UARTs of their own, and a name such as "/dev/ttyS1a" fails to open under
// the name the user gave.
int PortNumberFromName(std::string_view name);

// The device path of a numbered port on this platform (one file per platform).
std::string DevicePathForPort(int portNumber);

ResolvedPortName ResolvePortName(const std::string& name);

}  // namespace tallyport
