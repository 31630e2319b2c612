#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "base/FileIo.h"
#include "base/UniqueFd.h"
#include "journal/FolderLock.h"
#include "journal/JournalFiles.h"

namespace tallyport {

// flock, not fcntl: an flock belongs to the open file, so a second journal in the same process
// is refused as well, and reading the lock file (to name its holder) cannot drop it, where a
// process's fcntl locks all go with the first descriptor of the file it closes.
std::unique_ptr<FolderLock> FolderLock::Take(const std::string& folder, const std::string& holder,
                                             std::string& heldBy, std::string& error) {
    const std::string path = folder + "/" + kFileName;
    // Held open for reading only: a file open for writing would keep an administrator from
    // remounting the file system read-only while the program runs.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.Valid()) {
        error = "Cannot open file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) {
            error = "Cannot lock file " + path + ": " + std::strerror(errno);
            return nullptr;
        }
        std::string text;
        std::string readError;
        ReadWholeFile(path, text, readError);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        heldBy = text.empty() ? "alt program" : text;
        return nullptr;
    }
    // Who holds it, for the next one; the lock itself is what counts, so a failure here is no
    // reason to refuse.
    UniqueFd text(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (text.Valid()) {
        (void)WriteAll(text.Get(), holder + "\n");
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd.Release()));
}

FolderLock::~FolderLock() {
    CloseDescriptor(static_cast<int>(handle_));  // the lock goes with the descriptor
}

std::string FolderLock::ThisProgram() {
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string text = "procesul " + std::to_string(::getpid());
    if (n > 0) {
        text += " (" + std::string(path, static_cast<std::size_t>(n)) + ")";
    }
    return text;
}

}  // namespace tallyport
