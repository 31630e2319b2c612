// The port object's texts and its port names: shared by both platforms, each with the device
// paths and codes of its own.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "serial/PortName.h"
#include "serial/SerialErrors.h"
#include "support/SerialPlatform.h"

namespace tallyport {
namespace {

using test::OnWindows;
using test::PlatformCodes;
using testing::ScratchFile;

TEST(SerialErrorText, OwnCodesCarryTheirExactTexts) {
    const std::vector<std::pair<int, const char*>> texts = {
        {0, "OK"},
        {9991, "Port owned by other process"},
        {9992, "Instance already in use"},
        {9993, "Wrong paramter at call"},
        {9994, "Instance not yet connected"},
        {9995, "No device answer detected"},
        {9996, "Maximal buffer length exceeded"},
        {9997, "Timeout during operation"},
        {9998, "Reading of data failed"},
        {9999, "Receive framing error"},
        {10000, "Receive Overrun Error"},
        {10001, "Receive Queue overflow"},
        {10002, "Receive Parity Error"},
        {10003, "Tranceive Queue is full"},
    };
    for (const auto& [code, text] : texts) {
        EXPECT_EQ(TBlockSerial::ErrorText(code), text) << code;
    }
}

TEST(SerialErrorText, CodesWithoutASystemMessageNameTheirNumber) {
    EXPECT_EQ(TBlockSerial::ErrorText(123456789), "Unknown error 123456789");
    EXPECT_EQ(TBlockSerial::ErrorText(-3), "Unknown error -3");

    TBlockSerial port;
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.LastErrorText(), "OK");
}

TEST(SerialErrorText, LaterLineConditionsOverwriteEarlierOnes) {
    EXPECT_EQ(LineErrorCode({}, 0), 0);
    EXPECT_EQ(LineErrorCode({}, kSerialTimeout), kSerialTimeout);
    EXPECT_EQ(LineErrorCode({.framing = true}, 0), 9999);
    EXPECT_EQ(LineErrorCode({.overrun = true}, kSerialTimeout), 10000);
    EXPECT_EQ(LineErrorCode({.rxOverflow = true}, 0), 10001);
    EXPECT_EQ(LineErrorCode({.parity = true}, 0), 10002);
    EXPECT_EQ(LineErrorCode({.txFull = true}, 0), 10003);
    EXPECT_EQ(LineErrorCode({.framing = true, .parity = true}, 0), 10002);
    EXPECT_EQ(LineErrorCode({.framing = true, .overrun = true}, 0), 10000);
    EXPECT_EQ(LineErrorCode({.overrun = true, .rxOverflow = true}, 0), 10001);
    EXPECT_EQ(
        LineErrorCode(
            {.framing = true, .overrun = true, .rxOverflow = true, .parity = true, .txFull = true},
            0),
        10003);
}

TEST(PortNames, NumberedNamesReachTheSerialDevices) {
    struct Case {
        const char* name;
        int number;
        const char* linuxPath;
        const char* windowsPath;
    };
    const Case cases[] = {
        {"COM1", 0, "/dev/ttyS0", "\\\\.\\COM1"},
        {"COM3", 2, "/dev/ttyS2", "\\\\.\\COM3"},
        {"com12", 11, "/dev/ttyS11", "\\\\.\\COM12"},
        {"cOm7", 6, "/dev/ttyS6", "\\\\.\\COM7"},
        {"COM256", 255, "/dev/ttyS255", "\\\\.\\COM256"},
        {"/dev/ttyS0", 0, "/dev/ttyS0", "\\\\.\\COM1"},
        {"/dev/ttyS11", 11, "/dev/ttyS11", "\\\\.\\COM12"},
        {"/DEV/TTYS4", 4, "/dev/ttyS4", "\\\\.\\COM5"},
        {"/dev/ttys2", 2, "/dev/ttyS2", "\\\\.\\COM3"},
        {"/dev/ttyS007", 7, "/dev/ttyS7", "\\\\.\\COM8"},
    };
    for (const Case& c : cases) {
        const std::string path = OnWindows() ? c.windowsPath : c.linuxPath;
        EXPECT_EQ(PortNumberFromName(c.name), c.number) << c.name;
        const ResolvedPortName resolved = ResolvePortName(c.name);
        EXPECT_EQ(resolved.portNumber, c.number) << c.name;
        EXPECT_EQ(resolved.devicePath, path) << c.name;
    }
    // COM<n> and the ttyS name of n - 1 reach the same device.
    EXPECT_EQ(ResolvePortName("COM5").devicePath, ResolvePortName("/dev/ttyS4").devicePath);
}

TEST(PortNames, OtherNamesAreOpenedAsGiven) {
    for (const char* name :
         {"COM0", "COMX", "COM", "com", "COM1x", "COM 1", "COM99999999999", "/dev/ttyUSB0",
          "/dev/ttyACM0", "/dev/pts/3", "/dev/ttyS-1", "ports/line1", "\\\\.\\COM4", "",
          // UARTs whose kernel names begin like a legacy port's
          "/dev/ttySC0", "/dev/ttySTM0", "/dev/ttySAC0", "/dev/ttysc1", "/dev/ttySA0",
          // and names that carry no port number
          "/dev/ttySx", "/DEV/TTYS", "/dev/ttyS1a", "/dev/ttyS 1", "/dev/ttyS+1",
          "/dev/ttyS99999999999"}) {
        const ResolvedPortName resolved = ResolvePortName(name);
        EXPECT_EQ(resolved.portNumber, -1) << name;
        EXPECT_EQ(resolved.devicePath, name) << name;
    }
}

TEST(PortNames, DeviceNameIsRewrittenEvenWhenTheOpenFails) {
    const int noSuchPort = PlatformCodes().noSuchPort;
    TBlockSerial port;
    port.OpenPort("/DEV/TTYSx");  // no number: the name as given, which does not exist
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "/DEV/TTYSx");
    // Not there: no such file, or on Windows no such folder where the drive has no "\DEV"
    // (under Wine, whose names are case-blind, Z:\DEV is /dev, and the file is missing).
    const int code = port.LastErrorCode();
    EXPECT_TRUE(code == noSuchPort || code == PlatformCodes().noSuchFolder) << code;
    EXPECT_EQ(port.LastErrorText(), TBlockSerial::ErrorText(code));

    // Numbered names whose devices this machine lacks.
    for (const char* name : {"COM3", "com12", "COM250"}) {
        const std::string path = ResolvePortName(name).devicePath;
        if (test::PortDeviceExists(path))
            continue;
        TBlockSerial other;
        other.OpenPort(name);
        EXPECT_FALSE(other.PortReady()) << name;
        EXPECT_EQ(other.DeviceName(), path) << name;
        EXPECT_EQ(other.LastErrorCode(), noSuchPort) << name;
    }
}

TEST(PortNames, ComZeroIsOpenedByItsOwnName) {
    TBlockSerial port;
    port.OpenPort("COM0");
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "COM0");
    EXPECT_EQ(port.LastErrorCode(), PlatformCodes().noSuchPort);
}

TEST(PortNames, AFileThatIsNoSerialPortIsRefused) {
    ScratchFile file("not a serial port");
    TBlockSerial port;
    port.OpenPort(file.Path().string());
    EXPECT_FALSE(port.PortReady());
    EXPECT_NE(port.LastErrorCode(), 0);
    EXPECT_EQ(port.LastErrorText(), TBlockSerial::ErrorText(port.LastErrorCode()));
    EXPECT_EQ(port.ReadByte(0), 0);
    EXPECT_EQ(port.LastErrorCode(), kSerialNotConnected);
}

}  // namespace
}  // namespace tallyport
