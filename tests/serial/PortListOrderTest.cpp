// The order of a port list read from a device map that names ports "COM<n>" (Windows'), with
// the devices' readable names: plain rules, tested on every platform.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "serial/PortListOrder.h"

namespace tallyport {
namespace {

std::vector<std::string> Names(const std::vector<SerialPortEntry>& entries) {
    std::vector<std::string> names;
    for (const SerialPortEntry& e : entries)
        names.push_back(e.name);
    return names;
}

TEST(PortListOrder, ComPortsByNumberThenOtherNamesByName) {
    const std::vector<SerialPortEntry> entries = OrderPortEntries(
        {"COM10", "COM2", "CNCA0", "com4", "COM1", "COMX", "COM02", "COM3", "", "COM256", "com2"},
        {});
    // COM02 is no COM2: a name that only looks like a number keeps its own place. A name
    // listed twice (in any case) comes once, as first listed.
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"COM1", "COM2", "COM3", "com4", "COM10",
                                                        "COM256", "CNCA0", "COM02", "COMX"}));
    for (const SerialPortEntry& e : entries)
        EXPECT_EQ(e.description, "") << e.name;
}

TEST(PortListOrder, ReadableNamesGoWithTheirPorts) {
    const std::map<std::string, std::string> readable = {
        {"com10", "USB Serial Port (COM10)"},
        {"COM1", "Communications Port (COM1)"},
        {"COM3", "com3"},  // says no more than the name
        {"COM7", "a device without a mapped port"},
    };
    const std::vector<SerialPortEntry> entries =
        OrderPortEntries({"COM10", "COM3", "COM1"}, readable);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "COM1");
    EXPECT_EQ(entries[0].description, "Communications Port (COM1)");
    EXPECT_EQ(entries[1].name, "COM3");
    EXPECT_EQ(entries[1].description, "");
    EXPECT_EQ(entries[2].name, "COM10");
    EXPECT_EQ(entries[2].description, "USB Serial Port (COM10)");
}

TEST(PortListOrder, NothingMappedGivesNothing) {
    EXPECT_TRUE(OrderPortEntries({}, {{"COM1", "Communications Port (COM1)"}}).empty());
}

}  // namespace
}  // namespace tallyport
