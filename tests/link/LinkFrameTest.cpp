#include <gtest/gtest.h>

#include "link/LinkFrame.h"
#include "link/LinkProtocol.h"

namespace tallyport {
namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

TEST(LinkCrc16, CheckValues) {
    EXPECT_EQ(LinkCrc16("abc"), 0xBC3C);
    EXPECT_EQ(LinkCrc16("123456789"), 0xA829);
    EXPECT_EQ(LinkCrc16(std::string("ABC") + EndByte), 0xA9A1);
    EXPECT_EQ(LinkCrc16(""), 0x0000);
    // Bytes above 0x7F must not be sign-extended into the register.
    EXPECT_EQ(LinkCrc16(Bytes({0x80})), 0x80FF);
    EXPECT_EQ(LinkCrc16(Bytes({0xFF})), 0x00AA);
    EXPECT_EQ(LinkCrc16(Bytes({0x7F})), 0x8055);
}

TEST(LinkFrame, PollMessageBytes) {
    EXPECT_EQ(PollMessage(7),
              std::string(10, '\xFF') + Bytes({0x11, 0x11, 0x30, 0x37}) + std::string(5, '\xFF'));
    EXPECT_EQ(PollMessage(123), std::string(10, '\xFF') + Bytes({0x11, 0x11, '1', '2', '3'}) +
                                    std::string(5, '\xFF'));
    EXPECT_EQ(PollMessage(0), std::string(10, '\xFF') +
                                  "\x11\x11"
                                  "00" +
                                  std::string(5, '\xFF'));
    EXPECT_EQ(PollMessage(42), std::string(10, '\xFF') +
                                   "\x11\x11"
                                   "42" +
                                   std::string(5, '\xFF'));
}

TEST(LinkFrame, ReplyFrameBytes) {
    EXPECT_EQ(ReplyFrame("abc"), Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0x41, 0x42, 0x43, 0x0D, 0xA9,
                                        0xA1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // Only a..z are upper-cased; digits, separators and bytes above 0x7F stay.
    const std::string text = "s1;x;1;Paine alba;12.50;\xe2";
    const std::string frame = ReplyFrame(text);
    const std::string upper = "S1;X;1;PAINE ALBA;12.50;\xe2";
    const std::uint16_t crc = LinkCrc16(upper + EndByte);
    EXPECT_EQ(frame, std::string(4, '\xFF') + StartByte + upper + EndByte +
                         static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF) +
                         std::string(5, '\xFF'));
    EXPECT_EQ(ReplyFrame(""),
              std::string(4, '\xFF') + "\x0A\x0D" + static_cast<char>(LinkCrc16("\x0D") >> 8) +
                  static_cast<char>(LinkCrc16("\x0D") & 0xFF) + std::string(5, '\xFF'));
}

TEST(LinkFrame, PaddedAcknowledgementAndFillers) {
    EXPECT_EQ(AddFillers(std::string(1, AckByte), 6, 10),
              std::string(6, '\xFF') + '\x06' + std::string(10, '\xFF'));
    EXPECT_EQ(AddFillers("ab", 0, 0), "ab");
    EXPECT_EQ(AddFillers("", 2, 1), "\xFF\xFF\xFF");
    EXPECT_EQ(StripFillers(Bytes({0xFF, 0x06, 0xFF})), "\x06");
    EXPECT_EQ(StripFillers("\xFF\xFF"), "");
    EXPECT_EQ(StripFillers(Bytes({0x41, 0xFF, 0x00, 0xFE, 0xFF, 0x42})),
              Bytes({0x41, 0, 0xFE, 0x42}));
}

TEST(LinkFrame, AConfirmationIsTheFirstByteOtherThanAFiller) {
    EXPECT_TRUE(ConfirmsReply("\x06", false));
    EXPECT_TRUE(ConfirmsReply("\xFF\xFF\x06\xFF", false));
    EXPECT_FALSE(ConfirmsReply("", false));
    EXPECT_FALSE(ConfirmsReply("\xFF\xFF", false));
    EXPECT_FALSE(ConfirmsReply("\x15\x06", false)) << "something else came first";
    // Read with a line error, the first byte may be the noise: an ACK after it confirms.
    EXPECT_TRUE(ConfirmsReply(Bytes({0xFF, 0x00, 0x06, 0xFF}), true));
    EXPECT_TRUE(ConfirmsReply("\x06", true));
    EXPECT_FALSE(ConfirmsReply(Bytes({0xFF, 0x00, 0x7F}), true));
    EXPECT_FALSE(ConfirmsReply("", true));
}

TEST(LinkFrame, AcceptanceTest) {
    EXPECT_TRUE(AcceptFrame(Bytes({0x0A, 'x', 0x0D, 0x12, 0x34})));            // five bytes pass
    EXPECT_TRUE(AcceptFrame(Bytes({0x0A, 'S', ';', '1', 0x0D, 0x00, 0x00})));  // CRC 00 00
    EXPECT_FALSE(AcceptFrame(Bytes({0x0A, 0x0D, 0x12, 0x34})));                // four bytes never
    EXPECT_FALSE(AcceptFrame(Bytes({0x0A, 0x0A, 0x0D, 0x00})));
    EXPECT_FALSE(AcceptFrame(""));
    EXPECT_FALSE(AcceptFrame(Bytes({0xFF, 'x', 0x0D, 0x12, 0x34})));  // not starting with 0A
    EXPECT_FALSE(AcceptFrame(Bytes({0x0A, 'x', 'y', 0x0D, 0x12})));   // EndByte one too late
    EXPECT_FALSE(AcceptFrame(Bytes({0x0A, 0x0D, 'x', 0x12, 0x34})));  // one too early
    // A reception cut off by the deadline ends in two filled-in bytes after a body byte.
    EXPECT_FALSE(AcceptFrame(Bytes({0x0A, 'a', 'b', 0x00, 0x00})));
}

TEST(LinkFrame, SplitIntoFields) {
    LinkMessage m = SplitFrame(Bytes({0x0A}) + "S1;X;1;123" + Bytes({0x0D, 0x11, 0x22}));
    EXPECT_EQ(m.FieldCount(), 4u);
    EXPECT_EQ(m.FiscalSeries(), "S1");
    EXPECT_EQ(m.SecondField(), "X");
    EXPECT_EQ(m.MessageType(), "1");
    EXPECT_EQ(m.Field(4), "123");
    EXPECT_EQ(m.Field(5), "");
    EXPECT_EQ(m.Field(0), "");

    // No separator: the whole body is field 1.
    m = SplitFrame(
        "\x0A"
        "ABC\x0D\x01\x02");
    EXPECT_EQ(m.FiscalSeries(), "ABC");
    EXPECT_EQ(m.SecondField(), "");
    EXPECT_EQ(m.MessageType(), "");

    // A trailing separator gives an empty last field.
    m = SplitFrame(
        "\x0A"
        "S1;X;1;\x0D\x00\x00");
    EXPECT_EQ(m.FieldCount(), 4u);
    EXPECT_EQ(m.MessageType(), "1");
    EXPECT_EQ(m.Field(4), "");

    // Empty fields between separators stay in place.
    m = SplitFrame("\x0A;;5;\x0D\x00\x00");
    EXPECT_EQ(m.FiscalSeries(), "");
    EXPECT_EQ(m.SecondField(), "");
    EXPECT_EQ(m.MessageType(), "5");
}

TEST(LinkFrame, SplitIgnoresCrcBytesAndLeadingBytes) {
    // CRC bytes equal to EndByte or StartByte do not disturb the split.
    LinkMessage m = SplitFrame(Bytes({0x0A, 'A', ';', 'B', ';', '3', 0x0D, 0x0D, 0x0A}));
    EXPECT_EQ(m.FieldCount(), 3u);
    EXPECT_EQ(m.MessageType(), "3");
    m = SplitFrame(Bytes({0x0A, 'A', ';', 'B', ';', '3', 0x0D, 0x0A, 0x0D}));
    EXPECT_EQ(m.FieldCount(), 3u);
    EXPECT_EQ(m.MessageType(), "3");
    // Everything up to the first StartByte is dropped.
    m = SplitFrame(Bytes({0xFF, 'Z', 0x0A, 'A', ';', 'B', 0x0D, 0, 0}));
    EXPECT_EQ(m.FiscalSeries(), "A");
    EXPECT_EQ(m.SecondField(), "B");
    // Without any StartByte there is no field at all.
    EXPECT_EQ(SplitFrame("A;B;C").FieldCount(), 0u);
    // Without an EndByte the rest is body.
    EXPECT_EQ(SplitFrame("\x0A"
                         "A;B")
                  .SecondField(),
              "B");
}

}  // namespace
}  // namespace tallyport
