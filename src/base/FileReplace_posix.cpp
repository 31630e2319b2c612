#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "base/FileIo.h"
#include "base/FileReplace.h"
#include "base/UniqueFd.h"

namespace tallyport {

namespace {

using Step = ReplaceOutcome::Step;

ReplaceOutcome Failed(Step step, int error) {
    return ReplaceOutcome{step, error, false};
}

// The file a save replaces: the final target of a symbolic link, so that the link stays.
std::string ReplacedFile(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// A temporary file beside the target: removed again unless it was renamed into place.
class TempFile {
public:
    // errno of the creation; 0 when the file exists.
    int Create(const std::string& folder) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const unsigned long long tag = (std::uint64_t{random()} << 32) ^ random();
            char name[40];
            std::snprintf(name, sizeof name, "/.tallyport-%016llx.tmp", tag);
            std::string candidate = folder + name;
            // 0666: a new file gets the umask's mode like any other file created here.
            fd_ =
                UniqueFd(::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (fd_.Valid()) {
                path_ = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }
    ~TempFile() {
        fd_.Reset();
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }

    int Fd() const { return fd_.Get(); }
    const std::string& Path() const { return path_; }
    // Closes now and reports what close() says (a late write-back error on some file systems).
    int Close() { return ::close(fd_.Release()) == 0 ? 0 : errno; }
    // After the rename the name belongs to the real file.
    void Committed() { path_.clear(); }

private:
    UniqueFd fd_;
    std::string path_;
};

bool FolderRefusesNewFiles(int error) {
    return error == EACCES || error == EPERM || error == EROFS;
}

// Rewrites an open file from its start: the fallback where no temporary file can be made.
ReplaceOutcome WriteInPlace(const UniqueFd& file, std::string_view bytes) {
    if (::lseek(file.Get(), 0, SEEK_SET) != 0 || !WriteAll(file.Get(), bytes) ||
        ::ftruncate(file.Get(), static_cast<off_t>(bytes.size())) != 0 ||
        ::fsync(file.Get()) != 0) {
        return Failed(Step::Write, errno);
    }
    return ReplaceOutcome{Step::None, 0, true};
}

}  // namespace

ReplaceOutcome ReplaceFile(const std::string& path, std::string_view bytes) {
    if (path.empty()) {
        return Failed(Step::Create, ENOENT);
    }
    const std::string target = ReplacedFile(path);
    struct stat old {};
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT) {
        return Failed(Step::Create, errno);
    }
    if (exists && !S_ISREG(old.st_mode)) {
        return Failed(Step::Create, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
    }
    // The test of a plain write: opening the file for writing changes nothing in it, and it
    // refuses exactly where a plain write would be refused (root included).
    UniqueFd existing;
    if (exists) {
        existing = UniqueFd(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
        if (!existing.Valid()) {
            return Failed(Step::Create, errno);
        }
    }

    TempFile temp;
    if (const int error = temp.Create(FolderOf(target)); error != 0) {
        if (exists && FolderRefusesNewFiles(error)) {
            return WriteInPlace(existing, bytes);
        }
        return Failed(Step::Create, error);
    }
    if (exists) {
        // chown only where the owners differ: most replacements are of the program's own
        // files, and a service whose system calls are filtered may not call chown at all.
        struct stat made {};
        const bool sameOwner = ::fstat(temp.Fd(), &made) == 0 && made.st_uid == old.st_uid &&
                               made.st_gid == old.st_gid;
        if (!sameOwner && ::fchown(temp.Fd(), old.st_uid, old.st_gid) != 0) {
            // A new file cannot be given the old owner: the old file itself keeps it.
            return WriteInPlace(existing, bytes);
        }
        if (::fchmod(temp.Fd(), old.st_mode & 07777) != 0) {
            return Failed(Step::Write, errno);
        }
    }
    if (!WriteAll(temp.Fd(), bytes) || ::fsync(temp.Fd()) != 0) {
        return Failed(Step::Write, errno);
    }
    if (const int error = temp.Close(); error != 0) {
        return Failed(Step::Write, error);
    }
    if (::rename(temp.Path().c_str(), target.c_str()) != 0) {
        if (errno == EBUSY && exists) {
            // The file is a mount point of its own (a file bound into a container): it can
            // only be written where it is.
            return WriteInPlace(existing, bytes);
        }
        return Failed(Step::Write, errno);
    }
    temp.Committed();
    SyncFolderOf(target);
    return {};
}

}  // namespace tallyport
