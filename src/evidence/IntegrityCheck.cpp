#include "evidence/IntegrityCheck.h"

#include "catalogue/SqliteCatalogue.h"
#include "core/GeneralSound.h"
#include "core/IniFile.h"
#include "core/RuntimeError.h"
#include "evidence/EvidenceEvents.h"
#include "evidence/Fingerprint.h"
#include "evidence/IntegrityLog.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace kallomir {

namespace {

QString Clean(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString Key(const QString& nome) {
    return nome.toLower();
}

// What the log says, line by line, read in order.
struct LogClaims {
    QHash<QString, const LogLine*> recordings;        // clean path -> last line
    QHash<QString, const LogLine*> recordingsByName;  // name -> last line
    QHash<QString, const LogLine*> archives;          // clean path -> last line
    // Since the last end of service (the rows before it went to the archive):
    QHash<QString, const LogLine*> transcriptions;
    QHash<QString, const LogLine*> marks;
};

QString LineRef(const LogLine& line) {
    return line.wellFormed ? QStringLiteral("riga %1 (n=%2, %3)")
                                 .arg(line.lineNumber)
                                 .arg(line.sequence)
                                 .arg(line.event)
                           : QStringLiteral("riga %1").arg(line.lineNumber);
}

void CheckChain(const std::vector<LogLine>& lines, std::vector<Finding>& findings) {
    std::vector<std::size_t> whole;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const LogLine& line = lines[i];
        if (!line.complete || !line.wellFormed)
            findings.push_back({FindingKind::LogLineTruncated,
                                QStringLiteral("riga %1 (%2): interrotta mentre veniva "
                                               "scritta, o troncata")
                                    .arg(line.lineNumber)
                                    .arg(line.complete ? QStringLiteral("campi mancanti")
                                                       : QStringLiteral("senza fine riga"))});
        if (line.wellFormed)
            whole.push_back(i);
    }
    std::vector<bool> changed(lines.size(), false);
    for (const std::size_t i : whole) {
        if (!lines[i].hashMatches) {
            changed[i] = true;
            findings.push_back(
                {FindingKind::LogLineChanged,
                 LineRef(lines[i]) + QStringLiteral(" modificata: il contenuto non corrisponde "
                                                    "al suo hash")});
        }
    }
    std::vector<bool> reordered(lines.size(), false);
    for (std::size_t k = 0; k + 1 < whole.size(); ++k) {
        const LogLine& a = lines[whole[k]];
        const LogLine& b = lines[whole[k + 1]];
        if (a.sequence < b.sequence)
            continue;
        reordered[whole[k]] = reordered[whole[k + 1]] = true;
        if (a.sequence == b.sequence)
            findings.push_back({FindingKind::LogLineChanged,
                                QStringLiteral("righe %1 e %2 del registro con lo stesso numero "
                                               "n=%3: una è stata aggiunta o copiata")
                                    .arg(a.lineNumber)
                                    .arg(b.lineNumber)
                                    .arg(a.sequence)});
        else
            findings.push_back(
                {FindingKind::LogLinesSwapped, QStringLiteral("righe %1 e %2 (n=%3 prima di n=%4)")
                                                   .arg(a.lineNumber)
                                                   .arg(b.lineNumber)
                                                   .arg(a.sequence)
                                                   .arg(b.sequence)});
    }
    std::vector<qint64> numbers;
    for (const std::size_t i : whole) numbers.push_back(lines[i].sequence);
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    qint64 expected = 1;
    for (const qint64 n : numbers) {
        if (n > expected)
            findings.push_back(
                {FindingKind::LogLineRemoved,
                 (n - 1 == expected ? QStringLiteral("manca la riga n=%1").arg(expected)
                                    : QStringLiteral("mancano le righe da n=%1 a n=%2")
                                          .arg(expected)
                                          .arg(n - 1)) +
                     QStringLiteral(", che precedeva la riga n=%1").arg(n)});
        expected = std::max(expected, n + 1);
    }
    for (const std::size_t i : whole) {
        const LogLine& line = lines[i];
        if (reordered[i] || (i > 0 && reordered[i - 1]))
            continue;
        const QString expectedPrevious = i == 0 ? kNoPreviousLine : lines[i - 1].lineSha256();
        if (line.previous == expectedPrevious)
            continue;
        if (i == 0) {
            // Lines removed at the start are told by the numbers.
            if (line.sequence == 1 && !changed[i])
                findings.push_back({FindingKind::LogLineChanged,
                                    LineRef(line) + QStringLiteral(" modificata: la prima riga "
                                                                   "non apre la catena")});
            continue;
        }
        const LogLine& before = lines[i - 1];
        if (before.wellFormed && line.sequence > before.sequence + 1)
            continue;  // removed lines, told above
        if (changed[i] || changed[i - 1])
            continue;  // told above
        findings.push_back(
            {FindingKind::LogLineChanged,
             LineRef(before) + QStringLiteral(" modificata: la riga seguente (n=%1) ne registra "
                                              "un altro hash")
                                   .arg(line.sequence)});
    }
}

LogClaims ReadClaims(const std::vector<LogLine>& lines) {
    LogClaims claims;
    for (const LogLine& line : lines) {
        if (!line.wellFormed)
            continue;
        const QString nome = Key(line.field(QStringLiteral("nome")));
        if (line.event == events::kRecordingSaved || line.event == events::kCaptureRecovered) {
            claims.recordings.insert(Clean(line.field(QStringLiteral("file"))), &line);
            claims.recordingsByName.insert(nome, &line);
        } else if (line.event == events::kServiceArchived) {
            claims.archives.insert(Clean(line.field(QStringLiteral("archivio"))), &line);
            claims.transcriptions.clear();
            claims.marks.clear();
        } else if (line.event == events::kTranscriptionSaved) {
            claims.transcriptions.insert(nome, &line);
        } else if (line.event == events::kMarksChanged) {
            claims.marks.insert(nome, &line);
        }
    }
    return claims;
}

struct HashJob {
    QString path;
    const LogLine* claim = nullptr;
    std::optional<RecordingFingerprint> result;
    std::optional<RuntimeError> error;
};

// Reads every file on a few threads; the calling thread reports progress meanwhile.
void HashAll(std::vector<HashJob>& jobs, const CheckOptions& options) {
    const int threads =
        std::max(1, std::min<int>(options.threads > 0
                                      ? options.threads
                                      : int(std::max(1u, std::thread::hardware_concurrency())),
                                  options.threads > 0 ? options.threads : 2));
    CheckProgress progress;
    progress.filesTotal = int(jobs.size());
    for (const HashJob& job : jobs) progress.bytesTotal += QFileInfo(job.path).size();
    std::atomic<std::size_t> next{0};
    std::atomic<int> filesDone{0};
    std::atomic<qint64> bytesDone{0};
    std::mutex mutex;
    std::condition_variable finished;
    int running = threads;
    auto cancelled = [&] {
        return options.cancel && options.cancel->load(std::memory_order_relaxed);
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (;;) {
                const std::size_t i = next.fetch_add(1);
                if (i >= jobs.size() || cancelled())
                    break;
                try {
                    jobs[i].result = FingerprintOfFile(jobs[i].path, options.cancel,
                                                       [&](qint64 n) { bytesDone += n; });
                } catch (const RuntimeError& error) {
                    jobs[i].error = error;
                }
                ++filesDone;
            }
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    }
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            finished.wait_for(lock, std::chrono::milliseconds(100));
            if (options.progress) {
                progress.filesDone = filesDone;
                progress.bytesDone = bytesDone;
                lock.unlock();
                options.progress(progress);
                lock.lock();
            }
        }
    }
    for (std::thread& worker : workers) worker.join();
}

