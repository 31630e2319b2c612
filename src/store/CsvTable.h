#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace tallyport {

enum class ColumnType { Text, Integer, Double, Boolean };

struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::Text;
    std::size_t width = 0;  // text columns: longest text kept
};

// An in-memory table with typed columns: any value may be empty, zero or more unique keys (one
// column each, checked on post and after a load), and a current order that is either insertion
// order or ascending by one key column. Rows are visited through a current row.
//
// Errors are StoreError with the system's messages. Threads: one thread at a time as the owner
// arranges; LoadTableFromFile and SaveTableToFile hold Mutex() for their whole run.
class CsvTable {
public:
    // `orderBy` names the column the rows ascend by; empty keeps insertion order.
    CsvTable(std::vector<ColumnDef> columns, std::vector<std::string> uniqueKeyColumns,
             std::string orderBy = {});
    ~CsvTable();
    CsvTable(const CsvTable&) = delete;
    CsvTable& operator=(const CsvTable&) = delete;

    const std::vector<ColumnDef>& Columns() const;
    std::size_t ColumnIndex(std::string_view name) const;  // throws StoreError when unknown

    // Whole table. Close discards every row; Open gives an empty open table.
    void Open();
    void Close();
    bool IsOpen() const;
    void EmptyTable();
    std::size_t RowCount() const;

    // Navigation in the current order.
    void First();
    void Next();
    bool Eof() const;
    // Makes the first row whose value in `column` equals `value` exactly (case counts) the
    // current row. A unique-key column is searched through its hash index, never by a scan.
    bool Locate(std::size_t column, std::string_view value);

    // Reading the current row. As text: a text column gives its characters, an integer its
    // decimal digits, a double the general floating format with `decimalSeparator` (the
    // one-argument form uses the regional separator), an empty value empty text.
    std::string AsText(std::size_t column) const;
    std::string AsText(std::size_t column, char decimalSeparator) const;
    std::int32_t AsInteger(std::size_t column) const;  // empty gives 0
    double AsDouble(std::size_t column) const;         // empty gives 0
    bool AsBoolean(std::size_t column) const;          // empty gives false
    bool IsNull(std::size_t column) const;

    // Changing rows: Append (new row) or Edit (the current row), set values, then Post or
    // Cancel. Post refuses a duplicate key value with "Duplicate index value. Operation
    // aborted." and leaves the change pending, so that Cancel restores the table as it was.
    void Append();
    void Edit();
    // Sets a column from text as an entry field does: texts are cut to the width, integers and
    // doubles converted by the file rules (the file's error messages), empty text leaves the
    // column without a value. No escapes are undone.
    void SetFromText(std::size_t column, std::string_view text);
    void SetNull(std::size_t column);
    void Post();
    void Cancel();
    bool Editing() const;
    // Removes the current row; refused on an empty table.
    void Delete();

    std::mutex& Mutex() const;

private:
    friend class CsvTableAccess;  // the file reader and writer
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes every row in the current order: values joined by ",", CR LF after each line, text
// escapes "%%", "%c", "%n", "%0", doubles with ".". Errors: "Cannot create file %s",
// "Stream write error". The file is closed also on failure.
void SaveTableToFile(CsvTable& table, const std::string& path);

// Adds one row per line after the rows already held, reading in 8192-byte blocks, then checks
// the unique keys. Errors: "Cannot open file %s", "'%s' is not a valid integer value for field
// '%s'", "'%s' is not a valid floating point value for field '%s'", "Duplicate index value.
// Operation aborted.". The file is closed also on failure.
void LoadTableFromFile(CsvTable& table, const std::string& path);

}  // namespace tallyport
