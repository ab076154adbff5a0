#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace kallomir {

// The format of a PCM wave file as a sound buffer needs it.
struct WaveFormat {
    int formatTag = 1;  // 1 integer PCM, 3 IEEE float
    int sampleRate = 0;
    int bitsPerSample = 0;
    int channels = 0;
    int blockAlign = 0;
    int avgBytesPerSecond = 0;
};

// A wave file's audio held in memory: a copy of the bytes of its data chunk, so nothing
// another program does to the file afterwards can disturb playback. Reading an hour of audio
// takes most of a second, so the copy is filled front to back by a thread of its own while
// the caller goes on: bytes below loadedBytes() are final and may be read from any thread.
// If the file turns out shorter than its header said, or a read fails, what is missing is
// silence.
class WaveImage {
public:
    // The loader reads this much first, so the start of a recording is in memory at once.
    static constexpr std::int64_t kFirstPiece = 256 * 1024;

    // Reads the header and starts loading. Bytes after the data chunk (the recording trailer
    // of the program's files) are not audio and stay out; a data chunk whose size runs past
    // the end of the file (a capture cut short) is taken up to the last whole frame. Nothing,
    // with a reason in error, for a file that is missing, not a wave file or not PCM.
    static std::unique_ptr<WaveImage> Open(const QString& path, QString* error);
    // Open, then waits until every byte is in memory.
    static std::unique_ptr<WaveImage> Read(const QString& path, QString* error);
    // Reads `size` bytes of audio through `read`, which fills `max` bytes or fewer at an offset
    // into the audio and returns how many (0 or less: no more). It runs on the loader thread.
    using Reader = std::function<std::int64_t(char* into, std::int64_t offset, std::int64_t max)>;
    static std::unique_ptr<WaveImage> Load(const WaveFormat& format, std::int64_t size,
                                           Reader read);
    ~WaveImage();
    WaveImage(const WaveImage&) = delete;
    WaveImage& operator=(const WaveImage&) = delete;

    const WaveFormat& format() const { return format_; }
    std::int64_t size() const { return size_; }
    const char* bytes() const { return bytes_.get(); }
    // Reads audio bytes straight from the source, beside the loader (any thread; the same
    // answers as the loader gets). For readers that want the audio once, in order, without
    // waiting for the whole image.
    std::int64_t readSource(char* into, std::int64_t offset, std::int64_t max) const {
        return reader_ ? reader_(into, offset, max) : -1;
    }
    std::int64_t loadedBytes() const { return loaded_.load(std::memory_order_acquire); }
    bool complete() const { return loadedBytes() == size_; }
    // Waits until the bytes below `bytes` are loaded (asking for them, see want()).
    void waitUntilLoaded(std::int64_t bytes) const;
    void waitUntilComplete() const { waitUntilLoaded(size_); }

    // While held, the loader stops after the start of the recording unless more is wanted:
    // a reader that goes through the whole file once (the waveform overview) has the disk to
    // itself, and what playback needs still comes first. Any thread; never blocks.
    void hold() const;
    void release() const;
    void want(std::int64_t bytes) const;

private:
    WaveImage(const WaveFormat& format, std::int64_t size);
    void load(const Reader& read);

    WaveFormat format_;
    std::int64_t size_ = 0;
    struct Release {
        std::int64_t size = 0;
        void operator()(char* p) const;
    };
    std::unique_ptr<char, Release> bytes_;
    Reader reader_;
    std::atomic<std::int64_t> loaded_{0};
    std::atomic<bool> cancel_{false};
    mutable std::atomic<int> holds_{0};
    mutable std::atomic<std::int64_t> wanted_{0};
    mutable std::atomic<std::uint32_t> wake_{0};  // changes whenever the loader should look again
    std::thread loader_;
};

}  // namespace kallomir
