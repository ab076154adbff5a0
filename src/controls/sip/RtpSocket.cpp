#include "controls/sip/RtpSocket.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

namespace kallomir {

namespace {
void setPort(sockaddr_storage& addr, int port) {
    if (addr.ss_family == AF_INET6) {
        reinterpret_cast<sockaddr_in6&>(addr).sin6_port = htons(uint16_t(port));
    } else {
        reinterpret_cast<sockaddr_in&>(addr).sin_port = htons(uint16_t(port));
    }
}
int portOf(const sockaddr_storage& addr) {
    if (addr.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(addr).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(addr).sin_port);
}
}  // namespace

RtpSocket::RtpSocket()
    : buffer_(kBatch * kMaxDatagram), from_(kBatch), received_(kBatch, Datagram{nullptr, {}}) {}

RtpSocket::~RtpSocket() {
    close();
}

void RtpSocket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

int RtpSocket::open(const sockaddr* local, socklen_t length, int portMin, int portMax) {
    close();
    if (length > sizeof(sockaddr_storage))
        return EINVAL;
    sockaddr_storage addr{};
    std::memcpy(&addr, local, length);
    const int fd = ::socket(addr.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;

    int err = EADDRINUSE;
    if (portMin <= 0) {
        setPort(addr, 0);
        err = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0 ? 0 : errno;
    } else {
        // RTP takes even ports (RTCP would be the odd one above).
        const int first = (portMin + 1) & ~1;
        const int count = portMax >= first ? (portMax - first) / 2 + 1 : 0;
        const int start = count > 0 ? int(std::random_device{}() % unsigned(count)) : 0;
        for (int i = 0; i < count; ++i) {
            setPort(addr, first + 2 * ((start + i) % count));
            if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) == 0) {
                err = 0;
                break;
            }
            err = errno;
            if (err != EADDRINUSE && err != EACCES)
                break;
        }
    }
    if (err != 0) {
        ::close(fd);
        return err;
    }
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        err = errno;
        ::close(fd);
        return err;
    }
    fd_ = fd;
    port_ = portOf(addr);
    return 0;
}

std::span<const RtpSocket::Datagram> RtpSocket::receive() {
    if (fd_ < 0)
        return {};
    mmsghdr msgs[kBatch];
    iovec iov[kBatch];
    std::memset(msgs, 0, sizeof msgs);
    for (size_t i = 0; i < kBatch; ++i) {
        iov[i].iov_base = buffer_.data() + i * kMaxDatagram;
        iov[i].iov_len = kMaxDatagram;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &from_[i];
        msgs[i].msg_hdr.msg_namelen = sizeof(sockaddr_storage);
    }
    more_ = false;
    int n;
    do {
        n = ::recvmmsg(fd_, msgs, unsigned(kBatch), MSG_DONTWAIT, nullptr);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return {};
    size_t kept = 0;
    for (int i = 0; i < n; ++i) {
        if (msgs[i].msg_hdr.msg_flags & MSG_TRUNC)
            continue;  // not audio we can take
        received_[kept++] = {&from_[size_t(i)],
                             {buffer_.data() + size_t(i) * kMaxDatagram, msgs[i].msg_len}};
    }
    more_ = size_t(n) == kBatch;
    return {received_.data(), kept};
}

int RtpSocket::sendTo(const sockaddr* to, socklen_t length, std::span<const uint8_t> bytes) {
    if (fd_ < 0)
        return EBADF;
    const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT, to, length);
    return sent < 0 ? errno : 0;
}

}  // namespace kallomir
