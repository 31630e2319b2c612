#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "serial/PortName.h"
#include "serial/SerialErrors.h"
#include "support/PtyLine.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::PtyLine;
using test::TempFolder;
using testing::CurrentDirGuard;

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

TEST(SerialErrorText, OtherCodesGiveTheSystemMessage) {
    EXPECT_EQ(TBlockSerial::ErrorText(5), "Input/output error");
    EXPECT_EQ(TBlockSerial::ErrorText(5), std::string(strerror(5)));
    EXPECT_EQ(TBlockSerial::ErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(TBlockSerial::ErrorText(EBUSY), "Device or resource busy");
    EXPECT_EQ(TBlockSerial::ErrorText(9990), std::string(strerror(9990)));
    EXPECT_NE(TBlockSerial::ErrorText(10004).find("10004"), std::string::npos);
    EXPECT_NE(TBlockSerial::ErrorText(-3).find("-3"), std::string::npos);

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
        const char* path;
    };
    const Case cases[] = {
        {"COM1", 0, "/dev/ttyS0"},         {"COM3", 2, "/dev/ttyS2"},
        {"com12", 11, "/dev/ttyS11"},      {"cOm7", 6, "/dev/ttyS6"},
        {"/dev/ttyS0", 0, "/dev/ttyS0"},   {"/dev/ttyS11", 11, "/dev/ttyS11"},
        {"/DEV/TTYS4", 4, "/dev/ttyS4"},   {"/dev/ttys2", 2, "/dev/ttyS2"},
        {"/dev/ttyS007", 7, "/dev/ttyS7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PortNumberFromName(c.name), c.number) << c.name;
        const ResolvedPortName resolved = ResolvePortName(c.name);
        EXPECT_EQ(resolved.portNumber, c.number) << c.name;
        EXPECT_EQ(resolved.devicePath, c.path) << c.name;
    }
    // COM<n> and the ttyS name of n - 1 reach the same device.
    EXPECT_EQ(ResolvePortName("COM5").devicePath, ResolvePortName("/dev/ttyS4").devicePath);
}

TEST(PortNames, OtherNamesAreOpenedAsGiven) {
    for (const char* name :
         {"COM0", "COMX", "COM", "com", "COM1x", "COM 1", "COM99999999999", "/dev/ttyUSB0",
          "/dev/ttyACM0", "/dev/pts/3", "/dev/ttyS-1", "ports/line1", "",
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
    TBlockSerial port;
    port.OpenPort("/DEV/TTYSx");  // no number: the name as given, which does not exist
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "/DEV/TTYSx");
    EXPECT_EQ(port.LastErrorCode(), ENOENT);
    EXPECT_EQ(port.LastErrorText(), "No such file or directory");

    // Numbered names whose devices this machine lacks.
    for (auto [name, path] : {std::pair{"COM3", "/dev/ttyS2"}, std::pair{"com12", "/dev/ttyS11"},
                              std::pair{"COM250", "/dev/ttyS249"}}) {
        if (std::filesystem::exists(path))
            continue;
        TBlockSerial other;
        other.OpenPort(name);
        EXPECT_FALSE(other.PortReady()) << name;
        EXPECT_EQ(other.DeviceName(), path) << name;
        EXPECT_EQ(other.LastErrorCode(), ENOENT) << name;
    }
}

TEST(PortNames, ComZeroAndComLetterAreOpenedByTheirOwnNames) {
    TempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    CurrentDirGuard here(dir.Path());
    PtyLine line;
    ASSERT_FALSE(line.SlavePath().empty());

    TBlockSerial port;
    port.OpenPort("COM0");
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "COM0");
    EXPECT_EQ(port.LastErrorCode(), ENOENT);
    EXPECT_EQ(port.LastErrorText(), "No such file or directory");

    // A file of that name in the current folder is what gets opened: here a link to the line.
    std::filesystem::create_symlink(line.SlavePath(), dir.Path() / "COMX");
    port.OpenPort("COMX");
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "COMX");
    EXPECT_EQ(port.WriteText("\x11"), 1);
    EXPECT_EQ(line.Receive(1, std::chrono::milliseconds(1000)), "\x11");
}

TEST(PortNames, AFileThatIsNoTerminalIsRefused) {
    TempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    const std::filesystem::path file = dir.Path() / "plain";
    std::ofstream(file) << "not a serial port";

    TBlockSerial port;
    port.OpenPort(file.string());
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.LastErrorCode(), ENOTTY);
    EXPECT_EQ(port.ReadByte(0), 0);
    EXPECT_EQ(port.LastErrorCode(), kSerialNotConnected);
}

}  // namespace
}  // namespace tallyport
