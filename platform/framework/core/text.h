#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Text functions. Texts are UTF-8 byte strings; positions and lengths count bytes and are
// 1-based where a position is asked for, as callers of these functions expect.
namespace fw {

std::string Str(int64_t value);
std::string Str(int32_t value);
std::string Str(double value);
// Upper-case hexadecimal digits without prefix; a negative value as its 32-bit two's complement.
std::string Hex(int64_t value);
// The leading decimal number of a text (after leading blanks), 0 when it has none.
double Val(std::string_view text);
int32_t Len(std::string_view text);
// The text from 1-based position start, length bytes long (to the end when length < 0).
std::string Mid(std::string_view text, int32_t start, int32_t length = -1);
std::string Left(std::string_view text, int32_t count);
std::string Right(std::string_view text, int32_t count);
// 1-based position of find in text at or after start; 0 when absent.
int32_t InStr(std::string_view text, std::string_view find);
int32_t InStr(int32_t start, std::string_view text, std::string_view find);
// The n-th (1-based) field of text split at separator; empty when there is no such field.
std::string NthField(std::string_view text, std::string_view separator, int32_t n);
int32_t CountFields(std::string_view text, std::string_view separator);
std::string ReplaceAll(std::string_view text, std::string_view find, std::string_view with);
// White space here is blanks, tabs, line ends, form feeds and NUL, as a version file holds.
std::string Trim(std::string_view text);
std::string LTrim(std::string_view text);
std::string RTrim(std::string_view text);
// The character with that code point, UTF-8 encoded.
std::string Chr(uint32_t code);
const std::string& EndOfLine();
// Text equality and order ignore ASCII letter case; the order breaks ties by byte value so
// that sorting is deterministic.
bool TextEquals(std::string_view a, std::string_view b);
int TextCompare(std::string_view a, std::string_view b);
void SortTexts(std::vector<std::string>& texts);
std::string ToLowerAscii(std::string_view text);
double Max(double a, double b);
double Min(double a, double b);
// Sixtieths of a second since the process started, from a monotonic clock.
int64_t Ticks();
// Base64 with lines of at most lineLength characters joined by CR LF; 0 means one line.
std::string EncodeBase64(std::string_view data, int32_t lineLength = 0);

struct Color {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    bool operator==(const Color&) const = default;
};
Color RGB(int red, int green, int blue);

}  // namespace fw
