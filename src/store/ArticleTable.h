#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

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

// One article as a request reads it: every column as text, the price with "." whatever the
// regional separator (the request turns it into the reply's and the record's forms), a column
// without a value as empty text.
struct ArticleRecord {
    std::string code;
    std::string dept;
    std::string vatGroup;
    std::string price;
    std::string comma;
    std::string name;
};

// The article file as it was at one load: built whole by the constructor, then only read. Held
// through std::shared_ptr<const ArticleTable> (the holder publishes one, a request keeps the one
// it took for as long as it reads it), so any number of threads may search one at the same time
// without a lock; nothing a reader touches changes after the construction.
class ArticleTable {
public:
    // Loads the article file at `path`. Throws StoreError with LoadTableFromFile's messages.
    explicit ArticleTable(const std::string& path);
    ArticleTable(const ArticleTable&) = delete;
    ArticleTable& operator=(const ArticleTable&) = delete;

    // The article whose CodPLU is exactly `code` (case counts, nothing padded or trimmed).
    std::optional<ArticleRecord> Find(std::string_view code) const;
    std::size_t Count() const { return rows_->RowCount(); }

private:
    std::unique_ptr<CsvTable> rows_;
};

}  // namespace tallyport
