#pragma once

// What the journal's suites share: a journal folder of the test's own with a notice recorder,
// the lines a loaded register holds, and a damaged file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "journal/JournalRecords.h"
#include "journal/ReceiptJournal.h"
#include "support/NoticeRecorder.h"
#include "support/TempFolder.h"

namespace tallyport::testing {

using test::NoticeRecorder;
using test::TempFolder;

inline std::vector<std::string> Lines(const ReceiptJournal::Loaded& loaded, int reg) {
    auto it = loaded.registers.find(reg);
    return it == loaded.registers.end() ? std::vector<std::string>{} : it->second.tranLines;
}

class JournalWriter : public ::testing::Test {
protected:
    std::string Folder() const { return folder_.File("Tallyport.journal"); }

    TempFolder folder_;
    NoticeRecorder notices_;
};

// The file of register 7 with its second of three records damaged.
inline std::string DamagedInTheMiddle() {
    std::string bytes = EncodeRecord(FieldsRecord({"01", "1", "3", ""})) +
                        EncodeRecord(SaleRecord("a")) + EncodeRecord(SaleRecord("b")) +
                        EncodeRecord(SaleRecord("c"));
    const std::size_t second = bytes.find("\ta\n") + 3;
    bytes[second + 11] = 'Z';  // the text of the record of "b"
    return bytes;
}

inline std::string AsideFile(const std::string& folder, const std::string& name) {
    for (const auto& entry : test::NamesIn(folder)) {
        if (entry.rfind(name + ".damaged-", 0) == 0) {
            return folder + "/" + entry;
        }
    }
    return {};
}

}  // namespace tallyport::testing
