// The port object's texts where they are Windows' own: FormatMessage's messages, as a status
// line or a message box shows them.
#include <gtest/gtest.h>

#include <string>

#include "serial/BlockSerial.h"

namespace tallyport {
namespace {

TEST(SerialErrorTextWin32, SystemMessagesComeWithoutTheirLineBreak) {
    // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED: their wording
    // differs between Windows and Wine and with the user's language, their shape does not.
    for (int code : {2, 5, 1167}) {
        const std::string text = TBlockSerial::ErrorText(code);
        SCOPED_TRACE(code);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.find("Unknown error"), std::string::npos) << text;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), ' ');
    }
    EXPECT_NE(TBlockSerial::ErrorText(2), TBlockSerial::ErrorText(5));
}

}  // namespace
}  // namespace tallyport
