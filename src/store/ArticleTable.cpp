#include "store/ArticleTable.h"

#include <vector>

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

ArticleTable::ArticleTable(const std::string& path) : rows_(MakeArticleTable()) {
    LoadTableFromFile(*rows_, path);
}

std::optional<ArticleRecord> ArticleTable::Find(std::string_view code) const {
    const std::optional<std::size_t> at = rows_->Find(kArtCodPLU, code);
    if (!at) {
        return std::nullopt;
    }
    // The separator of the integer columns does not matter; the price's is fixed.
    auto text = [this, at](ArticleColumn column) { return rows_->TextAt(*at, column, '.'); };
    return ArticleRecord{text(kArtCodPLU), text(kArtDept),  text(kArtVATGroup),
                         text(kArtPrice),  text(kArtComma), text(kArtName)};
}

}  // namespace tallyport
