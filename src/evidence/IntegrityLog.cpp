#include "evidence/IntegrityLog.h"

#include "core/FileErrors.h"
#include "core/RuntimeError.h"
#include "evidence/FilePolicy.h"
#include "evidence/Sha256.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kallomir {

namespace {

const QByteArray kHashKey = QByteArrayLiteral(" hash=");

bool IsHex64(const QByteArray& text) {
    return IsSha256Hex(QString::fromLatin1(text));
}

bool PlainLogByte(unsigned char c) {
    return c > 0x20 && c != 0x7f && c != '%';
}

// Reads `length` bytes at `offset`; RuntimeError on failure.
QByteArray ReadAt(int fd, qint64 offset, qint64 length, const QString& path) {
    QByteArray bytes(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const ssize_t got =
            ::pread(fd, bytes.data() + done, std::size_t(length - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw FileError(errno, path);
        if (got == 0)
            break;
        done += got;
    }
    bytes.truncate(done);
    return bytes;
}

// The last two physical lines of the file (the last one possibly without its line feed):
// enough to chain to the last line and to number after the last whole one.
struct Tail {
    QByteArray last;  // empty when the file is empty
    bool lastComplete = true;
    QByteArray beforeLast;
};

Tail ReadTail(int fd, qint64 size, const QString& path) {
    Tail tail;
    if (size == 0)
        return tail;
    qint64 window = std::min<qint64>(size, 64 * 1024);
    for (;;) {
        const QByteArray bytes = ReadAt(fd, size - window, window, path);
        QByteArray body = bytes;
        tail.lastComplete = body.endsWith('\n');
        if (tail.lastComplete)
            body.chop(1);
        const qsizetype cut = body.lastIndexOf('\n');
        const bool wholeFile = window == size;
        if (cut >= 0) {
            tail.last = body.mid(cut + 1);
            const QByteArray rest = body.left(cut);
            const qsizetype cut2 = rest.lastIndexOf('\n');
            if (cut2 >= 0 || wholeFile) {
                tail.beforeLast = rest.mid(cut2 + 1);
                return tail;
            }
        } else if (wholeFile) {
            tail.last = body;
            return tail;
        }
        window = std::min<qint64>(size, window * 4);
    }
}

QString TimeText(const QDateTime& at) {
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}

}  // namespace

QByteArray EncodeLogValue(const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (PlainLogByte(c)) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(QByteArray::number(c, 16).rightJustified(2, '0').toUpper());
        }
    }
    return out;
}

QString DecodeLogValue(const QByteArray& encoded) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(encoded));
}

QString LogLine::field(const QString& key) const {
    for (const auto& [k, v] : fields) {
        if (k == key)
            return v;
    }
    return QString();
}

QString LogLine::lineSha256() const {
    return Sha256Hex(raw);
}

LogLine ParseLogLine(const QByteArray& raw, int lineNumber, bool complete) {
    LogLine line;
    line.lineNumber = lineNumber;
    line.raw = raw;
    line.complete = complete;
    const QList<QByteArray> tokens = raw.split(' ');
    if (tokens.size() < 5)
        return line;
    auto keyValue = [](const QByteArray& token) -> std::pair<QByteArray, QByteArray> {
        const qsizetype eq = token.indexOf('=');
        if (eq <= 0)
            return {};
        return {token.left(eq), token.mid(eq + 1)};
    };
    const auto [nKey, nValue] = keyValue(tokens[0]);
    const auto [oraKey, oraValue] = keyValue(tokens[1]);
    const auto [evKey, evValue] = keyValue(tokens[2]);
    const auto [precKey, precValue] = keyValue(tokens[tokens.size() - 2]);
    const auto [hashKey, hashValue] = keyValue(tokens.last());
    bool numberOk = false;
    line.sequence = nValue.toLongLong(&numberOk);
    if (nKey != "n" || !numberOk || oraKey != "ora" || evKey != "evento" || evValue.isEmpty() ||
        precKey != "prec" || !IsHex64(precValue) || hashKey != "hash" || !IsHex64(hashValue))
        return line;
    line.at = QDateTime::fromString(DecodeLogValue(oraValue), Qt::ISODate);
    line.event = DecodeLogValue(evValue);
    line.previous = QString::fromLatin1(precValue);
    line.hash = QString::fromLatin1(hashValue);
    for (qsizetype i = 3; i + 2 < tokens.size(); ++i) {
        const auto [key, value] = keyValue(tokens[i]);
        if (key.isEmpty())
            return line;
        line.fields.append({QString::fromUtf8(key), DecodeLogValue(value)});
    }
    line.wellFormed = true;
    const qsizetype hashAt = raw.lastIndexOf(kHashKey);
    line.hashMatches = Sha256Hex(raw.left(hashAt)) == line.hash;
    return line;
}

