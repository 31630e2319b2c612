#include "store/RegisterList.h"

namespace tallyport {

std::unique_ptr<CsvTable> MakeRegisterList() {
    // The port column holds whole device paths: stable names under /dev/serial/ run to 40-80
    // characters and may be longer, so it takes any path the system can open.
    std::vector<ColumnDef> columns = {
        {"LogicalNb", ColumnType::Integer, 0},
        {"ModelType", ColumnType::Text, 20},
        {"TranRate", ColumnType::Integer, 0},
        {"DataBits", ColumnType::Integer, 0},
        {"Parity", ColumnType::Text, 20},
        {"StopBits", ColumnType::Integer, 0},
        {"CommPort", ColumnType::Text, kCommPortWidth},
        {"Fiscal", ColumnType::Text, 20},
        {"Observatii", ColumnType::Text, 30},
    };
    // Unique keys IndexLogicalNr and IndexCom; the list ascends by logical number.
    auto list = std::make_unique<CsvTable>(
        std::move(columns), std::vector<std::string>{"LogicalNb", "CommPort"}, "LogicalNb");
    // The file format cannot carry a comma inside a text: the dialog's texts are refused.
    list->SetRefuseCommas(true);
    // A port name cut short names another device, or none: it is refused instead.
    list->SetRefuseLongTexts(kRegCommPort);
    return list;
}

namespace {

std::optional<int> OptionalInteger(const CsvTable& list, std::size_t column) {
    if (list.IsNull(column)) {
        return std::nullopt;
    }
    return list.AsInteger(column);
}

}  // namespace

RegisterEntry ReadRegisterEntry(const CsvTable& list) {
    RegisterEntry entry;
    entry.LogicalNb = OptionalInteger(list, kRegLogicalNb);
    entry.ModelType = list.AsText(kRegModelType);
    entry.TranRate = OptionalInteger(list, kRegTranRate);
    entry.DataBits = OptionalInteger(list, kRegDataBits);
    entry.Parity = list.AsText(kRegParity);
    entry.StopBits = OptionalInteger(list, kRegStopBits);
    entry.CommPort = list.AsText(kRegCommPort);
    entry.Fiscal = list.AsText(kRegFiscal);
    entry.Observatii = list.AsText(kRegObservatii);
    return entry;
}

}  // namespace tallyport
