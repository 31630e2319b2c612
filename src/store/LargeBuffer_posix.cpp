#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <utility>

#include "store/LargeBuffer.h"

namespace tallyport::detail {

namespace {

constexpr std::size_t kLargePage = std::size_t{2} << 20;

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
    if (bytes < kLargePage) {
        data_ = std::malloc(bytes);
    } else {
        // Whole large pages, aligned to them; the kernel backs them with large pages where
        // transparent huge pages are enabled for advised memory.
        std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
        if (::posix_memalign(&data_, kLargePage, rounded) != 0) {
            data_ = nullptr;
        } else {
            ::madvise(data_, rounded, MADV_HUGEPAGE);
        }
    }
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
    bytes_ = bytes;
}

void LargeBuffer::Release() {
    std::free(data_);
    data_ = nullptr;
    bytes_ = 0;
}

}  // namespace tallyport::detail
