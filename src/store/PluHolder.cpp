#include "store/PluHolder.h"

namespace tallyport {

std::unique_ptr<CsvTable> MakeArticleTable() {
    std::vector<ColumnDef> columns = {
        {"CodPLU", ColumnType::Text, 13},     {"Dept", ColumnType::Text, 2},
        {"VATGroup", ColumnType::Integer, 0}, {"Price", ColumnType::Double, 0},
        {"Comma", ColumnType::Integer, 0},    {"Name", ColumnType::Text, 40},
    };
    // Unique key IndexPLU; the rows keep the order of the file's lines.
    return std::make_unique<CsvTable>(std::move(columns), std::vector<std::string>{"CodPLU"});
}

TPluH::TPluH(std::string fileName, CsvTable& table)
    : fileName_(std::move(fileName)), table_(table) {
    stamp_ = detail::StampOf(fileName_);
    if (!table_.IsOpen()) {
        table_.Open();
    }
    table_.EmptyTable();
    LoadTableFromFile(table_, fileName_);
}

void TPluH::ReloadIfChanged() {
    std::optional<detail::FileStamp> now = detail::StampOf(fileName_);
    if (!now || now == stamp_) {
        return;
    }
    table_.EmptyTable();
    LoadTableFromFile(table_, fileName_);
    // The stamp taken before the load: when the back office rewrote the file while it was being
    // read, the file differs from this and the next request reads it again.
    stamp_ = now;
}

}  // namespace tallyport
