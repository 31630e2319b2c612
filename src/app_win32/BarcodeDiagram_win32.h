#pragma once

#include <windows.h>

namespace tallyport::desktop {

// The drawing of a weighing-scale barcode on "Coduri Cantar", in an owner-drawn static control
// whose text is the sample code ("27 12345 12345 1"): the code in `bigFont`, its four parts
// bracketed, and a line from each part to its label ("Prefix", "Cod PLU", "Greutate",
// "CRC EAN") in `font` at the bottom. `lineHeight` is the height of a line in `font`. On
// WM_DRAWITEM; user-interface thread.
void DrawBarcode(const DRAWITEMSTRUCT& item, HFONT bigFont, HFONT font, int lineHeight);

}  // namespace tallyport::desktop
