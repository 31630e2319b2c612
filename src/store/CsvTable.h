#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
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
// order or ascending by one key column. Rows are visited through a current row, or read by
// position without one (Find, TextAt).
//
// Errors are StoreError with the system's messages. Threads: one thread at a time as the owner
// arranges; LoadTableFromFile and SaveTableToFile hold Mutex() for their whole run. The const
// readers without a current row (Find, TextAt, RowCount, Columns) change nothing, not even a
// cache, so any number of threads may call them at once on a table that no thread changes
// meanwhile (a table published whole after its load, as the article table is).
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

    // Whole table. A new table is open. Close discards every row (and a pending change) and
    // closes; Open gives an empty open table after a Close and changes nothing on an open one.
    // A closed table reads as empty; changing, loading or saving it is refused.
    void Open();
    void Close();
    bool IsOpen() const;
    void EmptyTable();
    std::size_t RowCount() const;

    // Navigation in the current order. After a load the first row is the current row. Eof
    // is true on an empty table and after Next() has been called on the last row (which then
    // stays the current row).
    void First();
    void Next();
    bool Eof() const;
    // The current row's place in the current order (0 for the first row), and a move to a
    // given place (StoreError when there is no row there), as a grid selects a row.
    std::size_t Position() const;
    void MoveTo(std::size_t position);
    // Makes the first row whose value in `column` equals `value` exactly (case counts) the
    // current row; when there is none, the current row stays and the result is false. A text
    // column compares the characters; a number or boolean column compares the value that the
    // text converts to by the file rules (a text that does not convert matches no row); empty
    // text matches a row without a value. A unique-key column is searched through its hash
    // index, never by a scan.
    bool Locate(std::size_t column, std::string_view value);

    // Reading without the current row. Find gives the position of the row that Locate would
    // make current (nullopt when there is none) and moves nothing; TextAt reads a column of the
    // row at a position as AsText does (StoreError when there is no row there).
    std::optional<std::size_t> Find(std::size_t column, std::string_view value) const;
    std::string TextAt(std::size_t position, std::size_t column, char decimalSeparator) const;

    // Reading the current row (while a change is pending, the pending values; on an empty
    // table, values without a value). As text: a text column gives its characters, an integer
    // its decimal digits, a double the general floating format with `decimalSeparator` (the
    // one-argument form uses the regional separator), a boolean "True" or "False", an empty
    // value empty text. The As* forms of another column type convert by the file rules and
    // throw StoreError when the value does not convert.
    std::string AsText(std::size_t column) const;
    std::string AsText(std::size_t column, char decimalSeparator) const;
    std::int32_t AsInteger(std::size_t column) const;  // empty gives 0
    double AsDouble(std::size_t column) const;         // empty gives 0
    bool AsBoolean(std::size_t column) const;          // empty gives false
    bool IsNull(std::size_t column) const;

    // Changing rows: Append (new row) or Edit (the current row; refused on an empty table),
    // set values, then Post or Cancel. Post refuses a duplicate key value with "Duplicate index
    // value. Operation aborted." and leaves the change pending, so that Cancel restores the
    // table as it was. A row without a value in a key column counts as holding the empty
    // value: two such rows collide. While a change is pending, navigation, Delete, a load and
    // another Append or Edit are refused; EmptyTable and Close drop the change.
    void Append();
    void Edit();
    // Sets a column from text as an entry field does: texts end at a NUL and are cut to the
    // width, integers and doubles are converted by the file rules ("." as decimal separator,
    // the file's error messages), a boolean is true for exactly "True", empty text leaves the
    // column without a value. No escapes are undone. A failed conversion leaves the column as
    // it was.
    void SetFromText(std::size_t column, std::string_view text);
    void SetNull(std::size_t column);
    void Post();
    void Cancel();
    bool Editing() const;
    // Removes the current row; refused on an empty table.
    void Delete();

    // A text column of the comma-separated file format cannot carry a comma. With this option
    // on, SetFromText refuses a text holding one (after the cut to the width) with a
    // StoreError "Eroare: Campul <name> nu poate contine virgula!". Rows read from a file are
    // not affected: there a comma always separates values.
    void SetRefuseCommas(bool refuse);
    bool RefusesCommas() const;
    // SetFromText cuts a text to its column's width. A column named here refuses a longer text
    // instead, with a StoreError "Eroare: Campul <name> poate avea cel mult <width> caractere!"
    // (the width in bytes), for a value that is useless cut (a device path). Rows read from a
    // file are cut as ever.
    void SetRefuseLongTexts(std::size_t column);
    bool RefusesLongTexts(std::size_t column) const;

    std::mutex& Mutex() const;

private:
    friend class CsvTableAccess;  // the file reader and writer
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Writes every row in the current order: values joined by ",", CR LF after each line, text
// escapes "%%", "%c", "%n", "%0", doubles with ".". The file is replaced by the program's one
// rule (ReplaceFile in base: only where a plain write is allowed, mode and owner kept, the old
// file whole after a failure). Errors, with the platform's reason: "Cannot create file %s" (the
// file may not be written or created), "Stream write error". A change still pending is not
// written.
void SaveTableToFile(CsvTable& table, const std::string& path);

// Adds one row per line after the rows already held, reading in 8192-byte blocks, then checks
// the unique keys. Errors: "Cannot open file %s", "'%s' is not a valid integer value for field
// '%s'", "'%s' is not a valid floating point value for field '%s'", "Duplicate index value.
// Operation aborted.", "Stream read error". The file is closed also on failure. After a
// conversion error the table holds the rows of the lines before the failing one (the failing
// line adds no row); after a duplicate key it holds every row read.
// In a text value, "%" followed by anything other than "%", "c", "n" or "0", or ending the
// value, is kept as it stands.
void LoadTableFromFile(CsvTable& table, const std::string& path);

}  // namespace tallyport
