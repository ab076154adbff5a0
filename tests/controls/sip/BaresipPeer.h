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
        QString sendWav;        // 8 kHz mono 16-bit
        int quitAfterSec = 30;  // baresip's own time limit (-t)
        QString dial;           // SIP address to call at start; empty: wait for calls
    };

    static bool available();

    explicit BaresipPeer(Options options);
    ~BaresipPeer();

    bool start();
    // Stops it (SIGTERM, then SIGKILL after a limit) and waits for it.
    void stop();
    bool running() const { return process_.state() != QProcess::NotRunning; }
    qint64 pid() const { return process_.processId(); }

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
