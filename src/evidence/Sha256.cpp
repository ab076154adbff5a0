#include "evidence/Sha256.h"

#include <openssl/evp.h>

#include <new>

namespace kallomir {

struct Sha256::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    if (!state_->ctx || EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) != 1)
        throw std::bad_alloc();
}

Sha256::~Sha256() = default;

Sha256::Sha256(const Sha256& other) : state_(std::make_unique<State>()) {
    if (!state_->ctx || EVP_MD_CTX_copy_ex(state_->ctx, other.state_->ctx) != 1)
        throw std::bad_alloc();
}

void Sha256::add(std::span<const char> bytes) {
    if (!bytes.empty())
        EVP_DigestUpdate(state_->ctx, bytes.data(), bytes.size());
}

QString Sha256::hexSoFar() const {
    // Finishing consumes a context, so a copy is finished and this one goes on.
    const Sha256 copy(*this);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(copy.state_->ctx, digest, &length);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

QString Sha256Hex(const QByteArray& bytes) {
    Sha256 hash;
    hash.add(bytes);
    return hash.hexSoFar();
}

bool IsSha256Hex(const QString& text) {
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f')))
            return false;
    }
    return true;
}

}  // namespace kallomir
