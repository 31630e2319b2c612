#include "base/DecimalSeparator.h"

#include <atomic>

namespace tallyport {

namespace {

// 0 until first read; written once, read by any thread.
std::atomic<char> g_separator{0};

}  // namespace

char RegionalDecimalSeparator() {
    char separator = g_separator.load(std::memory_order_acquire);
    if (separator == 0) {
        char expected = 0;
        g_separator.compare_exchange_strong(expected, DecimalSeparatorOfLocale(""),
                                            std::memory_order_acq_rel);
        separator = g_separator.load(std::memory_order_acquire);
    }
    return separator;
}

void SetRegionalDecimalSeparator(char separator) {
    g_separator.store(separator, std::memory_order_release);
}

}  // namespace tallyport
