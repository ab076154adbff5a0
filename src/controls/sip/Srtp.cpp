#include "controls/sip/Srtp.h"

#include "controls/sip/ReHeaders.h"

#include <array>

namespace kallomir {

namespace {

struct Suite {
    const char* name;
    srtp_suite suite;
    int keySaltBytes;
};

// GCM suites are left out: libre 1.1 builds them on an AES API that may be missing.
constexpr std::array<Suite, 4> kSuites{{
    {"AES_CM_128_HMAC_SHA1_80", SRTP_AES_CM_128_HMAC_SHA1_80, 30},
    {"AES_CM_128_HMAC_SHA1_32", SRTP_AES_CM_128_HMAC_SHA1_32, 30},
    {"AES_256_CM_HMAC_SHA1_80", SRTP_AES_256_CM_HMAC_SHA1_80, 46},
    {"AES_256_CM_HMAC_SHA1_32", SRTP_AES_256_CM_HMAC_SHA1_32, 46},
}};

const Suite* findSuite(const QString& name) {
    for (const Suite& s : kSuites) {
        if (name == QLatin1String(s.name))
            return &s;
    }
    return nullptr;
}

// Session parameters we can honour: none, or SRTCP left unencrypted.
bool usableSessionParams(const QString& params, bool* unencryptedSrtcp) {
    *unencryptedSrtcp = false;
    for (const QString& p : params.split(u' ', Qt::SkipEmptyParts)) {
        if (p == u"UNENCRYPTED_SRTCP") {
            *unencryptedSrtcp = true;
        } else if (p.startsWith(u"WSH=") || p == u"KDR=0") {
            // A replay window hint, and no key derivation: nothing to do.
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

QStringList srtpSuites() {
    QStringList out;
    for (const Suite& s : kSuites) out << QString::fromLatin1(s.name);
    return out;
}

int srtpKeySaltBytes(const QString& suite) {
    const Suite* s = findSuite(suite);
    return s ? s->keySaltBytes : 0;
}

std::optional<SrtpKey> keyOfCrypto(const SdpCrypto& crypto) {
    const Suite* suite = findSuite(crypto.suite);
    if (!suite || !crypto.keyParams.startsWith(u"inline:"))
        return std::nullopt;
    // inline:<key||salt>[|lifetime][|MKI:length]
    const QStringList parts = crypto.keyParams.mid(7).split(u'|');
    if (parts.size() > 2 || (parts.size() == 2 && parts[1].contains(u':')))
        return std::nullopt;  // a master key identifier: libre has none
    const auto decoded = QByteArray::fromBase64Encoding(parts[0].toLatin1(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != suite->keySaltBytes)
        return std::nullopt;
    SrtpKey key;
    key.suite = crypto.suite;
    key.keySalt = decoded.decoded;
    if (!usableSessionParams(crypto.sessionParams, &key.unencryptedSrtcp))
        return std::nullopt;
    return key;
}

std::optional<ChosenCrypto> chooseCrypto(const std::vector<SdpCrypto>& offered) {
    for (const SdpCrypto& c : offered) {
        if (const auto key = keyOfCrypto(c))
            return ChosenCrypto{c, *key};
    }
    return std::nullopt;
}

SrtpKey makeSrtpKey(const QString& suite) {
    SrtpKey key;
    key.suite = suite;
    key.keySalt.resize(srtpKeySaltBytes(suite));
    rand_bytes(reinterpret_cast<uint8_t*>(key.keySalt.data()), size_t(key.keySalt.size()));
    return key;
}

SdpCrypto cryptoLine(int tag, const SrtpKey& key) {
    SdpCrypto c;
    c.tag = tag;
    c.suite = key.suite;
    c.keyParams = QStringLiteral("inline:") + QString::fromLatin1(key.keySalt.toBase64());
    if (key.unencryptedSrtcp)
        c.sessionParams = QStringLiteral("UNENCRYPTED_SRTCP");
    return c;
}

std::unique_ptr<SrtpContext> SrtpContext::make(const SrtpKey& key) {
    std::unique_ptr<SrtpContext> ctx(new SrtpContext(key));
    ctx->restart();
    if (!ctx->ctx_)
        return nullptr;
    return ctx;
}

SrtpContext::~SrtpContext() {
    mem_deref(ctx_);
}

void SrtpContext::restart() {
    ctx_ = static_cast<::srtp*>(mem_deref(ctx_));
    const Suite* suite = findSuite(key_.suite);
    if (!suite)
        return;
    ::srtp* fresh = nullptr;
    if (srtp_alloc(&fresh, suite->suite, reinterpret_cast<const uint8_t*>(key_.keySalt.constData()),
                   size_t(key_.keySalt.size()),
                   key_.unencryptedSrtcp ? SRTP_UNENCRYPTED_SRTCP : 0) == 0) {
        ctx_ = fresh;
    }
}

int SrtpContext::unprotect(std::span<uint8_t>& datagram, bool rtcp) {
    if (!ctx_)
        return EINVAL;
    // libre works on an mbuf; this one wraps the datagram, which only shrinks.
    mbuf mb{};
    mb.buf = datagram.data();
    mb.size = datagram.size();
    mb.pos = 0;
    mb.end = datagram.size();
    const int err = rtcp ? srtcp_decrypt(ctx_, &mb) : srtp_decrypt(ctx_, &mb);
    if (err != 0)
        return err;
    datagram = datagram.first(mb.end);
    return 0;
}

int SrtpContext::protect(std::vector<uint8_t>& packet, bool rtcp) {
    if (!ctx_)
        return EINVAL;
    mbuf* mb = mbuf_alloc(packet.size() + 32);
    if (!mb)
        return ENOMEM;
    int err = mbuf_write_mem(mb, packet.data(), packet.size());
    mb->pos = 0;
    if (err == 0)
        err = rtcp ? srtcp_encrypt(ctx_, mb) : srtp_encrypt(ctx_, mb);
    if (err == 0)
        packet.assign(mb->buf, mb->buf + mb->end);
    mem_deref(mb);
    return err;
}

int SrtpContext::unprotectRtp(std::span<uint8_t>& datagram) {
    return unprotect(datagram, false);
}
int SrtpContext::unprotectRtcp(std::span<uint8_t>& datagram) {
    return unprotect(datagram, true);
}
int SrtpContext::protectRtp(std::vector<uint8_t>& packet) {
    return protect(packet, false);
}
int SrtpContext::protectRtcp(std::vector<uint8_t>& packet) {
    return protect(packet, true);
}

}  // namespace kallomir
