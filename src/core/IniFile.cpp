#include "core/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace kallomir {

namespace {

struct Lines {
    QStringList lines;
    QString eol = QStringLiteral("\n");
};

// Reads the file as lines. Text that is not UTF-8 is taken as Latin-1 (the single-byte
// code page older files were written in); NUL bytes are dropped so a damaged file still reads.
Lines LoadLines(const QString& path) {
    Lines result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QByteArray bytes = file.readAll();
    bytes.replace('\0', QByteArray());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    const qsizetype firstBreak = text.indexOf(u'\n');
    if (firstBreak > 0 && text[firstBreak - 1] == u'\r')
        result.eol = QStringLiteral("\r\n");
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    result.lines = text.split(u'\n');
    if (!result.lines.isEmpty() && result.lines.last().isEmpty())
        result.lines.removeLast();
    return result;
}

// The section name of a header line, or a null string when the line is no header.
QString SectionOf(const QString& line) {
    const QString t = line.trimmed();
    if (!t.startsWith(u'['))
        return QString();
    const qsizetype close = t.indexOf(u']');
    if (close < 0)
        return QString();
    return t.mid(1, close - 1).trimmed();
}

bool IsComment(const QString& line) {
    const QString t = line.trimmed();
    return t.startsWith(u';') || t.startsWith(u'#');
}

// Splits "key=value"; false for lines without '='.
bool SplitEntry(const QString& line, QString& key, QString& value) {
    if (IsComment(line))
        return false;
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1).trimmed();
    return !key.isEmpty();
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

QString IniFile::read(const QString& section, const QString& key, const QString& defaultValue,
                      int maxLength) const {
    const Lines file = LoadLines(path_);
    bool inSection = false;
    for (const QString& line : file.lines) {
        const QString header = SectionOf(line);
        if (!header.isNull()) {
            inSection = SameName(header, section);
            continue;
        }
        if (!inSection)
            continue;
        QString k, v;
        if (!SplitEntry(line, k, v) || !SameName(k, key))
            continue;
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
            v = v.mid(1, v.size() - 2);
        if (maxLength >= 0 && v.size() > maxLength)
            v.truncate(maxLength);
        return v;
    }
    return defaultValue;
}

bool IniFile::write(const QString& section, const QString& key, QString& value) const {
    value.replace(u'\r', u' ');
    value.replace(u'\n', u' ');
    Lines file = LoadLines(path_);
    QStringList& lines = file.lines;

    qsizetype header = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = SectionOf(lines[i]);
        if (!name.isNull() && SameName(name, section)) {
            header = i;
            break;
        }
    }
    if (header < 0) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines << QString();
        lines << QStringLiteral("[%1]").arg(section) << QStringLiteral("%1=%2").arg(key, value);
    } else {
        qsizetype end = header + 1;
        qsizetype lastEntry = header;
        bool replaced = false;
        for (; end < lines.size() && SectionOf(lines[end]).isNull(); ++end) {
            QString k, v;
            if (!lines[end].trimmed().isEmpty())
                lastEntry = end;
            if (!replaced && SplitEntry(lines[end], k, v) && SameName(k, key)) {
                lines[end] = QStringLiteral("%1=%2").arg(k, value);
                replaced = true;
            }
        }
        if (!replaced)
            lines.insert(lastEntry + 1, QStringLiteral("%1=%2").arg(key, value));
    }

    QSaveFile out(path_);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (lines.join(file.eol) + file.eol).toUtf8();
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

QStringList IniFile::sections() const {
    QStringList names;
    for (const QString& line : LoadLines(path_).lines) {
        const QString name = SectionOf(line);
        if (!name.isNull())
            names << name;
    }
    return names;
}

QString ReadIniValue(const QString& file, const QString& section, const QString& key,
                     const QString& defaultValue) {
    return IniFile(file).read(section, key, defaultValue);
}

bool WriteIniValue(const QString& file, const QString& section, const QString& key,
                   QString& value) {
    return IniFile(file).write(section, key, value);
}

}  // namespace kallomir
