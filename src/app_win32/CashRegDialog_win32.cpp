#include "app_win32/CashRegDialog_win32.h"

#include <string>
#include <vector>

#include "app_win32/DesktopIds.h"
#include "app_win32/WideText_win32.h"
#include "control/RegisterDialogModel.h"

namespace tallyport::desktop {
namespace {

// Fills a list box with `items` and shows `text`: the item of exactly that text (case
// included), or for a list that takes typed text the text itself; otherwise no selection.
void FillList(HWND dialog, int id, const std::vector<std::string>& items, const std::string& text,
              bool typed) {
    HWND box = ::GetDlgItem(dialog, id);
    ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
    int selected = -1;
    for (std::size_t index = 0; index < items.size(); ++index) {
        const std::wstring item = Wide(items[index]);
        ::SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        if (items[index] == text) {
            selected = static_cast<int>(index);
        }
    }
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
    if (selected < 0 && typed) {
        ::SetWindowTextW(box, Wide(text).c_str());
    }
}

void Fill(HWND dialog, const RegisterDialogModel& model) {
    ::SetWindowTextW(dialog, Wide(model.Caption()).c_str());
    const RegisterFields fields = model.Fields();
    SetItemText(dialog, IDC_LOGICNO, fields.logicalNb);
    FillList(dialog, IDC_MODEL, RegisterModels(), fields.model, false);
    FillList(dialog, IDC_PORT, model.Ports(), fields.port, true);
    FillList(dialog, IDC_SPEED, TransferRates(), fields.speed, true);
    FillList(dialog, IDC_DATABITS, DataBitsChoices(), fields.dataBits, false);
    FillList(dialog, IDC_STOPBITS, StopBitsChoices(), fields.stopBits, false);
    FillList(dialog, IDC_PARITY, ParityChoices(), fields.parity, false);
    SetItemText(dialog, IDC_FISCAL, fields.fiscal);
    SetItemText(dialog, IDC_CASHPOINT, fields.cashPoint);
}

RegisterFields Shown(HWND dialog) {
    RegisterFields fields;
    fields.logicalNb = ItemText(dialog, IDC_LOGICNO);
    fields.model = ItemText(dialog, IDC_MODEL);
    fields.port = ItemText(dialog, IDC_PORT);
    fields.speed = ItemText(dialog, IDC_SPEED);
    fields.dataBits = ItemText(dialog, IDC_DATABITS);
    fields.stopBits = ItemText(dialog, IDC_STOPBITS);
    fields.parity = ItemText(dialog, IDC_PARITY);
    fields.fiscal = ItemText(dialog, IDC_FISCAL);
    fields.cashPoint = ItemText(dialog, IDC_CASHPOINT);
    return fields;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_INITDIALOG:
            ::SetWindowLongPtrW(dialog, DWLP_USER, l);
            Fill(dialog, *reinterpret_cast<RegisterDialogModel*>(l));
            return TRUE;
        case WM_COMMAND: {
            auto* model =
                reinterpret_cast<RegisterDialogModel*>(::GetWindowLongPtrW(dialog, DWLP_USER));
            if (model && LOWORD(w) == IDOK && HIWORD(w) == BN_CLICKED) {
                if (RegisterDialogModel::Closes(model->Save(Shown(dialog)))) {
                    ::EndDialog(dialog, IDOK);
                }
                return TRUE;
            }
            if (LOWORD(w) == IDCANCEL) {
                ::EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            break;
        }
        default:
            break;
    }
    return FALSE;
}

}  // namespace

void RunCashRegDialog(HINSTANCE instance, HWND owner, RegisterDialogModel& model) {
    ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_CASHREG), owner, DialogProc,
                      reinterpret_cast<LPARAM>(&model));
}

}  // namespace tallyport::desktop
