#pragma once

#include <string>
#include <vector>

namespace tallyport::test {

// Small file systems that a test mounts for itself, so that a write can be refused for real
// although the tests run as root (for whom permission bits refuse nothing): a tmpfs that is
// made read-only, and a file bound over a name in it that stays writable.
// Owned by one test; every mount is undone (detached) by the destructor, in reverse order.
class ScratchMounts {
public:
    ScratchMounts() = default;
    ~ScratchMounts();
    ScratchMounts(const ScratchMounts&) = delete;
    ScratchMounts& operator=(const ScratchMounts&) = delete;

    // Mounts a small tmpfs on the folder `dir`, made first if missing. False (with Why()) when
    // mounting is refused here (no right to mount): the test skips.
    bool MountTmpfs(const std::string& dir);
    // Binds the file `source` over the existing file `target` (it stays writable when the file
    // system holding `target` is made read-only).
    bool BindFile(const std::string& source, const std::string& target);
    // Makes the tmpfs mounted on `dir` read-only, or writable again.
    bool SetReadOnly(const std::string& dir, bool readOnly);

    const std::string& Why() const { return why_; }

private:
    bool Fail(const std::string& what);

    std::vector<std::string> mounted_;
    std::string why_;
};

}  // namespace tallyport::test
