// The line host: runs a Windows test program under Wine with serial lines beside it. A program
// under Wine cannot make a pseudo-terminal; the host makes them on its requests, maps each
// pair's port side into the Wine prefix as a COM port (dosdevices/com<n> -> /dev/pts/<m>) and
// plays the far side, as PtyLine does in a Linux test.
//
//   tallyport-line-host --wineprefix DIR -- PROGRAM [ARGS...]
//
// The prefix is TALLYPORT_WINEPREFIX when that is set, else DIR: the one scripts/wine-run.sh
// runs the program in.
// It listens on a loopback TCP port, tells the program the port in TALLYPORT_LINE_HOST, runs
// it and exits with its status. Each connection is one line; the line, its master and its COM
// mapping end with the connection (or when the program ends). The COM numbers start at 10, so
// that the port object's "\\.\COM<n>" path for numbers above 9 is what the tests open, and a
// number is taken with one symlink() so that hosts running side by side never share one.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/LineHostProtocol.h"
#include "support/PtyFarEnd.h"

namespace tallyport::test::linehost {
namespace {

constexpr int kFirstCom = 10;
constexpr int kLastCom = 256;

bool ReadAll(int fd, char* buffer, std::size_t count) {
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A COM mapping in the prefix, removed when it goes out of scope if it still points where it
// was made to.
class ComMapping {
public:
    ComMapping() = default;
    ComMapping(const ComMapping&) = delete;
    ComMapping& operator=(const ComMapping&) = delete;
    ~ComMapping() {
        if (number_ == 0)
            return;
        char target[4096] = {};
        const ssize_t n = readlink(path_.c_str(), target, sizeof target - 1);
        if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == target_)
            unlink(path_.c_str());
    }

    // Takes the first free COM number from kFirstCom on; a link whose terminal is gone (left by
    // a host that was killed) counts as free. 0 or the errno.
    int Map(const std::string& dosdevices, const std::string& target) {
        for (int number = kFirstCom; number <= kLastCom; ++number) {
            const std::string path = dosdevices + "/com" + std::to_string(number);
            if (symlink(target.c_str(), path.c_str()) == 0) {
                number_ = number;
                path_ = path;
                target_ = target;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
            struct stat st {};
            if (stat(path.c_str(), &st) != 0 && errno == ENOENT && unlink(path.c_str()) == 0)
                --number;  // stale: try the same number again
        }
        return EBUSY;
    }
    int Number() const { return number_; }

private:
    int number_ = 0;
    std::string path_;
    std::string target_;
};

// One connection: one line, answered request by request.
class Session {
public:
    Session(int socket, std::string dosdevices)
        : socket_(socket), dosdevices_(std::move(dosdevices)) {}
    ~Session() { close(socket_); }

    void Run() {
        for (;;) {
            char header[kRequestHeader];
            if (!ReadAll(socket_, header, sizeof header))
                return;
            const Op op = static_cast<Op>(header[0]);
            const std::uint32_t a = GetU32(header + 1);
            const std::uint32_t b = GetU32(header + 5);
            std::string bytes(GetU32(header + 9), '\0');
            if (!ReadAll(socket_, bytes.data(), bytes.size()))
                return;
            if (!WriteAll(socket_, Answer(op, a, b, bytes)))
                return;
        }
    }

private:
    std::string Answer(Op op, std::uint32_t a, std::uint32_t b, const std::string& bytes) {
        if (op == Op::Open)
            return Open();
        if (!far_)
            return EncodeReply(ENODEV, 0, {});
        const auto ms = std::chrono::milliseconds(b);
        switch (op) {
            case Op::Send:
                return EncodeReply(far_->Send(bytes), 0, {});
            case Op::Receive:
                return EncodeReply(0, 0, far_->Receive(a, ms));
            case Op::Queued: {
                const int queued = far_->Queued();
                return EncodeReply(queued < 0 ? EIO : 0, static_cast<std::uint32_t>(queued), {});
            }
            case Op::SendQueued:
                return EncodeReply(far_->SendQueued(bytes, ms), 0, {});
            case Op::HangUp:
                far_->HangUp();
                return EncodeReply(0, 0, {});
            case Op::Settings:
                return Settings();
            case Op::SetSettings:
                return EncodeReply(far_->SetSettings(a, b != 0), 0, {});
            case Op::Open:
                break;
        }
        return EncodeReply(EINVAL, 0, {});
    }

    std::string Open() {
        if (far_)
            return EncodeReply(EEXIST, 0, {});
        try {
            far_ = std::make_unique<PtyFarEnd>();
        } catch (const std::system_error& e) {
            return EncodeReply(e.code().value(), 0, e.what());
        }
        if (int error = mapping_.Map(dosdevices_, far_->SlavePath()); error != 0)
            return EncodeReply(error, 0, "mapping a COM port in " + dosdevices_);
        return EncodeReply(0, static_cast<std::uint32_t>(mapping_.Number()), far_->SlavePath());
    }

    std::string Settings() {
        FarSettings s;
        if (int error = far_->Settings(s); error != 0)
            return EncodeReply(error, 0, {});
        std::uint32_t bits = 0;
        bits |= s.twoStopBits ? kTwoStopBits : 0;
        bits |= s.raw ? kRaw : 0;
        bits |= s.rtsCts ? kRtsCts : 0;
        bits |= s.xonOutput ? kXonOutput : 0;
        bits |= s.xonInput ? kXonInput : 0;
        bits |= s.parityCheck ? kParityCheck : 0;
        std::string word;
        PutU32(word, bits);
        return EncodeReply(0, s.rate, word);
    }

    const int socket_;
    const std::string dosdevices_;
    // The mapping is removed before the terminal goes, so that no opener finds a dead link.
    std::unique_ptr<PtyFarEnd> far_;
    ComMapping mapping_;
};

// A loopback listening socket on a port the system picks; -1 on failure.
int Listen(std::uint16_t& port) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 16) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(s);
        return -1;
    }
    port = ntohs(address.sin_port);
    return s;
}

