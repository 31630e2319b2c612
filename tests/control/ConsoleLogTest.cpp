// The program's log lines: stamped on their descriptor and copied whole, without the stamp, to
// a second destination (the Windows service's event log).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "control/ConsoleOutput.h"
#include "support/SettableClock.h"
#include "support/TempFolder.h"

namespace tallyport {
namespace {

TEST(ConsoleLog, EachLineIsStampedAndCopiedWholeWithoutItsStamp) {
    test::TempFolder dir;
    const std::string path = dir.File("log.txt");
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    const test::SettableClock clock(LocalTime{2026, 12, 8, 9, 5, 3});
    std::vector<std::string> copied;
    {
        ConsoleLog log(fileno(file), clock,
                       [&copied](const std::string& text) { copied.push_back(text); });
        ConsoleDialogs dialogs(log);
        log.Line("Tallyport porneste");
        dialogs.ShowMessage(MessageKind::Error, "Eroare: doua\r\nlinii");
    }
    std::fclose(file);
    EXPECT_EQ(test::ReadFile(path),
              "2026-12-08 09:05:03 Tallyport porneste\n"
              "2026-12-08 09:05:03 [eroare] Eroare: doua  linii\n");
    EXPECT_EQ(copied,
              (std::vector<std::string>{"Tallyport porneste", "[eroare] Eroare: doua  linii"}));
}

}  // namespace
}  // namespace tallyport
