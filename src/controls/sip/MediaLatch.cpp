#include "controls/sip/MediaLatch.h"

#include <cstring>

#include <netinet/in.h>

namespace kallomir {

bool sameHost(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(a).sin_addr.s_addr ==
               reinterpret_cast<const sockaddr_in&>(b).sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        return std::memcmp(&reinterpret_cast<const sockaddr_in6&>(a).sin6_addr,
                           &reinterpret_cast<const sockaddr_in6&>(b).sin6_addr,
                           sizeof(in6_addr)) == 0;
    }
    return false;
}

bool sameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
    if (!sameHost(a, b))
        return false;
    if (a.ss_family == AF_INET) {
        return reinterpret_cast<const sockaddr_in&>(a).sin_port ==
               reinterpret_cast<const sockaddr_in&>(b).sin_port;
    }
    return reinterpret_cast<const sockaddr_in6&>(a).sin6_port ==
           reinterpret_cast<const sockaddr_in6&>(b).sin6_port;
}

void SourceLatch::expect(const sockaddr_storage& described, const sockaddr_storage& signalling) {
    *this = SourceLatch{};
    described_ = described;
    signalling_ = signalling;
}

SourceLatch::Verdict SourceLatch::check(const sockaddr_storage& from) const {
    if (sameEndpoint(from, described_))
        return Verdict::Accept;
    if (latched_)
        return sameEndpoint(from, current_) ? Verdict::Accept : Verdict::Foreign;
    return sameHost(from, described_) || sameHost(from, signalling_) ? Verdict::Learning
                                                                     : Verdict::Foreign;
}

void SourceLatch::confirm(const sockaddr_storage& from, uint32_t ssrc, uint16_t sequence) {
    if (sameEndpoint(from, described_)) {
        // The description was right after all: it wins over anything learnt.
        current_ = described_;
        latched_ = true;
        fixed_ = true;
        return;
    }
    if (latched_ || check(from) != Verdict::Learning)
        return;
    if (candidateCount_ > 0 && sameEndpoint(from, candidate_) && ssrc == candidateSsrc_ &&
        sequence == uint16_t(candidateSeq_ + 1)) {
        ++candidateCount_;
    } else {
        candidate_ = from;
        candidateSsrc_ = ssrc;
        candidateCount_ = 1;
    }
    candidateSeq_ = sequence;
    if (candidateCount_ >= kLearnPackets) {
        current_ = candidate_;
        latched_ = true;
    }
}

SsrcLatch::Verdict SsrcLatch::check(uint32_t ssrc, uint64_t nowMs) const {
    if (!has_ || ssrc == current_)
        return has_ ? Verdict::Current : Verdict::Candidate;
    if (endedEarly_ || nowMs - lastMs_ >= kQuietMs)
        return Verdict::Candidate;
    return Verdict::Reject;
}

bool SsrcLatch::confirm(uint32_t ssrc, uint16_t sequence, uint64_t nowMs, bool* switched) {
    if (switched)
        *switched = false;
    if (has_ && ssrc == current_) {
        lastMs_ = nowMs;
        return true;
    }
    if (!has_) {
        // The call's first stream is taken at once: the source check already vouches for it.
        has_ = true;
        current_ = ssrc;
        lastMs_ = nowMs;
        if (switched)
            *switched = true;
        return true;
    }
    if (check(ssrc, nowMs) != Verdict::Candidate)
        return false;
    if (candidateCount_ > 0 && ssrc == candidate_ && sequence == uint16_t(candidateSeq_ + 1)) {
        ++candidateCount_;
    } else {
        candidate_ = ssrc;
        candidateCount_ = 1;
    }
    candidateSeq_ = sequence;
    if (candidateCount_ < kProbation)
        return false;
    current_ = ssrc;
    lastMs_ = nowMs;
    endedEarly_ = false;
    candidateCount_ = 0;
    if (switched)
        *switched = true;
    return true;
}

void SsrcLatch::ended(uint32_t ssrc) {
    if (has_ && ssrc == current_)
        endedEarly_ = true;
}

}  // namespace kallomir
