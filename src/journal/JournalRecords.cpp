#include "journal/JournalRecords.h"

#include <array>
#include <charconv>

namespace tallyport {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

bool NeedsEscape(unsigned char c) {
    return c < 0x20 || c == '%' || c == 0x7F;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<std::uint64_t> Number(const std::string& text) {
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return value;
}

void ApplyClosing(RegisterJournal& s, std::uint64_t seq, const JournalRecord& r) {
    // Fields: seq bonPath tranPath key raw nBon lines...
    // A closing prepared while an earlier one is still open (its append failed) takes over
    // its lines; cancelling it goes back to the earlier one, still open.
    s.before = std::make_shared<const RegisterJournal>(s);
    OpenClosing closing;
    closing.seq = seq;
    closing.bonPath = r.fields[1];
    closing.tranPath = r.fields[2];
    const std::size_t nBon = static_cast<std::size_t>(*Number(r.fields[5]));
    closing.bonLines.assign(r.fields.begin() + 6, r.fields.begin() + 6 + static_cast<long>(nBon));
    closing.tranLines.assign(r.fields.begin() + 6 + static_cast<long>(nBon), r.fields.end());
    s.tranLines = closing.tranLines;
    s.bonLines = closing.bonLines;
    if (!r.fields[3].empty()) {
        s.keySeq = seq;
        s.key = r.fields[3].substr(1);
    }
    s.lastClosingFrame = r.fields[4];
    s.lastClosingSeq = seq;
    s.lastClosingAcked = false;
    s.highestSeq = std::max(s.highestSeq, seq);
    s.open = std::move(closing);
}

// Drops the first `count` lines (fewer when the list is shorter).
void DropFront(std::vector<std::string>& lines, std::size_t count) {
    lines.erase(lines.begin(), lines.begin() + static_cast<long>(std::min(count, lines.size())));
}

// The closing is in its files: its own lines leave the lists, those journalled after it stay.
void FinishClosing(RegisterJournal& s) {
    DropFront(s.tranLines, s.open->tranLines.size());
    DropFront(s.bonLines, s.open->bonWritten ? 0 : s.open->bonLines.size());
    s.open.reset();
    s.before.reset();
}

}  // namespace

std::uint32_t Crc32(std::string_view bytes) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc = table[(crc ^ c) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string EscapeField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (char ch : field) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += ch;
        }
    }
    return out;
}

std::optional<std::string> UnescapeField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            if (NeedsEscape(static_cast<unsigned char>(text[i]))) {
                return std::nullopt;
            }
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const int hi = HexValue(text[i + 1]);
        const int lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return out;
}

std::string EncodeRecord(const JournalRecord& record) {
    std::string body(1, record.kind);
    for (const std::string& f : record.fields) {
        body += '\t';
        body += EscapeField(f);
    }
    const std::uint32_t crc = Crc32(body);
    std::string line(8, '0');
    for (int i = 7, shift = 0; i >= 0; --i, shift += 4) {
        line[static_cast<std::size_t>(i)] = kHex[(crc >> shift) & 0xF];
    }
    line += ' ';
    line += body;
    line += '\n';
    return line;
}

