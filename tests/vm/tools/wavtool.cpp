// wavtool: measures recordings, for the guest scenarios.
//
//   wavtool analyze IN.wav [--threshold-db DB] [--quiet-db DB] [--quiet-ms MS] [--pitch-ms MS]
//       prints key=value lines: rate, channels, frames, duration_s, peak_dbfs,
//       onset_s (first sample above the threshold, or "none"), pre_onset_rms_dbfs
//       (the level before it), pitch_hz (fundamental measured just after the onset),
//       onsets (how many notes start: a sample above the threshold after at least
//       --quiet-ms below --quiet-db) and onset_times_s (their times, comma-separated).
//
// Only PCM WAV (8/16/24/32-bit integer, 32/64-bit float) is read; channels are mixed.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

struct Audio {
    unsigned rate = 0;
    unsigned channels = 0;
    std::vector<double> mono;  // mixed channels, full scale = 1.0
};

[[noreturn]] void die(const std::string& message) {
    std::cerr << "wavtool: " << message << "\n";
    std::exit(2);
}

uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const unsigned char* p) {
    return uint16_t(p[0] | p[1] << 8);
}

Audio readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) die("cannot open " + path);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), {});
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0)
        die(path + " is not a WAV file");

    Audio audio;
    unsigned format = 0, bits = 0;
    size_t pos = 12;
    const unsigned char* data = nullptr;
    size_t dataSize = 0;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = bytes.data() + pos;
        size_t size = le32(chunk + 4);
        size_t avail = std::min(size, bytes.size() - pos - 8);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && avail >= 16) {
            format = le16(chunk + 8);
            audio.channels = le16(chunk + 10);
            audio.rate = le32(chunk + 12);
            bits = le16(chunk + 22);
            if (format == 0xFFFE && avail >= 26)
                format = le16(chunk + 32);  // WAVE_FORMAT_EXTENSIBLE: the sub-format's first field
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            // arecord stopped by a signal may leave the size unset; take what is there.
            data = chunk + 8;
            dataSize = (size == 0 || size == 0xFFFFFFFF) ? bytes.size() - pos - 8 : avail;
            break;
        }
        pos += 8 + size + (size & 1);
    }
    if (!data || audio.channels == 0 || audio.rate == 0) die(path + ": no fmt or data chunk");
    if (!((format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) ||
          (format == 3 && (bits == 32 || bits == 64))))
        die(path + ": unsupported sample format " + std::to_string(format) + "/" +
            std::to_string(bits));

    const size_t bytesPerSample = bits / 8;
    const size_t frames = dataSize / (bytesPerSample * audio.channels);
    audio.mono.resize(frames);
    for (size_t f = 0; f < frames; ++f) {
        double sum = 0;
        for (unsigned c = 0; c < audio.channels; ++c) {
            const unsigned char* s = data + (f * audio.channels + c) * bytesPerSample;
            double v = 0;
            if (format == 3 && bits == 32) {
                float x;
                uint32_t u = le32(s);
                std::memcpy(&x, &u, 4);
                v = x;
            } else if (format == 3) {
                double x;
                uint64_t u = le32(s) | uint64_t(le32(s + 4)) << 32;
                std::memcpy(&x, &u, 8);
                v = x;
            } else if (bits == 8) {
                v = (int(s[0]) - 128) / 128.0;
            } else if (bits == 16) {
                v = int16_t(le16(s)) / 32768.0;
            } else if (bits == 24) {
                int32_t x =
                    int32_t(uint32_t(s[0]) << 8 | uint32_t(s[1]) << 16 | uint32_t(s[2]) << 24) >> 8;
                v = x / 8388608.0;
            } else {
                v = int32_t(le32(s)) / 2147483648.0;
            }
            sum += v;
        }
        audio.mono[f] = sum / audio.channels;
    }
    return audio;
}

double db(double amplitude) {
    return amplitude > 0 ? 20 * std::log10(amplitude) : -INFINITY;
}

