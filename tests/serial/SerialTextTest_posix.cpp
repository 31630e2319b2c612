// The port object's texts and names where they are POSIX's own: the C library's messages, a
// name opened relative to the current folder, the refusal of a file that is no terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "SerialTestHelpers.h"
#include "serial/BlockSerial.h"
#include "support/PtyLine.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

using test::PtyLine;
using test::TempFolder;
using testing::CurrentDirGuard;
using testing::ScratchFile;

TEST(SerialErrorTextPosix, OtherCodesGiveTheCLibrarysMessage) {
    EXPECT_EQ(TBlockSerial::ErrorText(5), "Input/output error");
    EXPECT_EQ(TBlockSerial::ErrorText(5), std::string(strerror(5)));
    EXPECT_EQ(TBlockSerial::ErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(TBlockSerial::ErrorText(EBUSY), "Device or resource busy");
    EXPECT_EQ(TBlockSerial::ErrorText(9990), std::string(strerror(9990)));
    EXPECT_NE(TBlockSerial::ErrorText(10004).find("10004"), std::string::npos);
}

TEST(PortNamesPosix, ComLetterIsOpenedRelativeToTheCurrentFolder) {
    TempFolder dir;
    ASSERT_FALSE(dir.Path().empty());
    CurrentDirGuard here(dir.Path());
    PtyLine line;
    ASSERT_FALSE(line.PortName().empty());

    // A file of that name in the current folder is what gets opened: here a link to the line.
    std::filesystem::create_symlink(line.PortName(), dir.Path() / "COMX");
    TBlockSerial port;
    port.OpenPort("COMX");
    ASSERT_TRUE(port.PortReady()) << port.LastErrorText();
    EXPECT_EQ(port.LastErrorCode(), 0);
    EXPECT_EQ(port.PortNumber(), -1);
    EXPECT_EQ(port.DeviceName(), "COMX");
    EXPECT_EQ(port.WriteText("\x11"), 1);
    EXPECT_EQ(line.Receive(1, std::chrono::milliseconds(1000)), "\x11");
}

TEST(PortNamesPosix, AFileThatIsNoTerminalIsRefusedWithENOTTY) {
    ScratchFile file("not a serial port");
    TBlockSerial port;
    port.OpenPort(file.Path().string());
    EXPECT_FALSE(port.PortReady());
    EXPECT_EQ(port.LastErrorCode(), ENOTTY);
}

}  // namespace
}  // namespace tallyport
