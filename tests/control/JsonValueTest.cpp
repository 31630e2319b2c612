// Reading back the status file's JSON: every kind of value, the writer's bytes exactly, and
// texts that are not JSON.
#include <gtest/gtest.h>

#include <string>

#include "control/JsonValue.h"
#include "control/StatusFile.h"

namespace tallyport {
namespace {

TEST(JsonValue, ReadsEveryKindOfValue) {
    const auto doc = JsonValue::Parse(
        " {\"a\": 1, \"b\": -42, \"c\": 2.5, \"d\": true, \"e\": false, \"f\": null,"
        " \"g\": [1, \"x\", [], {}], \"h\": {\"i\": \"j\"}, \"k\": 1e3}\n");
    ASSERT_TRUE(doc);
    const JsonValue& v = *doc;
    EXPECT_TRUE(v.IsObject());
    EXPECT_EQ(v["a"].Integer(), 1);
    EXPECT_EQ(v["b"].Integer(), -42);
    EXPECT_EQ(v["c"].Integer(7), 7) << "a fraction is no integer";
    EXPECT_EQ(v["c"].kind(), JsonValue::Kind::Number);
    EXPECT_TRUE(v["d"].Bool());
    EXPECT_FALSE(v["e"].Bool(true));
    EXPECT_TRUE(v["f"].IsNull());
    ASSERT_EQ(v["g"].Items().size(), 4u);
    EXPECT_EQ(v["g"].Items()[1].Text(), "x");
    EXPECT_EQ(v["h"]["i"].Text(), "j");
    EXPECT_EQ(v["k"].Integer(-1), -1);
    // Missing members and members of the wrong kind give the fallback.
    EXPECT_TRUE(v["missing"].IsNull());
    EXPECT_EQ(v["missing"]["deeper"].Integer(3), 3);
    EXPECT_EQ(v["a"].Text("none"), "none");
    EXPECT_TRUE(v["a"].Items().empty());
    EXPECT_EQ(v["g"].Integer(5), 5);
}

TEST(JsonValue, StringsComeBackAsTheBytesTheyHold) {
    const auto doc = JsonValue::Parse(
        "[\"a\\\"b\\\\c\\/d\\b\\f\\n\\r\\t\", \"\\u0041\\u00e9\\u0219\\ud83d\\ude00\","
        " \"ș raw\"]");
    ASSERT_TRUE(doc);
    const auto& items = doc->Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Text(), "a\"b\\c/d\b\f\n\r\t");
    // \u00e9 is the code page's byte 0xE9 (as the writer keeps it); others become UTF-8.
    EXPECT_EQ(items[1].Text(), "A\xE9\xC8\x99\xF0\x9F\x98\x80");
    EXPECT_EQ(items[2].Text(), "\xC8\x99 raw");
}

TEST(JsonValue, TheStatusFileReadsBackByteForByte) {
    StatusFileHeader header;
    header.pid = 4321;
    header.processStart = 98765;
    header.config = "C:\\Magazin\\Set\xE3ri \xC8\x99i \xBA.ini";  // code page, UTF-8, code page
    header.connected = true;
    header.written = 1700000000;
    RegisterStatus reg;
    reg.logicalNb = 3;
    reg.port = "COM3";
    reg.lastError = "Port \"COM3\"\t\x01 gone";
    const auto doc = JsonValue::Parse(StatusJson(header, {reg}));
    ASSERT_TRUE(doc);
    EXPECT_EQ((*doc)["config"].Text(), header.config);
    EXPECT_EQ((*doc)["pid"].Integer(), 4321);
    EXPECT_EQ((*doc)["process_start"].Integer(), 98765);
    EXPECT_TRUE((*doc)["connected"].Bool());
    ASSERT_EQ((*doc)["registers"].Items().size(), 1u);
    EXPECT_EQ((*doc)["registers"].Items()[0]["last_error"].Text(), reg.lastError);
    EXPECT_TRUE((*doc)["registers"].Items()[0]["last_frame_age_s"].IsNull());
}

TEST(JsonValue, TextsThatAreNotOneJsonValueAreRefused) {
    for (const char* text : {"",
                             " ",
                             "{",
                             "}",
                             "[1,]",
                             "{\"a\":}",
                             "{\"a\" 1}",
                             "{a:1}",
                             "[1 2]",
                             "\"open",
                             "\"\\x\"",
                             "\"\\u12\"",
                             "\"\\ud800\"",
                             "\"\\udc00\"",
                             "\"a\nb\"",
                             "01",
                             "-",
                             "1.",
                             "1e",
                             "tru",
                             "nul",
                             "{} {}",
                             "[1]x",
                             "+1",
                             ".5",
                             "\"\\ud800\\u0041\""}) {
        EXPECT_FALSE(JsonValue::Parse(text)) << text;
    }
    // Deep nesting is refused rather than followed down the stack.
    EXPECT_FALSE(JsonValue::Parse(std::string(100000, '[') + std::string(100000, ']')));
    EXPECT_TRUE(JsonValue::Parse(std::string(30, '[') + std::string(30, ']')));
    // A number too large for an integer is still a number.
    const auto big = JsonValue::Parse("123456789012345678901234567890");
    ASSERT_TRUE(big);
    EXPECT_EQ(big->Integer(-1), -1);
}

}  // namespace
}  // namespace tallyport
