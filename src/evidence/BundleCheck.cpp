#include "evidence/BundleCheck.h"

#include "evidence/BundleManifest.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/HandOverExport.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <zip.h>

#include <memory>
#include <optional>

namespace kallomir {

namespace {

struct Digest {
    QString sha256;
    qint64 bytes = 0;
};

// The files of a bundle, wherever they are kept.
class BundleFiles {
public:
    virtual ~BundleFiles() = default;
    virtual QStringList paths() const = 0;
    // Nothing when the file cannot be read whole.
    virtual std::optional<Digest> digest(const QString& path) = 0;
    virtual std::optional<QByteArray> readAll(const QString& path) = 0;
};

class FolderFiles : public BundleFiles {
public:
    explicit FolderFiles(QString root) : root_(std::move(root)) {}
    QStringList paths() const override {
        QStringList list;
        QDirIterator it(root_, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) list << QDir(root_).relativeFilePath(it.next());
        return list;
    }
    std::optional<Digest> digest(const QString& path) override {
        QFile file(root_ + u'/' + path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        Sha256 hash;
        Digest d;
        QByteArray block;
        while (!(block = file.read(1 << 20)).isEmpty()) {
            hash.add(block);
            d.bytes += block.size();
        }
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        d.sha256 = hash.hexSoFar();
        return d;
    }
    std::optional<QByteArray> readAll(const QString& path) override {
        QFile file(root_ + u'/' + path);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }

private:
    QString root_;
};

class ZipFiles : public BundleFiles {
public:
    explicit ZipFiles(const QString& archive) {
        int error = 0;
        zip_ = zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!zip_) {
            zip_error_t e;
            zip_error_init_with_code(&e, error);
            problem_ = QString::fromLocal8Bit(zip_error_strerror(&e));
            zip_error_fini(&e);
        }
    }
    ~ZipFiles() override {
        if (zip_)
            zip_discard(zip_);
    }
    const QString& problem() const { return problem_; }

    QStringList paths() const override {
        QStringList list;
        const zip_int64_t count = zip_get_num_entries(zip_, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            const QString name = QString::fromUtf8(zip_get_name(zip_, zip_uint64_t(i), 0));
            if (!name.endsWith(u'/'))
                list << name;
        }
        return list;
    }
    std::optional<Digest> digest(const QString& path) override {
        Sha256 hash;
        Digest d;
        const bool ok = read(path, [&](const char* data, zip_int64_t n) {
            hash.add(std::span<const char>(data, std::size_t(n)));
            d.bytes += n;
        });
        if (!ok)
            return std::nullopt;
        d.sha256 = hash.hexSoFar();
        return d;
    }
    std::optional<QByteArray> readAll(const QString& path) override {
        QByteArray all;
        if (!read(path, [&](const char* data, zip_int64_t n) { all.append(data, qsizetype(n)); }))
            return std::nullopt;
        return all;
    }

private:
    // Reads an entry through its checksum: a damaged entry reads as unreadable.
    bool read(const QString& path, const std::function<void(const char*, zip_int64_t)>& take) {
        zip_file_t* file = zip_fopen(zip_, path.toUtf8().constData(), ZIP_FL_ENC_UTF_8);
        if (!file)
            return false;
        std::vector<char> buffer(1 << 20);
        zip_int64_t got = 0;
        while ((got = zip_fread(file, buffer.data(), buffer.size())) > 0) take(buffer.data(), got);
        zip_fclose(file);
        return got == 0;
    }

