#pragma once

#include <functional>
#include <string>

#include "store/AppSettings.h"

namespace tallyport {

class TConnectionControl;

// The setting controls of the window without widgets: what each shows for the settings, and
// what the settings become from what the controls show. The shell puts these texts into its
// controls in ShellView::ShowSettings and gives them back in ShellView::TakeSettings.
// User-interface thread only (the regional decimal separator is read once, on first use).

// The controls' texts (UTF-8, DisplayText) and ticks.
struct SettingsFields {
    std::string prefix;           // "Prefix Cod de Bare", decimal
    std::string articleFile;      // "Fisier Articole (EAN8 / EAN13 / PLU)"
    std::string receiptFile;      // "Fisier Inchideri Bon si Moduri de Plata"
    std::string transactionFile;  // "Fisier Tranzactii Case"
    std::string cardFrom;         // "Suma Minima", with the regional decimal separator
    std::string cardTo;           // "Suma Maxima", with the regional decimal separator
    bool recDiscount = false;     // "Inregistrare discount in fisierul de tranzactii"
    bool recAmount = false;       // "Inregistrare suma in cazul platii cu mai multe mijloace"
    bool recSepFiles = false;     // "Inregistrare de fisiere de vanzari separate ..."
    bool recDecimals = false;     // "Inregistrare sume cu zecimale in fisierele aplicatiei"
    bool operator==(const SettingsFields&) const = default;
};

// What the controls show for `settings`.
SettingsFields ShownSettings(const AppSettingsRecord& settings);

// Takes the controls' texts back into `settings`. A prefix is an integer (blanks before it,
// "0x1A", "0X1A" and "$1A" allowed); the card limits are numbers with the regional separator;
// a text that does not convert leaves its setting as it was. A file name left as shown keeps
// the bytes it was read with (StoredBytes).
void TakeSettingsFields(const SettingsFields& shown, AppSettingsRecord& settings);

// The sample code under the barcode drawing: the prefix, then " 12345 12345 1".
std::string BarcodeSample(const AppSettingsRecord& settings);

// The three back-office files the window lets the user choose with "...".
enum class SettingsFile { Articles, Receipts, Transactions };

// After the file dialog chose `chosen` (the name's bytes, as the file system has them) for
// `file`: the setting gets those very bytes, `show` puts what the control shows for them into
// the control (before the save reads the controls back, so the save keeps the bytes), and the
// settings are saved as when the user leaves a control (TConnectionControl::SettingsChanged).
void TakeChosenFile(TConnectionControl& control, SettingsFile file, const std::string& chosen,
                    const std::function<void(const std::string& shown)>& show);

}  // namespace tallyport
