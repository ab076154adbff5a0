#include "evidence/HandOverExport.h"

#include "catalogue/RecordingTrailer.h"
#include "catalogue/SqliteCatalogue.h"
#include "core/FileErrors.h"
#include "core/RuntimeError.h"
#include "core/VbConvert.h"
#include "evidence/BundleManifest.h"
#include "evidence/FilePolicy.h"
#include "evidence/Fingerprint.h"
#include "evidence/IntegrityLog.h"
#include "evidence/Sha256.h"
#include "evidence/TranscriptionPdf.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <zip.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <list>
#include <memory>

namespace kallomir {

namespace {

constexpr std::size_t kBlock = 4 * 1024 * 1024;

struct Cancelled {};

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

void FlushPath(const QString& path, int flags) {
    const int fd = ::open(Native(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        throw FileError(errno, path);
    const int result = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    if (result != 0 && error != EINVAL)
        throw FileError(error, path);
}

void RenameNoReplace(const QString& from, const QString& to) {
    if (::renameat2(AT_FDCWD, Native(from).constData(), AT_FDCWD, Native(to).constData(),
                    RENAME_NOREPLACE) == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS)
        throw FileError(errno, to);
    // A file system without the atomic form.
    if (QFileInfo::exists(to))
        throw FileError(EEXIST, to);
    if (::rename(Native(from).constData(), Native(to).constData()) != 0)
        throw FileError(errno, to);
}

struct Fd {
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

// Where the bundle's files go; the folder and the archive each know how.
class BundleWriter {
public:
    virtual ~BundleWriter() = default;
    // The first expected.bytes bytes of source, whose SHA-256 must be expected.sha256
    // (checked where the bytes pass through this process).
    virtual void addCopy(const ManifestFile& expected, const QString& source) = 0;
    virtual void addBytes(const QString& path, const QByteArray& bytes) = 0;
    virtual void commit(const QString& target, const std::atomic<bool>* cancel) = 0;
};

// Builds the folder under a hidden name beside the target and names it when complete.
class FolderWriter : public BundleWriter {
public:
    FolderWriter(const QString& target, const std::atomic<bool>* cancel)
        : cancel_(cancel),
          staging_(QFileInfo(target).absolutePath() + QStringLiteral("/.") +
                   QFileInfo(target).fileName() + QStringLiteral(".part")) {
        if (QFileInfo::exists(staging_))
            QDir(staging_).removeRecursively();
        if (::mkdir(Native(staging_).constData(), 0777) != 0)
            throw FileError(errno, staging_);
    }
    ~FolderWriter() override {
        if (!committed_)
            QDir(staging_).removeRecursively();
    }

    void addCopy(const ManifestFile& expected, const QString& source) override {
        const QString path = prepare(expected.path);
        const Fd in(::open(Native(source).constData(), O_RDONLY | O_CLOEXEC));
        if (in.fd < 0)
            throw FileError(errno, source);
        Fd out(create(path));
        std::vector<char> buffer(kBlock);
        Sha256 hash;
        qint64 left = expected.bytes;
        while (left > 0) {
            if (cancel_ && cancel_->load())
                throw Cancelled{};
            const ssize_t got =
                ::read(in.fd, buffer.data(), std::size_t(std::min<qint64>(left, qint64(kBlock))));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                throw FileError(errno, source);
            if (got == 0)
                break;
            hash.add(std::span<const char>(buffer.data(), std::size_t(got)));
            writeAll(out.fd, buffer.data(), std::size_t(got), path);
            left -= got;
        }
        if (left != 0 || hash.hexSoFar() != expected.sha256)
            throw RuntimeError(
                errors::kPathFileAccess,
                QStringLiteral("'%1' è cambiato durante l'esportazione").arg(source));
        finish(out.fd, path);
    }

    void addBytes(const QString& relative, const QByteArray& bytes) override {
        const QString path = prepare(relative);
        Fd out(create(path));
        writeAll(out.fd, bytes.constData(), std::size_t(bytes.size()), path);
        finish(out.fd, path);
    }

    void commit(const QString& target, const std::atomic<bool>* cancel) override {
        if (cancel && cancel->load())
            throw Cancelled{};
        QDirIterator folders(staging_, QDir::Dirs | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (folders.hasNext()) FlushPath(folders.next(), O_RDONLY | O_DIRECTORY);
        FlushPath(staging_, O_RDONLY | O_DIRECTORY);
        RenameNoReplace(staging_, target);
        committed_ = true;
        FlushPath(QFileInfo(target).absolutePath(), O_RDONLY | O_DIRECTORY);
        QString problem = ShareWithGroup(target);
        QDirIterator all(target, QDir::AllEntries | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
        while (problem.isEmpty() && all.hasNext()) problem = ShareWithGroup(all.next());
        if (!problem.isEmpty())
            throw RuntimeError(errors::kPermissionDenied, problem);
    }

private:
    QString prepare(const QString& relative) {
        const QString path = staging_ + u'/' + relative;
        const QString folder = QFileInfo(path).absolutePath();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw FileError(EACCES, folder);
        return path;
    }
    static int create(const QString& path) {
        const int fd =
            ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            throw FileError(errno, path);
        return fd;
    }
    static void writeAll(int fd, const char* data, std::size_t size, const QString& path) {
        while (size > 0) {
            const ssize_t written = ::write(fd, data, size);
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0)
                throw FileError(errno, path);
            if (written == 0)
                throw FileError(ENOSPC, path);
            data += written;
            size -= std::size_t(written);
        }
    }
    static void finish(int& fd, const QString& path) {
        const bool synced = ::fsync(fd) == 0;
        const int error = errno;
        const bool closed = ::close(fd) == 0;
        fd = -1;
        if (!synced || !closed)
            throw FileError(synced ? errno : error, path);
    }

    const std::atomic<bool>* cancel_;
    QString staging_;
    bool committed_ = false;
};

// Builds the archive under a hidden name beside the target and names it when complete.
// Audio is stored as it is (it does not shrink); the texts are compressed.
class ZipWriter : public BundleWriter {
public:
    explicit ZipWriter(const QString& target)
        : partial_(QFileInfo(target).absolutePath() + QStringLiteral("/.") +
                   QFileInfo(target).fileName() + QStringLiteral(".part")) {
        QFile::remove(partial_);
        int error = 0;
        zip_ = zip_open(Native(partial_).constData(), ZIP_CREATE | ZIP_EXCL, &error);
        if (!zip_) {
            zip_error_t e;
            zip_error_init_with_code(&e, error);
            const QString text = QString::fromLocal8Bit(zip_error_strerror(&e));
            const int system = zip_error_code_system(&e);
            zip_error_fini(&e);
            if (system != 0)
                throw FileError(system, partial_);
            throw RuntimeError(errors::kPathFileAccess,
                               QStringLiteral("'%1': %2").arg(partial_, text));
        }
    }
    ~ZipWriter() override {
        if (zip_)
            zip_discard(zip_);
        if (!committed_)
            QFile::remove(partial_);
    }

    void addCopy(const ManifestFile& expected, const QString& source) override {
        zip_error_t error;
        zip_error_init(&error);
        // A length of 0 would mean "to the end of the file" to the archive.
        zip_source_t* data =
            expected.bytes == 0
                ? zip_source_buffer_create(nullptr, 0, 0, &error)
                : zip_source_file_create(Native(source).constData(), 0, expected.bytes, &error);
        add(expected.path, data, ZIP_CM_STORE);
    }

    void addBytes(const QString& path, const QByteArray& bytes) override {
        kept_.push_back(bytes);
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* data = zip_source_buffer_create(kept_.back().constData(),
                                                      zip_uint64_t(kept_.back().size()), 0, &error);
        add(path, data, ZIP_CM_DEFLATE);
    }

    void commit(const QString& target, const std::atomic<bool>* cancel) override {
        if (cancel)
            zip_register_cancel_callback_with_state(
                zip_,
                [](zip_t*, void* state) {
                    return static_cast<const std::atomic<bool>*>(state)->load() ? 1 : 0;
                },
                nullptr, const_cast<std::atomic<bool>*>(cancel));
        if (zip_close(zip_) != 0) {
            const QString text = QString::fromLocal8Bit(zip_strerror(zip_));
            const int system = zip_error_code_system(zip_get_error(zip_));
            const bool stopped = cancel && cancel->load();
            zip_discard(zip_);
            zip_ = nullptr;
            if (stopped)
                throw Cancelled{};
            if (system != 0)
                throw FileError(system, target);
            throw RuntimeError(errors::kPathFileAccess,
                               QStringLiteral("'%1': %2").arg(target, text));
        }
        zip_ = nullptr;
        FlushPath(partial_, O_RDONLY);
        RenameNoReplace(partial_, target);
        committed_ = true;
        FlushPath(QFileInfo(target).absolutePath(), O_RDONLY | O_DIRECTORY);
        const QString problem = ShareWithGroup(target);
        if (!problem.isEmpty())
            throw RuntimeError(errors::kPermissionDenied, problem);
    }

private:
    void add(const QString& path, zip_source_t* data, zip_int32_t method) {
        if (!data)
            throw RuntimeError(
                errors::kPathFileAccess,
                QStringLiteral("'%1': %2").arg(path, QString::fromLocal8Bit(zip_strerror(zip_))));
        const zip_int64_t index =
            zip_file_add(zip_, path.toUtf8().constData(), data, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(data);
            throw RuntimeError(
                errors::kPathFileAccess,
                QStringLiteral("'%1': %2").arg(path, QString::fromLocal8Bit(zip_strerror(zip_))));
        }
        zip_set_file_compression(zip_, zip_uint64_t(index), method, 0);
    }

    QString partial_;
    zip_t* zip_ = nullptr;
    std::list<QByteArray> kept_;  // what the archive reads when it is closed
    bool committed_ = false;
};

QString YesNo(bool value) {
    return value ? QStringLiteral("sì") : QStringLiteral("no");
}

// The catalogue row, and what the trailer says, as a text a reader understands.
QByteArray RowText(const QString& nome, const QString& file, const std::optional<CatalogueRow>& row,
                   const std::optional<CatalogueFingerprint>& fingerprint,
                   const std::optional<RecordingTrailer>& trailer) {
    QStringList lines;
    lines << QStringLiteral("Registrazione %1").arg(nome) << QStringLiteral("File: %1").arg(file);
    if (trailer) {
        lines << QStringLiteral("Cartella (dalla coda del file): %1")
                     .arg(trailer->folderTag.trimmed())
              << QStringLiteral("Inizio: %1").arg(trailer->startText.trimmed())
              << QStringLiteral("Fine: %1").arg(trailer->endText.trimmed());
    }
    lines << QString() << QStringLiteral("Riga del catalogo (tabella dati)");
    if (!row) {
        lines << QStringLiteral("Nessuna riga del catalogo per questa registrazione.");
    } else {
        lines << QStringLiteral("NOME: %1").arg(row->nome)
              << QStringLiteral("etichetta: %1").arg(row->etichetta)
              << QStringLiteral("dtfile: %1")
                     .arg(row->dtfile ? row->dtfile->toString(QStringLiteral("dd/MM/yyyy"))
                                      : QString())
              << QStringLiteral("ora: %1").arg(row->ora)
              << QStringLiteral("progressivo: %1")
                     .arg(row->progressivo ? QString::number(*row->progressivo) : QString())
              << QStringLiteral("Ascoltato (LETTO): %1").arg(YesNo(row->letto))
              << QStringLiteral("Trascritto (SCRITTO): %1").arg(YesNo(row->scritto))
              << QStringLiteral("Masterizzato (TRADOTTO): %1").arg(YesNo(row->tradotto))
              << QStringLiteral("user: %1").arg(row->user)
              << QStringLiteral("trascrizione: %1")
                     .arg(row->traduzione ? QStringLiteral("nei file .rtf e .pdf")
                                          : QStringLiteral("nessuna"));
        if (fingerprint)
            lines << QStringLiteral("impronta (SHA-256): %1").arg(fingerprint->sha256)
                  << QStringLiteral("impronta_byte: %1").arg(fingerprint->bytes);
    }
    return (lines.join(u'\n') + u'\n').toUtf8();
}

}  // namespace

ExportCatalogue ReadExportCatalogue(CatalogueStore& catalogue, const QStringList& recordings) {
    ExportCatalogue out;
    try {
        for (const QString& path : recordings) {
            const QString nome = QFileInfo(path).fileName();
            ExportCatalogue::Entry entry;
            entry.row = catalogue.find(nome);
            if (entry.row)
                entry.fingerprint = catalogue.fingerprint(nome);
            out.rows.insert(nome.toLower(), entry);
        }
    } catch (const RuntimeError&) {
        out.rows.clear();  // all or nothing: a half-read catalogue would mislead
    }
    return out;
}

bool IsZipTarget(const QString& target) {
    return target.endsWith(QStringLiteral(".zip"), Qt::CaseInsensitive);
}

ExportResult ExportHandOver(const ExportRequest& request) {
    ExportResult result;
    const QString target = QDir::cleanPath(QFileInfo(request.target).absoluteFilePath());
    result.target = target;
    if (QFileInfo::exists(target))
        throw FileError(EEXIST, target);
    if (!QFileInfo(QFileInfo(target).absolutePath()).isDir())
        throw FileError(ENOENT, target);

    const IntegrityLog log(request.programFolder);
    const LogContents contents = log.read();
    ExportCatalogue rows;
    if (request.catalogue) {
        rows = *request.catalogue;
    } else {
        const auto embedded = SqliteCatalogue::InFolder(request.programFolder);
        if (QFileInfo::exists(embedded->file()))
            rows = ReadExportCatalogue(*embedded, request.recordings);
    }

    Manifest manifest;
    manifest.created = request.now;
    manifest.program = request.program;
    manifest.logPath = log.path();
    for (const LogLine& line : contents.lines)
        manifest.lastSequence = line.wellFormed ? std::max(manifest.lastSequence, line.sequence)
                                                : manifest.lastSequence;
    if (!contents.lines.empty())
        manifest.lastLineSha256 = contents.lines.back().lineSha256();

    std::unique_ptr<BundleWriter> writer;
    if (IsZipTarget(target))
        writer = std::make_unique<ZipWriter>(target);
    else
        writer = std::make_unique<FolderWriter>(target, request.cancel);

    try {
        QSet<QString> folders;
        QByteArray sums;
        auto listed = [&](const ManifestFile& file) {
            sums += file.sha256.toLatin1() + "  " + file.path.toUtf8() + '\n';
            ++result.files;
        };
        int done = 0;
        for (const QString& path : request.recordings) {
            if (request.cancel && request.cancel->load())
                throw Cancelled{};
            const QString file = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
            const QString nome = QFileInfo(file).fileName();
            const auto fingerprint = FingerprintOfFile(file, request.cancel);
            if (!fingerprint)
                throw Cancelled{};

            ManifestRecording recording;
            recording.nome = nome;
            recording.origin = file;
            const LogLine* saved = nullptr;
            for (const LogLine& line : contents.lines) {
                if (!line.wellFormed || line.field(QStringLiteral("nome")) != nome)
                    continue;
                recording.logLines.append(line.raw);
                if ((line.event == events::kRecordingSaved ||
                     line.event == events::kCaptureRecovered) &&
                    QDir::cleanPath(line.field(QStringLiteral("file"))) == file)
                    saved = &line;
            }
            if (saved && saved->field(QStringLiteral("sha256")) != fingerprint->sha256) {
                result.refused =
                    QStringLiteral(
                        "La registrazione %1 non è più quella annotata nel registro di "
                        "integrità (riga %2): eseguire \"Verifica\". Nulla è stato "
                        "esportato.")
                        .arg(file)
                        .arg(saved->lineNumber);
                return result;
            }

            const ExportCatalogue::Entry entry = rows.rows.value(nome.toLower());
            const std::optional<CatalogueRow>& row = entry.row;
            const std::optional<CatalogueFingerprint>& rowFingerprint = entry.fingerprint;
            const auto trailer = RecordingTrailer::FromBytes(fingerprint->trailer);

            QString folder = QFileInfo(file).completeBaseName();
            for (int n = 2; folders.contains(folder.toLower()); ++n)
                folder = QFileInfo(file).completeBaseName() + QStringLiteral("_%1").arg(n);
            folders.insert(folder.toLower());
            const QString base = folder + u'/' + QFileInfo(file).completeBaseName();

            const ManifestFile ems{folder + u'/' + nome, fingerprint->sha256, fingerprint->bytes};
            writer->addCopy(ems, file);
            recording.files.push_back(ems);
            // The audio without its trailer; a file without a trailer is audio throughout.
            const ManifestFile wav{
                base + QStringLiteral(".wav"),
                trailer ? fingerprint->audioSha256 : fingerprint->sha256,
                trailer ? fingerprint->bytes - kTrailerBytes : fingerprint->bytes};
            writer->addCopy(wav, file);
            recording.files.push_back(wav);
            auto addText = [&](const QString& inBundle, const QByteArray& bytes) {
                writer->addBytes(inBundle, bytes);
                recording.files.push_back({inBundle, Sha256Hex(bytes), bytes.size()});
            };
            if (row && row->traduzione) {
                addText(base + QStringLiteral(".rtf"), row->traduzione->toUtf8());
                addText(base + QStringLiteral(".pdf"),
                        TranscriptionPdf(*row->traduzione,
                                         QStringLiteral("Trascrizione di %1").arg(nome)));
            }
            addText(folder + QStringLiteral("/catalogo.txt"),
                    RowText(nome, file, row, rowFingerprint, trailer));
            for (const ManifestFile& f : recording.files) listed(f);
            manifest.recordings.push_back(std::move(recording));
            if (request.progress)
                request.progress(++done, int(request.recordings.size()));
        }
        writer->addBytes(QStringLiteral("SHA256SUMS"), sums);
        manifest.others.push_back({QStringLiteral("SHA256SUMS"), Sha256Hex(sums), sums.size()});
        const QByteArray text = manifest.toBytes();
        writer->addBytes(Manifest::FileName(), text);
        result.files += 2;
        result.manifestSha256 = Sha256Hex(text);
        writer->commit(target, request.cancel);
    } catch (const Cancelled&) {
        result.cancelled = true;
    }
    return result;
}

}  // namespace kallomir