QString TrailerText(const QByteArray& trailer) {
    QString text = QString::fromLatin1(trailer);
    text.replace(QStringLiteral("\r"), QStringLiteral("\\r"));
    text.replace(QStringLiteral("\n"), QStringLiteral("\\n"));
    return u'"' + text + u'"';
}

void CompareRecording(const HashJob& job, std::vector<Finding>& findings) {
    const LogLine& claim = *job.claim;
    const RecordingFingerprint& found = *job.result;
    if (found.sha256 == claim.field(QStringLiteral("sha256")))
        return;
    const QString where =
        QStringLiteral("%1 (registro, riga %2)").arg(job.path).arg(claim.lineNumber);
    const qint64 loggedBytes = claim.field(QStringLiteral("byte")).toLongLong();
    const QByteArray loggedTrailer = claim.field(QStringLiteral("coda")).toLatin1();
    const bool audioChanged = found.audioSha256 != claim.field(QStringLiteral("sha256-audio")) ||
                              found.bytes != loggedBytes;
    const bool trailerChanged = found.trailer != loggedTrailer;
    if (audioChanged || !trailerChanged) {
        QString detail = where + QStringLiteral(": l'audio non è più quello salvato");
        if (found.bytes != loggedBytes)
            detail +=
                QStringLiteral(" (lunghezza da %1 a %2 byte)").arg(loggedBytes).arg(found.bytes);
        findings.push_back({FindingKind::RecordingAudioChanged, detail});
    }
    if (trailerChanged)
        findings.push_back(
            {FindingKind::RecordingTrailerChanged,
             where + QStringLiteral(": la coda era %1, ora è %2")
                         .arg(TrailerText(loggedTrailer), TrailerText(found.trailer))});
}

