#include "platform/instance.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/system.h"

namespace plat {

namespace {

constexpr char kRequest[] = "RAISE\n";
constexpr char kAnswer[] = "OK\n";
constexpr int kPeerTimeoutMs = 1000;

bool FillAddress(const std::string& path, sockaddr_un& addr)
{
    std::memset(&addr, 0, sizeof(addr));
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(addr.sun_path))
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads until `want` bytes came, the peer closed, or the time ran out.
std::string ReadSome(int fd, size_t want, int timeoutMs)
{
    std::string got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < want) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int r = poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buf[16];
        const ssize_t n = ::read(fd, buf, std::min(sizeof(buf), want - got.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

bool WriteAll(int fd, const char* data, size_t n)
{
    while (n > 0) {
        const ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace

SingleInstance::SingleInstance(WString folder)
    : folder_(folder.empty() ? VendorSubdir(RuntimeDir()) : std::move(folder))
{
    lockPath_ = PathToNative(folder_) + "/instance.lock";
    socketPath_ = PathToNative(folder_) + "/instance.sock";
}

SingleInstance::~SingleInstance() { Release(); }

bool SingleInstance::Acquire(RaiseCallback onRaise)
{
    if (first_)
        return true;
    MakeDirs(folder_);
    const int fd = ::open(lockPath_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        first_ = true;  // no lock possible: run rather than refuse to start
        return true;
    }
    int r;
    while ((r = flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
    if (r != 0) {
        ::close(fd);
        // The first instance may still be setting up its socket: try again
        // for a short while.
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(2 * kPeerTimeoutMs);
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;
            raiseSent_ = SendRaise(folder_, static_cast<int>(left));
            if (raiseSent_)
                break;
            usleep(50 * 1000);
        }
        return false;
    }
    lockFd_ = fd;
    first_ = true;
    onRaise_ = std::move(onRaise);

    // A socket file left by an instance that died is stale now: we hold the lock.
    sockaddr_un addr;
    if (!FillAddress(socketPath_, addr))
        return true;
    ::unlink(socketPath_.c_str());
    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        return true;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(listenFd_, 8) != 0 ||
        ::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return true;
    }
    chmod(socketPath_.c_str(), 0600);
    listener_ = std::thread([this] { Listen(); });
    return true;
}

void SingleInstance::Listen()
{
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        const int r = poll(p, 2, -1);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (p[1].revents & (POLLIN | POLLHUP)))
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        // Only the account's own processes may ask.
        ucred cred{};
        socklen_t len = sizeof(cred);
        const bool sameUser = getsockopt(client, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
        if (sameUser && ReadSome(client, sizeof(kRequest) - 1, kPeerTimeoutMs) == kRequest) {
            if (onRaise_)
                onRaise_();
            WriteAll(client, kAnswer, sizeof(kAnswer) - 1);
        }
        ::close(client);
    }
}

void SingleInstance::Release()
{
    if (listener_.joinable()) {
        const char stop = 0;
        ssize_t ignored = ::write(wakeFds_[1], &stop, 1);
        (void)ignored;
        listener_.join();
    }
    for (int& fd : wakeFds_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        ::unlink(socketPath_.c_str());
    }
    if (lockFd_ >= 0) {
        flock(lockFd_, LOCK_UN);
        ::close(lockFd_);
        lockFd_ = -1;
    }
    first_ = false;
}

bool SingleInstance::SendRaise(const WString& folder, int timeoutMs)
{
    sockaddr_un addr;
    if (!FillAddress(PathToNative(folder) + "/instance.sock", addr))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
              WriteAll(fd, kRequest, sizeof(kRequest) - 1) &&
              ReadSome(fd, sizeof(kAnswer) - 1, timeoutMs) == kAnswer;
    ::close(fd);
    return ok;
}

}  // namespace plat
