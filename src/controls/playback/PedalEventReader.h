#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <set>
#include <vector>

namespace kallomir {

// Reads a pedal's kernel input events from a descriptor (the device itself, or in tests any
// pipe, socket or file holding the same records) and reports its buttons. Whole
// `struct input_event` records are decoded here: key presses and releases take effect at the
// end of their report (SYN_REPORT); key repeats are ignored; when the kernel dropped events
// (SYN_DROPPED) every button held is released, so nothing stays pressed by mistake. The
// reader owns and closes the descriptor.
class PedalEventReader : public QObject {
    Q_OBJECT
public:
    explicit PedalEventReader(int fd, QObject* parent = nullptr);
    ~PedalEventReader() override;
    PedalEventReader(const PedalEventReader&) = delete;
    PedalEventReader& operator=(const PedalEventReader&) = delete;

    // Reads what is there now (the notifier calls it too).
    void readAvailable();
    bool open() const { return fd_ >= 0; }

signals:
    void buttonChanged(int code, bool pressed);
    // The device went away (unplugged) or the stream ended; the descriptor is closed.
    void lost(const QString& reason);

private:
    void decode(const char* record);
    void finish(const QString& reason);

    int fd_;
    QSocketNotifier notifier_;
    std::vector<char> partial_;                  // a record cut between two reads
    std::vector<std::pair<int, bool>> pending_;  // changes of the report being read
    std::set<int> held_;
    bool dropping_ = false;
};

}  // namespace kallomir
