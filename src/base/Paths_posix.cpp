#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "base/FileIo.h"
#include "base/Paths.h"
#include "base/UniqueFd.h"

namespace tallyport {
namespace {

namespace fs = std::filesystem;

}  // namespace

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (name.empty()) {
        return folder;
    }
    return (fs::path(folder) / name).string();
}

std::string NormalPath(const std::string& path) {
    fs::path normal = fs::path(path).lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal.string();
}

bool IsAbsolutePath(const std::string& path) {
    return fs::path(path).is_absolute();
}

std::string ParentFolder(const std::string& path) {
    return fs::path(path).parent_path().string();
}

std::string ComparablePath(const std::string& path) {
    return NormalPath(AbsolutePath(path));
}

std::string AbsolutePath(const std::string& path) {
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string CanonicalPath(const std::string& path) {
    std::error_code ignored;
    return fs::weakly_canonical(fs::absolute(path, ignored), ignored).string();
}

std::string WorkingFolder() {
    std::error_code error;
    const fs::path folder = fs::current_path(error);
    return error ? std::string() : folder.string();
}

int ChangeWorkingFolder(const std::string& folder) {
    return ::chdir(folder.c_str()) == 0 ? 0 : errno;
}

int MakeFolders(const std::string& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    return error.value();
}

bool PathExists(const std::string& path) {
    std::error_code error;
    return fs::exists(path, error) || error;
}

NewFile CreateNewFile(const std::string& path, const std::string& bytes, int& error) {
    UniqueFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!file.Valid()) {
        error = errno;
        return error == EEXIST ? NewFile::Existed : NewFile::NotCreated;
    }
    if (!WriteAll(file.Get(), bytes) || ::close(file.Release()) != 0) {
        error = errno;
        return NewFile::NotWritten;
    }
    return NewFile::Created;
}

int RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

}  // namespace tallyport
