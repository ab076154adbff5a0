#include "controls/playback/PedalEventReader.h"

#include <linux/input.h>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace kallomir {

namespace {
constexpr size_t kRecord = sizeof(input_event);
constexpr size_t kBatch = 64;  // records per read
}  // namespace

PedalEventReader::PedalEventReader(int fd, QObject* parent)
    : QObject(parent), fd_(fd), notifier_(fd, QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &PedalEventReader::readAvailable);
}

PedalEventReader::~PedalEventReader() {
    notifier_.setEnabled(false);
    if (fd_ >= 0)
        ::close(fd_);
}

void PedalEventReader::finish(const QString& reason) {
    notifier_.setEnabled(false);
    ::close(fd_);
    fd_ = -1;
    // A pedal that goes away lets go of whatever it held.
    for (int code : std::set<int>(held_)) {
        held_.erase(code);
        emit buttonChanged(code, false);
    }
    emit lost(reason);
}

void PedalEventReader::readAvailable() {
    if (fd_ < 0)
        return;
    char buffer[kRecord * kBatch];
    for (;;) {
        const size_t have = partial_.size();
        if (have > 0)
            std::memcpy(buffer, partial_.data(), have);
        const ssize_t got = ::read(fd_, buffer + have, sizeof buffer - have);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            finish(QString::fromLocal8Bit(std::strerror(errno)));  // ENODEV: unplugged
            return;
        }
        if (got == 0) {
            finish(QStringLiteral("fine dei dati"));
            return;
        }
        const size_t total = have + static_cast<size_t>(got);
        size_t at = 0;
        for (; at + kRecord <= total; at += kRecord) decode(buffer + at);
        partial_.assign(buffer + at, buffer + total);
        if (fd_ < 0)
            return;
    }
}

void PedalEventReader::decode(const char* record) {
    input_event ev;
    std::memcpy(&ev, record, sizeof ev);
    if (ev.type == EV_SYN && ev.code == SYN_DROPPED) {
        // Events were lost: what is held is unknown. Let go of everything and skip the rest
        // of the broken report.
        pending_.clear();
        dropping_ = true;
        for (int code : std::set<int>(held_)) {
            held_.erase(code);
            emit buttonChanged(code, false);
        }
        return;
    }
    if (ev.type == EV_SYN && ev.code == SYN_REPORT) {
        if (dropping_) {
            dropping_ = false;
            return;
        }
        const auto changes = std::move(pending_);
        pending_.clear();
        for (auto [code, pressed] : changes) {
            if (pressed == held_.contains(code))
                continue;  // no change (a press seen twice)
            if (pressed) {
                held_.insert(code);
            } else {
                held_.erase(code);
            }
            emit buttonChanged(code, pressed);
        }
        return;
    }
    if (ev.type == EV_KEY && !dropping_ && (ev.value == 0 || ev.value == 1))
        pending_.emplace_back(ev.code, ev.value == 1);
    // EV_KEY 2 (repeat), EV_MSC scan codes and anything else carry nothing new.
}

}  // namespace kallomir
