#include "store/RowStore.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "store/StoreError.h"

namespace tallyport::detail {

namespace {

// Texts up to this width are kept inside the record: a key such as a 13-digit article code is
// then compared without touching a second cache line.
constexpr std::size_t kInlineTextWidth = 16;
constexpr std::size_t kFirstTextBlock = 4096;
constexpr std::size_t kLargestTextBlock = std::size_t{1} << 20;

std::uint8_t LengthBytesFor(std::size_t width) {
    if (width <= 0xFF) {
        return 1;
    }
    return width <= 0xFFFF ? 2 : 4;
}

std::size_t FieldSize(const ColumnSlot& slot) {
    switch (slot.type) {
        case ColumnType::Text:
            return slot.lengthBytes + (slot.inlineText ? slot.width : 0);
        case ColumnType::Integer:
            return sizeof(std::int32_t);
        case ColumnType::Double:
            return sizeof(double);
        case ColumnType::Boolean:
            return 1;
    }
    return 0;
}

template <typename T>
T Load(const std::byte* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T>
void Store(std::byte* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

std::uint64_t Mix64(std::uint64_t x) {
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    x *= 0xD6E8FEB86659FD93ULL;
    x ^= x >> 32;
    return x;
}

}  // namespace

RowStore::RowStore(const std::vector<ColumnDef>& columns) {
    nullBytes_ = (columns.size() + 7) / 8;
    std::size_t offset = nullBytes_;
    slots_.resize(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        ColumnSlot& slot = slots_[c];
        slot.type = columns[c].type;
        if (slot.type == ColumnType::Text) {
            std::size_t width =
                std::min<std::size_t>(columns[c].width, std::numeric_limits<std::uint32_t>::max());
            slot.width = static_cast<std::uint32_t>(width);
            slot.inlineText = width <= kInlineTextWidth;
            slot.lengthBytes = slot.inlineText ? 1 : LengthBytesFor(width);
            if (!slot.inlineText) {
                slot.outOfLineRank = static_cast<std::uint32_t>(outOfLineColumns_.size());
                outOfLineColumns_.push_back(c);
                maxOutOfLineBytes_ += width;
            }
        }
    }
    hasOutOfLine_ = !outOfLineColumns_.empty();
    if (hasOutOfLine_) {
        textBaseOffset_ = static_cast<std::uint32_t>(offset);
        offset += sizeof(const char*);
    }
    for (ColumnSlot& slot : slots_) {
        slot.offset = static_cast<std::uint32_t>(offset);
        offset += FieldSize(slot);
    }
    recordSize_ = std::max<std::size_t>(offset, 1);
    scratch_ = std::make_unique_for_overwrite<std::byte[]>(recordSize_);
    nextBlockSize_ = kFirstTextBlock;
}

void RowStore::Clear() {
    chunks_.clear();
    chunks_.shrink_to_fit();
    textBlocks_.clear();
    textBlocks_.shrink_to_fit();
    size_ = 0;
    textFree_ = nullptr;
    textLeft_ = 0;
    nextBlockSize_ = kFirstTextBlock;
}

bool RowStore::IsNull(std::uint32_t row, std::size_t column) const {
    const std::byte* record = Record(row);
    return (std::to_integer<unsigned>(record[column / 8]) >> (column % 8)) & 1u;
}

std::size_t RowStore::TextLength(const std::byte* record, const ColumnSlot& slot) const {
    const std::byte* at = record + slot.offset;
    switch (slot.lengthBytes) {
        case 1:
            return std::to_integer<std::size_t>(at[0]);
        case 2:
            return Load<std::uint16_t>(at);
        default:
            return Load<std::uint32_t>(at);
    }
}

std::string_view RowStore::Text(std::uint32_t row, std::size_t column) const {
    const std::byte* record = Record(row);
    const ColumnSlot& slot = slots_[column];
    std::size_t length = TextLength(record, slot);
    if (slot.inlineText) {
        return {reinterpret_cast<const char*>(record + slot.offset + 1), length};
    }
    if (length == 0) {
        return {};
    }
    const char* text = Load<const char*>(record + textBaseOffset_);
    for (std::uint32_t r = 0; r < slot.outOfLineRank; ++r) {
        text += TextLength(record, slots_[outOfLineColumns_[r]]);
    }
    return {text, length};
}

std::int32_t RowStore::Integer(std::uint32_t row, std::size_t column) const {
    return Load<std::int32_t>(Record(row) + slots_[column].offset);
}

double RowStore::Real(std::uint32_t row, std::size_t column) const {
    return Load<double>(Record(row) + slots_[column].offset);
}

bool RowStore::Boolean(std::uint32_t row, std::size_t column) const {
    return std::to_integer<int>(Record(row)[slots_[column].offset]) != 0;
}

Value RowStore::Get(std::uint32_t row, std::size_t column) const {
    Value value;
    value.null = IsNull(row, column);
    switch (slots_[column].type) {
        case ColumnType::Text:
            value.text = Text(row, column);
            break;
        case ColumnType::Integer:
            value.integer = value.null ? 0 : Integer(row, column);
            break;
        case ColumnType::Double:
            value.real = value.null ? 0 : Real(row, column);
            break;
        case ColumnType::Boolean:
            value.boolean = !value.null && Boolean(row, column);
            break;
    }
    return value;
}

void RowStore::InitRecord(std::byte* record) const {
    std::memset(record, 0, recordSize_);
    std::memset(record, 0xFF, nullBytes_);
}

char* RowStore::ReserveText(std::size_t bytes) {
    if (bytes <= textLeft_) {
        return textFree_;
    }
    std::size_t blockSize = std::max(nextBlockSize_, bytes);
    textBlocks_.push_back(std::make_unique_for_overwrite<char[]>(blockSize));
    textFree_ = textBlocks_.back().get();
    textLeft_ = blockSize;
    nextBlockSize_ = std::min(nextBlockSize_ * 2, kLargestTextBlock);
    return textFree_;
}

RowStore::Writer RowStore::NewRow(std::size_t textBytes) {
    if (size_ == kNoRow) {
        throw StoreError("The table cannot hold more rows");
    }
    if ((size_ >> kChunkShift) == chunks_.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<std::byte[]>(
            (std::size_t{1} << kChunkShift) * recordSize_));
    }
    char* text = textBytes > 0 ? ReserveText(textBytes) : textFree_;
    std::byte* record = Record(size_);
    InitRecord(record);
    return Writer(*this, record, text, textBytes, kNoRow);
}

RowStore::Writer RowStore::Overwrite(std::uint32_t row, std::size_t textBytes) {
    char* text = textBytes > 0 ? ReserveText(textBytes) : textFree_;
    InitRecord(scratch_.get());
    return Writer(*this, scratch_.get(), text, textBytes, row);
}

RowStore::Writer::Writer(RowStore& store, std::byte* record, char* text, std::size_t textBytes,
                         std::uint32_t overwrite)
    : store_(store),
      record_(record),
      textBegin_(text),
      textCursor_(text),
      textEnd_(text + textBytes),
      overwrite_(overwrite) {}

void RowStore::Writer::ClearNull(std::size_t column) {
    record_[column / 8] &= ~std::byte(1u << (column % 8));
}

void RowStore::Writer::SetText(std::size_t column, std::string_view text) {
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
            Store(at, static_cast<std::uint16_t>(text.size()));
            break;
        default:
            Store(at, static_cast<std::uint32_t>(text.size()));
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

void RowStore::Writer::SetInteger(std::size_t column, std::int32_t value) {
    ClearNull(column);
    Store(record_ + store_.slots_[column].offset, value);
}

void RowStore::Writer::SetReal(std::size_t column, double value) {
    ClearNull(column);
    Store(record_ + store_.slots_[column].offset, value);
}

void RowStore::Writer::SetBoolean(std::size_t column, bool value) {
    ClearNull(column);
    record_[store_.slots_[column].offset] = std::byte(value ? 1 : 0);
}

void RowStore::Writer::Set(std::size_t column, const Value& value) {
    if (value.null) {
        return;
    }
    switch (store_.slots_[column].type) {
        case ColumnType::Text:
            SetText(column, value.text);
            break;
        case ColumnType::Integer:
            SetInteger(column, value.integer);
            break;
        case ColumnType::Double:
            SetReal(column, value.real);
            break;
        case ColumnType::Boolean:
            SetBoolean(column, value.boolean);
            break;
    }
}

std::uint32_t RowStore::Writer::Commit() {
    if (store_.hasOutOfLine_) {
        Store(record_ + store_.textBaseOffset_, static_cast<const char*>(textBegin_));
    }
    std::size_t used = static_cast<std::size_t>(textCursor_ - textBegin_);
    if (used > 0) {
        store_.textFree_ += used;
        store_.textLeft_ -= used;
    }
    if (overwrite_ != kNoRow) {
        std::memcpy(store_.Record(overwrite_), record_, store_.recordSize_);
        return overwrite_;
    }
    return store_.size_++;
}

bool SameValue(ColumnType type, const Value& a, const Value& b) {
    if (type == ColumnType::Text) {
        return a.text == b.text;
    }
    if (a.null || b.null) {
        return a.null == b.null;
    }
    switch (type) {
        case ColumnType::Integer:
            return a.integer == b.integer;
        case ColumnType::Double:
            return a.real == b.real;
        case ColumnType::Boolean:
            return a.boolean == b.boolean;
        case ColumnType::Text:
            break;
    }
    return false;
}

bool LessValue(ColumnType type, const Value& a, const Value& b) {
    if (type == ColumnType::Text) {
        return a.text < b.text;  // byte order, as unsigned characters
    }
    if (a.null || b.null) {
        return a.null && !b.null;
    }
    switch (type) {
        case ColumnType::Integer:
            return a.integer < b.integer;
        case ColumnType::Double:
            return a.real < b.real;
        case ColumnType::Boolean:
            return a.boolean < b.boolean;
        case ColumnType::Text:
            break;
    }
    return false;
}

std::uint64_t HashBytes(const char* data, std::size_t size) {
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

std::uint64_t HashValue(ColumnType type, const Value& value) {
    if (type == ColumnType::Text) {
        return HashBytes(value.text.data(), value.text.size());
    }
    if (value.null) {
        return 0x5BD1E9955BD1E995ULL;
    }
    switch (type) {
        case ColumnType::Integer:
            return Mix64(static_cast<std::uint32_t>(value.integer) ^ 0x1000000000ULL);
        case ColumnType::Double: {
            double normal = value.real == 0 ? 0.0 : value.real;  // -0 equals 0
            std::uint64_t bits;
            std::memcpy(&bits, &normal, sizeof bits);
            return Mix64(bits ^ 0x2000000000ULL);
        }
        case ColumnType::Boolean:
            return Mix64(value.boolean ? 0x3000000001ULL : 0x3000000000ULL);
        case ColumnType::Text:
            break;
    }
    return 0;
}

}  // namespace tallyport::detail