void CheckCatalogue(const CatalogueSnapshot& catalogue, const LogClaims& claims,
                    std::vector<Finding>& findings) {
    if (!catalogue.present)
        return;
    if (!catalogue.problem.isEmpty()) {
        findings.push_back({FindingKind::CatalogueUnreadable,
                            QStringLiteral("%1: %2").arg(catalogue.location, catalogue.problem)});
        return;
    }
    const std::vector<FingerprintedRow>& rows = catalogue.rows;
    QSet<QString> seen;
    for (const FingerprintedRow& row : rows) {
        const QString key = Key(row.nome);
        if (seen.contains(key))
            continue;  // the program reads the first row of a name only
        seen.insert(key);
        // A shared catalogue holds other workstations' recordings, and any operator may
        // write a transcription or a mark: only this workstation's fingerprints are its own.
        if (catalogue.server && !claims.recordingsByName.contains(key))
            continue;
        if (row.fingerprint) {
            const LogLine* claim = claims.recordingsByName.value(key);
            if (claim && claim->field(QStringLiteral("sha256")) != row.fingerprint->sha256)
                findings.push_back({FindingKind::CatalogueFingerprintDiffers,
                                    QStringLiteral("%1: il catalogo riporta %2, il registro "
                                                   "(riga %3) %4")
                                        .arg(row.nome, row.fingerprint->sha256)
                                        .arg(claim->lineNumber)
                                        .arg(claim->field(QStringLiteral("sha256")))});
        }
        if (catalogue.server)
            continue;
        const LogLine* text = claims.transcriptions.value(key);
        if (row.traduzione && !text)
            findings.push_back({FindingKind::TranscriptionChanged,
                                QStringLiteral("%1: il catalogo contiene una trascrizione che il "
                                               "programma non ha mai salvato")
                                    .arg(row.nome)});
        else if (!row.traduzione && text)
            findings.push_back({FindingKind::TranscriptionChanged,
                                QStringLiteral("%1: la trascrizione salvata (registro, riga %2) "
                                               "è stata cancellata dal catalogo")
                                    .arg(row.nome)
                                    .arg(text->lineNumber)});
        else if (row.traduzione && text &&
                 TranscriptionSha256(*row.traduzione) != text->field(QStringLiteral("sha256")))
            findings.push_back({FindingKind::TranscriptionChanged,
                                QStringLiteral("%1: la trascrizione non è quella salvata dal "
                                               "programma (registro, riga %2)")
                                    .arg(row.nome)
                                    .arg(text->lineNumber)});
        const LogLine* marks = claims.marks.value(key);
        auto expected = [&](const char* field) {
            return marks && marks->field(QString::fromLatin1(field)) == QStringLiteral("1");
        };
        if (row.letto != expected("ascoltato") || row.scritto != expected("trascritto") ||
            row.tradotto != expected("masterizzato"))
            findings.push_back(
                {FindingKind::MarksChanged,
                 QStringLiteral("%1: Ascoltato/Trascritto/Masterizzato sono %2/%3/%4, il "
                                "programma li aveva salvati %5/%6/%7")
                     .arg(row.nome)
                     .arg(int(row.letto))
                     .arg(int(row.scritto))
                     .arg(int(row.tradotto))
                     .arg(int(expected("ascoltato")))
                     .arg(int(expected("trascritto")))
                     .arg(int(expected("masterizzato")))});
    }
    for (auto it = claims.transcriptions.cbegin(); it != claims.transcriptions.cend(); ++it) {
        if (!seen.contains(it.key()))
            findings.push_back({FindingKind::CatalogueRowMissing,
                                QStringLiteral("%1: manca la riga del catalogo la cui "
                                               "trascrizione è nel registro (riga %2)")
                                    .arg(it.value()->field(QStringLiteral("nome")))
                                    .arg(it.value()->lineNumber)});
    }
}

