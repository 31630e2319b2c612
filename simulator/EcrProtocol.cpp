#include "simulator/EcrProtocol.h"

#include <cstdio>

namespace tallyport::sim {

std::uint16_t Crc16(std::string_view bytes) {
    std::uint32_t reg = 0;
    auto shiftIn = [&reg](unsigned char byte) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool carry = (reg & 0x8000u) != 0;
            reg = ((reg << 1) | ((byte >> bit) & 1u)) & 0xFFFFu;
            if (carry) {
                reg ^= 0x8001u;
            }
        }
    };
    for (char c : bytes) {
        shiftIn(static_cast<unsigned char>(c));
    }
    shiftIn(0);
    shiftIn(0);
    return static_cast<std::uint16_t>(reg);
}

std::string Fillers(int n) {
    return std::string(static_cast<std::size_t>(n), wire::Filler);
}

std::string FrameBytesWithoutCrc(std::string_view body) {
    std::string frame(1, wire::Start);
    frame.append(body);
    frame += wire::End;
    return frame;
}

std::string FrameBytes(std::string_view body) {
    std::string frame = FrameBytesWithoutCrc(body);
    const std::uint16_t crc = Crc16(std::string_view(frame).substr(1));
    frame += static_cast<char>((crc >> 8) & 0xFF);
    frame += static_cast<char>(crc & 0xFF);
    return frame;
}

std::string ExpectedPoll(int logicalNb) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%02d", logicalNb);
    return Fillers(10) + wire::Poll + wire::Poll + digits + Fillers(5);
}

std::string ExpectedReply(std::string_view text) {
    std::string upper;
    for (char c : text) {
        upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return Fillers(4) + FrameBytes(upper) + Fillers(5);
}

std::string ExpectedPaddedAck() {
    return Fillers(6) + wire::Ack + Fillers(10);
}

const char* PcKindName(PcKind kind) {
    switch (kind) {
        case PcKind::Poll:
            return "poll";
        case PcKind::Ack:
            return "ack";
        case PcKind::PaddedAck:
            return "padded ack";
        case PcKind::Reply:
            return "reply";
        case PcKind::Other:
            return "other";
    }
    return "?";
}

void PcStreamParser::Feed(std::string_view bytes, Clock::time_point at) {
    for (char b : bytes) {
        FeedByte(b, at);
        ++fed_;
    }
}

void PcStreamParser::FeedByte(char b, Clock::time_point at) {
    switch (state_) {
        case State::Idle:
            if (b != wire::Filler) {
                StartCore(b, at);
            } else if (owed_ > 0 && !messages_.empty()) {
                PcMessage& open = messages_.back();
                open.bytes += b;
                open.last = at;
                ++open.fillersAfter;
                open.complete = --owed_ == 0;
            } else {
                if (lead_.empty()) {
                    leadTime_ = at;
                    leadOffset_ = fed_;
                }
                lead_ += b;
            }
            return;
        case State::PollSecond:
            if (b == wire::Poll) {
                core_ += b;
                state_ = State::PollDigits;
                return;
            }
            Emit(PcKind::Other, 0, at);
            FeedByte(b, at);
            return;
        case State::PollDigits:
            if (b >= '0' && b <= '9') {
                core_ += b;
                return;
            }
            Emit(PcKind::Poll, 5, at);
            FeedByte(b, at);
            return;
        case State::ReplyBody:
            core_ += b;
            if (b == wire::End) {
                state_ = State::ReplyCrc;
                crcLeft_ = 2;
            }
            return;
        case State::ReplyCrc:
            core_ += b;
            if (--crcLeft_ == 0) {
                Emit(PcKind::Reply, 5, at);
            }
            return;
    }
}

void PcStreamParser::StartCore(char b, Clock::time_point at) {
    CloseOpenMessage();
    core_.assign(1, b);
    coreTime_ = at;
    coreOffset_ = fed_;
    switch (b) {
        case wire::Poll:
            state_ = State::PollSecond;
            return;
        case wire::Start:
            state_ = State::ReplyBody;
            return;
        case wire::Ack:
            // A bare acknowledgement follows the previous message's own fillers directly.
            if (lead_.empty()) {
                Emit(PcKind::Ack, 0, at);
            } else {
                Emit(PcKind::PaddedAck, 10, at);
            }
            return;
        default:
            Emit(PcKind::Other, 0, at);
            return;
    }
}

void PcStreamParser::CloseOpenMessage() {
    if (!messages_.empty()) {
        messages_.back().complete = true;
    }
    owed_ = 0;
}

void PcStreamParser::Emit(PcKind kind, int owedAfter, Clock::time_point at) {
    PcMessage m;
    m.kind = kind;
    m.fillersBefore = static_cast<int>(lead_.size());
    m.bytes = lead_ + core_;
    m.offset = lead_.empty() ? coreOffset_ : leadOffset_;
    m.first = lead_.empty() ? coreTime_ : leadTime_;
    m.last = at;
    if (kind == PcKind::Poll) {
        m.digits = core_.substr(2);
        if (!m.digits.empty() && m.digits.size() < 10) {
            m.logicalNb = std::stoi(m.digits);
        }
    } else if (kind == PcKind::Reply) {
        // core_: Start, text, End, crc high, crc low
        m.text = core_.substr(1, core_.size() - 4);
        const auto hi = static_cast<unsigned char>(core_[core_.size() - 2]);
        const auto lo = static_cast<unsigned char>(core_[core_.size() - 1]);
        m.crc = static_cast<std::uint16_t>((hi << 8) | lo);
        m.crcOk = m.crc == Crc16(m.text + wire::End);
    }
    m.complete = owedAfter == 0;
    messages_.push_back(std::move(m));
    owed_ = owedAfter;
    lead_.clear();
    core_.clear();
    state_ = State::Idle;
}

void PcStreamParser::Break() {
    if (state_ != State::Idle) {
        Emit(PcKind::Other, 0, coreTime_);
    } else if (!lead_.empty()) {
        core_.clear();
        Emit(PcKind::Other, 0, leadTime_);
    }
    CloseOpenMessage();
}

std::vector<PcMessage> ParsePcStream(std::string_view bytes) {
    PcStreamParser parser;
    parser.Feed(bytes, Clock::now());
    return parser.Messages();
}

std::string HexBytes(std::string_view bytes) {
    std::string out;
    char hex[4];
    for (char c : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
        if (!out.empty()) {
            out += ' ';
        }
        out += hex;
    }
    return out;
}

}  // namespace tallyport::sim