    zip_t* zip_ = nullptr;
    QString problem_;
};

const LogLine* LastOf(const std::vector<LogLine>& lines, const QStringList& events) {
    const LogLine* last = nullptr;
    for (const LogLine& line : lines) {
        if (line.wellFormed && events.contains(line.event))
            last = &line;
    }
    return last;
}

void CheckRecording(const ManifestRecording& recording, const QHash<QString, Digest>& actual,
                    std::vector<Finding>& findings) {
    std::vector<LogLine> lines;
    int number = 0;
    for (const QByteArray& raw : recording.logLines) {
        LogLine line = ParseLogLine(raw, ++number, true);
        if (!line.wellFormed || !line.hashMatches) {
            findings.push_back({FindingKind::LogLineChanged,
                                QStringLiteral("%1: riga del registro %2 del manifesto (n=%3) "
                                               "non corrisponde al suo hash")
                                    .arg(recording.nome)
                                    .arg(number)
                                    .arg(line.sequence)});
            continue;
        }
        if (line.field(QStringLiteral("nome")) != recording.nome) {
            findings.push_back({FindingKind::BundleDiffersFromLog,
                                QStringLiteral("%1: la riga del registro n=%2 riguarda %3")
                                    .arg(recording.nome)
                                    .arg(line.sequence)
                                    .arg(line.field(QStringLiteral("nome")))});
            continue;
        }
        lines.push_back(line);
    }
    auto actualOf = [&](const QString& suffix) -> std::optional<Digest> {
        const ManifestFile* file = recording.file(suffix);
        if (!file || !actual.contains(file->path))
            return std::nullopt;
        return actual.value(file->path);
    };
    const LogLine* saved = LastOf(lines, {events::kRecordingSaved, events::kCaptureRecovered});
    if (!saved) {
        findings.push_back({FindingKind::BundleNotLogged,
                            QStringLiteral("%1: nessuna riga del registro ne annota il "
                                           "salvataggio; la sua impronta non è garantita")
                                .arg(recording.nome)});
    } else {
        if (const auto ems = actualOf(QStringLiteral(".Ems"));
            ems && ems->sha256 != saved->field(QStringLiteral("sha256")))
            findings.push_back({FindingKind::BundleDiffersFromLog,
                                QStringLiteral("%1: la registrazione non è quella salvata "
                                               "(registro n=%2)")
                                    .arg(recording.nome)
                                    .arg(saved->sequence)});
        if (const auto wav = actualOf(QStringLiteral(".wav"));
            wav && wav->sha256 != saved->field(QStringLiteral("sha256-audio")) &&
            wav->sha256 != saved->field(QStringLiteral("sha256")))
            findings.push_back({FindingKind::BundleDiffersFromLog,
                                QStringLiteral("%1: il WAV non è l'audio salvato (registro n=%2)")
                                    .arg(recording.nome)
                                    .arg(saved->sequence)});
    }
    const LogLine* text = LastOf(lines, {events::kTranscriptionSaved});
    if (const auto rtf = actualOf(QStringLiteral(".rtf"))) {
        if (!text)
            findings.push_back({FindingKind::BundleDiffersFromLog,
                                QStringLiteral("%1: nessuna riga del registro annota la "
                                               "trascrizione")
                                    .arg(recording.nome)});
        else if (rtf->sha256 != text->field(QStringLiteral("sha256")))
            findings.push_back({FindingKind::BundleDiffersFromLog,
                                QStringLiteral("%1: la trascrizione non è quella salvata "
                                               "(registro n=%2)")
                                    .arg(recording.nome)
                                    .arg(text->sequence)});
    }
}

}  // namespace

CheckReport CheckHandOverBundle(const QString& path, const std::atomic<bool>* cancel) {
    CheckReport report;
    report.programFolder = path;
    auto finish = [&report] {
        report.finishedAt = QDateTime::currentDateTime();
        return report;
    };
    std::unique_ptr<BundleFiles> files;
    if (QFileInfo(path).isDir()) {
        files = std::make_unique<FolderFiles>(path);
    } else if (QFileInfo(path).isFile()) {
        auto zip = std::make_unique<ZipFiles>(path);
        if (!zip->problem().isEmpty()) {
            report.findings.push_back({FindingKind::BundleUnreadable,
                                       QStringLiteral("%1: %2").arg(path, zip->problem())});
            return finish();
        }
        files = std::move(zip);
    } else {
        report.findings.push_back(
            {FindingKind::BundleUnreadable, QStringLiteral("%1: non esiste").arg(path)});
        return finish();
    }

    const auto text = files->readAll(Manifest::FileName());
    if (!text) {
        report.findings.push_back({FindingKind::BundleManifestChanged,
                                   QStringLiteral("%1 mancante").arg(Manifest::FileName())});
        return finish();
    }
    const ParsedManifest parsed = ParseManifest(*text);
    if (!parsed.manifest) {
        report.findings.push_back(
            {FindingKind::BundleManifestChanged,
             QStringLiteral("%1: %2").arg(Manifest::FileName(), parsed.error)});
        return finish();
    }
    if (!parsed.sealMatches)
        report.findings.push_back({FindingKind::BundleManifestChanged,
                                   QStringLiteral("%1: il testo non corrisponde alla sua riga "
                                                  "finale (fine sha256=)")
                                       .arg(Manifest::FileName())});
    const Manifest& manifest = *parsed.manifest;
    report.lastSequence = manifest.lastSequence;
    report.lastLineSha256 = manifest.lastLineSha256;

    std::vector<ManifestFile> listed = manifest.others;
    for (const ManifestRecording& recording : manifest.recordings) {
        listed.insert(listed.end(), recording.files.begin(), recording.files.end());
        report.logLines += int(recording.logLines.size());
    }
    const QStringList present = files->paths();
    QHash<QString, Digest> actual;
    for (const ManifestFile& file : listed) {
        if (cancel && cancel->load()) {
            report.cancelled = true;
            return finish();
        }
        if (!present.contains(file.path)) {
            report.findings.push_back({FindingKind::BundleFileMissing, file.path});
            continue;
        }
        const auto digest = files->digest(file.path);
        if (!digest) {
            report.findings.push_back(
                {FindingKind::BundleFileChanged,
                 QStringLiteral("%1: illeggibile o danneggiato").arg(file.path)});
            continue;
        }
        actual.insert(file.path, *digest);
        if (digest->sha256 != file.sha256 || digest->bytes != file.bytes)
            report.findings.push_back(
                {FindingKind::BundleFileChanged, QStringLiteral("%1: SHA-256 %2 invece di %3")
                                                     .arg(file.path, digest->sha256, file.sha256)});
    }
    for (const QString& name : present) {
        const bool known = name == Manifest::FileName() ||
                           std::any_of(listed.begin(), listed.end(),
                                       [&](const ManifestFile& f) { return f.path == name; });
        if (!known)
            report.findings.push_back({FindingKind::BundleFileAdded, name});
    }
    for (const ManifestRecording& recording : manifest.recordings) {
        CheckRecording(recording, actual, report.findings);
        ++report.recordingsChecked;
    }
    return finish();
}

}  // namespace kallomir
