#include "control/JsonValue.h"

#include <charconv>

namespace tallyport {

// A recursive-descent reader over the whole text (RFC 8259), deep enough for the status file
// and bounded so that a hostile file cannot exhaust the stack.
class JsonReader {
public:
    explicit JsonReader(std::string_view text) : text_(text) {}

    std::optional<JsonValue> Document() {
        JsonValue value;
        if (!Value(value, 0)) {
            return std::nullopt;
        }
        SkipBlanks();
        if (at_ != text_.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    static constexpr int kMaxDepth = 64;

    void SkipBlanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Take(char c) {
        SkipBlanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    bool Value(JsonValue& value, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        SkipBlanks();
        if (at_ >= text_.size()) {
            return false;
        }
        switch (text_[at_]) {
            case '{':
                return Object(value, depth);
            case '[':
                return Array(value, depth);
            case '"':
                value.kind_ = JsonValue::Kind::String;
                return String(value.text_);
            case 't':
                value.kind_ = JsonValue::Kind::Bool;
                value.bool_ = true;
                return Word("true");
            case 'f':
                value.kind_ = JsonValue::Kind::Bool;
                return Word("false");
            case 'n':
                return Word("null");
            default:
                return Number(value);
        }
    }

    bool Object(JsonValue& value, int depth) {
        value.kind_ = JsonValue::Kind::Object;
        ++at_;
        if (Take('}')) {
            return true;
        }
        do {
            SkipBlanks();
            std::string key;
            JsonValue member;
            if (at_ >= text_.size() || text_[at_] != '"' || !String(key) || !Take(':') ||
                !Value(member, depth + 1)) {
                return false;
            }
            value.members_.emplace(std::move(key), std::move(member));  // the first one wins
        } while (Take(','));
        return Take('}');
    }

    bool Array(JsonValue& value, int depth) {
        value.kind_ = JsonValue::Kind::Array;
        ++at_;
        if (Take(']')) {
            return true;
        }
        do {
            JsonValue item;
            if (!Value(item, depth + 1)) {
                return false;
            }
            value.items_.push_back(std::move(item));
        } while (Take(','));
        return Take(']');
    }

    bool Hex4(unsigned& code) {
        if (at_ + 4 > text_.size()) {
            return false;
        }
        code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<unsigned>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<unsigned>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<unsigned>(c - 'A' + 10);
            } else {
                return false;
            }
        }
        return true;
    }

    static void AppendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Escape(std::string& out) {
        if (at_ >= text_.size()) {
            return false;
        }
        const char c = text_[at_++];
        switch (c) {
            case '"':
            case '\\':
            case '/':
                out += c;
                return true;
            case 'b':
                out += '\b';
                return true;
            case 'f':
                out += '\f';
                return true;
            case 'n':
                out += '\n';
                return true;
            case 'r':
                out += '\r';
                return true;
            case 't':
                out += '\t';
                return true;
            case 'u':
                break;
            default:
                return false;
        }
        unsigned code = 0;
        if (!Hex4(code)) {
            return false;
        }
        if (code >= 0x80 && code <= 0xFF) {
            out += static_cast<char>(code);  // a byte of the code page, as the writer keeps it
            return true;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            unsigned low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, code);
        return true;
    }

    bool String(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
            } else if (!Escape(out)) {
                return false;
            }
        }
        return false;
    }

    bool Number(JsonValue& value) {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        const auto digits = [this] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - from;
        };
        const std::size_t intStart = at_;
        if (digits() == 0 || (text_[intStart] == '0' && at_ - intStart > 1)) {
            return false;
        }
        bool integral = true;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            integral = false;
            if (digits() == 0) {
                return false;
            }
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            integral = false;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
                ++at_;
            }
            if (digits() == 0) {
                return false;
            }
        }
        value.kind_ = JsonValue::Kind::Number;
        if (integral) {
            std::int64_t number = 0;
            const char* first = text_.data() + start;
            const char* last = text_.data() + at_;
            const auto [end, error] = std::from_chars(first, last, number);
            if (error == std::errc() && end == last) {
                value.integer_ = number;
            }
        }
        return true;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
    return JsonReader(text).Document();
}

bool JsonValue::Bool(bool fallback) const {
    return kind_ == Kind::Bool ? bool_ : fallback;
}

std::int64_t JsonValue::Integer(std::int64_t fallback) const {
    return kind_ == Kind::Number && integer_ ? *integer_ : fallback;
}

std::string JsonValue::Text(const std::string& fallback) const {
    return kind_ == Kind::String ? text_ : fallback;
}

const JsonValue& JsonValue::operator[](std::string_view key) const {
    static const JsonValue kNull;
    const auto found = members_.find(key);
    return found == members_.end() ? kNull : found->second;
}

const std::vector<JsonValue>& JsonValue::Items() const {
    return items_;
}

}  // namespace tallyport
