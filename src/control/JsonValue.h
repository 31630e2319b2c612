#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

// A JSON document as read back, for the status file (StatusFile.h writes it). A plain value;
// any thread may hold one. Reading never throws: a text that is not one JSON value gives
// nullopt.
//
// Strings come back as the bytes the status file holds: UTF-8 stays as it is, and "\u0080" to
// "\u00ff" become the single byte of that code, which is how the writer keeps a byte of the
// 8-bit code page that is not UTF-8. Other escapes become UTF-8.
class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    static std::optional<JsonValue> Parse(std::string_view text);

    Kind kind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::Null; }
    bool IsObject() const { return kind_ == Kind::Object; }

    // The value, or `fallback` when it is of another kind (a number with a fraction is no
    // integer).
    bool Bool(bool fallback = false) const;
    std::int64_t Integer(std::int64_t fallback = 0) const;
    std::string Text(const std::string& fallback = {}) const;

    // A member of an object; a null value when there is none or this is no object.
    const JsonValue& operator[](std::string_view key) const;
    // The items of an array; none for any other kind.
    const std::vector<JsonValue>& Items() const;

private:
    friend class JsonReader;

    Kind kind_ = Kind::Null;
    bool bool_ = false;
    std::optional<std::int64_t> integer_;  // numbers without fraction or exponent that fit
    std::string text_;
    std::vector<JsonValue> items_;
    std::map<std::string, JsonValue, std::less<>> members_;
};

}  // namespace tallyport
