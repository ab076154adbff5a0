#include "core/PasswordFile.h"

#include <QFile>
#include <QStringDecoder>

namespace kallomir {

namespace {
bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool IsLineEnd(QChar c) {
    return c == u'\r' || c == u'\n';
}
}  // namespace

std::optional<QString> FirstField(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (IsBlank(text[i]) || IsLineEnd(text[i]))) ++i;
    if (i == n || text[i] == QChar(0))
        return std::nullopt;
    QString field;
    if (text[i] == u'"') {
        for (++i; i < n && text[i] != u'"' && !IsLineEnd(text[i]) && text[i] != QChar(0); ++i)
            field += text[i];
        return field;
    }
    for (; i < n && text[i] != u',' && !IsLineEnd(text[i]) && text[i] != QChar(0); ++i)
        field += text[i];
    while (!field.isEmpty() && IsBlank(field.back())) field.chop(1);
    return field;
}

std::optional<QString> ReadPasswordFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(64 * 1024);  // the field is on the first line
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return FirstField(text);
}

}  // namespace kallomir
