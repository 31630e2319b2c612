#include "base/Padding.h"

namespace tallyport {

std::string PadLeft(std::string_view text, std::size_t width, char pad) {
    std::string out;
    if (text.size() < width) {
        out.assign(width - text.size(), pad);
    }
    out.append(text);
    return out;
}

std::string PadRight(std::string_view text, std::size_t width, char pad) {
    std::string out(text);
    if (out.size() < width) {
        out.append(width - out.size(), pad);
    }
    return out;
}

}  // namespace tallyport
