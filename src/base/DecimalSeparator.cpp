#include "base/DecimalSeparator.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>

namespace tallyport {

namespace {

// 0 until first read; written once, read by any thread.
std::atomic<char> g_separator{0};

}  // namespace

char DecimalSeparatorOfLocale(const char* localeName) {
    locale_t loc = newlocale(LC_NUMERIC_MASK, localeName, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0)) {
        return '.';
    }
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    char separator = (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
    freelocale(loc);
    return separator;
}

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
