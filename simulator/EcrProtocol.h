#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The register's side of the byte protocol, written apart from the link engine on purpose: the
// simulator builds and recognises every byte with its own code, so that the engine and the
// simulator check each other. Nothing here includes the engine's headers.
namespace tallyport::sim {

using Clock = std::chrono::steady_clock;

namespace wire {
inline constexpr char Start = '\x0A';
inline constexpr char End = '\x0D';
inline constexpr char Ack = '\x06';
inline constexpr char Poll = '\x11';
inline constexpr char Filler = '\xFF';
}  // namespace wire

// The link's CRC-16 (x^16 + x^15 + 1, start 0, no reflection, no final XOR) computed as a plain
// bit-serial division: the message followed by sixteen zero bits is shifted through the
// register one bit at a time.
std::uint16_t Crc16(std::string_view bytes);

// n filler bytes.
std::string Fillers(int n);

// A register's frame: StartByte, body, EndByte, CRC high, CRC low; the CRC covers the body and
// the EndByte (the convention of the PC's replies).
std::string FrameBytes(std::string_view body);
// The same without the two CRC bytes.
std::string FrameBytesWithoutCrc(std::string_view body);

// What the PC must send: its poll of a logical number, its reply frame for a text (letters
// upper-cased, fillers around), its padded acknowledgement.
std::string ExpectedPoll(int logicalNb);
std::string ExpectedReply(std::string_view text);
std::string ExpectedPaddedAck();

enum class PcKind {
    Poll,       // fillers, 0x11 0x11, digits, fillers
    Ack,        // a lone 0x06 without fillers before it
    PaddedAck,  // fillers, 0x06, fillers
    Reply,      // fillers, StartByte, text, EndByte, two CRC bytes, fillers
    Other,      // anything else (the bytes are kept)
};

const char* PcKindName(PcKind kind);

// One message of the PC as it came over the line.
struct PcMessage {
    PcKind kind = PcKind::Other;
    std::string bytes;  // exactly as received, fillers included
    int fillersBefore = 0;
    int fillersAfter = 0;
    std::string digits;         // Poll: the number as sent
    int logicalNb = -1;         // Poll: the number's value (-1 without digits)
    std::string text;           // Reply: the bytes between StartByte and EndByte
    std::uint16_t crc = 0;      // Reply: the two bytes after the EndByte, high first
    bool crcOk = false;         // Reply: crc equals Crc16(text + EndByte)
    bool complete = false;      // its trailing fillers have all come, or a later message began
    std::size_t offset = 0;     // index of its first byte in the whole stream
    Clock::time_point first{};  // arrival of its first byte
    Clock::time_point last{};   // arrival of its last byte so far
};

// Cuts the PC's byte stream into messages as the bytes arrive. A message is appended as soon as
// its core is whole (a poll once a non-digit follows its digits, a reply at its second CRC
// byte); the fillers that follow belong to it up to the count the protocol gives (5 after a poll
// or a reply, 10 after a padded acknowledgement), the rest lead the next message.
class PcStreamParser {
public:
    void Feed(std::string_view bytes, Clock::time_point at);
    // The line went away: an unfinished message is closed as Other, an open one as complete.
    void Break();

    const std::vector<PcMessage>& Messages() const { return messages_; }
    std::size_t BytesFed() const { return fed_; }

private:
    enum class State { Idle, PollSecond, PollDigits, ReplyBody, ReplyCrc };

    void FeedByte(char b, Clock::time_point at);
    void StartCore(char b, Clock::time_point at);
    void Emit(PcKind kind, int owedAfter, Clock::time_point at);
    void CloseOpenMessage();

    std::vector<PcMessage> messages_;
    State state_ = State::Idle;
    std::string lead_;  // fillers waiting for the next core
    std::string core_;
    Clock::time_point leadTime_{};
    Clock::time_point coreTime_{};
    std::size_t leadOffset_ = 0;
    std::size_t coreOffset_ = 0;
    int owed_ = 0;  // fillers still due to the last message
    int crcLeft_ = 0;
    std::size_t fed_ = 0;
};

// Parses a whole fixed byte sequence (all bytes at one instant).
std::vector<PcMessage> ParsePcStream(std::string_view bytes);

// Hex dump "FF 11 30" for failure messages.
std::string HexBytes(std::string_view bytes);

}  // namespace tallyport::sim
