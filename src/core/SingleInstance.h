#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <memory>

namespace kallomir {

// One running program per user: a lock file plus a local socket through which a second
// start asks the first to come forward. The second start ends before it reads any
// configuration or settings.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // runtimeDir: where the lock and the socket live ($XDG_RUNTIME_DIR or a per-user temp folder).
    explicit SingleInstance(QString runtimeDir, QObject* parent = nullptr);
    ~SingleInstance() override;

    static QString DefaultRuntimeDir();

    // True when this process is the first one; it then listens for later starts.
    // False when another instance runs: it has been asked to come forward.
    bool claim();

Q_SIGNALS:
    void activationRequested();

private:
    QString lockPath() const;
    QString socketPath() const;

    QString runtimeDir_;
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace kallomir
