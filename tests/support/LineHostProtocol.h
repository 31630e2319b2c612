#pragma once

#include <cstdint>
#include <string>

// The requests a Windows test program under Wine sends to the line host over a loopback TCP
// connection, one line per connection, and the host's replies. Plain bytes, little-endian, so
// that the Linux host and the Windows client share this header and nothing else.
namespace tallyport::test::linehost {

// The environment variable through which the host tells the test program its TCP port.
inline constexpr char kPortVariable[] = "TALLYPORT_LINE_HOST";

enum class Op : std::uint8_t {
    Open = 'O',        // -> value: the COM number; bytes: the pseudo-terminal's path
    Send = 'S',        // bytes
    Receive = 'R',     // a: count, b: ms -> bytes
    Queued = 'Q',      // -> value: bytes in the port's input queue (status -1: unknown)
    SendQueued = 'W',  // bytes, b: ms
    HangUp = 'H',
    Settings = 'V',     // -> value: the rate; bytes: the flag word below (4 bytes)
    SetSettings = 'T',  // a: rate, b: 1 for two stop bits
};

// The flag word of FarSettings on the wire.
inline constexpr std::uint32_t kTwoStopBits = 1;
inline constexpr std::uint32_t kRaw = 2;
inline constexpr std::uint32_t kRtsCts = 4;
inline constexpr std::uint32_t kXonOutput = 8;
inline constexpr std::uint32_t kXonInput = 16;
inline constexpr std::uint32_t kParityCheck = 32;

// Request: op (1 byte), a, b, length (4 bytes each), then `length` bytes.
inline constexpr std::size_t kRequestHeader = 13;
// Reply: status (an errno value, 0 for success), value, length (4 bytes each), then the bytes.
inline constexpr std::size_t kReplyHeader = 12;

inline void PutU32(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

inline std::uint32_t GetU32(const char* in) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[i]);
    return value;
}

inline std::string EncodeRequest(Op op, std::uint32_t a, std::uint32_t b,
                                 const std::string& bytes) {
    std::string out(1, static_cast<char>(op));
    PutU32(out, a);
    PutU32(out, b);
    PutU32(out, static_cast<std::uint32_t>(bytes.size()));
    return out + bytes;
}

inline std::string EncodeReply(std::int32_t status, std::uint32_t value, const std::string& bytes) {
    std::string out;
    PutU32(out, static_cast<std::uint32_t>(status));
    PutU32(out, value);
    PutU32(out, static_cast<std::uint32_t>(bytes.size()));
    return out + bytes;
}

}  // namespace tallyport::test::linehost
