#include "control/RegisterDialogModel.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "control/ConnectionControl.h"
#include "control/DisplayText.h"
#include "control/UserDialogs.h"
#include "serial/PortList.h"
#include "store/CsvTable.h"
#include "store/StoreError.h"

namespace tallyport {
namespace {

std::string IntegerText(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

// `text` when it is one of `items`, else empty: a list shows no value it does not offer.
std::string Offered(const std::vector<std::string>& items, const std::string& text) {
    return std::find(items.begin(), items.end(), text) != items.end() ? text : std::string();
}

}  // namespace

const std::vector<std::string>& RegisterModels() {
    static const std::vector<std::string> items{"Datecs MP55", "Datecs MP500", "Datecs MP5000",
                                                "Datecs FP550T"};
    return items;
}

const std::vector<std::string>& TransferRates() {
    static const std::vector<std::string> items{"1200",  "2400",  "4800", "9600",
                                                "14400", "19200", "38400"};
    return items;
}

const std::vector<std::string>& DataBitsChoices() {
    static const std::vector<std::string> items{"5", "6", "7", "8"};
    return items;
}

const std::vector<std::string>& StopBitsChoices() {
    static const std::vector<std::string> items{"1", "2"};
    return items;
}

const std::vector<std::string>& ParityChoices() {
    static const std::vector<std::string> items{"None", "Odd", "Even", "Mark", "Space"};
    return items;
}

std::vector<std::string> OfferedPorts(const std::vector<std::string>& listed) {
    std::vector<std::string> ports;
    for (int i = 1; i <= 9; ++i) {
        ports.push_back("COM" + std::to_string(i));
    }
    for (const std::string& port : listed) {
        ports.push_back(DisplayText(port));
    }
    return ports;
}

std::vector<std::string> SystemPorts() {
    return ListSerialPorts();
}

RegisterFields NewRegisterFields() {
    RegisterFields fields;
    fields.model = RegisterModels().front();
    fields.port = "COM1";
    fields.speed = "4800";
    fields.dataBits = "8";
    fields.stopBits = "1";
    fields.parity = ParityChoices().front();
    return fields;
}

RegisterDialogModel::RegisterDialogModel(RegisterDialogMode mode, CsvTable& list,
                                         UserDialogs& dialogs)
    : RegisterDialogModel(mode, list, dialogs, SystemPorts()) {}

RegisterDialogModel::RegisterDialogModel(RegisterDialogMode mode, CsvTable& list,
                                         UserDialogs& dialogs, std::vector<std::string> listed)
    : mode_(mode), list_(list), dialogs_(dialogs), ports_(OfferedPorts(listed)) {
    // Without a row there is nothing to show: every field stays empty.
    if (mode_ == RegisterDialogMode::Edit && list_.IsOpen() && list_.RowCount() > 0) {
        row_ = ReadRegisterEntry(list_);
    }
}

const char* RegisterDialogModel::Caption() const {
    return mode_ == RegisterDialogMode::Add ? register_dialog_text::kCaptionAdd
                                            : register_dialog_text::kCaptionEdit;
}

void RegisterDialogModel::SetListedPorts(const std::vector<std::string>& listed) {
    ports_ = OfferedPorts(listed);
}

RegisterFields RegisterDialogModel::Fields() const {
    if (mode_ == RegisterDialogMode::Add) {
        return NewRegisterFields();
    }
    RegisterFields fields;
    fields.logicalNb = IntegerText(row_.LogicalNb);
    fields.model = Offered(RegisterModels(), DisplayText(row_.ModelType));
    fields.port = Offered(ports_, DisplayText(row_.CommPort));
    fields.speed = Offered(TransferRates(), IntegerText(row_.TranRate));
    fields.dataBits = Offered(DataBitsChoices(), IntegerText(row_.DataBits));
    fields.stopBits = Offered(StopBitsChoices(), IntegerText(row_.StopBits));
    fields.parity = Offered(ParityChoices(), DisplayText(row_.Parity));
    fields.fiscal = DisplayText(row_.Fiscal);
    fields.cashPoint = DisplayText(row_.Observatii);
    return fields;
}

bool RegisterDialogModel::CopyIntoRow(const RegisterFields& shown) {
    // Each field with the bytes it was filled from: a text left as shown keeps them.
    const RegisterEntry& was = row_;
    const std::pair<RegisterColumn, std::string> values[] = {
        {kRegLogicalNb, StoredBytes(shown.logicalNb, IntegerText(was.LogicalNb))},
        {kRegModelType, StoredBytes(shown.model, was.ModelType)},
        {kRegTranRate, StoredBytes(shown.speed, IntegerText(was.TranRate))},
        {kRegCommPort, StoredBytes(shown.port, was.CommPort)},
        {kRegDataBits, StoredBytes(shown.dataBits, IntegerText(was.DataBits))},
        {kRegStopBits, StoredBytes(shown.stopBits, IntegerText(was.StopBits))},
        {kRegParity, StoredBytes(shown.parity, was.Parity)},
        {kRegFiscal, StoredBytes(shown.fiscal, was.Fiscal)},
        {kRegObservatii, StoredBytes(shown.cashPoint, was.Observatii)},
    };
    try {
        for (const auto& [column, bytes] : values) {
            list_.SetFromText(column, bytes);
        }
    } catch (const std::exception& e) {
        // Nothing half-filled may reach the list: the pending row goes, the dialog stays open
        // for the user to correct the value.
        list_.Cancel();
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return false;
    }
    return true;
}

RegisterDialogModel::SaveResult RegisterDialogModel::Save(const RegisterFields& shown) {
    const bool adding = mode_ == RegisterDialogMode::Add;
    if (!dialogs_.Confirm(adding ? register_dialog_text::kConfirmAdd
                                 : register_dialog_text::kConfirmEdit)) {
        return SaveResult::NotConfirmed;
    }
    try {
        // Changing a register in an empty list adds it.
        if (adding || list_.RowCount() == 0) {
            list_.Append();
        } else {
            list_.Edit();
        }
    } catch (const std::exception& e) {
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return SaveResult::Kept;
    }
    if (!CopyIntoRow(shown)) {
        return SaveResult::Kept;
    }
    try {
        list_.Post();
    } catch (const StoreError&) {
        // The unique keys refused the row: another register has its number or its port.
        list_.Cancel();
        dialogs_.ShowMessage(MessageKind::Information, register_dialog_text::kDuplicate);
        return SaveResult::Refused;
    } catch (const std::exception& e) {
        list_.Cancel();
        dialogs_.ShowMessage(MessageKind::Error, e.what());
        return SaveResult::Kept;
    }
    return SaveResult::Saved;
}

void RunRegisterDialog(TConnectionControl& control, RegisterDialogMode mode,
                       std::optional<std::size_t> row,
                       const std::function<void(RegisterDialogModel&)>& show) {
    CsvTable& list = control.RegisterList();
    if (mode == RegisterDialogMode::Edit && (!row || !MoveToRow(list, *row))) {
        list.First();
    }
    {
        RegisterDialogModel model(mode, list, control.Dialogs());
        show(model);
    }
    control.SaveAndReloadRegisterList();
}

}  // namespace tallyport
