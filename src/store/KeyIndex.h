#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "store/CsvTable.h"
#include "store/LargeBuffer.h"
#include "store/RowStore.h"

namespace tallyport::detail {

inline void PrefetchForWrite(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address, 1);
#else
    (void)address;
#endif
}

// A key as the index holds it: a few bytes that stand for the key's value. For a short text
// (width up to 16), a number or a boolean the image is the value itself, so two equal images
// are two equal keys and a search needs nothing but the index; for a longer text it is 32 bits
// of the text's hash, and a matching entry is confirmed on its row.
struct KeyImage {
    char bytes[16];        // the image, padded with zero bytes
    bool possible = true;  // false: no stored value can equal it (a text too long or with NUL)
};

// The hash index of one unique-key column: open addressing with linear probing, one entry per
// row holding the row's record number and its key image, at most 70 % of the slots in use.
// A table whose load found equal keys keeps all of its rows, so several entries may match.
// Owned by its table; not thread-safe on its own.
class KeyIndex {
public:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

    KeyIndex(ColumnType type, std::size_t width);

    // True when equal images always mean equal keys.
    bool Exact() const { return exact_; }
    // The image of a value searched for; of a value stored in the table (which is never longer
    // than the width and never holds a NUL, so the checks are left out).
    KeyImage ImageOf(const Value& value) const { return MakeImage(value, true); }
    KeyImage ImageOfStored(const Value& value) const { return MakeImage(value, false); }

    void Clear();
    std::size_t Count() const { return count_; }

    // Calls visit(row) for every entry whose image equals `image`, in probe order, until
    // visit returns true; returns whether it did.
    template <typename Visit>
    bool Find(const KeyImage& image, Visit&& visit) const {
        if (count_ == 0 || !image.possible) {
            return false;
        }
        for (std::size_t i = Home(image);; i = Following(i)) {
            const char* slot = Slot(i);
            std::uint32_t row = RowIn(slot);
            if (row == kEmpty) {
                return false;
            }
            if (SameImage(slot + 4, image.bytes) && visit(row)) {
                return true;
            }
        }
    }

    void Insert(std::uint32_t row, const KeyImage& image);
    void Erase(std::uint32_t row, const KeyImage& image);

    // Replaces the content with `count` rows: rowAt(i) gives the i-th one, imageOf(row) its
    // key image and sameKey(a, b) whether two rows whose images are equal hold the same key.
    // Returns true when two rows hold the same key (both stay in the index). The images are
    // taken a few rows ahead and their slots prefetched: building a large index is bound by
    // cache misses.
    template <typename RowAt, typename ImageOf, typename SameKey>
    bool Build(std::size_t count, RowAt&& rowAt, ImageOf&& imageOf, SameKey&& sameKey) {
        Reset(CapacityFor(count));
        constexpr std::size_t kAhead = 64;
        KeyImage ahead[kAhead];
        std::size_t aheadHome[kAhead];
        auto take = [&](std::size_t i) {
            ahead[i % kAhead] = imageOf(rowAt(i));
            aheadHome[i % kAhead] = Home(ahead[i % kAhead]);
            PrefetchForWrite(Slot(aheadHome[i % kAhead]));
        };
        for (std::size_t i = 0; i < count && i < kAhead; ++i) {
            take(i);
        }
        bool duplicate = false;
        for (std::size_t i = 0; i < count; ++i) {
            const KeyImage image = ahead[i % kAhead];
            std::size_t slot = aheadHome[i % kAhead];
            if (i + kAhead < count) {
                take(i + kAhead);
            }
            const std::uint32_t row = rowAt(i);
            for (; RowIn(Slot(slot)) != kEmpty; slot = Following(slot)) {
                if (!duplicate && SameImage(Slot(slot) + 4, image.bytes) &&
                    (exact_ || sameKey(RowIn(Slot(slot)), row))) {
                    duplicate = true;
                }
            }
            Put(slot, row, image.bytes);
        }
        count_ = count;
        return duplicate;
    }

private:
    static std::uint32_t RowIn(const char* slot) {
        std::uint32_t row;
        std::memcpy(&row, slot, 4);
        return row;
    }
    char* Slot(std::size_t i) { return static_cast<char*>(slots_.Data()) + i * slotSize_; }
    const char* Slot(std::size_t i) const {
        return static_cast<const char*>(slots_.Data()) + i * slotSize_;
    }
    std::size_t Following(std::size_t i) const { return i + 1 == capacity_ ? 0 : i + 1; }
    KeyImage MakeImage(const Value& value, bool check) const;
    KeyImage ImageInSlot(const char* slot) const;
    std::size_t Home(const KeyImage& image) const;
    bool SameImage(const char* a, const char* b) const;
    void Put(std::size_t slot, std::uint32_t row, const char* image);
    static std::size_t CapacityFor(std::size_t count);
    void Reset(std::size_t capacity);

    ColumnType type_;
    std::size_t width_;
    bool exact_;
    std::size_t imageSize_;
    std::size_t slotSize_;
    LargeBuffer slots_;
    std::size_t capacity_ = 0;
    std::size_t count_ = 0;
};

inline std::size_t KeyIndex::Home(const KeyImage& image) const {
    // The padded image is hashed as two whole words, whatever its size.
    std::uint64_t low, high;
    std::memcpy(&low, image.bytes, 8);
    std::memcpy(&high, image.bytes + 8, 8);
    std::uint64_t hash =
        Mix64((low * 0x9E3779B97F4A7C15ULL) ^ (high * 0xC2B2AE3D27D4EB4FULL) ^ imageSize_);
    auto top = static_cast<std::uint32_t>(hash >> 32);
    return static_cast<std::size_t>((static_cast<std::uint64_t>(top) * capacity_) >> 32);
}

inline bool KeyIndex::SameImage(const char* a, const char* b) const {
    const std::size_t n = imageSize_;
    if (n >= 8) {  // two overlapping words cover 8 to 16 bytes
        std::uint64_t a1, b1, a2, b2;
        std::memcpy(&a1, a, 8);
        std::memcpy(&b1, b, 8);
        std::memcpy(&a2, a + n - 8, 8);
        std::memcpy(&b2, b + n - 8, 8);
        return ((a1 ^ b1) | (a2 ^ b2)) == 0;
    }
    if (n >= 4) {
        std::uint32_t a1, b1, a2, b2;
        std::memcpy(&a1, a, 4);
        std::memcpy(&b1, b, 4);
        std::memcpy(&a2, a + n - 4, 4);
        std::memcpy(&b2, b + n - 4, 4);
        return ((a1 ^ b1) | (a2 ^ b2)) == 0;
    }
    return std::memcmp(a, b, n) == 0;
}

}  // namespace tallyport::detail
