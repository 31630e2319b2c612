#pragma once

#include <QString>

namespace tallyport {

// The file dialog's filter as the program describes it ("text|pattern|text|pattern") in the
// form a Qt file dialog takes ("text (pattern);;text (pattern)").
QString QtFileFilter(const QString& pipeFilter);

// The filter of the back-office file dialog.
inline constexpr char kBackOfficeFileFilter[] =
    "Fisiere text (TXT)|*.TXT|Fisiere MS Excel (CSV)|*.CSV|Orice tip de fisiere|*.*";

}  // namespace tallyport