std::vector<LogLine> ParseLogLines(const QByteArray& bytes) {
    std::vector<LogLine> lines;
    qsizetype start = 0;
    int number = 0;
    while (start < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', start);
        const bool complete = end >= 0;
        const qsizetype stop = complete ? end : bytes.size();
        lines.push_back(ParseLogLine(bytes.mid(start, stop - start), ++number, complete));
        start = stop + 1;
    }
    return lines;
}

IntegrityLog::IntegrityLog(const QString& programFolder) {
    QString folder = programFolder;
    while (folder.size() > 1 && folder.endsWith(u'/')) folder.chop(1);
    path_ = folder + u'/' + FileName();
}

QByteArray IntegrityLog::append(const LogEvent& event) const {
    const QByteArray native = QFile::encodeName(path_);
    const bool existed = QFileInfo::exists(path_);
    Fd fd(::open(native.constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666));
    if (fd.get() < 0)
        throw FileError(errno, path_);
    // One writer at a time, also across processes; released when the file is closed.
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            throw FileError(errno, path_);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0)
        throw FileError(errno, path_);
    if (st.st_size == 0) {
        // A new log goes to the configured group before its first line is written.
        const QString problem = ShareWithGroup(path_);
        if (!problem.isEmpty())
            throw RuntimeError(errors::kPermissionDenied, problem);
    }
    const Tail tail = ReadTail(fd.get(), st.st_size, path_);

    // Numbered after the last whole line; a line cut off is chained to but not counted.
    qint64 sequence = 1;
    const LogLine last = ParseLogLine(tail.last, 0, tail.lastComplete);
    if (tail.lastComplete && last.wellFormed) {
        sequence = last.sequence + 1;
    } else {
        const LogLine before = ParseLogLine(tail.beforeLast, 0, true);
        if (before.wellFormed)
            sequence = before.sequence + 1;
    }
    const QString previous = st.st_size == 0 ? kNoPreviousLine : Sha256Hex(tail.last);

    QByteArray line = "n=" + QByteArray::number(sequence) +
                      " ora=" + EncodeLogValue(TimeText(event.at)) +
                      " evento=" + EncodeLogValue(event.name);
    for (const auto& [key, value] : event.fields)
        line += ' ' + key.toUtf8() + '=' + EncodeLogValue(value);
    line += " prec=" + previous.toLatin1();
    line += kHashKey + Sha256Hex(line).toLatin1();

    QByteArray bytes;
    if (!tail.lastComplete)
        bytes += '\n';  // the cut-off line stays, as a line of its own
    bytes += line + '\n';
    const char* data = bytes.constData();
    std::size_t left = std::size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = ::write(fd.get(), data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            throw FileError(errno, path_);
        if (written == 0)
            throw FileError(ENOSPC, path_);
        data += written;
        left -= std::size_t(written);
    }
    if (::fdatasync(fd.get()) != 0)
        throw FileError(errno, path_);
    if (fd.release() != 0)
        throw FileError(errno, path_);
    if (!existed) {
        // The new file's name must survive a crash as well as its first line.
        const QByteArray folder = QFile::encodeName(QFileInfo(path_).absolutePath());
        Fd dir(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0 && ::fsync(dir.get()) != 0 && errno != EINVAL)
            throw FileError(errno, path_);
    }
    return line;
}

LogContents IntegrityLog::read() const {
    LogContents contents;
    QFile file(path_);
    if (!file.exists())
        return contents;
    contents.exists = true;
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(
            errors::kPathFileAccess,
            QStringLiteral("Path/File access error: '%1' (%2)").arg(path_, file.errorString()));
    contents.lines = ParseLogLines(file.readAll());
    return contents;
}

std::optional<LogLine> IntegrityLog::lastFor(const QString& nome,
                                             const QStringList& eventNames) const {
    QFile file(path_);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw RuntimeError(
            errors::kPathFileAccess,
            QStringLiteral("Path/File access error: '%1' (%2)").arg(path_, file.errorString()));
    const QByteArray bytes = file.readAll();
    const QByteArray nameToken = " nome=" + EncodeLogValue(nome) + ' ';
    const QByteArray archiveToken = " evento=" + EncodeLogValue(events::kServiceArchived) + ' ';
    qsizetype end = bytes.size();
    if (bytes.endsWith('\n'))
        --end;
    while (end > 0) {
        const qsizetype start = bytes.lastIndexOf('\n', end - 1) + 1;
        const QByteArray raw = bytes.mid(start, end - start);
        // Only lines that may matter are read in full.
        if (raw.contains(nameToken) || raw.contains(archiveToken)) {
            const LogLine line = ParseLogLine(raw, 0, true);
            if (line.wellFormed && line.event == events::kServiceArchived)
                return std::nullopt;
            if (line.wellFormed && eventNames.contains(line.event) && line.field("nome") == nome)
                return line;
        }
        end = start - 1;
    }
    return std::nullopt;
}

}  // namespace kallomir
