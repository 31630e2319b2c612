#pragma once

#include "base/DecimalSeparator.h"

namespace tallyport::test {

// The only way tests change the regional decimal separator: it is set for one scope and the
// separator found before is put back at its end, also when a failed assertion or an exception
// leaves the test early, so no test runs under a separator another one left behind. Scopes
// nest. Not for tests that run workers of their own at the same time (the setting is
// process-wide).
class RegionalSeparatorScope {
public:
    explicit RegionalSeparatorScope(char separator) : previous_(RegionalDecimalSeparator()) {
        SetRegionalDecimalSeparator(separator);
    }
    ~RegionalSeparatorScope() { SetRegionalDecimalSeparator(previous_); }
    RegionalSeparatorScope(const RegionalSeparatorScope&) = delete;
    RegionalSeparatorScope& operator=(const RegionalSeparatorScope&) = delete;

private:
    char previous_;
};

}  // namespace tallyport::test
