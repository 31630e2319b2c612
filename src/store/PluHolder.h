#pragma once

#include <memory>
#include <string>

#include "store/CsvTable.h"

namespace tallyport {

// Columns of the article table, in file order.
enum ArticleColumn : std::size_t {
    kArtCodPLU = 0,  // text 13, unique key IndexPLU
    kArtDept,        // text 2
    kArtVATGroup,    // integer
    kArtPrice,       // double
    kArtComma,       // integer
    kArtName,        // text 40
};

// A new, open, empty article table: six columns, unique key on CodPLU, file order.
std::unique_ptr<CsvTable> MakeArticleTable();

// The article table holder: loads the article file into the table and reloads it whenever the
// file has become newer. One per process, shared by all workers; every use happens under
// LinkLock, so the holder takes no lock of its own (a load holds the table's own lock).
class TPluH {
public:
    // Loads the file into `table` (not owned; emptied first). Throws StoreError.
    TPluH(std::string fileName, CsvTable& table);

    // Reloads when the file's modification time is later than FileTime; a missing file or an
    // equal time does nothing. Throws StoreError on a failed reload, FileTime unchanged.
    void ReloadIfChanged();

    CsvTable& Table() { return table_; }
    const std::string& FileName() const { return fileName_; }
    // Modification time at the last successful load, in nanoseconds since the epoch; 0 when the
    // file did not exist at creation.
    std::int64_t FileTime() const { return fileTime_; }

private:
    std::string fileName_;
    std::int64_t fileTime_ = 0;
    CsvTable& table_;
};

}  // namespace tallyport