std::string fmt(double value, int decimals = 4) {
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

// Fundamental frequency by the YIN difference function over [begin, begin + length).
std::optional<double> pitch(const std::vector<double>& x, size_t begin, size_t length,
                            unsigned rate) {
    const size_t minLag = std::max<size_t>(2, rate / 4200);
    const size_t maxLag = rate / 25;
    if (begin + length + maxLag > x.size())
        length = x.size() > begin + maxLag ? x.size() - begin - maxLag : 0;
    if (length < 2 * maxLag / 3) return std::nullopt;

    std::vector<double> d(maxLag + 2, 0.0);
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        double sum = 0;
        for (size_t i = begin; i < begin + length; ++i) {
            double diff = x[i] - x[i + lag];
            sum += diff * diff;
        }
        d[lag] = sum;
    }
    // Cumulative mean normalisation; the first dip under the threshold is the period.
    std::vector<double> cmnd(maxLag + 2, 1.0);
    double running = 0;
    for (size_t lag = 1; lag <= maxLag + 1; ++lag) {
        running += d[lag];
        cmnd[lag] = running > 0 ? d[lag] * lag / running : 1.0;
    }
    size_t best = 0;
    for (size_t lag = minLag; lag <= maxLag; ++lag) {
        if (cmnd[lag] < 0.15) {
            while (lag + 1 <= maxLag && cmnd[lag + 1] < cmnd[lag]) ++lag;
            best = lag;
            break;
        }
    }
    if (best == 0) {
        best = minLag;
        for (size_t lag = minLag; lag <= maxLag; ++lag)
            if (cmnd[lag] < cmnd[best]) best = lag;
        if (cmnd[best] > 0.5) return std::nullopt;  // no periodic signal
    }
    // Parabolic interpolation around the minimum for a sub-sample period.
    double a = cmnd[best - 1], b = cmnd[best], c = cmnd[best + 1];
    double denom = a - 2 * b + c;
    double period = best + (denom != 0 ? 0.5 * (a - c) / denom : 0.0);
    return rate / period;
}

double argDouble(int& i, int argc, char** argv) {
    if (i + 1 >= argc) die(std::string("missing value after ") + argv[i]);
    char* end = nullptr;
    double v = std::strtod(argv[++i], &end);
    if (!end || *end) die(std::string("not a number: ") + argv[i]);
    return v;
}

int analyze(int argc, char** argv) {
    if (argc < 3)
        die("usage: wavtool analyze IN.wav [--threshold-db DB] [--quiet-db DB] [--quiet-ms MS] "
            "[--pitch-ms MS]");
    double thresholdDb = -40, quietDb = -50, quietMs = 50, pitchMs = 300;
    for (int i = 3; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--threshold-db")
            thresholdDb = argDouble(i, argc, argv);
        else if (a == "--quiet-db")
            quietDb = argDouble(i, argc, argv);
        else if (a == "--quiet-ms")
            quietMs = argDouble(i, argc, argv);
        else if (a == "--pitch-ms")
            pitchMs = argDouble(i, argc, argv);
        else
            die("unknown option " + a);
    }
    Audio audio = readWav(argv[2]);
    const auto& x = audio.mono;
    const double threshold = std::pow(10.0, thresholdDb / 20), quiet = std::pow(10.0, quietDb / 20);

    double peak = 0;
    for (double v : x) peak = std::max(peak, std::fabs(v));

    std::optional<size_t> onset;
    std::vector<size_t> onsets;
    const size_t quietFrames = size_t(quietMs * audio.rate / 1000);
    size_t quietRun = quietFrames;  // the start of the file counts as quiet
    bool armed = true;
    for (size_t i = 0; i < x.size(); ++i) {
        double v = std::fabs(x[i]);
        if (v > threshold) {
            if (!onset) onset = i;
            if (armed) onsets.push_back(i);
            armed = false;
            quietRun = 0;
        } else if (v < quiet) {
            if (++quietRun >= quietFrames) armed = true;
        } else {
            quietRun = 0;
        }
    }

    std::cout << "rate=" << audio.rate << "\n"
              << "channels=" << audio.channels << "\n"
              << "frames=" << x.size() << "\n"
              << "duration_s=" << fmt(double(x.size()) / audio.rate) << "\n"
              << "peak_dbfs=" << fmt(db(peak), 2) << "\n";
    if (!onset) {
        std::cout << "onset_s=none\npre_onset_rms_dbfs=" << fmt(-INFINITY) << "\npitch_hz=none\n";
    } else {
        double sum = 0;
        for (size_t i = 0; i < *onset; ++i) sum += x[i] * x[i];
        double preRms = *onset ? std::sqrt(sum / double(*onset)) : 0.0;
        // Skip the attack before measuring the pitch.
        size_t begin = *onset + audio.rate / 50;
        auto f = pitch(x, begin, size_t(pitchMs * audio.rate / 1000), audio.rate);
        std::cout << "onset_s=" << fmt(double(*onset) / audio.rate) << "\n"
                  << "pre_onset_rms_dbfs=" << fmt(db(preRms), 2) << "\n"
                  << "pitch_hz=" << (f ? fmt(*f, 2) : std::string("none")) << "\n";
    }
    std::cout << "onsets=" << onsets.size() << "\nonset_times_s=";
    for (size_t i = 0; i < onsets.size(); ++i)
        std::cout << (i ? "," : "") << fmt(double(onsets[i]) / audio.rate);
    std::cout << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "analyze") return analyze(argc, argv);
    die("usage: wavtool analyze ...");
}
