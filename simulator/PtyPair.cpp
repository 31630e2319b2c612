#include "simulator/PtyPair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace tallyport::sim {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

PtyPair::PtyPair() {
    termios raw{};
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&raw, B4800);
    cfsetospeed(&raw, B4800);
    char name[128] = {};
    if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        ThrowErrno("openpty");
    }
    slavePath_ = name;
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    const int flags = fcntl(master_, F_GETFL);
    if (flags < 0 || fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int saved = errno;
        close(master_);
        close(slave_);
        errno = saved;
        ThrowErrno("fcntl O_NONBLOCK on the pty master");
    }
}

PtyPair::~PtyPair() {
    close(slave_);
    close(master_);
}

void PointSymlink(const std::string& linkPath, const std::string& target) {
    const std::string temporary = linkPath + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0) {
        ThrowErrno("symlink " + temporary);
    }
    if (rename(temporary.c_str(), linkPath.c_str()) != 0) {
        const int saved = errno;
        unlink(temporary.c_str());
        errno = saved;
        ThrowErrno("rename to " + linkPath);
    }
}

}  // namespace tallyport::sim
