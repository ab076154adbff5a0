#pragma once

#include "controls/playback/PedalDevices.h"
#include "controls/playback/PedalEvents.h"

#include <QTemporaryFile>

#include <deque>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kallomir::test {

// Pedals for tests: opening one gives one end of a socket pair (one batch of input records
// per read, as a device delivers them); the test writes the pedal's records into the other.
// Or, while recorded sessions are queued, a file of input records: read to its end, after
// which the pedal counts as unplugged.
class FakePedalDevices : public PedalDevices {
public:
    ~FakePedalDevices() override { unplug(); }

    std::vector<PedalInfo> list() override { return listed; }
    int open(const QString& id, std::vector<int>* buttons, QString* error) override {
        ++opens;
        lastId = id;
        if (!present) {
            if (error)
                *error = QStringLiteral("No such device");
            return -1;
        }
        if (!sessions.empty()) {
            QTemporaryFile file;
            file.setAutoRemove(true);
            if (!file.open() || file.write(sessions.front()) != sessions.front().size())
                return -1;
            file.flush();
            sessions.pop_front();
            if (buttons)
                *buttons = codes;
            return ::open(QFile::encodeName(file.fileName()).constData(), O_RDONLY | O_NONBLOCK);
        }
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
            return -1;
        unplug();
        present = true;
        writer_ = fds[1];
        if (buttons)
            *buttons = codes;
        return fds[0];
    }

    // One report: the button goes down or up.
    bool press(int code, bool down) {
        const QByteArray bytes = Button(code, down);
        return writer_ >= 0 && ::write(writer_, bytes.constData(),
                                       static_cast<size_t>(bytes.size())) == bytes.size();
    }
    void unplug() {
        if (writer_ >= 0)
            ::close(writer_);
        writer_ = -1;
        present = false;
    }

    std::vector<PedalInfo> listed;
    std::deque<QByteArray> sessions;              // recorded input records, one file per opening
    std::vector<int> codes{BTN_2, BTN_0, BTN_1};  // in any order: left is the lowest
    bool present = true;
    int opens = 0;
    QString lastId;

private:
    int writer_ = -1;
};

}  // namespace kallomir::test
