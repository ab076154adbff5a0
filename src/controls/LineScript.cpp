#include "controls/LineScript.h"

#include "core/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace kallomir {

namespace {

constexpr int kScriptError = errors::kTypeMismatch;

[[noreturn]] void Fail(int lineNumber, const QString& why) {
    throw RuntimeError(kScriptError,
                       QStringLiteral("Line script, line %1: %2").arg(lineNumber).arg(why));
}

// Splits `word key=value key="value with blanks"` into the word and its pairs.
QList<QPair<QString, QString>> Tokens(const QString& line, int lineNumber, QString* word) {
    static const QRegularExpression token(
        QStringLiteral(R"re(\s*([A-Za-z-]+)(?:=(?:"([^"]*)"|(\S+)))?)re"));
    QList<QPair<QString, QString>> pairs;
    qsizetype at = 0;
    bool first = true;
    while (at < line.size()) {
        if (line.mid(at).trimmed().isEmpty())
            break;
        const QRegularExpressionMatch match =
            token.match(line, at, QRegularExpression::NormalMatch,
                        QRegularExpression::AnchorAtOffsetMatchOption);
        if (!match.hasMatch() || match.capturedLength() == 0) {
            Fail(lineNumber, QStringLiteral("cannot read \"%1\"").arg(line.mid(at).trimmed()));
        }
        const QString key = match.captured(1).toLower();
        const QString value = match.captured(2).isNull() ? match.captured(3) : match.captured(2);
        if (first) {
            *word = key;
            first = false;
        } else {
            if (match.captured(2).isNull() && match.captured(3).isNull()) {
                Fail(lineNumber, QStringLiteral("%1 needs a value").arg(key));
            }
            pairs.append({key, value});
        }
        at = match.capturedEnd();
    }
    return pairs;
}

// "5s", "1.5s", "250ms" or a bare number of milliseconds; "never" gives -1.
qint64 Duration(const QString& text, int lineNumber) {
    if (text.compare(u"never", Qt::CaseInsensitive) == 0)
        return -1;
    static const QRegularExpression form(QStringLiteral(R"(^(\d+(?:\.\d+)?)(ms|s)?$)"));
    const QRegularExpressionMatch match = form.match(text.toLower());
    if (!match.hasMatch())
        Fail(lineNumber, QStringLiteral("\"%1\" is not a duration").arg(text));
    const double value = match.captured(1).toDouble();
    return static_cast<qint64>(match.captured(2) == u"s" ? value * 1000.0 + 0.5 : value + 0.5);
}

qint64 Number(const QString& text, int lineNumber) {
    bool ok = false;
    const qint64 value = text.startsWith(u"0x", Qt::CaseInsensitive)
                             ? text.mid(2).toLongLong(&ok, 16)
                             : text.toLongLong(&ok, 10);
    if (!ok || value < 0)
        Fail(lineNumber, QStringLiteral("\"%1\" is not a number").arg(text));
    return value;
}

// "2.1" -> major 2 in the upper 16 bits, minor 1 in the low 8; a plain number is taken as is.
qint32 Version(const QString& text, int lineNumber) {
    static const QRegularExpression dotted(QStringLiteral(R"(^(\d+)\.(\d+)$)"));
    const QRegularExpressionMatch match = dotted.match(text);
    if (match.hasMatch()) {
        return static_cast<qint32>((match.captured(1).toInt() << 16) |
                                   (match.captured(2).toInt() & 0xFF));
    }
    return static_cast<qint32>(Number(text, lineNumber));
}

QString SoundPath(const QString& text, const QString& baseFolder, int lineNumber) {
    const QString path = QDir(baseFolder).absoluteFilePath(text);
    if (!QFileInfo::exists(path))
        Fail(lineNumber, QStringLiteral("no sound file %1").arg(path));
    return path;
}

}  // namespace

LineScript ParseLineScript(const QString& text, const QString& baseFolder) {
    LineScript script;
    const QStringList lines = text.split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QString line = lines.at(i);
        const qsizetype hash = line.indexOf(u'#');
        if (hash >= 0)
            line.truncate(hash);
        if (line.trimmed().isEmpty())
            continue;
        QString word;
        const auto pairs = Tokens(line, number, &word);
        if (word == u"device") {
            LineDeviceInfo device = SimulatedLine::DefaultDevice();
            for (const auto& [key, value] : pairs) {
                if (key == u"name")
                    device.name = value;
                else if (key == u"version")
                    device.apiVersion = Version(value, number);
                else if (key == u"caps")
                    device.capabilities = static_cast<qint32>(Number(value, number));
                else
                    Fail(number, QStringLiteral("unknown key %1").arg(key));
            }
            script.devices.append(device);
        } else if (word == u"incoming") {
            SimulatedIncomingCall call;
            for (const auto& [key, value] : pairs) {
                if (key == u"at")
                    call.atMs = Duration(value, number);
                else if (key == u"ring")
                    call.ringPeriodMs = static_cast<int>(Duration(value, number));
                else if (key == u"giveup")
                    call.giveUpAfterRings = static_cast<int>(Number(value, number));
                else if (key == u"caller")
                    call.callerId = value;
                else if (key == u"audio")
                    call.audioPath = SoundPath(value, baseFolder, number);
                else if (key == u"hangup")
                    call.hangUpAfterMs = Duration(value, number);
                else if (key == u"device")
                    call.device = static_cast<int>(Number(value, number));
                else
                    Fail(number, QStringLiteral("unknown key %1").arg(key));
            }
            if (call.atMs < 0 || call.ringPeriodMs <= 0)
                Fail(number, QStringLiteral("bad timing"));
            script.incoming.append(call);
        } else if (word == u"dial") {
            SimulatedDialAnswer answer;
            for (const auto& [key, value] : pairs) {
                if (key == u"answer")
                    answer.answerAfterMs = Duration(value, number);
                else if (key == u"audio")
                    answer.audioPath = SoundPath(value, baseFolder, number);
                else if (key == u"hangup")
                    answer.hangUpAfterMs = Duration(value, number);
                else
                    Fail(number, QStringLiteral("unknown key %1").arg(key));
            }
            script.dial = answer;
        } else {
            Fail(number, QStringLiteral("unknown command %1").arg(word));
        }
    }
    const int deviceCount = script.devices.isEmpty() ? 1 : static_cast<int>(script.devices.size());
    for (const SimulatedIncomingCall& call : std::as_const(script.incoming)) {
        if (call.device >= deviceCount) {
            throw RuntimeError(
                kScriptError,
                QStringLiteral("Line script: a call names device %1, which does not exist")
                    .arg(call.device));
        }
    }
    return script;
}

LineScript LoadLineScript(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        throw RuntimeError(errors::kFileNotFound,
                           QStringLiteral("Cannot read line script %1").arg(path));
    }
    return ParseLineScript(QString::fromUtf8(file.readAll()), QFileInfo(path).absolutePath());
}

std::unique_ptr<SimulatedLine> LineScript::makeLine(QObject* parent) const {
    auto line = std::make_unique<SimulatedLine>(
        devices.isEmpty() ? QList<LineDeviceInfo>{SimulatedLine::DefaultDevice()} : devices,
        parent);
    for (const SimulatedIncomingCall& call : incoming) line->addIncomingCall(call);
    if (dial)
        line->setDialAnswer(*dial);
    return line;
}

}  // namespace kallomir
