// The simulator's own protocol code against fixed byte sequences: it is the yardstick the link
// engine is measured with, so it is checked here without the engine.
#include <gtest/gtest.h>

#include "simulator/EcrProtocol.h"
#include "simulator/EcrSimulator.h"

namespace tallyport::sim {
namespace {

std::string B(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s += static_cast<char>(v);
    }
    return s;
}

TEST(SimProtocol, CrcCheckValues) {
    EXPECT_EQ(Crc16("abc"), 0xBC3C);
    EXPECT_EQ(Crc16("123456789"), 0xA829);
    EXPECT_EQ(Crc16("ABC\x0D"), 0xA9A1);
    EXPECT_EQ(Crc16(B({0x80})), 0x80FF);
    EXPECT_EQ(Crc16(""), 0);
}

TEST(SimProtocol, BuiltSequences) {
    EXPECT_EQ(ExpectedPoll(7), B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x11,
                                  0x11, 0x30, 0x37, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ExpectedPoll(123), Fillers(10) + B({0x11, 0x11, '1', '2', '3'}) + Fillers(5));
    EXPECT_EQ(ExpectedReply("abc"), B({0xFF, 0xFF, 0xFF, 0xFF, 0x0A, 0x41, 0x42, 0x43, 0x0D, 0xA9,
                                       0xA1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(ExpectedPaddedAck(), Fillers(6) + "\x06" + Fillers(10));
    EXPECT_EQ(FrameBytes("ABC"), B({0x0A, 'A', 'B', 'C', 0x0D, 0xA9, 0xA1}));
    EXPECT_EQ(FrameBytesWithoutCrc("S;X;5"), "\x0AS;X;5\x0D");
}

TEST(SimProtocol, AnswerPieces) {
    Answer plain = Answer::Frame("ABC");
    ASSERT_EQ(plain.Pieces().size(), 1u);
    EXPECT_EQ(plain.Pieces()[0].bytes, FrameBytes("ABC"));
    EXPECT_EQ(plain.Pieces()[0].pauseBeforeMs, 0);

    Answer shaped = Answer::Frame("ABC").Prefix("\xFF").Delay(3).GapBefore(3, 80);
    auto pieces = shaped.Pieces();
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].pauseBeforeMs, 3);
    EXPECT_EQ(pieces[0].bytes, B({0xFF, 0x0A, 'A'}));
    EXPECT_EQ(pieces[1].pauseBeforeMs, 80);
    EXPECT_EQ(pieces[1].bytes, B({'B', 'C', 0x0D, 0xA9, 0xA1}));

    Answer cut = Answer::FrameWithCrc("AB", 0x12, 0x34).Cut(3).Spaced(10);
    EXPECT_EQ(cut.Bytes(), B({0x0A, 'A', 'B'}));
    ASSERT_EQ(cut.Pieces().size(), 3u);
    EXPECT_EQ(cut.Pieces()[2].pauseBeforeMs, 10);
    EXPECT_EQ(Answer::FrameWithCrc("AB", 0x12, 0x34).Bytes(),
              B({0x0A, 'A', 'B', 0x0D, 0x12, 0x34}));
    EXPECT_TRUE(Answer::Silence().Silent());
    EXPECT_TRUE(Answer::Silence().Pieces().empty());
}

TEST(SimProtocol, ParsesAWholeExchange) {
    // poll, ACK, reply, poll, ACK, padded ACK, poll
    const std::string stream = ExpectedPoll(3) + "\x06" + ExpectedReply("ok;1") + ExpectedPoll(3) +
                               "\x06" + ExpectedPaddedAck() + ExpectedPoll(3);
    auto messages = ParsePcStream(stream);
    ASSERT_EQ(messages.size(), 7u);
    const PcKind kinds[] = {PcKind::Poll, PcKind::Ack,       PcKind::Reply, PcKind::Poll,
                            PcKind::Ack,  PcKind::PaddedAck, PcKind::Poll};
    std::string joined;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].kind, kinds[i]) << i;
        EXPECT_TRUE(messages[i].complete) << i;
        EXPECT_EQ(messages[i].offset, joined.size()) << i;
        joined += messages[i].bytes;
    }
    EXPECT_EQ(joined, stream);  // every byte belongs to exactly one message
    EXPECT_EQ(messages[0].bytes, ExpectedPoll(3));
    EXPECT_EQ(messages[0].logicalNb, 3);
    EXPECT_EQ(messages[0].digits, "03");
    EXPECT_EQ(messages[1].bytes, "\x06");
    EXPECT_EQ(messages[2].bytes, ExpectedReply("ok;1"));
    EXPECT_EQ(messages[2].text, "OK;1");
    EXPECT_TRUE(messages[2].crcOk);
    EXPECT_EQ(messages[5].bytes, ExpectedPaddedAck());
    EXPECT_EQ(messages[5].fillersBefore, 6);
    EXPECT_EQ(messages[5].fillersAfter, 10);
}

