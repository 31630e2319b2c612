#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "app/ByteText.h"

namespace tallyport {
namespace {

TEST(ByteText, Utf8IsShownAsUtf8) {
    EXPECT_EQ(ShownText("PLU.txt"), QStringLiteral("PLU.txt"));
    EXPECT_EQ(ShownText("CASA \xC4\x82\xC8\x98"), QString::fromUtf8("CASA \u0102\u0218"));
    EXPECT_EQ(ShownText(""), QString());
}

TEST(ByteText, AnythingElseIsShownAsCodePage1250) {
    // The Romanian letters of the code page: A-breve, A-circumflex, I-circumflex, S-cedilla,
    // T-cedilla, and their small forms.
    EXPECT_EQ(ShownText("\xC3\xC2\xCE\xAA\xDE \xE3\xE2\xEE\xBA\xFE"),
              QString::fromUtf8("\u0102\u00C2\u00CE\u015E\u0162 \u0103\u00E2\u00EE\u015F\u0163"));
    EXPECT_EQ(ShownText("PLU\xE9.txt"), QString::fromUtf8("PLU\u00E9.txt"));
    EXPECT_EQ(ShownText("\x80\x81"), QString::fromUtf8("\u20AC\u0081"));
}

TEST(ByteText, EveryByteOfTheCodePageComesBackAsItself) {
    std::string all;
    for (int byte = 1; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    const QString shown = ShownText(all);
    ASSERT_EQ(shown.size(), 255);
    // Taken back as a changed text of a code-page field, every character finds its byte.
    EXPECT_EQ(StoredText(shown, "\xFF"), all);
}

TEST(ByteText, AnUnchangedTextKeepsItsBytes) {
    for (const std::string bytes : {"PLU\xE9.txt", "CASA \xC4\x82", "C\xC3", "plain", ""}) {
        EXPECT_EQ(StoredText(ShownText(bytes), bytes), bytes);
    }
}

TEST(ByteText, AChangedTextStaysInTheCodePageWhereItCan) {
    EXPECT_EQ(StoredText(QString::fromUtf8("PLU\u0103.txt"), "PLU\xE9.txt"), "PLU\xE3.txt");
    // A character the code page lacks: UTF-8.
    EXPECT_EQ(StoredText(QString::fromUtf8("PLU\u03A9"), "PLU\xE9.txt"), "PLU\xCE\xA9");
    // A UTF-8 original, or a new text: UTF-8.
    EXPECT_EQ(StoredText(QString::fromUtf8("PLU\u0103"), "PLU\xC4\x82"), "PLU\xC4\x83");
    EXPECT_EQ(StoredText(QString::fromUtf8("\u0103"), ""), "\xC4\x83");
}

}  // namespace
}  // namespace tallyport
