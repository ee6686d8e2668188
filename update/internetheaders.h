#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/dictionary.h"

// An ordered store of named header values. The first value of a name is kept under the name,
// each further one under the name, ":" and its number (name:1, name:2, ...), so repeated
// headers keep every value. Names match without regard to ASCII case.
class InternetHeaders {
public:
    // Number of stored entries.
    int32_t Count() const { return Headers.Count(); }
    // The header name of the entry at a 0-based index (its key up to the first ":").
    std::string Name(int32_t index) const;
    // How many values the name has: 0 when absent, else 1 plus its run of numbered keys.
    int32_t NameCount(std::string_view name) const;
    std::string Value(std::string_view name) const { return Value(name, 0); }
    // The n-th value of the name; empty text when there is none.
    std::string Value(std::string_view name, int32_t n) const;
    // The value of the entry at a 0-based index; empty text past the end.
    std::string Value(int32_t index) const;

    // Stores the value under the name's first free key.
    void AppendHeader(std::string_view name, std::string_view value);
    // Replaces all values of the name with this one.
    void SetHeader(std::string_view name, std::string_view value);
    // Sets the n-th value of the name, or appends it when that key is free.
    void SetHeader(std::string_view name, std::string_view value, int32_t n);
    // Removes every value of the name.
    void Delete(std::string_view name);
    // Removes the n-th value and renumbers the later ones, leaving no gap.
    void Delete(std::string_view name, int32_t n);
    void DeleteAllHeaders();
    // All values of the name in order, joined by ", ".
    std::string CommaSeparatedValues(std::string_view name) const;
    // The header block as received, or the entries as header lines when filled by calls.
    std::string Source() const;

    // Fills the store from a header block, replacing what it held.
    void ParseHeaders(const std::string& text);
    // The entries as "name: value" lines joined by CR LF, without a line end around them.
    std::string FormatHTTPHeaders() const;
    // CR LF when the text has one; else LF, else CR when it has one; else CR LF.
    static std::string DetermineEOLCharacter(std::string_view text);

private:
    static std::string KeyFor(std::string_view name, int32_t n);
    void Forget(std::string_view name);

    fw::Dictionary Headers;
    std::string _rawHeaders;
    // Per lower-cased name, a number n for which name:1 to name:(n - 1) are all known to be
    // stored. It lets a long run of repeated headers be appended in linear time; any removal
    // under the name forgets it.
    std::unordered_map<std::string, int32_t> firstFreeHint_;
};