void CheckArchives(const LogClaims& claims, std::vector<Finding>& findings) {
    for (auto it = claims.archives.cbegin(); it != claims.archives.cend(); ++it) {
        if (!QFileInfo::exists(it.key())) {
            findings.push_back(
                {FindingKind::ArchiveMissing, QStringLiteral("%1 (registro, riga %2)")
                                                  .arg(it.key())
                                                  .arg(it.value()->lineNumber)});
            continue;
        }
        try {
            if (Sha256OfFile(it.key()) != it.value()->field(QStringLiteral("sha256")))
                findings.push_back(
                    {FindingKind::ArchiveChanged, QStringLiteral("%1 (registro, riga %2)")
                                                      .arg(it.key())
                                                      .arg(it.value()->lineNumber)});
        } catch (const RuntimeError& error) {
            findings.push_back(
                {FindingKind::ArchiveChanged,
                 QStringLiteral("%1: illeggibile (%2)").arg(it.key(), error.description())});
        }
    }
}

}  // namespace

QString ProblemCount(int count) {
    return count == 1 ? QStringLiteral("1 problema") : QStringLiteral("%1 problemi").arg(count);
}

QString FindingLabel(FindingKind kind) {
    switch (kind) {
        case FindingKind::LogMissing:
            return QStringLiteral("registro mancante");
        case FindingKind::LogUnreadable:
            return QStringLiteral("registro illeggibile");
        case FindingKind::LogLineTruncated:
            return QStringLiteral("riga del registro troncata");
        case FindingKind::LogLineChanged:
            return QStringLiteral("riga del registro modificata");
        case FindingKind::LogLineRemoved:
            return QStringLiteral("riga del registro rimossa");
        case FindingKind::LogLinesSwapped:
            return QStringLiteral("righe del registro scambiate");
        case FindingKind::RecordingMissing:
            return QStringLiteral("registrazione mancante");
        case FindingKind::RecordingAudioChanged:
            return QStringLiteral("registrazione modificata (audio)");
        case FindingKind::RecordingTrailerChanged:
            return QStringLiteral("registrazione modificata (coda)");
        case FindingKind::RecordingNotLogged:
            return QStringLiteral("registrazione assente dal registro");
        case FindingKind::RecordingUnreadable:
            return QStringLiteral("registrazione illeggibile");
        case FindingKind::CatalogueUnreadable:
            return QStringLiteral("catalogo illeggibile");
        case FindingKind::CatalogueFingerprintDiffers:
            return QStringLiteral("impronta del catalogo diversa");
        case FindingKind::CatalogueRowMissing:
            return QStringLiteral("riga del catalogo mancante");
        case FindingKind::TranscriptionChanged:
            return QStringLiteral("trascrizione modificata fuori dal programma");
        case FindingKind::MarksChanged:
            return QStringLiteral("segni modificati fuori dal programma");
        case FindingKind::ArchiveMissing:
            return QStringLiteral("archivio di fine servizio mancante");
        case FindingKind::ArchiveChanged:
            return QStringLiteral("archivio di fine servizio modificato");
        case FindingKind::BundleUnreadable:
            return QStringLiteral("pacchetto illeggibile");
        case FindingKind::BundleManifestChanged:
            return QStringLiteral("manifesto modificato");
        case FindingKind::BundleFileMissing:
            return QStringLiteral("file del pacchetto mancante");
        case FindingKind::BundleFileChanged:
            return QStringLiteral("file del pacchetto modificato");
        case FindingKind::BundleFileAdded:
            return QStringLiteral("file in più nel pacchetto");
        case FindingKind::BundleDiffersFromLog:
            return QStringLiteral("pacchetto diverso dal registro");
        case FindingKind::BundleNotLogged:
            return QStringLiteral("registrazione senza righe del registro");
    }
    return QString();
}

