#pragma once

#include <string>
#include <string_view>

#include "base/SystemError.h"

namespace tallyport {

// The one way the program replaces a file of the user's (the configuration file, the register
// list). Free function without shared state: any thread may call it, but two writers of the
// same file must be serialised by their owner. Never throws; the outcome says which step failed
// and the platform's error code, which each store turns into its own message.
//
// The rule:
// - A file is replaced only where a plain write would have been allowed: an existing file must
//   open for writing (so a read-only file system, a read-only mount or an immutable file refuse
//   it, also for root, for whom the permission bits alone never do), and a new file must be
//   creatable in its folder.
// - The new bytes go to a temporary file in the same folder, are synced, get the old file's mode
//   and owner, and are renamed over the old file; then the folder is synced. A crash leaves the
//   old file or the whole new one. A symbolic link is followed and stays a link.
// - Where the folder cannot hold a temporary file (no right to write there, or a read-only
//   folder over a writable file), the old owner cannot be given to a new file, or the file is
//   a mount point of its own (a file bound into a container), the existing file is written in
//   place instead: rewritten from its start, cut to the new length and
//   synced. It keeps its inode, mode and owner; a crash in the middle of that write can leave
//   it part old, part new, which is the price of a folder that refuses new files.
struct ReplaceOutcome {
    enum class Step {
        None,    // replaced
        Create,  // the file (or its temporary file) could not be created or opened for writing
        Write,   // writing, syncing or putting the new file in place failed
    };
    Step failed = Step::None;
    int error = 0;         // the platform's code of the failing step (base/SystemError.h)
    bool inPlace = false;  // the file was written in place (see above)

    bool Ok() const { return failed == Step::None; }
};

ReplaceOutcome ReplaceFile(const std::string& path, std::string_view bytes);

}  // namespace tallyport
