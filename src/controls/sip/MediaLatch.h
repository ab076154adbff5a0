#pragma once

#include <cstdint>

#include <sys/socket.h>

namespace kallomir {

// Whose RTP a call takes. The address and port the far end's session description gave are
// always the far end's. Behind address translation its packets come from another port or
// address; then the first source on the described host or the host the call's signalling
// came from that sends a few packets in sequence of one stream is taken instead (symmetric
// RTP), until the described address itself is heard from. Everything else is foreign.
class SourceLatch {
public:
    static constexpr int kLearnPackets = 3;

    enum class Verdict { Accept, Learning, Foreign };

    // The address the description gave, and where the signalling came from (a family of 0:
    // unknown); forgets what was learnt.
    void expect(const sockaddr_storage& described, const sockaddr_storage& signalling);
    Verdict check(const sockaddr_storage& from) const;
    // A packet that proved to be real RTP of the call (it decoded, or authenticated).
    void confirm(const sockaddr_storage& from, uint32_t ssrc, uint16_t sequence);

    // Where the far end's audio comes from: the latched source, or the described one.
    const sockaddr_storage& remote() const { return latched_ ? current_ : described_; }
    bool learnt() const { return latched_ && !fixed_; }

private:
    sockaddr_storage described_{};
    sockaddr_storage signalling_{};
    sockaddr_storage current_{};
    bool latched_ = false;
    bool fixed_ = false;  // the described address has sent: nothing else is ever taken
    sockaddr_storage candidate_{};
    uint32_t candidateSsrc_ = 0;
    uint16_t candidateSeq_ = 0;
    int candidateCount_ = 0;
};

// Which stream (SSRC) of the far end a call takes. The first is latched; another is taken
// only after the latched one has been quiet for a while and the new one has sent two
// packets in sequence, as RTP receivers validate new sources (RFC 3550 A.1). Stray or
// forged packets with other SSRCs neither replace the stream nor reset it.
class SsrcLatch {
public:
    static constexpr uint64_t kQuietMs = 400;
    static constexpr int kProbation = 2;

    enum class Verdict { Current, Candidate, Reject };

    void reset() { *this = SsrcLatch{}; }
    Verdict check(uint32_t ssrc, uint64_t nowMs) const;
    // A packet that passed check() and proved genuine. True when it belongs to the stream
    // taken (switched tells whether it just became that stream).
    bool confirm(uint32_t ssrc, uint16_t sequence, uint64_t nowMs, bool* switched);
    // The far end said its stream ended (RTCP BYE): a new one may follow at once.
    void ended(uint32_t ssrc);

    bool has() const { return has_; }
    uint32_t current() const { return current_; }

private:
    bool has_ = false;
    uint32_t current_ = 0;
    uint64_t lastMs_ = 0;
    bool endedEarly_ = false;
    uint32_t candidate_ = 0;
    uint16_t candidateSeq_ = 0;
    int candidateCount_ = 0;
};

// Equal address and port.
bool sameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b);
// Equal address, any port.
bool sameHost(const sockaddr_storage& a, const sockaddr_storage& b);

}  // namespace kallomir
