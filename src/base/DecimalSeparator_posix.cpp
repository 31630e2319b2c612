#include <langinfo.h>
#include <locale.h>

#include "base/DecimalSeparator.h"

namespace tallyport {

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

}  // namespace tallyport
