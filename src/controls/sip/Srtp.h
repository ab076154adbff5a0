#pragma once

#include "controls/sip/Sdp.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

struct srtp;

namespace kallomir {

// SRTP with keys exchanged in the session description (SDES, RFC 4568), on libre's SRTP.

// A crypto suite we speak, with its master key and salt.
struct SrtpKey {
    QString suite;  // e.g. "AES_CM_128_HMAC_SHA1_80"
    QByteArray keySalt;
    bool unencryptedSrtcp = false;
};

// The suites we take, most preferred first.
QStringList srtpSuites();
// Bytes of master key and salt of a suite; 0 for a suite we do not speak.
int srtpKeySaltBytes(const QString& suite);

// The far end's key of one a=crypto line; nullopt when we cannot use it (unknown suite,
// key of the wrong length, several keys with MKI, session parameters we do not implement).
std::optional<SrtpKey> keyOfCrypto(const SdpCrypto& crypto);
// The first usable line of an offer (in its order) and its key.
struct ChosenCrypto {
    SdpCrypto line;
    SrtpKey key;
};
std::optional<ChosenCrypto> chooseCrypto(const std::vector<SdpCrypto>& offered);

// A fresh random key for a suite, and the a=crypto line that carries it.
SrtpKey makeSrtpKey(const QString& suite);
SdpCrypto cryptoLine(int tag, const SrtpKey& key);

// One direction's SRTP and SRTCP context.
class SrtpContext {
public:
    // nullptr when libre refuses the key.
    static std::unique_ptr<SrtpContext> make(const SrtpKey& key);
    ~SrtpContext();
    SrtpContext(const SrtpContext&) = delete;
    SrtpContext& operator=(const SrtpContext&) = delete;

    // In place: the datagram shrinks by the authentication tag. 0 or an errno value
    // (EAUTH for a packet that is not genuine).
    int unprotectRtp(std::span<uint8_t>& datagram);
    int unprotectRtcp(std::span<uint8_t>& datagram);
    // Appends the tag (and the SRTCP index); 0 or an errno value.
    int protectRtp(std::vector<uint8_t>& packet);
    int protectRtcp(std::vector<uint8_t>& packet);
    // Forgets the streams seen (libre keeps a few per context).
    void restart();

private:
    explicit SrtpContext(SrtpKey key) : key_(std::move(key)) {}
    int protect(std::vector<uint8_t>& packet, bool rtcp);
    int unprotect(std::span<uint8_t>& datagram, bool rtcp);

    SrtpKey key_;
    ::srtp* ctx_ = nullptr;
};

}  // namespace kallomir
