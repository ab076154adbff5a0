#include "controls/playback/WavePeaks.h"

#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kallomir {

namespace {

constexpr std::int64_t kChunkBytes = 256 * 1024;  // stays in the cache while it is scanned

// The lowest and highest of n little-endian 16-bit samples, eight at a time with SSE2 (part
// of every x86-64 processor): an hour of audio is scanned in a few hundredths of a second.
void MinMax16(const char* bytes, std::int64_t n, int& low, int& high) {
    std::int64_t i = 0;
#if defined(__SSE2__)
    if (n >= 32) {
        __m128i lo0 = _mm_set1_epi16(std::numeric_limits<std::int16_t>::max()), lo1 = lo0;
        __m128i hi0 = _mm_set1_epi16(std::numeric_limits<std::int16_t>::min()), hi1 = hi0;
        for (; i + 32 <= n; i += 32) {
            const auto* p = reinterpret_cast<const __m128i*>(bytes + 2 * i);
            const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
            const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
            lo0 = _mm_min_epi16(lo0, _mm_min_epi16(a, b));
            lo1 = _mm_min_epi16(lo1, _mm_min_epi16(c, d));
            hi0 = _mm_max_epi16(hi0, _mm_max_epi16(a, b));
            hi1 = _mm_max_epi16(hi1, _mm_max_epi16(c, d));
        }
        alignas(16) std::int16_t lo[8], hi[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lo), _mm_min_epi16(lo0, lo1));
        _mm_store_si128(reinterpret_cast<__m128i*>(hi), _mm_max_epi16(hi0, hi1));
        for (int k = 0; k < 8; ++k) {
            low = std::min<int>(low, lo[k]);
            high = std::max<int>(high, hi[k]);
        }
    }
#endif
    for (; i < n; ++i) {
        const int v = qFromLittleEndian<qint16>(bytes + 2 * i);
        low = std::min(low, v);
        high = std::max(high, v);
    }
}

// Any other sample format, one sample at a time (these files are small or rare).
float SampleAt(const WaveFormat& f, const uchar* p) {
    switch (f.bitsPerSample) {
        case 8:
            return (static_cast<float>(p[0]) - 128.0f) / 128.0f;
        case 16:
            return static_cast<float>(qFromLittleEndian<qint16>(p)) / 32768.0f;
        case 24: {
            const auto v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                     static_cast<std::uint32_t>(p[1]) << 16 |
                                                     static_cast<std::uint32_t>(p[2]) << 24);
            return static_cast<float>(v) / 2147483648.0f;
        }
        default:
            if (f.formatTag == 3) {
                const quint32 bits = qFromLittleEndian<quint32>(p);
                float v;
                std::memcpy(&v, &bits, sizeof v);
                return std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
            }
            return static_cast<float>(qFromLittleEndian<qint32>(p)) / 2147483648.0f;
    }
}

}  // namespace

WavePeaks::WavePeaks(const WaveImage& image) : format_(image.format()) {
    const std::int64_t frames = format_.blockAlign > 0 ? image.size() / format_.blockAlign : 0;
    framesPerBin_ = std::max(1, format_.sampleRate / 100);
    const auto bins = static_cast<size_t>((frames + framesPerBin_ - 1) / framesPerBin_);
    low_.assign(bins, 0.0f);
    high_.assign(bins, 0.0f);
    // The overview reads the file first; the image's loader waits unless playback needs it.
    image.hold();
    worker_ = std::thread([this, &image] {
        run(image);
        image.release();
    });
}

WavePeaks::~WavePeaks() {
    cancel_.store(true);
    if (worker_.joinable())
        worker_.join();
}

void WavePeaks::waitUntilComplete() const {
    for (std::int64_t now = readyBins(); now < binCount(); now = readyBins())
        ready_.wait(now, std::memory_order_acquire);
}

void WavePeaks::run(const WaveImage& image) {
    const std::int64_t size = image.size();
    const int block = std::max(format_.blockAlign, 1);
    const std::int64_t binBytes = framesPerBin_ * block;
    const bool fast16 = format_.formatTag == 1 && format_.bitsPerSample == 16;
    std::vector<char> buffer(static_cast<size_t>(kChunkBytes - kChunkBytes % binBytes + binBytes));
    std::int64_t offset = 0;  // bytes of audio read so far
    std::int64_t held = 0;    // bytes in the buffer not yet scanned (less than one bin)
    std::int64_t bin = 0;
    auto publish = [this](std::int64_t done) {
        ready_.store(done, std::memory_order_release);
        if (done == binCount())  // only waitUntilComplete() sleeps on it: no wake-ups before
            ready_.notify_all();
    };
    auto scanBin = [&](const char* p, std::int64_t bytes) {
        float lo = 0, hi = 0;
        if (fast16) {
            int low = 0, high = 0;
            MinMax16(p, bytes / 2, low, high);
            lo = static_cast<float>(low) / 32768.0f;
            hi = static_cast<float>(high) / 32768.0f;
        } else {
            const int step = std::max(format_.bitsPerSample / 8, 1);
            for (std::int64_t i = 0; i + step <= bytes; i += step) {
                const float v = SampleAt(format_, reinterpret_cast<const uchar*>(p + i));
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        low_[static_cast<size_t>(bin)] = lo;
        high_[static_cast<size_t>(bin)] = hi;
        ++bin;
    };
    while (offset < size && !cancel_.load(std::memory_order_relaxed)) {
        const std::int64_t want =
            std::min<std::int64_t>(static_cast<std::int64_t>(buffer.size()) - held, size - offset);
        const std::int64_t got = image.readSource(buffer.data() + held, offset, want);
        if (got <= 0)
            break;  // cut short or unreadable: the rest is silence
        offset += got;
        held += got;
        std::int64_t at = 0;
        for (; held - at >= binBytes; at += binBytes) scanBin(buffer.data() + at, binBytes);
        if (offset == size && held > at) {
            scanBin(buffer.data() + at, held - at);  // the last, shorter bin
            at = held;
        }
        std::memmove(buffer.data(), buffer.data() + at, static_cast<size_t>(held - at));
        held -= at;
        publish(bin);
    }
    if (!cancel_.load(std::memory_order_relaxed))
        publish(binCount());  // what was never read stays silent (its peaks are 0)
}

int WavePeaks::columns(int count, float* low, float* high) const {
    const std::int64_t bins = binCount();
    if (count <= 0 || bins == 0)
        return 0;
    const std::int64_t ready = readyBins();
    int done = 0;
    for (int c = 0; c < count; ++c) {
        std::int64_t first = bins * c / count;
        std::int64_t last = std::max(first + 1, bins * (c + 1) / count);  // wide views repeat
        first = std::min(first, bins - 1);
        last = std::min(last, bins);
        if (last > ready)
            break;
        float lo = low_[static_cast<size_t>(first)], hi = high_[static_cast<size_t>(first)];
        for (std::int64_t b = first + 1; b < last; ++b) {
            lo = std::min(lo, low_[static_cast<size_t>(b)]);
            hi = std::max(hi, high_[static_cast<size_t>(b)]);
        }
        low[c] = lo;
        high[c] = hi;
        done = c + 1;
    }
    return done;
}

}  // namespace kallomir
