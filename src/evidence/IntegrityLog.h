#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>
#include <vector>

namespace kallomir {

// What the program records in the integrity log; the texts are the event names in the file.
namespace events {
inline const QString kRecordingSaved = QStringLiteral("registrazione-salvata");
inline const QString kCaptureRecovered = QStringLiteral("cattura-recuperata");
inline const QString kTranscriptionSaved = QStringLiteral("trascrizione-salvata");
inline const QString kMarksChanged = QStringLiteral("segni-cambiati");
inline const QString kServiceArchived = QStringLiteral("fine-servizio");
}  // namespace events

// One event to append: its name, its moment and its fields in the order they are written.
struct LogEvent {
    QString name;
    QDateTime at;
    QList<QPair<QString, QString>> fields;
};

// One line of the log as it stands in the file.
struct LogLine {
    int lineNumber = 0;    // 1-based position in the file
    QByteArray raw;        // its bytes, without the line feed
    bool complete = true;  // ended by a line feed
    // Every field down to "hash=" and its 64 digits could be read; a line cut off while it
    // was written (or truncated afterwards) has not.
    bool wellFormed = false;
    bool hashMatches = false;               // "hash=" is the SHA-256 of the line up to it
    qint64 sequence = 0;                    // "n="
    QString event;                          // "evento="
    QDateTime at;                           // "ora="
    QString previous;                       // "prec=": SHA-256 of the line before
    QString hash;                           // "hash="
    QList<QPair<QString, QString>> fields;  // the event's own fields, decoded

    QString field(const QString& key) const;
    // The SHA-256 of the whole line: what the next line must carry as "prec=".
    QString lineSha256() const;
};

struct LogContents {
    bool exists = false;
    std::vector<LogLine> lines;
};

// The integrity log "registro-integrita.log" of a program folder: append-only, one line per
// event, each line carrying the SHA-256 of the line before it ("prec=") and of itself up to
// that point ("hash="), and a running number ("n="). A removed, changed or reordered line
// breaks the chain. Each append is one write to a file opened for appending, flushed to the
// disk before it returns, under an exclusive lock. A line cut off by a crash stays in the
// file: the next append ends it with a line feed and chains to it, so it is reported by the
// check and never hidden.
//
// The line: n=12 ora=2024-01-31T14:23:05+01:00 evento=registrazione-salvata nome=... ...
// prec=<64 hex> hash=<64 hex>. Values are UTF-8 with '%', blanks and control characters
// written as %XX.
class IntegrityLog {
public:
    explicit IntegrityLog(const QString& programFolder);
    static QString FileName() { return QStringLiteral("registro-integrita.log"); }
    const QString& path() const { return path_; }

    // Appends the event and returns the line written (without its line feed).
    // RuntimeErrors: 61 disk full, 70 permission denied, 76 folder missing, 75 other.
    QByteArray append(const LogEvent& event) const;

    // The whole file, line by line. RuntimeError 75 when it exists but cannot be read.
    LogContents read() const;

    // The last well-formed line for `nome` among `eventNames`, searched from the end of the
    // file back to the last end of service (rows before it belong to an archived
    // catalogue). Reads only as much of the file as it needs.
    std::optional<LogLine> lastFor(const QString& nome, const QStringList& eventNames) const;

private:
    QString path_;
};

// Splits file bytes into lines and reads each (exposed for the check and its tests).
std::vector<LogLine> ParseLogLines(const QByteArray& bytes);
LogLine ParseLogLine(const QByteArray& raw, int lineNumber, bool complete);

// The %XX form of a value, and back.
QByteArray EncodeLogValue(const QString& value);
QString DecodeLogValue(const QByteArray& encoded);

// The "prec=" of the first line.
inline const QString kNoPreviousLine = QString(64, u'0');

}  // namespace kallomir
