#pragma once

#include <string>
#include <vector>

namespace tallyport {

// One serial port as the system lists it: the name OpenPort takes, and a readable name where
// the system gives one ("USB Serial Port (COM3)"), empty otherwise.
struct SerialPortEntry {
    std::string name;
    std::string description;
};

// The serial ports this computer has, found by reading the system's lists, never by opening or
// probing a port. `root` empty: the system's own lists; a test gives a fake one.
//
// Linux: "/dev/ttyS<n>" whose driver reports a UART, every "/dev/ttyUSB<n>" and
// "/dev/ttyACM<n>", then the stable names under "/dev/serial/by-id/" and under
// "/dev/serial/by-path/" (by the socket, for adapters that share one by-id name). Numbered
// names come in number order within their kind, the stable names in name order within their
// folder, all without descriptions. `root` is the folder that stands for "/"; the names
// returned are always as the program opens them ("/dev/...").
//
// Windows: the ports of the device map (HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM),
// "COM<n>" in number order, then any other name in name order, each with the friendly name
// that the Ports device class gives its device. `root` is a key under HKEY_CURRENT_USER that
// stands for HKEY_LOCAL_MACHINE; a fake device map has no devices, so no friendly names.
//
// Free functions without state: any thread may call them. A list that cannot be read gives no
// names of its kind; nothing is reported.
std::vector<SerialPortEntry> ListSerialPortEntries(const std::string& root = {});

// The names alone, in the same order.
std::vector<std::string> ListSerialPorts(const std::string& root = {});

}  // namespace tallyport
