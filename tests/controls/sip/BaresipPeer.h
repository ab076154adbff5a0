#pragma once

#include "AudioChecks.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

namespace kallomir::test {

// Moves this process into a network namespace of its own with only loopback up, so that the
// SIP tests reach nothing but 127.0.0.1. Empty when done (or already done), otherwise why
// it could not be done (not root, no unshare).
QString enterLoopbackOnlyNetwork();

// Debian's baresip as the far end on 127.0.0.1, in a throw-away configuration folder:
// PCMU/PCMA only, sends a WAV file, plays nothing, writes no sound of its own. Started and
// stopped by PID, never outliving the test.
class BaresipPeer {
public:
    struct Options {
        int sipPort = 5080;
        int rtpPortMin = 12000;  // a range of 20
        QString user = QStringLiteral("caller");
        bool autoAnswer = false;
        QString sendWav;        // mono 16-bit at sampleRate
        int quitAfterSec = 30;  // baresip's own time limit (-t)
        QString dial;           // SIP address to call at start; empty: wait for calls
        int sampleRate = 8000;  // of its audio source and player
        QString codecs = QStringLiteral("PCMU,PCMA");  // e.g. "G722/16000/1", "opus/48000/2"
        bool tls = false;         // SIP over TLS (it listens on sipPort + 1 for it)
        QString mediaEncryption;  // "srtp-mand", "srtp"; empty: plain RTP
        int rtpTimeoutSec = 0;    // hangs up after this long without the far end's RTP; 0: never
    };

    static bool available();

    explicit BaresipPeer(Options options);
    ~BaresipPeer();

    bool start();
    // Stops it (SIGTERM, then SIGKILL after a limit) and waits for it.
    void stop();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    qint64 pid() const { return process_.processId(); }

    // The SIP port it uses: sipPort, or the one above it for TLS.
    int signallingPort() const { return options_.tls ? options_.sipPort + 1 : options_.sipPort; }

    // Everything it printed so far.
    QString log();
    // Waits until its output contains text (pumping the event loop); false on timeout.
    bool waitForLog(const QString& text, int timeoutMs);
    bool waitForExit(int timeoutMs);

private:
    Options options_;
    QTemporaryDir dir_;
    QProcess process_;
    QString log_;
};

}  // namespace kallomir::test