TEST(SimProtocol, ReportsWrongCrcAndOddFillers) {
    std::string reply = Fillers(4) + B({0x0A, 'A', 0x0D, 0x00, 0x00}) + Fillers(5);
    auto messages = ParsePcStream(reply);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, PcKind::Reply);
    EXPECT_FALSE(messages[0].crcOk);

    // A CRC byte equal to EndByte does not end the reply early.
    std::string text;
    for (char c = 'A'; c <= 'Z' && text.empty(); ++c) {
        for (char d = 'A'; d <= 'Z'; ++d) {
            const std::uint16_t crc = Crc16(std::string{c, d, '\x0D'});
            if ((crc >> 8) == 0x0D || (crc & 0xFF) == 0x0D) {
                text = {c, d};
                break;
            }
        }
    }
    ASSERT_FALSE(text.empty());
    messages = ParsePcStream(ExpectedReply(text) + ExpectedPoll(1));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_TRUE(messages[0].crcOk);
    EXPECT_EQ(messages[0].text, text);

    // A poll with nine leading fillers and three trailing ones before the next core.
    messages = ParsePcStream(Fillers(9) +
                             "\x11\x11"
                             "7" +
                             Fillers(3) + "\x06");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].fillersBefore, 9);
    EXPECT_EQ(messages[0].fillersAfter, 3);
    EXPECT_EQ(messages[0].logicalNb, 7);
    EXPECT_EQ(messages[1].kind, PcKind::Ack);

    // Bytes that are nothing of the protocol are kept as Other.
    messages = ParsePcStream("\x11Z" + Fillers(2) + "\x42");
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].kind, PcKind::Other);
    EXPECT_EQ(messages[0].bytes, "\x11");
    EXPECT_EQ(messages[1].bytes, "Z");
    EXPECT_EQ(messages[2].bytes, Fillers(2) + "\x42");
}

TEST(SimProtocol, IncrementalFeeding) {
    PcStreamParser parser;
    const auto t0 = Clock::now();
    const std::string poll = ExpectedPoll(12);
    parser.Feed(poll.substr(0, 13), t0);  // up to the first digit
    EXPECT_TRUE(parser.Messages().empty());
    parser.Feed(poll.substr(13, 2), t0);  // second digit and one filler: the core is whole
    ASSERT_EQ(parser.Messages().size(), 1u);
    EXPECT_EQ(parser.Messages()[0].logicalNb, 12);
    EXPECT_FALSE(parser.Messages()[0].complete);
    parser.Feed(poll.substr(15), t0 + std::chrono::milliseconds(1));
    EXPECT_TRUE(parser.Messages()[0].complete);
    EXPECT_EQ(parser.Messages()[0].bytes, poll);
    EXPECT_EQ(parser.Messages()[0].last, t0 + std::chrono::milliseconds(1));

    // A reply cut by the line going away becomes Other.
    parser.Feed(Fillers(4) +
                    "\x0A"
                    "AB",
                t0);
    EXPECT_EQ(parser.Messages().size(), 1u);
    parser.Break();
    ASSERT_EQ(parser.Messages().size(), 2u);
    EXPECT_EQ(parser.Messages()[1].kind, PcKind::Other);
    EXPECT_EQ(parser.Messages()[1].bytes, Fillers(4) +
                                              "\x0A"
                                              "AB");
    EXPECT_EQ(parser.BytesFed(), poll.size() + 7);
}

}  // namespace
}  // namespace tallyport::sim