bool CheckReport::has(FindingKind kind) const {
    return std::any_of(findings.begin(), findings.end(),
                       [kind](const Finding& f) { return f.kind == kind; });
}

QString CheckReport::summary() const {
    QString text;
    if (cancelled)
        text = QStringLiteral("Verifica interrotta: l'esito non è completo (%1 fin qui).")
                   .arg(ProblemCount(int(findings.size())));
    else if (findings.empty())
        text = QStringLiteral(
                   "Esito: tutto in ordine (registrazioni controllate: %1, righe del "
                   "registro: %2).")
                   .arg(recordingsChecked)
                   .arg(logLines);
    else
        text = QStringLiteral("Esito: %1 (registrazioni controllate: %2, righe del registro: %3).")
                   .arg(ProblemCount(int(findings.size())))
                   .arg(recordingsChecked)
                   .arg(logLines);
    if (logLines > 0)
        text += QStringLiteral("\nUltima riga del registro: n=%1, SHA-256 %2")
                    .arg(lastSequence)
                    .arg(lastLineSha256);
    return text;
}

CatalogueSnapshot ReadCatalogueSnapshot(CatalogueStore& catalogue) {
    CatalogueSnapshot snapshot;
    const CatalogueStatus status = catalogue.status();
    snapshot.server = status.server;
    snapshot.location = catalogue.location();
    if (!snapshot.server && !QFileInfo::exists(snapshot.location))
        return snapshot;  // no catalogue yet: nothing to compare
    snapshot.present = true;
    try {
        snapshot.rows = catalogue.fingerprintedRows();
    } catch (const RuntimeError& error) {
        snapshot.problem = error.description();
    }
    return snapshot;
}

QStringList CheckReport::lines() const {
    QStringList out;
    for (const Finding& finding : findings) out << finding.line();
    out << summary().split(u'\n');
    return out;
}

QStringList RecordingRoots(const QString& programFolder, const QString& userHome) {
    const ConfigurationDefaults defaults = ConfigurationDefaults::ForHome(userHome);
    QString dataPath =
        ReadIniValue(AppFolderOf(programFolder) + QStringLiteral("RIZEDUZO.INI"),
                     QStringLiteral("PATH"), QStringLiteral("DATI"), defaults.dataPath);
    if (dataPath.trimmed().isEmpty())
        dataPath = defaults.dataPath;
    QStringList roots{Clean(dataPath)};
    if (!roots.contains(Clean(defaults.fallbackPath)))
        roots << Clean(defaults.fallbackPath);
    return roots;
}

