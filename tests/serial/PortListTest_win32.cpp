// The serial ports offered to the user on Windows, read from a fake device map in the user's
// part of the registry, never by opening a port.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "serial/PortList.h"

namespace tallyport {
namespace {

using Names = std::vector<std::string>;

// A key under HKEY_CURRENT_USER standing for HKEY_LOCAL_MACHINE, with a device map of its own;
// removed with everything in it when it goes.
class FakeMachine {
public:
    FakeMachine() : root_("Software\\Tallyport test " + std::to_string(std::random_device{}())) {}
    ~FakeMachine() { RegDeleteTreeA(HKEY_CURRENT_USER, root_.c_str()); }
    FakeMachine(const FakeMachine&) = delete;
    FakeMachine& operator=(const FakeMachine&) = delete;

    const std::string& Root() const { return root_; }

    // A value of the device map: the driver's device name and the port's name. `withNul`
    // false stores the text without its terminating NUL, as the registry allows.
    void Map(const std::string& device, const std::string& port, bool withNul = true) {
        Set(device, REG_SZ, port.c_str(), port.size() + (withNul ? 1 : 0));
    }
    void Set(const std::string& name, DWORD type, const void* data, std::size_t size) {
        HKEY key = nullptr;
        const std::string path = root_ + "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegSetValueExA(key, name.c_str(), 0, type, static_cast<const BYTE*>(data),
                                 static_cast<DWORD>(size)),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

private:
    std::string root_;
};

TEST(PortListWin32, TheDeviceMapsPortsInNumberOrder) {
    FakeMachine machine;
    machine.Map("\\Device\\Serial0", "COM1");
    machine.Map("\\Device\\VCP0", "COM10");
    machine.Map("\\Device\\Serial1", "COM2", false);
    machine.Map("\\Device\\com0com10", "CNCA0");
    machine.Map("\\Device\\Empty", "");
    const DWORD number = 3;
    machine.Set("\\Device\\Odd", REG_DWORD, &number, sizeof number);  // not a port name
    EXPECT_EQ(ListSerialPorts(machine.Root()), (Names{"COM1", "COM2", "COM10", "CNCA0"}));
    for (const SerialPortEntry& entry : ListSerialPortEntries(machine.Root()))
        EXPECT_EQ(entry.description, "") << "a fake device map has no devices";
}

TEST(PortListWin32, AMissingDeviceMapGivesNoNames) {
    FakeMachine machine;  // nothing made
    EXPECT_TRUE(ListSerialPorts(machine.Root()).empty());
}

TEST(PortListWin32, LongNamesAreReadWhole) {
    FakeMachine machine;
    const std::string longPort = "COM" + std::string(300, '9');  // no number a port could have
    machine.Map(std::string(200, 'd'), longPort);
    machine.Map("\\Device\\Serial3", "COM4");
    EXPECT_EQ(ListSerialPorts(machine.Root()), (Names{"COM4", longPort}));
}

}  // namespace
}  // namespace tallyport
