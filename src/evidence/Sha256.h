#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <span>

namespace kallomir {

// SHA-256 (FIPS 180-4) through OpenSSL, which uses the processor's SHA instructions where
// it has them. Digests are shown as 64 lower-case hexadecimal digits, as `sha256sum` prints
// them.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256&) = delete;

    void add(std::span<const char> bytes);
    void add(const QByteArray& bytes) {
        add(std::span<const char>(bytes.constData(), bytes.size()));
    }
    // The digest of everything added so far; more may be added afterwards.
    QString hexSoFar() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

QString Sha256Hex(const QByteArray& bytes);

// A well-formed digest text: 64 lower-case hexadecimal digits.
bool IsSha256Hex(const QString& text);

}  // namespace kallomir
