#include "controls/playback/WaveImage.h"

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include <unistd.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kallomir {

namespace {

quint32 Le32(const char* p) {
    return static_cast<quint32>(static_cast<unsigned char>(p[0])) |
           static_cast<quint32>(static_cast<unsigned char>(p[1])) << 8 |
           static_cast<quint32>(static_cast<unsigned char>(p[2])) << 16 |
           static_cast<quint32>(static_cast<unsigned char>(p[3])) << 24;
}

quint16 Le16(const char* p) {
    return static_cast<quint16>(static_cast<unsigned char>(p[0]) | static_cast<unsigned char>(p[1])
                                                                       << 8);
}

bool Fail(QString* error, const QString& text) {
    if (error)
        *error = text;
    return false;
}

bool ReadFormat(const QByteArray& chunk, WaveFormat& format, QString* error) {
    if (chunk.size() < 16)
        return Fail(error, QStringLiteral("formato del file non valido"));
    const char* p = chunk.constData();
    format.formatTag = Le16(p);
    format.channels = Le16(p + 2);
    format.sampleRate = static_cast<int>(Le32(p + 4));
    format.avgBytesPerSecond = static_cast<int>(Le32(p + 8));
    format.blockAlign = Le16(p + 12);
    format.bitsPerSample = Le16(p + 14);
    if (format.formatTag == 0xFFFE && chunk.size() >= 26) {
        // WAVE_FORMAT_EXTENSIBLE: the sub-format GUID starts with the plain format tag.
        format.formatTag = Le16(p + 24);
    }
    const bool pcm =
        format.formatTag == 1 && (format.bitsPerSample == 8 || format.bitsPerSample == 16 ||
                                  format.bitsPerSample == 24 || format.bitsPerSample == 32);
    const bool floating = format.formatTag == 3 && format.bitsPerSample == 32;
    if (!pcm && !floating)
        return Fail(error, QStringLiteral("formato audio non supportato"));
    if (format.channels < 1 || format.channels > 8 || format.sampleRate < 1000 ||
        format.sampleRate > 384000) {
        return Fail(error, QStringLiteral("formato audio non supportato"));
    }
    // The block size follows from the format; a wrong stored value must not misalign frames.
    format.blockAlign = format.channels * format.bitsPerSample / 8;
    if (format.avgBytesPerSecond <= 0)
        format.avgBytesPerSecond = format.blockAlign * format.sampleRate;
    return true;
}

struct FileDescriptor {
    explicit FileDescriptor(int fd) : value(fd) {}
    ~FileDescriptor() {
        if (value >= 0)
            ::close(value);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int value;
};

std::int64_t PreadAll(int fd, char* into, std::int64_t offset, std::int64_t max) {
    for (;;) {
        const ssize_t got = ::pread(fd, into, static_cast<size_t>(max), static_cast<off_t>(offset));
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

}  // namespace

namespace {
// Large images live in their own mapping with transparent huge pages where the system allows
// them: an hour of CD-quality audio is 600 MB, and taking it in 4 KB pages costs more time
// in page faults than reading the file.
constexpr std::int64_t kMappedFrom = 4 * 1024 * 1024;

char* Allocate(std::int64_t size) {
#if defined(__linux__)
    if (size >= kMappedFrom) {
        void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return nullptr;
        ::madvise(p, static_cast<size_t>(size), MADV_HUGEPAGE);  // a hint; fine if refused
        return static_cast<char*>(p);
    }
#endif
    return new (std::nothrow) char[static_cast<size_t>(std::max<std::int64_t>(size, 1))];
}
}  // namespace

void WaveImage::Release::operator()(char* p) const {
#if defined(__linux__)
    if (size >= kMappedFrom) {
        ::munmap(p, static_cast<size_t>(size));
        return;
    }
#endif
    delete[] p;
}

WaveImage::WaveImage(const WaveFormat& format, std::int64_t size)
    : format_(format), size_(size), bytes_(Allocate(size), Release{size}) {}

WaveImage::~WaveImage() {
    cancel_.store(true);
    wake_.fetch_add(1);
    wake_.notify_all();
    if (loader_.joinable())
        loader_.join();
}

void WaveImage::hold() const {
    holds_.fetch_add(1);
}

void WaveImage::release() const {
    holds_.fetch_sub(1);
    wake_.fetch_add(1);
    wake_.notify_all();
}

void WaveImage::want(std::int64_t bytes) const {
    std::int64_t now = wanted_.load();
    while (bytes > now && !wanted_.compare_exchange_weak(now, bytes)) {
    }
    if (bytes > now) {
        wake_.fetch_add(1);
        wake_.notify_all();
    }
}

void WaveImage::waitUntilLoaded(std::int64_t bytes) const {
    bytes = std::min(bytes, size_);
    want(bytes);
    for (std::int64_t now = loadedBytes(); now < bytes; now = loadedBytes())
        loaded_.wait(now, std::memory_order_acquire);
}

void WaveImage::load(const Reader& read) {
    constexpr std::int64_t kPiece = 8 * 1024 * 1024;
    std::int64_t done = 0;
    auto mayGoOn = [&] { return cancel_.load() || holds_.load() == 0 || wanted_.load() > done; };
    while (done < size_ && !cancel_.load(std::memory_order_relaxed)) {
        while (done > 0 && !mayGoOn()) {
            const std::uint32_t seen = wake_.load();
            if (mayGoOn())
                break;
            wake_.wait(seen);
        }
        if (cancel_.load())
            break;
        const std::int64_t want = std::min(size_ - done, done == 0 ? kFirstPiece : kPiece);
        const std::int64_t got = read(bytes_.get() + done, done, want);
        if (got <= 0)
            break;  // cut short or unreadable: the rest is silence
        done += got;
        loaded_.store(done, std::memory_order_release);
        loaded_.notify_all();
    }
    if (cancel_.load(std::memory_order_relaxed))
        return;
    std::memset(bytes_.get() + done, 0, static_cast<size_t>(size_ - done));
    loaded_.store(size_, std::memory_order_release);
    loaded_.notify_all();
}

std::unique_ptr<WaveImage> WaveImage::Load(const WaveFormat& format, std::int64_t size,
                                           Reader read) {
    std::unique_ptr<WaveImage> image(new WaveImage(format, size));
    if (!image->bytes_)
        return nullptr;
    image->reader_ = std::move(read);
    image->loader_ = std::thread([raw = image.get()] { raw->load(raw->reader_); });
    return image;
}

std::unique_ptr<WaveImage> WaveImage::Open(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        Fail(error, QStringLiteral("impossibile aprire il file: ") + file.errorString());
        return nullptr;
    }
    const qint64 size = file.size();
    char header[12];
    if (file.read(header, 12) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        Fail(error, QStringLiteral("il file non è un file audio wave"));
        return nullptr;
    }
    WaveFormat format;
    bool haveFormat = false;
    qint64 pos = 12;
    while (pos + 8 <= size) {
        char chunk[8];
        if (!file.seek(pos) || file.read(chunk, 8) != 8)
            break;
        const qint64 length = Le32(chunk + 4);
        const qint64 body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            const QByteArray fmt = file.read(std::min<qint64>(length, 64));
            if (!ReadFormat(fmt, format, error))
                return nullptr;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat)
                break;
            qint64 available = std::min(length, size - body);
            available -= available % format.blockAlign;
            // Read, not mapped: a mapping would crash the program (SIGBUS) if another program
            // cut the file short while it plays.
            auto fd = std::make_shared<FileDescriptor>(::dup(file.handle()));
            if (fd->value < 0) {
                Fail(error, QStringLiteral("errore di lettura del file"));
                return nullptr;
            }
            auto image = Load(format, available,
                              [fd, body](char* into, std::int64_t offset, std::int64_t max) {
                                  return PreadAll(fd->value, into, body + offset, max);
                              });
            if (!image)
                Fail(error, QStringLiteral("memoria insufficiente per il file"));
            return image;
        }
        pos = body + length + (length & 1);  // chunks are padded to even sizes
    }
    Fail(error, haveFormat ? QStringLiteral("il file non contiene dati audio")
                           : QStringLiteral("il file non è un file audio wave"));
    return nullptr;
}

std::unique_ptr<WaveImage> WaveImage::Read(const QString& path, QString* error) {
    auto image = Open(path, error);
    if (image)
        image->waitUntilComplete();
    return image;
}

}  // namespace kallomir
