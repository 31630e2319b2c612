#pragma once

#include <cstddef>
#include <string>

#include "store/ByteSearch.h"

namespace tallyport {

// Splits bytes that arrive in blocks into the lines of a table file. A line ends at the first
// CR, LF or NUL byte, and the whole run of CR, LF and NUL bytes after it is skipped, so blank
// lines give nothing; a last line without a line end is a line too. A line that lies within
// one block is handed out in place; only a line spanning blocks is gathered in a buffer.
class LineSplitter {
public:
    // Calls onLine(begin, end) for every line that ends within these bytes.
    template <typename OnLine>
    void Feed(const char* data, std::size_t size, OnLine&& onLine) {
        const char* p = data;
        const char* end = data + size;
        if (!carry_.empty()) {
            const char* stop = detail::FindLineEnd(p, end);
            carry_.append(p, stop);
            if (stop == end) {
                return;
            }
            onLine(carry_.data(), carry_.data() + carry_.size());
            carry_.clear();
            p = stop;
        }
        for (;;) {
            while (p != end && detail::IsLineEnd(*p)) {
                ++p;
            }
            if (p == end) {
                return;
            }
            const char* stop = detail::FindLineEnd(p, end);
            if (stop == end) {
                carry_.assign(p, end);
                return;
            }
            onLine(p, stop);
            p = stop;
        }
    }

    // Hands out the last line when the bytes ended without a line end.
    template <typename OnLine>
    void Finish(OnLine&& onLine) {
        if (!carry_.empty()) {
            std::string last;
            last.swap(carry_);
            onLine(last.data(), last.data() + last.size());
        }
    }

private:
    std::string carry_;
};

}  // namespace tallyport
