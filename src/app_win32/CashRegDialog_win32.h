#pragma once

#include <windows.h>

namespace tallyport {

class RegisterDialogModel;

namespace desktop {

// The cash-register dialog (the resource IDD_CASHREG) over the control library's model: fills
// its controls from the model, forwards "&Salveaza" to it and closes when the model says so.
// Modal; returns when the dialog has closed. User-interface thread only.
void RunCashRegDialog(HINSTANCE instance, HWND owner, RegisterDialogModel& model);

}  // namespace desktop
}  // namespace tallyport
