#include "controls/sip/RtpSocket.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/time.h>
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

namespace {
constexpr size_t kControlSpace = CMSG_SPACE(sizeof(timeval));
}  // namespace

RtpSocket::RtpSocket()
    : buffer_(kBatch * kMaxDatagram),
      from_(kBatch),
      control_(kBatch * kControlSpace),
      received_(kBatch, Datagram{nullptr, {}, 0}) {}

RtpSocket::~RtpSocket() {
    close();
}

void RtpSocket::close() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

int RtpSocket::openAt(const sockaddr* local, socklen_t length, int port) {
    close();
    if (length > sizeof(sockaddr_storage))
        return EINVAL;
    sockaddr_storage addr{};
    std::memcpy(&addr, local, length);
    setPort(addr, port);
    const int fd = ::socket(addr.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return errno;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    // Arrival times from the system: packets are read in batches, long after they came,
    // and the interarrival jitter we report must not count our own reading delay.
    const int on = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        const int err = errno;
        ::close(fd);
        return err;
    }
    fd_ = fd;
    port_ = portOf(addr);
    return 0;
}

int RtpSocket::open(const sockaddr* local, socklen_t length, int portMin, int portMax) {
    if (portMin <= 0)
        return openAt(local, length, 0);
    // RTP takes even ports (RTCP would be the odd one above).
    const int first = (portMin + 1) & ~1;
    const int count = portMax >= first ? (portMax - first) / 2 + 1 : 0;
    const int start = count > 0 ? int(std::random_device{}() % unsigned(count)) : 0;
    int err = EADDRINUSE;
    for (int i = 0; i < count; ++i) {
        err = openAt(local, length, first + 2 * ((start + i) % count));
        if (err == 0 || (err != EADDRINUSE && err != EACCES))
            break;
    }
    return err;
}

int openRtpPair(RtpSocket& rtp, RtpSocket& rtcp, const sockaddr* local, socklen_t length,
                int portMin, int portMax) {
    const bool anyPort = portMin <= 0;
    const int first = anyPort ? 1024 : (portMin + 1) & ~1;
    const int last = anyPort ? 65534 : portMax - 1;  // room for RTCP above
    const int count = last >= first ? (last - first) / 2 + 1 : 0;
    const int start = count > 0 ? int(std::random_device{}() % unsigned(count)) : 0;
    int err = EADDRINUSE;
    for (int i = 0; i < count; ++i) {
        const int port = first + 2 * ((start + i) % count);
        err = rtp.openAt(local, length, port);
        if (err == 0) {
            err = rtcp.openAt(local, length, port + 1);
            if (err == 0)
                return 0;
            rtp.close();
        }
        if (err != EADDRINUSE && err != EACCES)
            break;
    }
    rtp.close();
    rtcp.close();
    return err;
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
        msgs[i].msg_hdr.msg_control = control_.data() + i * kControlSpace;
        msgs[i].msg_hdr.msg_controllen = kControlSpace;
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
        int64_t arrival = 0;
        for (cmsghdr* c = CMSG_FIRSTHDR(&msgs[i].msg_hdr); c;
             c = CMSG_NXTHDR(&msgs[i].msg_hdr, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
                timeval tv{};
                std::memcpy(&tv, CMSG_DATA(c), sizeof tv);
                arrival = int64_t(tv.tv_sec) * 1000000 + tv.tv_usec;
            }
        }
        received_[kept++] = {&from_[size_t(i)],
                             {buffer_.data() + size_t(i) * kMaxDatagram, msgs[i].msg_len},
                             arrival};
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
