#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include <sys/socket.h>

namespace kallomir {

// The UDP socket of one call's audio. Nothing waits on it: the call's media timer reads
// every datagram queued since its last tick in a few system calls, so that a call costs a
// handful of wake-ups a second instead of one per packet.
class RtpSocket {
public:
    RtpSocket();
    ~RtpSocket();
    RtpSocket(const RtpSocket&) = delete;
    RtpSocket& operator=(const RtpSocket&) = delete;

    // Binds to `local` (its port is ignored) on an even port of [portMin, portMax], tried
    // from a random start; any port when portMin is 0. Returns 0 or an errno value.
    int open(const sockaddr* local, socklen_t length, int portMin, int portMax);
    // Binds to `local` at exactly `port` (0: any). Returns 0 or an errno value.
    int openAt(const sockaddr* local, socklen_t length, int port);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int port() const { return port_; }

    // One datagram read by receive(), valid until the next receive().
    struct Datagram {
        const sockaddr_storage* from;
        std::span<uint8_t> bytes;  // writable: decryption works in place
        int64_t arrivalUs;         // when the system received it (realtime clock), 0 unknown
    };
    // Reads what is queued now, up to one batch, without waiting; empty when nothing is.
    // Datagrams too long for audio are left out. Call again while more() says so.
    std::span<const Datagram> receive();
    bool more() const { return more_; }  // the last receive() filled its batch
    static constexpr size_t kBatch = 16;

    // Sends one datagram; 0 or an errno value.
    int sendTo(const sockaddr* to, socklen_t length, std::span<const uint8_t> bytes);

private:
    int fd_ = -1;
    int port_ = 0;
    bool more_ = false;
    static constexpr size_t kMaxDatagram = 2048;  // larger RTP than this is not G.711 audio
    std::vector<uint8_t> buffer_;
    std::vector<sockaddr_storage> from_;
    std::vector<uint8_t> control_;
    std::vector<Datagram> received_;
};

// An RTP socket on an even port and its RTCP socket on the port above, both in
// [portMin, portMax] tried from a random start (any pair when portMin is 0). Returns 0 or an
// errno value; on failure both are closed.
int openRtpPair(RtpSocket& rtp, RtpSocket& rtcp, const sockaddr* local, socklen_t length,
                int portMin, int portMax);

}  // namespace kallomir
