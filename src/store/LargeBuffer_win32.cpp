#include <windows.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "store/LargeBuffer.h"

namespace tallyport::detail {

namespace {

constexpr std::size_t kLarge = std::size_t{2} << 20;

}  // namespace

LargeBuffer::~LargeBuffer() {
    Release();
}

LargeBuffer::LargeBuffer(LargeBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}

LargeBuffer& LargeBuffer::operator=(LargeBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

void LargeBuffer::Allocate(std::size_t bytes) {
    Release();
    if (bytes == 0) {
        return;
    }
    // Large pages need the "lock pages in memory" right, which an ordinary account lacks: the
    // array takes whole ordinary pages from the system, which the search walks as well.
    data_ = bytes < kLarge
                ? std::malloc(bytes)
                : ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
    bytes_ = bytes;
}

void LargeBuffer::Release() {
    if (bytes_ < kLarge) {
        std::free(data_);
    } else {
        ::VirtualFree(data_, 0, MEM_RELEASE);
    }
    data_ = nullptr;
    bytes_ = 0;
}

}  // namespace tallyport::detail
