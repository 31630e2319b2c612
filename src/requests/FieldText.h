#pragma once

#include <string>

namespace tallyport {

// A quantity or rate as the register sends it ("1.000", "-10.00") with its first "." removed,
// which reads it in thousandths or hundredths ("1000", "-1000").
inline std::string WithoutFirstPoint(std::string text) {
    if (auto pos = text.find('.'); pos != std::string::npos) {
        text.erase(pos, 1);
    }
    return text;
}

}  // namespace tallyport
