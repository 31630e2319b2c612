#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "store/CsvTable.h"

namespace tallyport::detail {

// One value of a row as the table's operations see it. A text column without a value reads as
// empty text, and empty text is no value: the two are the same thing for texts.
struct Value {
    bool null = true;
    std::string_view text;
    std::int32_t integer = 0;
    double real = 0;
    bool boolean = false;
};

// Where one column lives inside a row record.
struct ColumnSlot {
    ColumnType type = ColumnType::Text;
    std::uint32_t offset = 0;         // numbers: the value; texts: the length field
    std::uint8_t lengthBytes = 0;     // texts: 1, 2 or 4
    bool inlineText = false;          // short texts: the characters follow the length field
    std::uint32_t width = 0;          // texts: longest text kept
    std::uint32_t outOfLineRank = 0;  // long texts: position among the long texts of a row
};

// The rows of one table, stored row-wise: every row is a fixed-size record (null bitmap,
// numbers, short texts inline, lengths of long texts) in chunks that never move, and the long
// texts of a row lie one after another in a text arena that the record points to. Records are
// only appended or overwritten in place; a deleted row leaves its record unused until Clear().
// Owned by its table; not thread-safe on its own.
class RowStore {
public:
    explicit RowStore(const std::vector<ColumnDef>& columns);

    std::uint32_t Size() const { return size_; }  // records, unused ones included
    void Clear();                                 // frees every record and text

    bool IsNull(std::uint32_t row, std::size_t column) const;
    std::string_view Text(std::uint32_t row, std::size_t column) const;
    std::int32_t Integer(std::uint32_t row, std::size_t column) const;
    double Real(std::uint32_t row, std::size_t column) const;
    bool Boolean(std::uint32_t row, std::size_t column) const;
    Value Get(std::uint32_t row, std::size_t column) const;

    const ColumnSlot& Slot(std::size_t column) const { return slots_[column]; }
    std::size_t ColumnCount() const { return slots_.size(); }
    // Upper bound of the long-text bytes one row can hold.
    std::size_t MaxOutOfLineBytes() const { return maxOutOfLineBytes_; }

    // Writes one row. Values are set in increasing column order, each at most once; columns
    // not set stay without a value; the long texts together must fit the bytes asked for.
    // Nothing is visible until Commit(); a writer dropped without Commit() leaves the store as
    // it was (its text bytes are reused by the next row).
    class Writer {
    public:
        void SetText(std::size_t column, std::string_view text);  // already cut to the width
        void SetInteger(std::size_t column, std::int32_t value);
        void SetReal(std::size_t column, double value);
        void SetBoolean(std::size_t column, bool value);
        void Set(std::size_t column, const Value& value);
        // Makes the row visible; returns its record number.
        std::uint32_t Commit();

    private:
        friend class RowStore;
        Writer(RowStore& store, std::byte* record, char* text, std::size_t textBytes,
               std::uint32_t overwrite);
        void ClearNull(std::size_t column);

        RowStore& store_;
        std::byte* record_;
        char* textBegin_;
        char* textCursor_;
        [[maybe_unused]] char* textEnd_;  // checked in debug builds
        std::uint32_t overwrite_;         // record to replace, or kNoRow for a new row
    };

    static constexpr std::uint32_t kNoRow = 0xFFFFFFFFu;

    // A writer for a new row whose long texts need at most `textBytes` bytes.
    Writer NewRow(std::size_t textBytes);
    // A writer that replaces the values of `row` on Commit().
    Writer Overwrite(std::uint32_t row, std::size_t textBytes);

private:
    static constexpr unsigned kChunkShift = 12;  // 4096 records per chunk
    static constexpr std::uint32_t kChunkMask = (1u << kChunkShift) - 1;

