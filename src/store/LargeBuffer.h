#pragma once

#include <cstddef>

namespace tallyport::detail {

// Memory for one large array (a key index): allocated whole, and on platforms that have them
// placed on large pages, since a random search into tens of megabytes otherwise pays a page
// table walk on top of the cache miss. Owned by one object; not thread-safe.
class LargeBuffer {
public:
    LargeBuffer() = default;
    ~LargeBuffer();
    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;
    LargeBuffer(LargeBuffer&& other) noexcept;
    LargeBuffer& operator=(LargeBuffer&& other) noexcept;

    // Replaces the content with `bytes` uninitialised bytes (none for 0); throws
    // std::bad_alloc when the memory is not available.
    void Allocate(std::size_t bytes);
    void Release();
    void* Data() const { return data_; }

private:
    void* data_ = nullptr;
    std::size_t bytes_ = 0;
};

}  // namespace tallyport::detail
