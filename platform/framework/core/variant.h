#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace fw {

// A value of one of the framework's plain types, as dictionaries and list rows hold them.
class Variant {
public:
    Variant() = default;
    Variant(int v) : v_(static_cast<int64_t>(v)) {}
    Variant(int64_t v) : v_(v) {}
    Variant(double v) : v_(v) {}
    Variant(bool v) : v_(v) {}
    Variant(std::string v) : v_(std::move(v)) {}
    Variant(const char* v) : v_(std::string(v)) {}

    bool IsNil() const noexcept { return std::holds_alternative<std::monostate>(v_); }
    int64_t Int64Value() const;
    int32_t IntegerValue() const { return static_cast<int32_t>(Int64Value()); }
    double DoubleValue() const;
    bool BooleanValue() const;
    std::string StringValue() const;

    bool operator==(const Variant& other) const = default;

private:
    std::variant<std::monostate, bool, int64_t, double, std::string> v_;
};

}  // namespace fw
