#include "dictionary.h"

#include "exceptions.h"
#include "text.h"

namespace fw {

bool Dictionary::HasKey(std::string_view key) const {
    return index_.count(ToLowerAscii(key)) != 0;
}

const Variant& Dictionary::Value(std::string_view key) const {
    auto it = index_.find(ToLowerAscii(key));
    if (it == index_.end()) throw KeyNotFoundException("Key not found: " + std::string(key));
    return entries_[it->second].value;
}

Variant Dictionary::Lookup(std::string_view key, Variant fallback) const {
    auto it = index_.find(ToLowerAscii(key));
    return it == index_.end() ? fallback : entries_[it->second].value;
}

void Dictionary::SetValue(std::string_view key, Variant value) {
    std::string lower = ToLowerAscii(key);
    auto it = index_.find(lower);
    if (it != index_.end()) {
        entries_[it->second].value = std::move(value);
        return;
    }
    index_.emplace(std::move(lower), entries_.size());
    entries_.push_back(Entry{std::string(key), std::move(value)});
}

const std::string& Dictionary::Key(int32_t index) const {
    if (index < 0 || index >= Count()) throw OutOfBoundsException("Dictionary index out of bounds");
    return entries_[static_cast<size_t>(index)].key;
}

const Variant& Dictionary::ValueAt(int32_t index) const {
    if (index < 0 || index >= Count()) throw OutOfBoundsException("Dictionary index out of bounds");
    return entries_[static_cast<size_t>(index)].value;
}

void Dictionary::Remove(std::string_view key) {
    auto it = index_.find(ToLowerAscii(key));
    if (it == index_.end()) throw KeyNotFoundException("Key not found: " + std::string(key));
    size_t pos = it->second;
    index_.erase(it);
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
    Reindex(pos);
}

void Dictionary::Clear() {
    entries_.clear();
    index_.clear();
}

void Dictionary::Reindex(size_t from) {
    for (size_t i = from; i < entries_.size(); ++i) index_[ToLowerAscii(entries_[i].key)] = i;
}

}  // namespace fw
