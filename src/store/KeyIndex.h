#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tallyport::detail {

inline void PrefetchForWrite(const void* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address, 1);
#else
    (void)address;
#endif
}

// The hash index of one unique-key column: open addressing with linear probing, one entry per
// row (its record number and 32 bits of its key's hash, so that probing rarely touches a row).
// A table whose load found equal keys keeps all of its rows, so several entries may match.
// Owned by its table; not thread-safe on its own.
class KeyIndex {
public:
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;

    void Clear();
    std::size_t Count() const { return count_; }

    // Calls visit(row) for every entry whose hash matches `hash`, in probe order, until visit
    // returns true; returns whether it did.
    template <typename Visit>
    bool Find(std::uint64_t hash, Visit&& visit) const {
        if (count_ == 0) {
            return false;
        }
        std::uint32_t tag = Tag(hash);
        for (std::size_t i = tag & mask_;; i = (i + 1) & mask_) {
            const Entry& entry = slots_[i];
            if (entry.row == kEmpty) {
                return false;
            }
            if (entry.tag == tag && visit(entry.row)) {
                return true;
            }
        }
    }

    void Insert(std::uint32_t row, std::uint64_t hash);
    void Erase(std::uint32_t row, std::uint64_t hash);

    // Replaces the content with `count` rows, rowAt(i) giving the i-th one, hashOf(row) its
    // key's hash and sameKey(a, b) whether two rows hold the same key. Returns true when two
    // rows hold the same key (both stay in the index). The hashes are computed a few rows
    // ahead and their slots prefetched, since building a large index is bound by cache misses.
    template <typename RowAt, typename HashOf, typename SameKey>
    bool Build(std::size_t count, RowAt&& rowAt, HashOf&& hashOf, SameKey&& sameKey) {
        Reset(CapacityFor(count));
        constexpr std::size_t kAhead = 16;
        std::uint32_t ahead[kAhead];
        for (std::size_t i = 0; i < count && i < kAhead; ++i) {
            ahead[i] = Tag(hashOf(rowAt(i)));
            PrefetchForWrite(&slots_[ahead[i] & mask_]);
        }
        bool duplicate = false;
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t tag = ahead[i % kAhead];
            if (i + kAhead < count) {
                std::uint32_t next = Tag(hashOf(rowAt(i + kAhead)));
                ahead[i % kAhead] = next;
                PrefetchForWrite(&slots_[next & mask_]);
            }
            std::uint32_t row = rowAt(i);
            std::size_t slot = tag & mask_;
            for (; slots_[slot].row != kEmpty; slot = (slot + 1) & mask_) {
                if (!duplicate && slots_[slot].tag == tag && sameKey(slots_[slot].row, row)) {
                    duplicate = true;
                }
            }
            slots_[slot] = Entry{row, tag};
        }
        count_ = count;
        return duplicate;
    }

private:
    struct Entry {
        std::uint32_t row;
        std::uint32_t tag;
    };

    static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }
    static std::size_t CapacityFor(std::size_t count);
    void Reset(std::size_t capacity);
    void Place(Entry entry);

    std::unique_ptr<Entry[]> slots_;
    std::size_t capacity_ = 0;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

}  // namespace tallyport::detail
