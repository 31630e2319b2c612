#pragma once

#include <cstddef>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
            const char* stop = FindLineEnd(p, end);
            carry_.append(p, stop);
            if (stop == end) {
                return;
            }
            onLine(carry_.data(), carry_.data() + carry_.size());
            carry_.clear();
            p = stop;
        }
        for (;;) {
            while (p != end && IsLineEnd(*p)) {
                ++p;
            }
            if (p == end) {
                return;
            }
            const char* stop = FindLineEnd(p, end);
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

    static bool IsLineEnd(char c) { return c == '\r' || c == '\n' || c == '\0'; }

    static const char* FindLineEnd(const char* p, const char* end) {
#if defined(__SSE2__)
        const __m128i cr = _mm_set1_epi8('\r');
        const __m128i lf = _mm_set1_epi8('\n');
        const __m128i nul = _mm_setzero_si128();
        while (end - p >= 16) {
            __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            __m128i hit =
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(bytes, lf)),
                             _mm_cmpeq_epi8(bytes, nul));
            int mask = _mm_movemask_epi8(hit);
            if (mask != 0) {
                return p + __builtin_ctz(static_cast<unsigned>(mask));
            }
            p += 16;
        }
#endif
        while (p != end && !IsLineEnd(*p)) {
            ++p;
        }
        return p;
    }

private:
    std::string carry_;
};

}  // namespace tallyport
