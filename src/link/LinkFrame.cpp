#include "link/LinkFrame.h"

#include "link/LinkProtocol.h"

namespace tallyport {

namespace {

char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

std::uint16_t LinkCrc16(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (char c : bytes) {
        crc ^= static_cast<std::uint16_t>(static_cast<unsigned char>(c) << 8);
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<std::uint16_t>(crc << 1);
            if (top) {
                crc ^= 0x8001;
            }
        }
    }
    return crc;
}

std::string PollMessage(int logicalNb) {
    std::string number = std::to_string(logicalNb);
    if (number.size() < 2) {
        number.insert(0, 2 - number.size(), '0');
    }
    std::string poll(10, FillerByte);
    poll += PollByte;
    poll += PollByte;
    poll += number;
    poll.append(5, FillerByte);
    return poll;
}

std::string ReplyFrame(std::string_view replyText) {
    std::string covered;
    covered.reserve(replyText.size() + 1);
    for (char c : replyText) {
        covered += UpperAscii(c);
    }
    covered += EndByte;
    const std::uint16_t crc = LinkCrc16(covered);

    std::string frame(4, FillerByte);
    frame += StartByte;
    frame += covered;
    frame += static_cast<char>(crc >> 8);
    frame += static_cast<char>(crc & 0xFF);
    frame.append(5, FillerByte);
    return frame;
}

std::string AddFillers(std::string_view text, int before, int after) {
    std::string result(static_cast<std::size_t>(before > 0 ? before : 0), FillerByte);
    result += text;
    result.append(static_cast<std::size_t>(after > 0 ? after : 0), FillerByte);
    return result;
}

std::string StripFillers(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        if (c != FillerByte) {
            result += c;
        }
    }
    return result;
}

bool ConfirmsReply(std::string_view bytes, bool lineError) {
    const std::string answer = StripFillers(bytes);
    if (lineError) {
        return answer.find(AckByte) != std::string::npos;
    }
    return !answer.empty() && answer.front() == AckByte;
}

bool AcceptFrame(std::string_view received) {
    return received.size() > 4 && received.front() == StartByte &&
           received[received.size() - 3] == EndByte;
}

const std::string& LinkMessage::Field(std::size_t n) const {
    static const std::string kEmpty;
    if (n == 0 || n > fields_.size()) {
        return kEmpty;
    }
    return fields_[n - 1];
}

LinkMessage SplitFrame(std::string_view received) {
    const std::size_t start = received.find(StartByte);
    if (start == std::string_view::npos) {
        return LinkMessage{};
    }
    std::string_view body = received.substr(start + 1);
    body = body.substr(0, body.find(EndByte));  // npos keeps all: no EndByte, the rest is body

    std::vector<std::string> fields;
    for (;;) {
        const std::size_t cut = body.find(FieldSeparator);
        fields.emplace_back(body.substr(0, cut));
        if (cut == std::string_view::npos) {
            break;
        }
        body.remove_prefix(cut + 1);
    }
    return LinkMessage(std::move(fields));
}

}  // namespace tallyport