std::optional<JournalRecord> DecodeRecord(std::string_view line) {
    if (line.size() < 10 || line[8] != ' ') {
        return std::nullopt;
    }
    std::uint32_t crc = 0;
    for (int i = 0; i < 8; ++i) {
        const int v = HexValue(line[static_cast<std::size_t>(i)]);
        if (v < 0) {
            return std::nullopt;
        }
        crc = crc << 4 | static_cast<std::uint32_t>(v);
    }
    const std::string_view body = line.substr(9);
    if (Crc32(body) != crc) {
        return std::nullopt;
    }
    JournalRecord record;
    record.kind = body[0];
    std::size_t pos = 1;
    if (pos < body.size() && body[pos] != '\t') {
        return std::nullopt;
    }
    while (pos < body.size()) {
        const std::size_t next = body.find('\t', pos + 1);
        const std::string_view text = body.substr(
            pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
        auto field = UnescapeField(text);
        if (!field) {
            return std::nullopt;
        }
        record.fields.push_back(std::move(*field));
        pos = next == std::string_view::npos ? body.size() : next;
    }
    return record;
}

namespace {

// A line for the back-office files is one line: a CR or LF in it would be lines no record holds.
bool OneLine(const std::vector<std::string>& fields, std::size_t from) {
    for (std::size_t i = from; i < fields.size(); ++i) {
        if (fields[i].find_first_of("\r\n") != std::string::npos) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool ApplyRecord(RegisterJournal& s, const JournalRecord& r) {
    const std::size_t n = r.fields.size();
    if (std::string_view("SRQ").find(r.kind) != std::string_view::npos && !OneLine(r.fields, 0)) {
        return false;
    }
    if (r.kind == 'C' && !OneLine(r.fields, 6)) {
        return false;
    }
    auto seqOf = [&r]() { return Number(r.fields.at(0)); };
    switch (r.kind) {
        case 'S':
            if (n != 1)
                return false;
            s.tranLines.push_back(r.fields[0]);
            return true;
        case 'V':
            if (n != 0)
                return false;
            if (!s.tranLines.empty())
                s.tranLines.pop_back();
            return true;
        case 'F':
            if (n != 4)
                return false;
            s.fields = JournalFields{r.fields[0], r.fields[1], r.fields[2], r.fields[3]};
            return true;
        case 'K': {
            if (n != 2 || !seqOf())
                return false;
            s.keySeq = *seqOf();
            s.key = r.fields[1];
            s.highestSeq = std::max(s.highestSeq, s.keySeq);
            return true;
        }
        case 'R':
            s.tranLines = r.fields;
            return true;
        case 'Q':
            if (n != 1)
                return false;
            s.bonLines.push_back(r.fields[0]);
            return true;
        case 'L':
            if (n != 1)
                return false;
            s.lastClosingFrame = r.fields[0];
            s.lastClosingSeq = 0;
            s.lastClosingAcked = false;
            return true;
        case 'P':
            if (n != 1 || !seqOf())
                return false;
            if (s.lastClosingSeq == *seqOf()) {
                s.lastClosingAcked = true;
            }
            return true;
        case 'U':
            if (n != 1)
                return false;
            s.unreadableClosings.push_back(r.fields[0]);
            return true;
        case 'C': {
            if (n < 6 || !seqOf() || !Number(r.fields[5]))
                return false;
            if (*Number(r.fields[5]) > n - 6)
                return false;
            if (!r.fields[3].empty() && r.fields[3][0] != 'k')
                return false;
            ApplyClosing(s, *seqOf(), r);
            return true;
        }
        case 'X':
        case 'B':
        case 'D': {
            if (n != 1 || !seqOf())
                return false;
            if (!s.open || s.open->seq != *seqOf()) {
                return true;  // about a closing a later record replaced: nothing left to do
            }
            if (r.kind == 'X') {
                const std::uint64_t highest = s.highestSeq;
                const std::vector<std::string> unreadable = s.unreadableClosings;
                const JournalFields fields = s.fields;
                const RegisterJournal before = s.before ? *s.before : RegisterJournal{};
                s = before;
                s.highestSeq = highest;
                s.unreadableClosings = unreadable;
                s.fields = fields;
            } else if (r.kind == 'B') {
                DropFront(s.bonLines, s.open->bonLines.size());
                s.open->bonWritten = true;
            } else {
                FinishClosing(s);
            }
            return true;
        }
        case 'A': {
            if ((n != 3 && n != 5) || !seqOf() || !Number(r.fields[1]) || !Number(r.fields[2]))
                return false;
            if (s.open && s.open->seq == *seqOf()) {
                s.open->offsets = std::make_pair(*Number(r.fields[1]), *Number(r.fields[2]));
                s.open->stamps = n == 5 ? std::make_pair(r.fields[3], r.fields[4])
                                        : std::pair<std::string, std::string>{};
            }
            return true;
        }
        default:
            return false;
    }
}

ParsedJournal ParseJournal(std::string_view bytes) {
    ParsedJournal out;
    std::size_t pos = 0;
    std::size_t lineNumber = 0;
    while (pos < bytes.size()) {
        ++lineNumber;
        const std::size_t lf = bytes.find('\n', pos);
        if (lf == std::string_view::npos) {
            out.tornTail = true;  // never reported durable: dropped
            break;
        }
        const std::string_view line = bytes.substr(pos, lf - pos);
        auto record = DecodeRecord(line);
        if (!record || !ApplyRecord(out.state, *record)) {
            if (lf + 1 == bytes.size() && !record) {
                out.tornTail = true;  // a last line cut in the middle of a character run
                break;
            }
            out.damagedLine = lineNumber;
            break;
        }
        pos = lf + 1;
        out.validBytes = pos;
    }
    return out;
}

namespace {

// The lines, key and frame of a state without an open closing.
void AppendSettled(const RegisterJournal& s, std::vector<JournalRecord>& out) {
    if (s.keySeq != 0) {
        out.push_back({'K', {std::to_string(s.keySeq), s.key}});
    }
    // A closing frame the register has had its acknowledgement for opens no window at a restart.
    if (!s.lastClosingFrame.empty() && !s.lastClosingAcked) {
        out.push_back({'L', {s.lastClosingFrame}});
    }
    for (const std::string& line : s.tranLines)
        out.push_back(SaleRecord(line));
    for (const std::string& line : s.bonLines)
        out.push_back({'Q', {line}});
}

// An open closing as it was prepared, after the state before it, with what is known of its
// appends: a restart then completes it (or a cancel undoes it) exactly as before compaction.
void AppendOpen(const RegisterJournal& s, std::vector<JournalRecord>& out) {
    const RegisterJournal empty;
    const RegisterJournal& before = s.before ? *s.before : empty;
    if (before.open) {
        AppendOpen(before, out);
    } else {
        AppendSettled(before, out);
    }
    std::optional<std::string> key;
    if (s.keySeq == s.open->seq)
        key = s.key;
    out.push_back(ClosingRecord(*s.open, key, s.lastClosingFrame));
    if (s.lastClosingSeq == s.open->seq && s.lastClosingAcked) {
        out.push_back(SeqRecord('P', s.open->seq));
    }
    if (s.open->offsets) {
        out.push_back(IntentRecord(s.open->seq, s.open->offsets->first, s.open->offsets->second,
                                   s.open->stamps.first, s.open->stamps.second));
    }
    if (s.open->bonWritten)
        out.push_back(SeqRecord('B', s.open->seq));
}

}  // namespace

std::vector<JournalRecord> SnapshotRecords(const RegisterJournal& s) {
    std::vector<JournalRecord> out;
    out.push_back(FieldsRecord(s.fields));
    for (const std::string& raw : s.unreadableClosings) {
        out.push_back(UnreadableRecord(raw));
    }
    if (s.open) {
        AppendOpen(s, out);
        // The lines sold after the open closing, which its done-record leaves pending.
        for (std::size_t i = s.open->tranLines.size(); i < s.tranLines.size(); ++i) {
            out.push_back(SaleRecord(s.tranLines[i]));
        }
    } else {
        AppendSettled(s, out);
    }
    return out;
}

JournalRecord SaleRecord(const std::string& line) {
    return {'S', {line}};
}

JournalRecord VoidRecord() {
    return {'V', {}};
}

JournalRecord FieldsRecord(const JournalFields& f) {
    return {'F', {f.deptText, f.vatText, f.commaText, f.cardReference}};
}

JournalRecord ClosingRecord(const OpenClosing& c, const std::optional<std::string>& key,
                            const std::string& rawFrame) {
    JournalRecord r{'C',
                    {std::to_string(c.seq), c.bonPath, c.tranPath, key ? "k" + *key : "", rawFrame,
                     std::to_string(c.bonLines.size())}};
    r.fields.insert(r.fields.end(), c.bonLines.begin(), c.bonLines.end());
    r.fields.insert(r.fields.end(), c.tranLines.begin(), c.tranLines.end());
    return r;
}

JournalRecord SeqRecord(char kind, std::uint64_t seq) {
    return {kind, {std::to_string(seq)}};
}

JournalRecord IntentRecord(std::uint64_t seq, std::uint64_t bonOffset, std::uint64_t tranOffset,
                           const std::string& bonStamp, const std::string& tranStamp) {
    return {'A',
            {std::to_string(seq), std::to_string(bonOffset), std::to_string(tranOffset), bonStamp,
             tranStamp}};
}

JournalRecord ReplaceLinesRecord(const std::vector<std::string>& tranLines) {
    return {'R', tranLines};
}

JournalRecord UnreadableRecord(const std::string& rawFrame) {
    return {'U', {rawFrame}};
}

}  // namespace tallyport