QStringList FindRecordings(const QStringList& roots) {
    QSet<QString> found;
    std::function<void(const QString&, int)> walk = [&](const QString& folder, int depth) {
        const QFileInfoList entries =
            QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries) {
            if (entry.fileName().startsWith(u'.'))
                continue;
            if (entry.isDir()) {
                if (depth < 2)
                    walk(entry.filePath(), depth + 1);
            } else if (entry.suffix().compare(QStringLiteral("ems"), Qt::CaseInsensitive) == 0) {
                found.insert(Clean(entry.filePath()));
            }
        }
    };
    for (const QString& root : roots) {
        if (QFileInfo(root).isDir())
            walk(root, 0);
    }
    QStringList list(found.begin(), found.end());
    list.sort();
    return list;
}

CheckReport RunIntegrityCheck(const CheckOptions& options) {
    CheckReport report;
    report.programFolder = options.programFolder;
    auto finish = [&report] {
        report.finishedAt = QDateTime::currentDateTime();
        return report;
    };
    const IntegrityLog log(options.programFolder);
    LogContents contents;
    try {
        contents = log.read();
    } catch (const RuntimeError& error) {
        report.findings.push_back({FindingKind::LogUnreadable, error.description()});
    }
    report.logLines = int(contents.lines.size());
    if (!contents.lines.empty()) {
        report.lastSequence = 0;
        for (const LogLine& line : contents.lines) {
            if (line.wellFormed)
                report.lastSequence = std::max(report.lastSequence, line.sequence);
        }
        report.lastLineSha256 = contents.lines.back().lineSha256();
    }
    CheckChain(contents.lines, report.findings);
    const LogClaims claims = ReadClaims(contents.lines);

    // The recordings folders, and every folder the log names.
    QStringList roots = options.recordingRoots;
    QStringList folders;
    for (auto it = claims.recordings.cbegin(); it != claims.recordings.cend(); ++it)
        folders << QFileInfo(it.key()).absolutePath();
    folders.removeDuplicates();
    QStringList onDisk = FindRecordings(roots);
    for (const QString& folder : folders) {
        for (const QFileInfo& entry : QDir(folder).entryInfoList(QDir::Files)) {
            if (!entry.fileName().startsWith(u'.') &&
                entry.suffix().compare(QStringLiteral("ems"), Qt::CaseInsensitive) == 0)
                onDisk << Clean(entry.filePath());
        }
    }
    onDisk.removeDuplicates();
    onDisk.sort();

    const CatalogueSnapshot catalogue =
        options.catalogue
            ? *options.catalogue
            : ReadCatalogueSnapshot(*SqliteCatalogue::InFolder(options.programFolder));
    if (!contents.exists && (!onDisk.isEmpty() || (catalogue.present && !catalogue.server)))
        report.findings.push_back({FindingKind::LogMissing, log.path()});

    std::vector<HashJob> jobs;
    QStringList logged = claims.recordings.keys();
    logged.sort();
    for (const QString& path : logged) {
        if (!QFileInfo::exists(path)) {
            report.findings.push_back({FindingKind::RecordingMissing,
                                       QStringLiteral("%1 (registro, riga %2)")
                                           .arg(path)
                                           .arg(claims.recordings.value(path)->lineNumber)});
            continue;
        }
        jobs.push_back({path, claims.recordings.value(path), std::nullopt, std::nullopt});
    }
    for (const QString& path : onDisk) {
        if (!claims.recordings.contains(path))
            report.findings.push_back({FindingKind::RecordingNotLogged, path});
    }
    HashAll(jobs, options);
    if (options.cancel && options.cancel->load()) {
        report.cancelled = true;
        return finish();
    }
    for (const HashJob& job : jobs) {
        if (job.error) {
            report.findings.push_back(
                {FindingKind::RecordingUnreadable,
                 QStringLiteral("%1: %2").arg(job.path, job.error->description())});
            continue;
        }
        if (!job.result)
            continue;
        ++report.recordingsChecked;
        CompareRecording(job, report.findings);
    }
    CheckCatalogue(catalogue, claims, report.findings);
    CheckArchives(claims, report.findings);
    return finish();
}

}  // namespace kallomir
