#include "AudioChecks.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include <sndfile.h>

namespace kallomir::test {

namespace {

// Normalised correlation of sent against recorded shifted by lag.
double correlationAt(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded,
                     int lag) {
    double sx = 0, sy = 0, sxy = 0;
    for (size_t i = 0; i < sent.size(); ++i) {
        const long j = long(i) + lag;
        if (j < 0 || j >= long(recorded.size()))
            continue;
        sx += double(sent[i]) * sent[i];
        sy += double(recorded[size_t(j)]) * recorded[size_t(j)];
        sxy += double(sent[i]) * recorded[size_t(j)];
    }
    return sx > 0 && sy > 0 ? sxy / std::sqrt(sx * sy) : 0.0;
}

void fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2 * M_PI / double(len);
        const std::complex<double> w(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wn(1);
            for (size_t k = 0; k < len / 2; ++k) {
                const auto u = a[i + k];
                const auto v = a[i + k + len / 2] * wn;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                wn *= w;
            }
        }
    }
}

}  // namespace

bool writeWav(const QString& path, const std::vector<int16_t>& samples, int rate) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    const sf_count_t n = sf_write_short(f, samples.data(), sf_count_t(samples.size()));
    sf_close(f);
    return n == sf_count_t(samples.size());
}

double bestCorrelation(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded,
                       int maxLag) {
    return correlationAt(sent, recorded, bestLag(sent, recorded, maxLag));
}

int bestLag(const std::vector<int16_t>& sent, const std::vector<int16_t>& recorded, int maxLag) {
    // The raw cross-correlation by FFT finds the peak; the normalised one is taken there.
    size_t n = 1;
    while (n < sent.size() + recorded.size()) n <<= 1;
    std::vector<std::complex<double>> a(n), b(n);
    for (size_t i = 0; i < sent.size(); ++i) a[i] = sent[i];
    for (size_t i = 0; i < recorded.size(); ++i) b[i] = recorded[i];
    fft(a);
    fft(b);
    for (size_t i = 0; i < n; ++i) a[i] = std::conj(a[i]) * b[i];
    // The inverse transform through the forward one: conjugate in, conjugate out.
    for (auto& v : a) v = std::conj(v);
    fft(a);
    double best = -1e300;
    int at = 0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        const double v = a[size_t((long(n) + lag) % long(n))].real();
        if (v > best) {
            best = v;
            at = lag;
        }
    }
    double normalised = -2;
    const int centre = at;
    for (int lag = std::max(-maxLag, centre - 2); lag <= std::min(maxLag, centre + 2); ++lag) {
        const double c = correlationAt(sent, recorded, lag);
        if (c > normalised) {
            normalised = c;
            at = lag;
        }
    }
    return at;
}

double energyAbove(const std::vector<int16_t>& samples, int rate, double hz) {
    constexpr size_t kBlock = 1024;
    double above = 0, total = 0;
    std::vector<std::complex<double>> block(kBlock);
    for (size_t start = 0; start + kBlock <= samples.size(); start += kBlock) {
        for (size_t i = 0; i < kBlock; ++i) {
            const double window = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / kBlock);
            block[i] = double(samples[start + i]) * window;
        }
        fft(block);
        for (size_t k = 1; k < kBlock / 2; ++k) {
            const double e = std::norm(block[k]);
            total += e;
            if (double(k) * rate / kBlock > hz)
                above += e;
        }
    }
    return total > 0 ? above / total : 0.0;
}

std::vector<int16_t> chirp(int rate, int count, double f0, double f1, double amplitude) {
    std::vector<int16_t> out(static_cast<size_t>(count));
    const double seconds = double(count) / rate;
    for (int i = 0; i < count; ++i) {
        const double t = double(i) / rate;
        const double phase = 2 * M_PI * (f0 * t + (f1 - f0) * t * t / (2 * seconds));
        out[size_t(i)] = int16_t(amplitude * std::sin(phase));
    }
    return out;
}

double rms(const std::vector<int16_t>& samples) {
    double e = 0;
    for (int16_t s : samples) e += double(s) * s;
    return samples.empty() ? 0.0 : std::sqrt(e / double(samples.size()));
}

}  // namespace kallomir::test
