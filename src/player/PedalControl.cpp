#include "player/PedalControl.h"

#include "controls/playback/PedalDevices.h"
#include "controls/playback/PedalEventReader.h"

#include <algorithm>

namespace kallomir {

PedalControl::PedalControl(PedalDevices& devices, QObject* parent)
    : QObject(parent), devices_(devices) {
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &PedalControl::retry);
}

PedalControl::~PedalControl() {
    delete reader_.data();
}

bool PedalControl::connected() const {
    return reader_ && reader_->open();
}

void PedalControl::disconnectReader() {
    if (!reader_)
        return;
    reader_->disconnect(this);
    // The reader may be in the middle of reporting (a lost device): it goes when that ends.
    reader_->deleteLater();
    reader_ = nullptr;
}

void PedalControl::setDevice(const QString& id) {
    const bool was = connected();
    disconnectReader();
    retry_.stop();
    id_ = id;
    problem_.clear();
    if (id_.isEmpty()) {
        if (was)
            emit connectionChanged(false);
        return;
    }
    retry();
    if (was && !connected())
        emit connectionChanged(false);
}

void PedalControl::retry() {
    if (id_.isEmpty() || connected()) {
        retry_.stop();
        return;
    }
    std::vector<int> codes;
    QString error;
    const int fd = devices_.open(id_, &codes, &error);
    if (fd < 0) {
        problem_ = error;
        if (!retry_.isActive())
            retry_.start();
        return;
    }
    retry_.stop();
    problem_.clear();
    std::sort(codes.begin(), codes.end());
    codes_ = codes;
    reader_ = new PedalEventReader(fd, this);
    connect(reader_, &PedalEventReader::buttonChanged, this, &PedalControl::onButton);
    connect(reader_, &PedalEventReader::lost, this, &PedalControl::onLost);
    emit connectionChanged(true);
}

void PedalControl::onButton(int code, bool pressed) {
    const auto it = std::find(codes_.begin(), codes_.end(), code);
    if (it != codes_.end())  // the kernel sends only codes the device announced
        emit button(static_cast<int>(it - codes_.begin()), pressed);
}

void PedalControl::onLost(const QString& reason) {
    problem_ = reason;
    disconnectReader();
    emit connectionChanged(false);
    retry_.start();
}

}  // namespace kallomir
