#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

// CRC-16 of the link: polynomial 0x8001, initial value 0, no reflection, no final XOR.
// "abc" gives 0xBC3C, "123456789" 0xA829. Written high byte first.
std::uint16_t LinkCrc16(std::string_view bytes);

// 10 fillers, two PollBytes, the logical number in decimal left-padded with "0" to at least two
// digits, 5 fillers.
std::string PollMessage(int logicalNb);

// 4 fillers, StartByte, the text with a..z upper-cased, EndByte, CRC high, CRC low, 5 fillers.
std::string ReplyFrame(std::string_view replyText);

// `before` fillers, the text, `after` fillers.
std::string AddFillers(std::string_view text, int before, int after);

// The text with every FillerByte removed, all other bytes in their order.
std::string StripFillers(std::string_view text);

// True when bytes a register sent after a reply confirm it: the first byte that is not a filler
// is the AckByte. Bytes read while the port reported a receive-line error may begin with the
// noise: then any AckByte among them confirms.
bool ConfirmsReply(std::string_view bytes, bool lineError);

// The frame acceptance test: longer than 4 bytes, first byte StartByte, third byte from the end
// EndByte. The CRC bytes are carried along, not compared.
bool AcceptFrame(std::string_view received);

// The fields of an accepted frame body, numbered from 1; a field the body does not reach is
// empty text.
class LinkMessage {
public:
    LinkMessage() = default;
    explicit LinkMessage(std::vector<std::string> fields) : fields_(std::move(fields)) {}

    // Field n (1-based); empty when missing.
    const std::string& Field(std::size_t n) const;
    std::size_t FieldCount() const { return fields_.size(); }

    const std::string& FiscalSeries() const { return Field(1); }
    const std::string& SecondField() const { return Field(2); }
    const std::string& MessageType() const { return Field(3); }

private:
    std::vector<std::string> fields_;
};

// Split rule: drop everything up to and including the first StartByte, the body ends at the
// first EndByte after it, fields are cut at each ";" (the last is what follows the last ";").
LinkMessage SplitFrame(std::string_view received);

}  // namespace tallyport
