#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "base/Padding.h"

namespace tallyport {

// The register's logical number as the records' first field, left-padded with "0" to 4.
inline std::string LogicalNbField(int logicalNb) {
    return PadLeft(std::to_string(logicalNb), 4, '0');
}

// Appends each field to `line` after a ",", as the records join their fields.
inline void AppendFields(std::string& line, std::initializer_list<std::string_view> fields) {
    for (std::string_view field : fields) {
        line += ',';
        line += field;
    }
}

// True when a field the register sent can stand in a record as it is: no "," (it would add a
// field) and no control byte (a line break would add a line). Registers send digits there; a
// line error can send anything.
inline bool FitsARecord(std::string_view field) {
    for (char c : field) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ',' || byte < 0x20 || byte == 0x7F) {
            return false;
        }
    }
    return true;
}

// A quantity or rate as the register sends it ("1.000", "-10.00") with its first "." removed,
// which reads it in thousandths or hundredths ("1000", "-1000").
inline std::string WithoutFirstPoint(std::string text) {
    if (auto pos = text.find('.'); pos != std::string::npos) {
        text.erase(pos, 1);
    }
    return text;
}

}  // namespace tallyport
