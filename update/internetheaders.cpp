#include "internetheaders.h"

#include "core/text.h"

namespace {

std::string_view BeforeColon(std::string_view key) {
    return key.substr(0, key.find(':'));
}

}  // namespace

std::string InternetHeaders::KeyFor(std::string_view name, int32_t n) {
    std::string key(name);
    if (n != 0) key += ":" + fw::Str(n);
    return key;
}

void InternetHeaders::Forget(std::string_view name) {
    firstFreeHint_.erase(fw::ToLowerAscii(BeforeColon(name)));
}

std::string InternetHeaders::Name(int32_t index) const {
    return std::string(BeforeColon(Headers.Key(index)));
}

int32_t InternetHeaders::NameCount(std::string_view name) const {
    if (!Headers.HasKey(name)) return 0;
    int32_t count = 1;
    while (Headers.HasKey(KeyFor(name, count))) ++count;
    return count;
}

std::string InternetHeaders::Value(std::string_view name, int32_t n) const {
    return Headers.Lookup(KeyFor(name, n), std::string()).StringValue();
}

std::string InternetHeaders::Value(int32_t index) const {
    if (index < 0 || index >= Count()) return {};
    return Headers.ValueAt(index).StringValue();
}

void InternetHeaders::AppendHeader(std::string_view name, std::string_view value) {
    if (!Headers.HasKey(name)) {
        Headers.SetValue(name, std::string(value));
        return;
    }
    std::string base(BeforeColon(name));
    std::string lower = fw::ToLowerAscii(base);
    auto hint = firstFreeHint_.find(lower);
    int32_t n = hint == firstFreeHint_.end() ? 1 : hint->second;
    while (Headers.HasKey(KeyFor(base, n))) ++n;
    Headers.SetValue(KeyFor(base, n), std::string(value));
    firstFreeHint_[lower] = n + 1;
}

void InternetHeaders::SetHeader(std::string_view name, std::string_view value) {
    if (NameCount(name) >= 2) Delete(name);
    Headers.SetValue(name, std::string(value));
}

void InternetHeaders::SetHeader(std::string_view name, std::string_view value, int32_t n) {
    std::string key = KeyFor(name, n);
    if (Headers.HasKey(key)) {
        Headers.SetValue(key, std::string(value));
    } else {
        AppendHeader(key, value);
    }
}

void InternetHeaders::Delete(std::string_view name) {
    int32_t count = NameCount(name);
    if (count == 0) return;
    Forget(name);
    for (int32_t n = 0; n < count; ++n) Headers.Remove(KeyFor(name, n));
}

void InternetHeaders::Delete(std::string_view name, int32_t n) {
    std::string key = KeyFor(name, n);
    if (!Headers.HasKey(key)) return;
    Forget(name);
    for (std::string next = KeyFor(name, n + 1); Headers.HasKey(next);
         next = KeyFor(name, ++n + 1)) {
        Headers.SetValue(key, Headers.Value(next));
        key = next;
    }
    Headers.Remove(key);
}

void InternetHeaders::DeleteAllHeaders() {
    Headers.Clear();
    firstFreeHint_.clear();
}

std::string InternetHeaders::CommaSeparatedValues(std::string_view name) const {
    std::string out;
    int32_t count = NameCount(name);
    for (int32_t n = 0; n < count; ++n) {
        if (n) out += ", ";
        out += Value(name, n);
    }
    return out;
}

std::string InternetHeaders::Source() const {
    return _rawHeaders.empty() ? FormatHTTPHeaders() : _rawHeaders;
}

std::string InternetHeaders::FormatHTTPHeaders() const {
    std::string out;
    for (int32_t i = 0; i < Count(); ++i) {
        if (i) out += "\r\n";
        out += Name(i) + ": " + Value(i);
    }
    return out;
}

std::string InternetHeaders::DetermineEOLCharacter(std::string_view text) {
    if (text.find("\r\n") != std::string_view::npos) return "\r\n";
    if (text.find('\n') != std::string_view::npos) return "\n";
    if (text.find('\r') != std::string_view::npos) return "\r";
    return "\r\n";
}

void InternetHeaders::ParseHeaders(const std::string& text) {
    _rawHeaders = text;
    const std::string eol = DetermineEOLCharacter(text);
    DeleteAllHeaders();
    // A line that starts with a space or a tab continues the one before it.
    std::string joined = fw::ReplaceAll(fw::ReplaceAll(text, eol + " ", " "), eol + "\t", " ");
    std::string_view rest = joined;
    while (true) {
        size_t end = rest.find(eol);
        std::string_view line = rest.substr(0, end);
        size_t colon = line.find(':');
        if (colon != std::string_view::npos)
            AppendHeader(line.substr(0, colon), fw::LTrim(line.substr(colon + 1)));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + eol.size());
    }
}
