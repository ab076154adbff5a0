#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <vector>

namespace kallomir::test {

// One UDP or TCP payload seen on the wire.
struct CapturedPayload {
    bool udp = true;
    int sourcePort = 0;
    int destinationPort = 0;
    QByteArray bytes;
};

// tcpdump on the loopback interface while a test runs (root, in the test's own network
// namespace), and what it saw.
class PacketCapture {
public:
    static bool available();
    ~PacketCapture();
    // Starts capturing and waits until tcpdump listens.
    bool start();
    // Stops it and reads the UDP and TCP payloads it wrote.
    std::vector<CapturedPayload> stop();

private:
    QTemporaryDir dir_;
    QProcess process_;
};

// Shannon entropy of the bytes in bits per byte: near 8 for ciphertext, well below for audio.
double entropyBitsPerByte(const QByteArray& bytes);

}  // namespace kallomir::test
