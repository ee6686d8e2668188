#pragma once

// What came out of a synthesizer: where the first sound is, how loud, at what pitch.

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

// Index of the first sample in [from, to) whose magnitude exceeds the threshold, or -1.
inline long FirstAbove(std::span<const float> x, long from, long to, float threshold) {
    to = std::min(to, static_cast<long>(x.size()));
    for (long i = std::max(from, 0L); i < to; ++i)
        if (std::fabs(x[static_cast<std::size_t>(i)]) > threshold) return i;
    return -1;
}

inline float Peak(std::span<const float> x, long from, long to) {
    to = std::min(to, static_cast<long>(x.size()));
    float peak = 0.0f;
    for (long i = std::max(from, 0L); i < to; ++i)
        peak = std::max(peak, std::fabs(x[static_cast<std::size_t>(i)]));
    return peak;
}

inline double NoteFrequency(int note) {
    return 440.0 * std::pow(2.0, (note - 69) / 12.0);
}

// The fundamental frequency of a stretch of sound, by normalised autocorrelation; 0 when
// there is no clear period.
inline double Frequency(std::span<const float> x, double rate, double minHz = 60,
                        double maxHz = 2500) {
    const auto minLag = static_cast<std::size_t>(rate / maxHz);
    const auto maxLag = static_cast<std::size_t>(rate / minHz);
    if (x.size() < 2 * maxLag + 2) return 0;
    const std::size_t n = x.size() - maxLag - 1;
    std::vector<double> r(maxLag + 2, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag + 1; ++lag) {
        double sum = 0, e0 = 0, e1 = 0;
        for (std::size_t i = 0; i < n; ++i) {
            sum += double(x[i]) * x[i + lag];
            e0 += double(x[i]) * x[i];
            e1 += double(x[i + lag]) * x[i + lag];
        }
        r[lag] = (e0 > 0 && e1 > 0) ? sum / std::sqrt(e0 * e1) : 0;
    }
    const double best =
        *std::max_element(r.begin() + long(minLag) + 1, r.begin() + long(maxLag) + 1);
    if (best <= 0) return 0;
    // The shortest lag that comes close to the best peak is the period; longer ones are its
    // multiples. A parabola through the peak gives the fraction of a sample.
    for (std::size_t lag = minLag + 1; lag <= maxLag; ++lag) {
        if (r[lag] >= 0.9 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
            const double denom = a - 2 * b + c;
            return rate / (static_cast<double>(lag) + (denom != 0 ? 0.5 * (a - c) / denom : 0));
        }
    }
    return 0;
}

// Whether the stretch sounds at the note's pitch, within a quarter tone.
inline bool AtPitch(std::span<const float> x, double rate, int note) {
    const double f = Frequency(x, rate);
    return f > 0 && std::fabs(std::log2(f / NoteFrequency(note))) < 1.0 / 24;
}
