#include "controls/MediaCommands.h"

#include "controls/WaveHeader.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace kallomir {

namespace {

// Strips one pair of double quotes around a path.
QString Unquoted(QString text) {
    text = text.trimmed();
    if (text.size() >= 2 && text.startsWith(u'"') && text.endsWith(u'"')) {
        text = text.mid(1, text.size() - 2);
    }
    return text;
}

}  // namespace

bool MediaCommands::isOpen(const QString& alias) const {
    return devices_.contains(alias.toLower());
}

int MediaCommands::send(const QString& command, QString* reply) {
    if (reply)
        reply->clear();
    const QString text = command.trimmed();
    const qsizetype blank = text.indexOf(u' ');
    const QString verb = (blank < 0 ? text : text.left(blank)).toLower();
    const QString rest = blank < 0 ? QString() : text.mid(blank + 1).trimmed();
    const QStringList words = rest.split(u' ', Qt::SkipEmptyParts);

    if (verb == u"open")
        return open(rest);
    if (verb == u"status") {
        if (words.size() < 2)
            return MediaError::kMissingParameter;
        if (words.size() > 2)
            return MediaError::kUnrecognizedKeyword;
        return status(words.at(0), words.at(1), reply);
    }
    if (verb == u"stop") {
        if (words.size() != 1)
            return words.isEmpty() ? MediaError::kMissingParameter
                                   : MediaError::kUnrecognizedKeyword;
        // Nothing plays through this interpreter, so an open device is always stopped.
        return isOpen(words.at(0)) ? MediaError::kNone : MediaError::kInvalidDeviceName;
    }
    if (verb == u"close") {
        if (words.size() != 1)
            return words.isEmpty() ? MediaError::kMissingParameter
                                   : MediaError::kUnrecognizedKeyword;
        if (words.at(0).compare(u"all", Qt::CaseInsensitive) == 0) {
            devices_.clear();
            return MediaError::kNone;
        }
        return devices_.remove(words.at(0).toLower()) > 0 ? MediaError::kNone
                                                          : MediaError::kInvalidDeviceName;
    }
    return MediaError::kUnrecognizedCommand;
}

int MediaCommands::open(const QString& arguments) {
    // The path comes first and may hold blanks, so the keywords are found from the end.
    static const QRegularExpression form(
        QStringLiteral("^(.+?)\\s+type\\s+(\\S+)\\s+alias\\s+(\\S+)$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(arguments);
    if (!match.hasMatch()) {
        return arguments.isEmpty() ? MediaError::kMissingParameter
                                   : MediaError::kUnrecognizedKeyword;
    }
    const QString path = Unquoted(match.captured(1));
    if (match.captured(2).compare(u"waveaudio", Qt::CaseInsensitive) != 0) {
        return MediaError::kUnsupportedFunction;
    }
    const QString alias = match.captured(3).toLower();
    if (alias == u"all")
        return MediaError::kUnrecognizedKeyword;
    if (devices_.contains(alias))
        return MediaError::kDuplicateAlias;

    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return MediaError::kFileNotFound;
    WaveHeaderError why = WaveHeaderError::None;
    const std::optional<WaveHeader> header = ReadWaveHeader(path, &why);
    if (!header) {
        return why == WaveHeaderError::CannotOpen ? MediaError::kFileRead
                                                  : MediaError::kInvalidFile;
    }
    devices_.insert(
        alias, Device{path, header->bitsPerSample, header->samplesPerSecond, header->channels});
    return MediaError::kNone;
}

int MediaCommands::status(const QString& alias, const QString& item, QString* reply) const {
    const auto found = devices_.constFind(alias.toLower());
    if (found == devices_.constEnd())
        return MediaError::kInvalidDeviceName;
    const QString what = item.toLower();
    QString answer;
    if (what == u"mode") {
        answer = QStringLiteral("stopped");
    } else if (what == u"bitspersample") {
        answer = QString::number(found->bitsPerSample);
    } else if (what == u"samplespersec") {
        answer = QString::number(found->samplesPerSecond);
    } else if (what == u"channels") {
        answer = QString::number(found->channels);
    } else {
        return MediaError::kUnrecognizedKeyword;
    }
    if (reply)
        *reply = answer;
    return MediaError::kNone;
}

QString MediaCommands::errorText(int code) {
    switch (code) {
        case MediaError::kNone:
            return {};
        case MediaError::kInvalidDeviceName:
            return QStringLiteral("The device name is not open or not known to the media layer.");
        case MediaError::kUnrecognizedKeyword:
            return QStringLiteral("The command holds a word the device does not understand.");
        case MediaError::kUnrecognizedCommand:
            return QStringLiteral("The command is not one the media layer knows.");
        case MediaError::kMissingParameter:
            return QStringLiteral("The command lacks a required argument.");
        case MediaError::kUnsupportedFunction:
            return QStringLiteral("The device type cannot carry out this command.");
        case MediaError::kFileNotFound:
            return QStringLiteral("The file was not found. Check the folder and the file name.");
        case MediaError::kDuplicateAlias:
            return QStringLiteral("The alias is already in use by this program.");
        case MediaError::kInvalidFile:
            return QStringLiteral("The file is not a wave file or its header is damaged.");
        case MediaError::kFileRead:
            return QStringLiteral("The file could not be read.");
        default:
            return QStringLiteral("Unknown media error %1.").arg(code);
    }
}

}  // namespace kallomir
