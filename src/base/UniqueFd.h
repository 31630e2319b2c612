#pragma once

#include <utility>

namespace tallyport {

// Closes a descriptor, ignoring the result (the platform part, in FileIo_*.cpp).
void CloseDescriptor(int fd) noexcept;

// Owns one file descriptor and closes it when it goes out of scope, so that no early return
// leaks one.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Gives the descriptor up without closing it; the caller owns it from now on.
    [[nodiscard]] int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0)
            CloseDescriptor(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

}  // namespace tallyport
