#pragma once

#include <memory>
#include <optional>
#include <string>

#include "store/CsvTable.h"
#include "store/FileAccess.h"

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
// file has changed (see FileStamp: another file, size, or modification or status-change time). One
// per process, shared by all workers; every use happens under LinkLock, so the holder takes no lock
// of its own (a load holds the table's own lock).
class TPluH {
public:
    // Loads the file into `table` (not owned; emptied first). Throws StoreError.
    TPluH(std::string fileName, CsvTable& table);

    // Reloads when the file differs from the one last loaded: another file (device, inode), or
    // another size, modification time or status-change time, so that a rewrite within one tick
    // of a coarse clock is seen too. A missing file or the same stamp does nothing. Throws
    // StoreError on a failed reload, the stamp unchanged (so the next call tries again).
    void ReloadIfChanged();

    CsvTable& Table() { return table_; }
    const std::string& FileName() const { return fileName_; }
    // Modification time at the last successful load, in nanoseconds since the epoch; 0 when the
    // file did not exist at creation.
    std::int64_t FileTime() const { return stamp_ ? stamp_->modified : 0; }

private:
    std::string fileName_;
    std::optional<detail::FileStamp> stamp_;  // of the file last loaded; none: did not exist
    CsvTable& table_;
};

}  // namespace tallyport
