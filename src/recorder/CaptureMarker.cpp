#include "recorder/CaptureMarker.h"

#include "core/VbConvert.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kallomir {

namespace {

// The start lives in the first slot, the plan in the second; each ends with a checksum line
// so a slot cut off by a crash is recognised and ignored.
constexpr qint64 kSlot = 2048;
const QByteArray kMagic = "KALLOMIR-CAPTURE 1\n";

QByteArray Sealed(QByteArray body) {
    body += "sum=" + QByteArray::number(qChecksum(body)) + "\n";
    return body;
}

// The lines of a sealed slot, or nothing when it is absent or damaged.
std::optional<QList<QByteArray>> Unsealed(const QByteArray& slot) {
    const int end = slot.indexOf("sum=");
    if (end < 0)
        return std::nullopt;
    const QByteArray body = slot.left(end);
    const int eol = slot.indexOf('\n', end);
    if (eol < 0)
        return std::nullopt;
    bool ok = false;
    const quint16 sum = slot.mid(end + 4, eol - end - 4).toUShort(&ok);
    if (!ok || sum != qChecksum(body))
        return std::nullopt;
    return body.split('\n');
}

QString Value(const QList<QByteArray>& lines, const char* key) {
    const QByteArray prefix = QByteArray(key) + '=';
    for (const QByteArray& line : lines)
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    return {};
}

QString SystemError(const QString& what, const QString& file) {
    return QStringLiteral("%1 '%2': %3").arg(what, file, QString::fromLocal8Bit(strerror(errno)));
}

}  // namespace

QString CaptureMarker::create(const QDateTime& start, const QString& numero) const {
    // The number comes from the line: one line of text, and never more than the slot holds.
    const QByteArray number = QString(numero).remove(u'\n').remove(u'\r').left(200).toUtf8();
    QByteArray slot = Sealed(kMagic + "start=" + FormatDateTime(start).toUtf8() + '\n' +
                             "numero=" + number + '\n');
    slot.append(QByteArray(2 * kSlot - slot.size(), ' '));
    QFile file(path());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QStringLiteral("%1 '%2'").arg(file.errorString(), path());
    if (file.write(slot) != slot.size() || !file.flush()) {
        const QString why = file.errorString();
        file.close();
        file.remove();
        return QStringLiteral("%1 '%2'").arg(why, path());
    }
    return {};
}

QString CaptureMarker::recordPlan(const SavePlan& plan) const {
    const QByteArray body = Sealed(
        "end=" + FormatDateTime(plan.end).toUtf8() + '\n' + "folder=" + plan.folderTag.toUtf8() +
        '\n' + "target=" + plan.target.toUtf8() + '\n' + "temp=" + plan.temp.toUtf8() + '\n');
    if (body.size() > kSlot)
        return QStringLiteral("Percorso troppo lungo per '%1'").arg(path());
    const QByteArray name = QFile::encodeName(path());
    const int fd = ::open(name.constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return SystemError(QStringLiteral("Cannot open"), path());
    QByteArray slot = body;
    slot.append(QByteArray(kSlot - slot.size(), ' '));
    const ssize_t written = ::pwrite(fd, slot.constData(), size_t(slot.size()), kSlot);
    const bool ok = written == slot.size() && ::fdatasync(fd) == 0;
    const QString why = ok ? QString() : SystemError(QStringLiteral("Cannot write"), path());
    ::close(fd);
    return why;
}

QString CaptureMarker::clear() const {
    QFile file(path());
    if (!file.exists() || file.remove())
        return {};
    return QStringLiteral("%1 '%2'").arg(file.errorString(), path());
}

bool CaptureMarker::isSet() const {
    return QFileInfo(path()).isFile();
}

std::optional<CaptureMarkerData> CaptureMarker::read() const {
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(2 * kSlot);
    if (!bytes.startsWith(kMagic)) {
        // A marker of an earlier version held just the start.
        const auto start = ParseDateTime(QString::fromUtf8(bytes).trimmed());
        if (!start)
            return std::nullopt;
        return CaptureMarkerData{*start, std::nullopt};
    }
    const auto first = Unsealed(bytes.left(kSlot));
    if (!first)
        return std::nullopt;
    const auto start = ParseDateTime(Value(*first, "start"));
    if (!start)
        return std::nullopt;
    CaptureMarkerData data{*start, std::nullopt, Value(*first, "numero")};
    if (const auto second = Unsealed(bytes.mid(kSlot))) {
        SavePlan plan;
        const auto end = ParseDateTime(Value(*second, "end"));
        plan.folderTag = Value(*second, "folder");
        plan.target = Value(*second, "target");
        plan.temp = Value(*second, "temp");
        if (end && !plan.target.isEmpty() && !plan.temp.isEmpty()) {
            plan.end = *end;
            data.plan = plan;
        }
    }
    return data;
}

QStringList MarkedCaptureFiles(const QString& programFolder) {
    QStringList captures;
    const QDir dir(programFolder);
    const QStringList markers =
        dir.entryList(QStringList{QStringLiteral("Record*.wav") + CaptureMarker::Suffix()},
                      QDir::Files, QDir::Name);
    for (const QString& marker : markers)
        captures << dir.filePath(marker.left(marker.size() - CaptureMarker::Suffix().size()));
    return captures;
}

QString FreeCaptureFile(const QString& programFolder, const QSet<QString>& busy) {
    const QDir dir(programFolder);
    for (int n = 1;; ++n) {
        const QString name =
            n == 1 ? QStringLiteral("Record.wav") : QStringLiteral("Record_%1.wav").arg(n);
        const QString file = dir.filePath(name);
        if (!busy.contains(file) && !CaptureMarker(file).isSet())
            return file;
    }
}

}  // namespace kallomir
