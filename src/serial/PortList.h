#pragma once

#include <string>
#include <vector>

namespace tallyport {

// The serial ports this computer has, found by listing folders, never by opening or probing a
// port: "/dev/ttyS<n>" whose driver reports a UART, every "/dev/ttyUSB<n>" and "/dev/ttyACM<n>",
// then the stable names under "/dev/serial/by-id/" and under "/dev/serial/by-path/" (by the
// socket, for adapters that share one by-id name). Numbered names come in number order within
// their kind, the stable names in name order within their folder. `root` is the folder that stands
// for "/" (a test gives a fake tree); the names returned are always as the program opens them
// ("/dev/..."). Free function without state: any thread may call it. A folder that cannot be read
// gives no names of its kind; nothing is reported.
std::vector<std::string> ListSerialPorts(const std::string& root = "/");

}  // namespace tallyport
