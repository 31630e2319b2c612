#pragma once

#include <cstddef>
#include <cstdint>

#include "store/CsvTable.h"
#include "store/RowStore.h"

namespace tallyport {

// What the file reader and writer need of a table beyond its public operations: the rows in
// their storage, and the step that ends a bulk load.
class CsvTableAccess {
public:
    // Throws StoreError unless the table is open and no change is pending.
    static void CheckReadyForLoad(const CsvTable& table);
    static detail::RowStore& Rows(CsvTable& table);
    static std::size_t RowCount(const CsvTable& table);
    static std::uint32_t RowAt(const CsvTable& table, std::size_t position);

    // Takes in the records from `firstNewRecord` on, appended to the storage by a load: puts
    // them in the current order, rebuilds the key indexes and makes the first row current.
    // Returns true when a unique key holds the same value twice (the rows stay).
    static bool FinishLoad(CsvTable& table, std::uint32_t firstNewRecord);
};

namespace messages {
inline constexpr const char* kDuplicateKey = "Duplicate index value. Operation aborted.";
}  // namespace messages

}  // namespace tallyport
