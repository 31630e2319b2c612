#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "base/FileIo.h"
#include "base/UniqueFd.h"
#include "journal/JournalFiles.h"

namespace tallyport {

namespace {

bool Fail(std::string& error, const char* what, const std::string& path, int reason) {
    error = std::string(what) + " " + path + ": " + std::strerror(reason);
    return false;
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) {
            return FileStamp{};
        }
        Fail(error, "Cannot read file", path, errno);
        return std::nullopt;
    }
    FileStamp stamp;
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.regular = S_ISREG(st.st_mode);
    stamp.identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" +
                     std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    return stamp;
}

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        return Fail(error, "Cannot read file", path, errno);
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Fail(error, "Cannot read file", path, errno);
        }
        if (n == 0) {
            return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

bool ReadFileAt(const std::string& path, std::uint64_t offset, std::size_t length,
                std::string& bytes, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        return Fail(error, "Cannot read file", path, errno);
    }
    bytes.assign(length, '\0');
    std::size_t got = 0;
    while (got < length) {
        const ssize_t n =
            ::pread(fd.Get(), bytes.data() + got, length - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return Fail(error, "Cannot read file", path, errno);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return true;
}

bool CutFile(const std::string& path, std::uint64_t size, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid() || ::ftruncate(fd.Get(), static_cast<off_t>(size)) != 0 ||
        ::fsync(fd.Get()) != 0) {
        return Fail(error, "Cannot write file", path, errno);
    }
    return true;
}

bool MakeFolder(const std::string& path, std::string& error) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        return SyncFolder(FolderOf(path), error);
    }
    if (errno != EEXIST) {
        return Fail(error, "Cannot create folder", path, errno);
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Fail(error, "Cannot create folder", path, ENOTDIR);
    }
    return true;
}

bool FolderNames(const std::string& path, std::vector<std::string>& names, std::string& error) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), ::closedir);
    if (!dir) {
        return Fail(error, "Cannot read folder", path, errno);
    }
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    return true;
}

bool SyncFolder(const std::string& folder, std::string& error) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.Valid() || ::fsync(fd.Get()) != 0) {
        return Fail(error, "Cannot sync folder", folder, errno);
    }
    return true;
}

bool RenameFile(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Fail(error, "Cannot rename file", from, errno);
    }
    return true;
}

bool RemoveFile(const std::string& path, std::string& error) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return Fail(error, "Cannot remove file", path, errno);
    }
    return true;
}

bool AppendDurably(const std::string& path, std::string_view bytes, std::string& error) {
    // Opened for each append and closed after it: a file held open for writing would keep an
    // administrator from remounting the file system read-only, and a replaced file is seen.
    constexpr int kFlags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NONBLOCK;
    bool created = false;
    UniqueFd fd(::open(path.c_str(), kFlags));
    if (!fd.Valid() && errno == ENOENT) {
        fd = UniqueFd(::open(path.c_str(), kFlags | O_CREAT, 0666));
        created = fd.Valid();
    }
    if (!fd.Valid()) {
        return Fail(error, "Cannot open file", path, errno);
    }
    struct stat before {};
    if (::fstat(fd.Get(), &before) != 0) {
        return Fail(error, "Cannot write file", path, errno);
    }
    if (!S_ISREG(before.st_mode)) {
        return Fail(error, "Cannot write file", path, EINVAL);
    }
    bool ok = WriteAll(fd.Get(), bytes);
    int reason = errno;
    if (ok && ::fdatasync(fd.Get()) != 0) {
        ok = false;
        reason = errno;
    }
    if (!ok) {
        // Leave no half record behind: the caller offers the bytes again, whole.
        (void)::ftruncate(fd.Get(), before.st_size);
        return Fail(error, "Cannot write file", path, reason);
    }
    if (created) {
        std::string folderError;
        if (!SyncFolder(FolderOf(path), folderError)) {
            // A name that a power cut may take away holds nothing the caller may count on: gone
            // now, it is made again with the bytes at the next try.
            fd.Reset();
            (void)::unlink(path.c_str());
            error = folderError;
            return false;
        }
    }
    return true;
}

bool WriteSyncedFile(const std::string& path, std::string_view bytes, std::string& error) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.Valid()) {
        return Fail(error, "Cannot open file", path, errno);
    }
    if (!WriteAll(fd.Get(), bytes) || ::fsync(fd.Get()) != 0) {
        return Fail(error, "Cannot write file", path, errno);
    }
    return true;
}

}  // namespace tallyport
