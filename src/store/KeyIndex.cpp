#include "store/KeyIndex.h"

#include <algorithm>

namespace tallyport::detail {

namespace {

constexpr std::size_t kSmallestCapacity = 16;

}  // namespace

std::size_t KeyIndex::CapacityFor(std::size_t count) {
    // At most 70 % of the slots in use keeps the probe runs short.
    std::size_t capacity = kSmallestCapacity;
    while (capacity * 7 < count * 10) {
        capacity *= 2;
    }
    return capacity;
}

void KeyIndex::Clear() {
    slots_.reset();
    capacity_ = 0;
    mask_ = 0;
    count_ = 0;
}

void KeyIndex::Reset(std::size_t capacity) {
    slots_ = std::make_unique_for_overwrite<Entry[]>(capacity);
    std::fill_n(slots_.get(), capacity, Entry{kEmpty, 0});
    capacity_ = capacity;
    mask_ = capacity - 1;
    count_ = 0;
}

void KeyIndex::Place(Entry entry) {
    std::size_t slot = entry.tag & mask_;
    while (slots_[slot].row != kEmpty) {
        slot = (slot + 1) & mask_;
    }
    slots_[slot] = entry;
}

void KeyIndex::Insert(std::uint32_t row, std::uint64_t hash) {
    if (CapacityFor(count_ + 1) > capacity_) {
        std::unique_ptr<Entry[]> old = std::move(slots_);
        std::size_t oldCapacity = capacity_;
        Reset(CapacityFor(count_ + 1));
        for (std::size_t i = 0; i < oldCapacity; ++i) {
            if (old[i].row != kEmpty) {
                Place(old[i]);
                ++count_;
            }
        }
    }
    Place(Entry{row, Tag(hash)});
    ++count_;
}

void KeyIndex::Erase(std::uint32_t row, std::uint64_t hash) {
    if (count_ == 0) {
        return;
    }
    std::size_t hole = Tag(hash) & mask_;
    while (slots_[hole].row != row) {
        if (slots_[hole].row == kEmpty) {
            return;  // not indexed
        }
        hole = (hole + 1) & mask_;
    }
    // Backward-shift deletion: pull later entries of the run into the hole when their home
    // slot does not lie between the hole and where they sit.
    for (std::size_t next = (hole + 1) & mask_; slots_[next].row != kEmpty;
         next = (next + 1) & mask_) {
        std::size_t home = slots_[next].tag & mask_;
        bool staysReachable =
            hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (!staysReachable) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = Entry{kEmpty, 0};
    --count_;
}

}  // namespace tallyport::detail
