// The serial ports offered to the user on Linux, listed from a fake device and sysfs tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/PortList.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;
using test::WriteFile;
using Names = std::vector<std::string>;

// A fake root with a /dev and a /sys/class/tty folder.
class FakeRoot {
public:
    FakeRoot() {
        fs::create_directories(Dev());
        fs::create_directories(Sys());
    }
    std::string Root() const { return folder_.Path().string(); }
    fs::path Dev() const { return folder_.Path() / "dev"; }
    fs::path Sys() const { return folder_.Path() / "sys/class/tty"; }

    // A device node stands in as a plain file: the listing must not care what it is.
    void Node(const std::string& name) { WriteFile((Dev() / name).string(), ""); }
    // A legacy port with its tty class folder; `type` empty: no type attribute.
    void Legacy(const std::string& name, bool device, const std::string& type) {
        Node(name);
        fs::create_directories(Sys() / name);
        if (device) {
            fs::create_directories(Sys() / name / "device");
        }
        if (!type.empty()) {
            WriteFile((Sys() / name / "type").string(), type + "\n");
        }
    }
    void ById(const std::string& name, const std::string& target) {
        fs::create_directories(Dev() / "serial/by-id");
        fs::create_symlink(target, Dev() / "serial/by-id" / name);
    }
    void ByPath(const std::string& name, const std::string& target) {
        fs::create_directories(Dev() / "serial/by-path");
        fs::create_symlink(target, Dev() / "serial/by-path" / name);
    }

private:
    TempFolder folder_;
};

TEST(PortList, LegacyPortsOnlyWhereTheDriverReportsAUart) {
    FakeRoot root;
    root.Legacy("ttyS0", true, "4");   // a 16550A
    root.Legacy("ttyS1", true, "0");   // slot without a UART
    root.Legacy("ttyS2", false, "");   // no device behind it
    root.Legacy("ttyS10", true, "4");  // numbers sort as numbers
    root.Legacy("ttyS3", true, "");    // a device without the type attribute is offered
    EXPECT_EQ(ListSerialPorts(root.Root()), (Names{"/dev/ttyS0", "/dev/ttyS3", "/dev/ttyS10"}));
}

TEST(PortList, UsbAndAcmPortsInNumberOrderThenStableNamesInNameOrder) {
    FakeRoot root;
    for (const char* name : {"ttyUSB10", "ttyUSB1", "ttyUSB0", "ttyACM0", "tty0", "ttyUSB",
                             "ttyUSBx", "ttyACM1a", "console", "pts", "ttyS9"}) {
        root.Node(name);
    }
    root.ById("usb-Prolific_USB-Serial_Controller-if00-port0", "../../ttyUSB1");
    root.ById("usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    EXPECT_EQ(ListSerialPorts(root.Root()),
              (Names{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB10", "/dev/ttyACM0",
                     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                     "/dev/serial/by-id/usb-Prolific_USB-Serial_Controller-if00-port0"}));
}

TEST(PortList, SocketNamesFollowTheDeviceNames) {
    FakeRoot root;
    root.Node("ttyUSB0");
    root.Node("ttyUSB1");
    // Two CH340 adapters without a serial number: one by-id name for both (it points at the
    // one that came last); their sockets tell them apart.
    root.ById("usb-1a86_USB_Serial-if00-port0", "../../ttyUSB1");
    root.ByPath("pci-0000:00:14.0-usb-0:3:1.0-port0", "../../ttyUSB1");
    root.ByPath("pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB0");
    EXPECT_EQ(
        ListSerialPorts(root.Root()),
        (Names{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0",
               "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
               "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0"}));
}

TEST(PortList, ListingNeverOpensAPort) {
    FakeRoot root;
    // Opening a FIFO without a writer blocks: a listing that opened a port would hang here.
    ASSERT_EQ(::mkfifo((root.Dev() / "ttyUSB0").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((root.Dev() / "ttyS0").c_str(), 0600), 0);
    fs::create_directories(root.Sys() / "ttyS0/device");
    WriteFile((root.Sys() / "ttyS0/type").string(), "4\n");
    // A stable name whose device is gone (a dangling link) is still listed by name.
    root.ById("usb-gone-if00-port0", "../../ttyUSB7");
    EXPECT_EQ(ListSerialPorts(root.Root()),
              (Names{"/dev/ttyS0", "/dev/ttyUSB0", "/dev/serial/by-id/usb-gone-if00-port0"}));
}

TEST(PortList, MissingFoldersGiveNoNames) {
    TempFolder empty;
    EXPECT_TRUE(ListSerialPorts(empty.Path().string()).empty());
    EXPECT_TRUE(ListSerialPorts(empty.File("no-such-root")).empty());
}

}  // namespace
}  // namespace tallyport
