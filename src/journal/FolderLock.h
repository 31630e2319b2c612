#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tallyport {

// One program per journal folder: an advisory lock on a file inside it, held for as long as
// the object lives. The file also names the program that holds it, for the user of a second
// one. The platform part is FolderLock_posix.cpp (flock); Windows takes the same file with
// LockFileEx(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY) on a handle kept open.
//
// Owned by the journal; made and released on one thread. Never throws.
class FolderLock {
public:
    // The lock file's name inside the folder.
    static constexpr char kFileName[] = "Tallyport.lock";

    // Takes the lock on `folder` (which must exist) and writes `holder` into the lock file.
    // Nothing when another program holds it (`heldBy` gets what that one wrote there) or the
    // file cannot be opened (`error`).
    static std::unique_ptr<FolderLock> Take(const std::string& folder, const std::string& holder,
                                            std::string& heldBy, std::string& error);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // This process as a user reads it: its number and program file.
    static std::string ThisProgram();

private:
    explicit FolderLock(std::intptr_t handle) : handle_(handle) {}
    std::intptr_t handle_;
};

}  // namespace tallyport