    const std::byte* Record(std::uint32_t row) const {
        return chunks_[row >> kChunkShift].get() + (row & kChunkMask) * recordSize_;
    }
    std::byte* Record(std::uint32_t row) {
        return chunks_[row >> kChunkShift].get() + (row & kChunkMask) * recordSize_;
    }
    std::size_t TextLength(const std::byte* record, const ColumnSlot& slot) const;
    char* ReserveText(std::size_t bytes);
    void InitRecord(std::byte* record) const;

    std::vector<ColumnSlot> slots_;
    std::size_t recordSize_ = 0;
    std::size_t nullBytes_ = 0;
    std::uint32_t textBaseOffset_ = 0;  // where the pointer to the row's long texts lies
    bool hasOutOfLine_ = false;
    std::size_t maxOutOfLineBytes_ = 0;
    std::vector<std::size_t> outOfLineColumns_;  // long-text columns in column order

    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::uint32_t size_ = 0;
    std::unique_ptr<std::byte[]> scratch_;  // the record being overwritten is built here

    std::vector<std::unique_ptr<char[]>> textBlocks_;
    char* textFree_ = nullptr;  // first free byte of the last block
    std::size_t textLeft_ = 0;  // free bytes after it
    std::size_t nextBlockSize_ = 0;
};

template <typename T>
inline void StoreBytes(std::byte* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

inline void RowStore::Writer::ClearNull(std::size_t column) {
    record_[column / 8] &= ~std::byte(1u << (column % 8));
}

inline void RowStore::Writer::SetText(std::size_t column, std::string_view text) {
    if (text.empty()) {
        return;
    }
    const ColumnSlot& slot = store_.slots_[column];
    assert(text.size() <= slot.width);
    ClearNull(column);
    std::byte* at = record_ + slot.offset;
    switch (slot.lengthBytes) {
        case 1:
            at[0] = static_cast<std::byte>(text.size());
            break;
        case 2:
            StoreBytes(at, static_cast<std::uint16_t>(text.size()));
            break;
        default:
            StoreBytes(at, static_cast<std::uint32_t>(text.size()));
            break;
    }
    if (slot.inlineText) {
        std::memcpy(at + 1, text.data(), text.size());
        return;
    }
    assert(static_cast<std::size_t>(textEnd_ - textCursor_) >= text.size());
    std::memcpy(textCursor_, text.data(), text.size());
    textCursor_ += text.size();
}

inline void RowStore::Writer::SetInteger(std::size_t column, std::int32_t value) {
    ClearNull(column);
    StoreBytes(record_ + store_.slots_[column].offset, value);
}

inline void RowStore::Writer::SetReal(std::size_t column, double value) {
    ClearNull(column);
    StoreBytes(record_ + store_.slots_[column].offset, value);
}

inline void RowStore::Writer::SetBoolean(std::size_t column, bool value) {
    ClearNull(column);
    record_[store_.slots_[column].offset] = std::byte(value ? 1 : 0);
}

// Values of one column type compared as the unique keys and the order need them.
bool SameValue(ColumnType type, const Value& a, const Value& b);
bool LessValue(ColumnType type, const Value& a, const Value& b);  // no value sorts first

inline std::uint64_t Mix64(std::uint64_t x) {
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    return x;
}

// A 64-bit hash of a byte string.
inline std::uint64_t HashBytes(const char* data, std::size_t size) {
    std::uint64_t h = 0x9E3779B97F4A7C15ULL ^ (size * 0xC2B2AE3D27D4EB4FULL);
    while (size >= 8) {
        std::uint64_t word;
        std::memcpy(&word, data, 8);
        h = (h ^ word) * 0x9E3779B97F4A7C15ULL;
        h ^= h >> 29;
        data += 8;
        size -= 8;
    }
    if (size > 0) {
        std::uint64_t word = 0;
        std::memcpy(&word, data, size);
        h = (h ^ word) * 0x9E3779B97F4A7C15ULL;
    }
    return Mix64(h);
}

}  // namespace tallyport::detail
