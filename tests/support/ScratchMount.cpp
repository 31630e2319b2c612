#include "support/ScratchMount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace tallyport::test {

ScratchMounts::~ScratchMounts() {
    for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) {
        ::umount2(it->c_str(), MNT_DETACH);
    }
}

bool ScratchMounts::Fail(const std::string& what) {
    why_ = what + ": " + std::strerror(errno);
    return false;
}

bool ScratchMounts::MountTmpfs(const std::string& dir) {
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);  // a failure shows in the mount
    if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0) {
        return Fail("mount tmpfs on " + dir);
    }
    mounted_.push_back(dir);
    return true;
}

bool ScratchMounts::BindFile(const std::string& source, const std::string& target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        return Fail("bind " + source + " on " + target);
    }
    mounted_.push_back(target);
    return true;
}

bool ScratchMounts::SetReadOnly(const std::string& dir, bool readOnly) {
    const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
    if (::mount("tmpfs", dir.c_str(), "tmpfs", flags, "size=64k") != 0) {
        return Fail("remount " + dir);
    }
    return true;
}

}  // namespace tallyport::test
