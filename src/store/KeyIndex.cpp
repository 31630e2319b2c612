#include "store/KeyIndex.h"

#include <algorithm>

namespace tallyport::detail {

namespace {

constexpr std::size_t kSmallestCapacity = 16;
constexpr std::size_t kLongestExactText = 16;

}  // namespace

KeyIndex::KeyIndex(ColumnType type, std::size_t width) : type_(type), width_(width) {
    switch (type) {
        case ColumnType::Text:
            exact_ = width <= kLongestExactText;
            imageSize_ = exact_ ? std::max<std::size_t>(width, 1) : 4;
            break;
        case ColumnType::Integer:
            exact_ = true;
            imageSize_ = 1 + sizeof(std::int32_t);
            break;
        case ColumnType::Double:
            exact_ = true;
            imageSize_ = 1 + sizeof(double);
            break;
        case ColumnType::Boolean:
            exact_ = true;
            imageSize_ = 2;
            break;
    }
    slotSize_ = 4 + imageSize_;
}

KeyImage KeyIndex::MakeImage(const Value& value, bool check) const {
    KeyImage image;
    std::memset(image.bytes, 0, sizeof image.bytes);
    switch (type_) {
        case ColumnType::Text:
            if (check &&
                (value.text.size() > width_ || value.text.find('\0') != std::string_view::npos)) {
                image.possible = false;
            } else if (exact_) {
                if (!value.text.empty()) {  // an empty view may have no data at all
                    std::memcpy(image.bytes, value.text.data(), value.text.size());
                }
            } else {
                auto tag = static_cast<std::uint32_t>(
                    HashBytes(value.text.data(), value.text.size()) >> 32);
                std::memcpy(image.bytes, &tag, 4);
            }
            break;
        case ColumnType::Integer:
            image.bytes[0] = value.null ? 1 : 0;
            if (!value.null) {
                std::memcpy(image.bytes + 1, &value.integer, sizeof value.integer);
            }
            break;
        case ColumnType::Double:
            image.bytes[0] = value.null ? 1 : 0;
            if (!value.null) {
                double normal = value.real == 0 ? 0.0 : value.real;  // -0 equals 0
                std::memcpy(image.bytes + 1, &normal, sizeof normal);
            }
            break;
        case ColumnType::Boolean:
            image.bytes[0] = value.null ? 1 : 0;
            image.bytes[1] = !value.null && value.boolean ? 1 : 0;
            break;
    }
    return image;
}

KeyImage KeyIndex::ImageInSlot(const char* slot) const {
    KeyImage image;
    std::memset(image.bytes, 0, sizeof image.bytes);
    std::memcpy(image.bytes, slot + 4, imageSize_);
    return image;
}

void KeyIndex::Put(std::size_t slot, std::uint32_t row, const char* image) {
    char* at = Slot(slot);
    std::memcpy(at, &row, 4);
    std::memcpy(at + 4, image, imageSize_);
}

std::size_t KeyIndex::CapacityFor(std::size_t count) {
    return std::max(kSmallestCapacity, count + count * 3 / 7 + 1);  // at most 70 % in use
}

void KeyIndex::Reset(std::size_t capacity) {
    slots_.Allocate(capacity * slotSize_);
    capacity_ = capacity;
    count_ = 0;
    for (std::size_t i = 0; i < capacity; ++i) {
        std::memcpy(Slot(i), &kEmpty, 4);
    }
}

void KeyIndex::Clear() {
    slots_.Release();
    capacity_ = 0;
    count_ = 0;
}

void KeyIndex::Insert(std::uint32_t row, const KeyImage& image) {
    if (count_ + 1 > capacity_ * 7 / 10) {
        LargeBuffer old = std::move(slots_);
        const std::size_t oldCapacity = capacity_;
        const std::size_t entries = count_;
        Reset(CapacityFor(2 * (entries + 1)));
        for (std::size_t i = 0; i < oldCapacity; ++i) {
            const char* entry = static_cast<const char*>(old.Data()) + i * slotSize_;
            if (RowIn(entry) != kEmpty) {
                std::size_t slot = Home(ImageInSlot(entry));
                while (RowIn(Slot(slot)) != kEmpty) {
                    slot = Following(slot);
                }
                Put(slot, RowIn(entry), entry + 4);
            }
        }
        count_ = entries;
    }
    std::size_t slot = Home(image);
    while (RowIn(Slot(slot)) != kEmpty) {
        slot = Following(slot);
    }
    Put(slot, row, image.bytes);
    ++count_;
}

void KeyIndex::Erase(std::uint32_t row, const KeyImage& image) {
    if (count_ == 0 || !image.possible) {
        return;
    }
    std::size_t hole = Home(image);
    while (RowIn(Slot(hole)) != row) {
        if (RowIn(Slot(hole)) == kEmpty) {
            return;  // not indexed
        }
        hole = Following(hole);
    }
    // Backward-shift deletion: pull later entries of the run into the hole when their home
    // slot does not lie cyclically between the hole and where they sit.
    for (std::size_t next = Following(hole); RowIn(Slot(next)) != kEmpty; next = Following(next)) {
        std::size_t home = Home(ImageInSlot(Slot(next)));
        bool staysReachable =
            hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (!staysReachable) {
            std::memcpy(Slot(hole), Slot(next), slotSize_);
            hole = next;
        }
    }
    std::memcpy(Slot(hole), &kEmpty, 4);
    --count_;
}

}  // namespace tallyport::detail
