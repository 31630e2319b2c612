// Reading and writing the comma-separated table files.

#include <charconv>
#include <cstring>
#include <string>

#include "base/FileReplace.h"
#include "base/NumberText.h"
#include "base/Utf8Text.h"
#include "store/ByteSearch.h"
#include "store/CsvTable.h"
#include "store/FileAccess.h"
#include "store/LineSplitter.h"
#include "store/StoreError.h"
#include "store/TableAccess.h"
#include "store/ValueText.h"

namespace tallyport {

namespace {

constexpr const char* kCannotOpen = "Cannot open file %s";
constexpr const char* kCannotCreate = "Cannot create file %s";
constexpr const char* kWriteError = "Stream write error";
constexpr const char* kReadError = "Stream read error";
constexpr std::size_t kBlockSize = 8192;

// Turns the lines of a file into rows of a table. The row of a line that fails to convert is
// not added: the table keeps only whole lines.
class RowParser {
public:
    explicit RowParser(CsvTable& table)
        : columns_(table.Columns()), rows_(CsvTableAccess::Rows(table)) {}

    void AddRow(const char* begin, const char* end) {
        std::size_t lineLength = static_cast<std::size_t>(end - begin);
        detail::RowStore::Writer writer =
            rows_.NewRow(std::min(rows_.MaxOutOfLineBytes(), lineLength));
        const std::size_t columnCount = columns_.size();
        // Escapes are rare: one look over the whole line spares a look into every text.
        lineHasPercent_ = detail::FindByte(begin, end, '%') != end;
        const char* value = begin;
        for (std::size_t column = 0; column < columnCount; ++column) {
            const char* stop = detail::FindByte(value, end, ',');
            if (stop != value) {
                SetValue(writer, column,
                         std::string_view(value, static_cast<std::size_t>(stop - value)));
            }
            if (stop == end) {
                break;
            }
            value = stop + 1;
        }
        writer.Commit();
    }

private:
    void SetValue(detail::RowStore::Writer& writer, std::size_t column, std::string_view text) {
        const ColumnDef& def = columns_[column];
        switch (def.type) {
            case ColumnType::Text:
                writer.SetText(column, Unescape(text, def.width));
                return;
            case ColumnType::Integer:
                if (auto number = detail::ParseTableInteger(text)) {
                    writer.SetInteger(column, *number);
                    return;
                }
                throw StoreError(detail::NotIntegerMessage(text, def.name));
            case ColumnType::Double:
                if (auto number = detail::ParseTableDouble(text)) {
                    writer.SetReal(column, *number);
                    return;
                }
                throw StoreError(detail::NotFloatMessage(text, def.name));
            case ColumnType::Boolean:
                writer.SetBoolean(column, detail::ParseTableBoolean(text));
                return;
        }
    }

    // Undoes "%%", "%c", "%n" and "%0" (the text ends there), keeps any other "%" as it stands
    // and cuts the result to `width` bytes without splitting a UTF-8 character.
    std::string_view Unescape(std::string_view text, std::size_t width) {
        if (!lineHasPercent_ || detail::FindByte(text.data(), text.data() + text.size(), '%') ==
                                    text.data() + text.size()) {
            return CutToWidth(text, width);
        }
        decoded_.clear();
        // Three bytes beyond the width tell whether the cut would split a character.
        for (std::size_t i = 0; i < text.size() && decoded_.size() < width + 3;) {
            char c = text[i];
            if (c != '%' || i + 1 == text.size()) {
                decoded_.push_back(c);
                ++i;
                continue;
            }
            char letter = text[i + 1];
            if (letter == '0') {
                break;
            }
            if (letter == '%' || letter == 'c' || letter == 'n') {
                decoded_.push_back(letter == '%' ? '%' : letter == 'c' ? '\r' : '\n');
                i += 2;
            } else {
                decoded_.push_back('%');
                ++i;
            }
        }
        return CutToWidth(decoded_, width);
    }

    const std::vector<ColumnDef>& columns_;
    detail::RowStore& rows_;
    std::string decoded_;
    bool lineHasPercent_ = false;
};

void AppendEscaped(std::string& line, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '%':
                line += "%%";
                break;
            case '\r':
                line += "%c";
                break;
            case '\n':
                line += "%n";
                break;
            case '\0':
                line += "%0";
                break;
            default:
                line.push_back(c);
                break;
        }
    }
}

void AppendValue(std::string& line, ColumnType type, const detail::Value& value) {
    if (value.null) {
        return;
    }
    switch (type) {
        case ColumnType::Text:
            AppendEscaped(line, value.text);
            break;
        case ColumnType::Integer: {
            char buffer[16];
            auto result = std::to_chars(buffer, buffer + sizeof buffer, value.integer);
            line.append(buffer, result.ptr);
            break;
        }
        case ColumnType::Double:
            line += FormatGeneral(value.real, '.');
            break;
        case ColumnType::Boolean:
            line += value.boolean ? "True" : "False";
            break;
    }
}

}  // namespace

void SaveTableToFile(CsvTable& table, const std::string& path) {
    std::lock_guard<std::mutex> lock(table.Mutex());
    if (!table.IsOpen()) {
        throw StoreError("Cannot perform this operation on a closed table");
    }
    const std::vector<ColumnDef>& columns = table.Columns();
    const detail::RowStore& rows = CsvTableAccess::Rows(table);
    const std::size_t count = CsvTableAccess::RowCount(table);
    // The whole file first, then one replacement: a failure leaves the old file as it was.
    std::string content;
    for (std::size_t position = 0; position < count; ++position) {
        std::uint32_t row = CsvTableAccess::RowAt(table, position);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            if (c > 0) {
                content.push_back(',');
            }
            AppendValue(content, columns[c].type, rows.Get(row, c));
        }
        content += "\r\n";
    }
    const ReplaceOutcome outcome = ReplaceFile(path, content);
    switch (outcome.failed) {
        case ReplaceOutcome::Step::None:
            return;
        case ReplaceOutcome::Step::Create:
            throw StoreError(detail::FillIn(kCannotCreate, path), outcome.error);
        case ReplaceOutcome::Step::Write:
            throw StoreError(kWriteError, outcome.error);
    }
}

void LoadTableFromFile(CsvTable& table, const std::string& path) {
    std::lock_guard<std::mutex> lock(table.Mutex());
    CsvTableAccess::CheckReadyForLoad(table);
    detail::FileReader file;
    if (!file.Open(path)) {
        throw StoreError(detail::FillIn(kCannotOpen, path));
    }
    const std::uint32_t firstNew = CsvTableAccess::Rows(table).Size();
    RowParser parser(table);
    auto addRow = [&parser](const char* begin, const char* end) { parser.AddRow(begin, end); };
    try {
        LineSplitter lines;
        char block[kBlockSize];
        for (;;) {
            std::ptrdiff_t got = file.Read(block, sizeof block);
            if (got < 0) {
                throw StoreError(kReadError);
            }
            if (got == 0) {
                break;
            }
            lines.Feed(block, static_cast<std::size_t>(got), addRow);
        }
        lines.Finish(addRow);
    } catch (...) {
        // The rows of the lines before the failure stay, ordered and indexed.
        CsvTableAccess::FinishLoad(table, firstNew);
        throw;
    }
    if (CsvTableAccess::FinishLoad(table, firstNew)) {
        throw StoreError(messages::kDuplicateKey);
    }
}

}  // namespace tallyport
