#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "variant.h"

namespace fw {

// Text keys to values, kept in the order the keys were first inserted. Keys compare without
// regard to ASCII letter case, as HTTP header names do; a key keeps the spelling it was first
// stored with.
class Dictionary {
public:
    bool HasKey(std::string_view key) const;
    // Throws KeyNotFoundException when the key is absent.
    const Variant& Value(std::string_view key) const;
    Variant Lookup(std::string_view key, Variant fallback = {}) const;
    // Replaces the value of an existing key in place, or appends a new key.
    void SetValue(std::string_view key, Variant value);
    // The key at a 0-based index; throws OutOfBoundsException past the end.
    const std::string& Key(int32_t index) const;
    const Variant& ValueAt(int32_t index) const;
    int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
    // Throws KeyNotFoundException when the key is absent.
    void Remove(std::string_view key);
    void Clear();

private:
    struct Entry {
        std::string key;
        Variant value;
    };
    void Reindex(size_t from);

    std::vector<Entry> entries_;
    std::unordered_map<std::string, size_t> index_;  // lower-cased key -> position
};

}  // namespace fw
