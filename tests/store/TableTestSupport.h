#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/CsvTable.h"
#include "store/RegisterList.h"
#include "store/StoreError.h"
#include "support/OpenHandles.h"
#include "support/TempFolder.h"

namespace tallyport::testing {

// Descriptors (Windows: handles) open in this process right now.
inline int OpenDescriptorCount() {
    return test::OpenHandleCount();
}

// The six columns of the article file, in a table with no key and file order.
inline std::unique_ptr<CsvTable> MakeSixColumnTable(std::vector<std::string> keys = {}) {
    return std::make_unique<CsvTable>(std::vector<ColumnDef>{{"CodPLU", ColumnType::Text, 13},
                                                             {"Dept", ColumnType::Text, 2},
                                                             {"VATGroup", ColumnType::Integer, 0},
                                                             {"Price", ColumnType::Double, 0},
                                                             {"Comma", ColumnType::Integer, 0},
                                                             {"Name", ColumnType::Text, 40}},
                                      std::move(keys));
}

// Every row in the current order, each value as text with "." for doubles, "|" between values
// and "~" for a value that is empty.
inline std::vector<std::string> Dump(CsvTable& table) {
    std::vector<std::string> rows;
    for (table.First(); !table.Eof(); table.Next()) {
        std::string row;
        for (std::size_t c = 0; c < table.Columns().size(); ++c) {
            if (c > 0) {
                row += '|';
            }
            row += table.IsNull(c) ? std::string("~") : table.AsText(c, '.');
        }
        rows.push_back(row);
    }
    return rows;
}

// Runs `action` and returns the StoreError message it threw ("" when it threw none); any
// other exception passes through and fails the test.
template <typename Action>
std::string ErrorOf(Action&& action) {
    try {
        action();
    } catch (const StoreError& error) {
        return error.what();
    }
    return {};
}

// Adds a register as the cash-register dialog does: every field set from its text.
inline void AddRegister(CsvTable& list, const std::string& logicalNb, const std::string& port,
                        const std::string& remark = "CASA") {
    list.Append();
    list.SetFromText(kRegLogicalNb, logicalNb);
    list.SetFromText(kRegModelType, "Datecs MP55");
    list.SetFromText(kRegTranRate, "9600");
    list.SetFromText(kRegDataBits, "8");
    list.SetFromText(kRegParity, "None");
    list.SetFromText(kRegStopBits, "1");
    list.SetFromText(kRegCommPort, port);
    list.SetFromText(kRegFiscal, "DA0000000" + logicalNb);
    list.SetFromText(kRegObservatii, remark);
    list.Post();
}

}  // namespace tallyport::testing
