#include "evidence/BundleManifest.h"

#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"

namespace kallomir {

namespace {

const QByteArray kTitle = "Kallomir - pacchetto di consegna";
const QByteArray kFormat = "formato 1";
const QByteArray kSeal = "fine sha256=";

QByteArray FileLine(const ManifestFile& file) {
    return "file " + file.sha256.toLatin1() + ' ' + QByteArray::number(file.bytes) + ' ' +
           EncodeLogValue(file.path) + '\n';
}

std::optional<ManifestFile> ParseFileLine(const QByteArray& rest) {
    const QList<QByteArray> parts = rest.split(' ');
    if (parts.size() != 3 || !IsSha256Hex(QString::fromLatin1(parts[0])))
        return std::nullopt;
    bool ok = false;
    const qint64 bytes = parts[1].toLongLong(&ok);
    if (!ok || bytes < 0)
        return std::nullopt;
    return ManifestFile{DecodeLogValue(parts[2]), QString::fromLatin1(parts[0]), bytes};
}

}  // namespace

const ManifestFile* ManifestRecording::file(const QString& suffix) const {
    for (const ManifestFile& f : files) {
        if (f.path.endsWith(suffix, Qt::CaseInsensitive))
            return &f;
    }
    return nullptr;
}

QByteArray Manifest::toBytes() const {
    QByteArray text = kTitle + '\n' + kFormat + '\n';
    text += "creato " +
            EncodeLogValue(created.toOffsetFromUtc(created.offsetFromUtc()).toString(Qt::ISODate)) +
            '\n';
    text += "programma " + EncodeLogValue(program) + '\n';
    text += "registro " + EncodeLogValue(logPath) + '\n';
    text += "registro-ultima-riga n=" + QByteArray::number(lastSequence) +
            " sha256=" + lastLineSha256.toLatin1() + '\n';
    for (const ManifestRecording& recording : recordings) {
        text += "\nregistrazione " + EncodeLogValue(recording.nome) + '\n';
        text += "origine " + EncodeLogValue(recording.origin) + '\n';
        for (const ManifestFile& file : recording.files) text += FileLine(file);
        for (const QByteArray& line : recording.logLines) text += "riga " + line + '\n';
    }
    if (!others.empty())
        text += '\n';
    for (const ManifestFile& file : others) text += FileLine(file);
    text += '\n';
    return text + kSeal + Sha256Hex(text).toLatin1() + '\n';
}

ParsedManifest ParseManifest(const QByteArray& bytes) {
    ParsedManifest parsed;
    const qsizetype sealAt = bytes.lastIndexOf("\n" + kSeal);
    if (!bytes.startsWith(kTitle + '\n') || sealAt < 0) {
        parsed.error = QStringLiteral("non è un manifesto di consegna");
        return parsed;
    }
    const QByteArray body = bytes.left(sealAt + 1);
    const QByteArray seal = bytes.mid(sealAt + 1 + kSeal.size()).trimmed();
    parsed.sealMatches = Sha256Hex(body) == QString::fromLatin1(seal);

    Manifest manifest;
    ManifestRecording* current = nullptr;
    int number = 0;
    for (const QByteArray& line : body.split('\n')) {
        ++number;
        if (line.isEmpty()) {
            current = nullptr;  // a blank line ends a recording's block
            continue;
        }
        if (line == kTitle || line == kFormat)
            continue;
        const qsizetype space = line.indexOf(' ');
        const QByteArray key = space < 0 ? line : line.left(space);
        const QByteArray rest = space < 0 ? QByteArray() : line.mid(space + 1);
        if (key == "creato") {
            manifest.created = QDateTime::fromString(DecodeLogValue(rest), Qt::ISODate);
        } else if (key == "programma") {
            manifest.program = DecodeLogValue(rest);
        } else if (key == "registro") {
            manifest.logPath = DecodeLogValue(rest);
        } else if (key == "registro-ultima-riga") {
            for (const QByteArray& part : rest.split(' ')) {
                if (part.startsWith("n="))
                    manifest.lastSequence = part.mid(2).toLongLong();
                else if (part.startsWith("sha256="))
                    manifest.lastLineSha256 = QString::fromLatin1(part.mid(7));
            }
        } else if (key == "registrazione") {
            manifest.recordings.push_back({DecodeLogValue(rest), QString(), {}, {}});
            current = &manifest.recordings.back();
        } else if (key == "origine" && current) {
            current->origin = DecodeLogValue(rest);
        } else if (key == "riga" && current) {
            current->logLines.append(rest);
        } else if (key == "file") {
            const auto file = ParseFileLine(rest);
            if (!file) {
                parsed.error = QStringLiteral("riga %1 del manifesto illeggibile").arg(number);
                return parsed;
            }
            if (current)
                current->files.push_back(*file);
            else
                manifest.others.push_back(*file);
        } else {
            parsed.error = QStringLiteral("riga %1 del manifesto illeggibile").arg(number);
            return parsed;
        }
    }
    parsed.manifest = manifest;
    return parsed;
}

}  // namespace kallomir