int Usage() {
    std::fprintf(stderr, "usage: tallyport-line-host --wineprefix DIR -- PROGRAM [ARGS...]\n");
    return 2;
}

}  // namespace
}  // namespace tallyport::test::linehost

int main(int argc, char** argv) {
    using namespace tallyport::test::linehost;
    if (argc < 5 || std::strcmp(argv[1], "--wineprefix") != 0 || std::strcmp(argv[3], "--") != 0)
        return Usage();
    const char* chosen = std::getenv("TALLYPORT_WINEPREFIX");
    const std::string dosdevices =
        std::string(chosen != nullptr && *chosen != '\0' ? chosen : argv[2]) + "/dosdevices";
    signal(SIGPIPE, SIG_IGN);

    std::uint16_t port = 0;
    const int listener = Listen(port);
    if (listener < 0) {
        std::perror("line host: listen");
        return 1;
    }
    setenv(kPortVariable, std::to_string(port).c_str(), 1);
    const pid_t child = fork();
    if (child < 0) {
        std::perror("line host: fork");
        return 1;
    }
    if (child == 0) {
        // A host that is killed (a test run's time-out) takes the program with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execvp(argv[4], argv + 4);
        std::perror("line host: exec");
        _exit(127);
    }

    // Connections are served until the program has ended; each session ends when the program
    // closes its connection, which its end does at the latest.
    std::atomic<bool> running{true};
    std::vector<std::thread> sessions;
    std::thread acceptor([&] {
        while (running.load()) {
            pollfd p{listener, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            const int on = 1;
            setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            sessions.emplace_back([connection, &dosdevices] {
                try {
                    Session(connection, dosdevices).Run();
                } catch (const std::exception& e) {
                    std::fprintf(stderr, "line host: %s\n", e.what());
                }
            });
        }
    });

    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    running = false;
    acceptor.join();
    close(listener);
    for (std::thread& session : sessions)
        session.join();
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : 1;
}
