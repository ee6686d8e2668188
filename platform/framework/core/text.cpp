#include "text.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace fw {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == '\0';
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

const auto kProcessStart = std::chrono::steady_clock::now();

}  // namespace

std::string Str(int64_t value) {
    return std::to_string(value);
}
std::string Str(int32_t value) {
    return std::to_string(value);
}

std::string Str(double value) {
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
        return std::to_string(static_cast<int64_t>(value));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return buf;
}

std::string Hex(int64_t value) {
    uint64_t v = value < 0 ? static_cast<uint32_t>(static_cast<int32_t>(value))
                           : static_cast<uint64_t>(value);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(v));
    return buf;
}

double Val(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t digitsStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
    bool hasInt = i > digitsStart;
    bool hasFrac = false;
    if (i < text.size() && text[i] == '.') {
        size_t f = i + 1;
        while (f < text.size() && text[f] >= '0' && text[f] <= '9') ++f;
        hasFrac = f > i + 1;
        if (hasFrac || hasInt) i = f;
    }
    if (!hasInt && !hasFrac) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) ++e;
        size_t expDigits = e;
        while (e < text.size() && text[e] >= '0' && text[e] <= '9') ++e;
        if (e > expDigits) i = e;
    }
    std::string number(text.substr(start, i - start));
    return std::strtod(number.c_str(), nullptr);
}

int32_t Len(std::string_view text) {
    return static_cast<int32_t>(text.size());
}

std::string Mid(std::string_view text, int32_t start, int32_t length) {
    if (start < 1) start = 1;
    size_t from = static_cast<size_t>(start - 1);
    if (from >= text.size()) return {};
    size_t count = length < 0 ? std::string_view::npos : static_cast<size_t>(length);
    return std::string(text.substr(from, count));
}

std::string Left(std::string_view text, int32_t count) {
    if (count <= 0) return {};
    return std::string(text.substr(0, static_cast<size_t>(count)));
}

std::string Right(std::string_view text, int32_t count) {
    if (count <= 0) return {};
    size_t n = std::min(text.size(), static_cast<size_t>(count));
    return std::string(text.substr(text.size() - n));
}

int32_t InStr(std::string_view text, std::string_view find) {
    return InStr(1, text, find);
}

int32_t InStr(int32_t start, std::string_view text, std::string_view find) {
    if (start < 1) start = 1;
    size_t from = static_cast<size_t>(start - 1);
    if (find.empty() || from > text.size()) return 0;
    size_t pos = text.find(find, from);
    return pos == std::string_view::npos ? 0 : static_cast<int32_t>(pos + 1);
}

std::string NthField(std::string_view text, std::string_view separator, int32_t n) {
    if (n < 1) return {};
    if (separator.empty()) return n == 1 ? std::string(text) : std::string();
    size_t from = 0;
    for (int32_t field = 1;; ++field) {
        size_t pos = text.find(separator, from);
        if (field == n)
            return std::string(text.substr(from, pos == std::string_view::npos ? pos : pos - from));
        if (pos == std::string_view::npos) return {};
        from = pos + separator.size();
    }
}

int32_t CountFields(std::string_view text, std::string_view separator) {
    if (separator.empty()) return 1;
    int32_t count = 1;
    for (size_t pos = text.find(separator); pos != std::string_view::npos;
         pos = text.find(separator, pos + separator.size()))
        ++count;
    return count;
}

std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view with) {
    if (find.empty()) return std::string(text);
    std::string out;
    size_t from = 0;
    for (size_t pos = text.find(find); pos != std::string_view::npos; pos = text.find(find, from)) {
        out.append(text.substr(from, pos - from));
        out.append(with);
        from = pos + find.size();
    }
    out.append(text.substr(from));
    return out;
}

std::string LTrim(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return std::string(text.substr(i));
}

std::string RTrim(std::string_view text) {
    size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1])) --n;
    return std::string(text.substr(0, n));
}

std::string Trim(std::string_view text) {
    return RTrim(LTrim(text));
}

std::string Chr(uint32_t code) {
    std::string out;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((code >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return out;
}

const std::string& EndOfLine() {
    static const std::string eol = "\n";
    return eol;
}

std::string ToLowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

bool TextEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

int TextCompare(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        auto ca = static_cast<unsigned char>(LowerAscii(a[i]));
        auto cb = static_cast<unsigned char>(LowerAscii(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int raw = a.compare(b);
    return raw < 0 ? -1 : (raw > 0 ? 1 : 0);
}

void SortTexts(std::vector<std::string>& texts) {
    std::stable_sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        return TextCompare(a, b) < 0;
    });
}

double Max(double a, double b) {
    return a > b ? a : b;
}
double Min(double a, double b) {
    return a < b ? a : b;
}

int64_t Ticks() {
    auto elapsed = std::chrono::steady_clock::now() - kProcessStart;
    return std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() * 60 / 1000000;
}

std::string EncodeBase64(std::string_view data, int32_t lineLength) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    flat.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        uint32_t v = (static_cast<uint8_t>(data[i]) << 16) |
                     (static_cast<uint8_t>(data[i + 1]) << 8) | static_cast<uint8_t>(data[i + 2]);
        flat += kAlphabet[(v >> 18) & 63];
        flat += kAlphabet[(v >> 12) & 63];
        flat += kAlphabet[(v >> 6) & 63];
        flat += kAlphabet[v & 63];
    }
    if (i < data.size()) {
        uint32_t v = static_cast<uint8_t>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<uint8_t>(data[i + 1]) << 8;
        flat += kAlphabet[(v >> 18) & 63];
        flat += kAlphabet[(v >> 12) & 63];
        flat += i + 1 < data.size() ? kAlphabet[(v >> 6) & 63] : '=';
        flat += '=';
    }
    if (lineLength <= 0 || flat.size() <= static_cast<size_t>(lineLength)) return flat;
    std::string out;
    for (size_t pos = 0; pos < flat.size(); pos += static_cast<size_t>(lineLength)) {
        if (pos) out += "\r\n";
        out.append(flat, pos, static_cast<size_t>(lineLength));
    }
    return out;
}

Color RGB(int red, int green, int blue) {
    auto clamp = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); };
    return Color{clamp(red), clamp(green), clamp(blue)};
}

}  // namespace fw
