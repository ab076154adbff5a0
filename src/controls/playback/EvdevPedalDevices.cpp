#include "controls/playback/EvdevPedalDevices.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <libevdev/libevdev.h>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kallomir {

namespace {

constexpr int kMaxPedalButtons = 8;

struct Probe {
    bool pedal = false;
    QString name;
    std::vector<int> buttons;
};

// What the device at fd is: a pedal has a few keys or buttons, no relative or absolute axes,
// and is not a keyboard.
Probe ProbeDevice(int fd) {
    Probe probe;
    libevdev* dev = nullptr;
    if (libevdev_new_from_fd(fd, &dev) < 0)
        return probe;
    probe.name = QString::fromUtf8(libevdev_get_name(dev));
    if (libevdev_has_event_type(dev, EV_KEY)) {
        for (unsigned code = 0; code <= KEY_MAX; ++code) {
            if (libevdev_has_event_code(dev, EV_KEY, code))
                probe.buttons.push_back(static_cast<int>(code));
        }
    }
    const bool axes = libevdev_has_event_type(dev, EV_REL) || libevdev_has_event_type(dev, EV_ABS);
    const bool keyboard =
        libevdev_has_event_code(dev, EV_KEY, KEY_A) && libevdev_has_event_code(dev, EV_KEY, KEY_Z);
    probe.pedal = !axes && !keyboard && !probe.buttons.empty() &&
                  static_cast<int>(probe.buttons.size()) <= kMaxPedalButtons;
    libevdev_free(dev);
    return probe;
}

int OpenNode(const QString& path) {
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

}  // namespace

std::vector<PedalInfo> EvdevPedalDevices::list() {
    std::vector<PedalInfo> found;
    QSet<QString> seen;  // device nodes already listed under a stable name
    auto consider = [&](const QString& id) {
        const QString node = QFileInfo(id).canonicalFilePath();
        if (node.isEmpty() || seen.contains(node))
            return;
        const int fd = OpenNode(id);
        if (fd < 0)
            return;  // not readable by this user: the documentation says how to allow it
        const Probe probe = ProbeDevice(fd);
        ::close(fd);
        seen.insert(node);
        if (probe.pedal)
            found.push_back(PedalInfo{id, probe.name});
    };
    const QDir byId(folder_ + QStringLiteral("/by-id"));
    for (const QString& entry : byId.entryList({QStringLiteral("*-event-*")}, QDir::System))
        consider(byId.filePath(entry));
    const QDir nodes(folder_);
    for (const QString& entry : nodes.entryList({QStringLiteral("event*")}, QDir::System))
        consider(nodes.filePath(entry));
    return found;
}

int EvdevPedalDevices::open(const QString& id, std::vector<int>* buttons, QString* error) {
    const int fd = OpenNode(id);
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    const Probe probe = ProbeDevice(fd);
    if (probe.buttons.empty()) {
        ::close(fd);
        if (error)
            *error = QStringLiteral("il dispositivo non ha pulsanti");
        return -1;
    }
    // Taken for this program alone; if another program holds it, presses still arrive here.
    ::ioctl(fd, EVIOCGRAB, 1);
    if (buttons)
        *buttons = probe.buttons;
    return fd;
}

}  // namespace kallomir
