#pragma once

#include <windows.h>

#include <string>

namespace tallyport::desktop {

// Between the control library's display texts (UTF-8, control/DisplayText.h) and the UTF-16 of
// the windows. Which bytes a text shows and which bytes a typed text is kept as is the control
// library's rule; this is only the conversion. Free functions without state: any thread.

std::wstring Wide(const std::string& utf8);
std::string Utf8(const std::wstring& wide);

// The text that shows the bytes of a user's file, a message quoting them, a path (DisplayText).
std::wstring ShownBytes(const std::string& bytes);

// A window's text, and a dialog item's text as UTF-8.
std::wstring WindowText(HWND window);
std::string ItemText(HWND dialog, int id);
void SetItemText(HWND dialog, int id, const std::string& utf8);

}  // namespace tallyport::desktop
