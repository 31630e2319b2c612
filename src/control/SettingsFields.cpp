#include "control/SettingsFields.h"

#include "base/DecimalSeparator.h"
#include "base/NumberText.h"
#include "control/ConnectionControl.h"
#include "control/DisplayText.h"

namespace tallyport {

SettingsFields ShownSettings(const AppSettingsRecord& settings) {
    const char separator = RegionalDecimalSeparator();
    SettingsFields fields;
    fields.prefix = std::to_string(settings.Prefix);
    fields.articleFile = DisplayText(settings.PLU);
    fields.receiptFile = DisplayText(settings.ReceiptMaster);
    fields.transactionFile = DisplayText(settings.ReceiptDetail);
    fields.cardFrom = DisplayText(FormatGeneral(settings.Min, separator));
    fields.cardTo = DisplayText(FormatGeneral(settings.Max, separator));
    fields.recDiscount = settings.RecDiscount;
    fields.recAmount = settings.RecAmount;
    fields.recSepFiles = settings.RecSepFiles;
    fields.recDecimals = settings.RecDecimals;
    return fields;
}

void TakeSettingsFields(const SettingsFields& shown, AppSettingsRecord& settings) {
    const char separator = RegionalDecimalSeparator();
    IntegerSyntax prefixSyntax;
    prefixSyntax.leadingBlanks = true;
    prefixSyntax.hexPrefixes = true;
    if (auto prefix = ParseInteger(shown.prefix, prefixSyntax)) {
        settings.Prefix = *prefix;
    }
    // A name the user left as shown keeps the bytes it was read with.
    settings.PLU = StoredBytes(shown.articleFile, settings.PLU);
    settings.ReceiptMaster = StoredBytes(shown.receiptFile, settings.ReceiptMaster);
    settings.ReceiptDetail = StoredBytes(shown.transactionFile, settings.ReceiptDetail);
    if (auto min = ParseDouble(shown.cardFrom, separator)) {
        settings.Min = *min;
    }
    if (auto max = ParseDouble(shown.cardTo, separator)) {
        settings.Max = *max;
    }
    settings.RecDiscount = shown.recDiscount;
    settings.RecAmount = shown.recAmount;
    settings.RecSepFiles = shown.recSepFiles;
    settings.RecDecimals = shown.recDecimals;
}

std::string BarcodeSample(const AppSettingsRecord& settings) {
    return std::to_string(settings.Prefix) + " 12345 12345 1";
}

void TakeChosenFile(TConnectionControl& control, SettingsFile file, const std::string& chosen,
                    const std::function<void(const std::string& shown)>& show) {
    // The setting gets the name's own bytes, as the file system has them, not the shown text
    // taken back by the rule for typed texts: the control shows them, so the save that reads it
    // back finds the text unchanged and keeps the bytes.
    std::string& setting = file == SettingsFile::Articles   ? AppSettings.PLU
                           : file == SettingsFile::Receipts ? AppSettings.ReceiptMaster
                                                            : AppSettings.ReceiptDetail;
    setting = chosen;
    show(DisplayText(chosen));
    control.SettingsChanged();
}

}  // namespace tallyport
