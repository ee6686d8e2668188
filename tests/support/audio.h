#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

struct Stereo {
    std::vector<float> left, right;
};

inline double Rms(const std::vector<float>& s, size_t from, size_t to) {
    if (to > s.size()) to = s.size();
    if (from >= to) return 0;
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(to - from));
}

// The fundamental frequency of a stretch of sound, by the strongest autocorrelation peak
// within the piano's range.
inline double Pitch(const std::vector<float>& s, size_t from, size_t length, double rate) {
    size_t minLag = static_cast<size_t>(rate / 4200), maxLag = static_cast<size_t>(rate / 27);
    double best = 0;
    size_t bestLag = 0;
    std::vector<double> corr(maxLag + 1, 0.0);
    for (size_t lag = minLag; lag <= maxLag; ++lag) {
        double c = 0;
        for (size_t i = from; i < from + length && i + lag < s.size(); ++i)
            c += double(s[i]) * s[i + lag];
        corr[lag] = c;
    }
    // The first peak that comes close to the strongest one is the period, not a multiple.
    for (size_t lag = minLag; lag <= maxLag; ++lag) best = std::max(best, corr[lag]);
    for (size_t lag = minLag + 1; lag < maxLag; ++lag) {
        if (corr[lag] > 0.9 * best && corr[lag] >= corr[lag - 1] && corr[lag] >= corr[lag + 1]) {
            bestLag = lag;
            break;
        }
    }
    return bestLag ? rate / double(bestLag) : 0;
}

inline double NoteFrequency(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// Cosine similarity of two signals over their common length.
inline double Similarity(const std::vector<float>& a, const std::vector<float>& b) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Magnitude spectrum of a stretch of sound up to maxHz, in bins of rate/length, by a plain
// DFT: enough for comparing the timbre of two notes.
inline std::vector<double> Spectrum(const std::vector<float>& s, size_t from, size_t length,
                                    double rate, double maxHz = 5000) {
    size_t bins = static_cast<size_t>(maxHz * double(length) / rate);
    std::vector<double> mag(bins, 0.0);
    for (size_t k = 1; k < bins; ++k) {
        double re = 0, im = 0, w = 2 * M_PI * double(k) / double(length);
        for (size_t i = 0; i < length && from + i < s.size(); ++i) {
            double hann = 0.5 - 0.5 * std::cos(2 * M_PI * double(i) / double(length));
            re += hann * s[from + i] * std::cos(w * double(i));
            im -= hann * s[from + i] * std::sin(w * double(i));
        }
        mag[k] = std::sqrt(re * re + im * im);
    }
    return mag;
}

inline double SpectralSimilarity(const std::vector<double>& a, const std::vector<double>& b) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}
