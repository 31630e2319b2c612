#pragma once

namespace tallyport {

// The decimal separator of the user's regional settings (POSIX: LC_ALL, LC_NUMERIC, LANG;
// Windows: the user's locale in the Control Panel), read once on first use without touching
// the process locale; "." when the locale is unknown. It applies
// to the configuration file and the window only: the register link and the table files use ".".
char RegionalDecimalSeparator();

// Replaces the separator for the rest of the process (tests, and a locale chosen at start-up).
void SetRegionalDecimalSeparator(char separator);

// Reads the separator that the named locale uses ("" means the user's), without changing any
// process state; "." when the locale cannot be loaded. Names as POSIX spells them
// ("ro_RO.UTF-8"); Windows also takes its own ("ro-RO"). One file per platform.
char DecimalSeparatorOfLocale(const char* localeName);

}  // namespace tallyport
