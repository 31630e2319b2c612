#pragma once

#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tallyport::detail {

// Byte searches of the table file reader, sixteen bytes at a time where the processor allows.
// The values of an article line are short, so an inline loop beats a library call.

inline bool IsLineEnd(char c) {
    return c == '\r' || c == '\n' || c == '\0';
}

// The first CR, LF or NUL in [p, end), or end.
inline const char* FindLineEnd(const char* p, const char* end) {
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

// The first `c` in [p, end), or end.
inline const char* FindByte(const char* p, const char* end, char c) {
#if defined(__SSE2__)
    const __m128i wanted = _mm_set1_epi8(c);
    while (end - p >= 16) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted));
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    while (p != end && *p != c) {
        ++p;
    }
    return p;
}

}  // namespace tallyport::detail
