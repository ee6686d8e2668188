#include "variant.h"

#include <cmath>

#include "text.h"

namespace fw {

int64_t Variant::Int64Value() const {
    if (auto* i = std::get_if<int64_t>(&v_)) return *i;
    if (auto* d = std::get_if<double>(&v_)) return static_cast<int64_t>(std::trunc(*d));
    if (auto* b = std::get_if<bool>(&v_)) return *b ? 1 : 0;
    if (auto* s = std::get_if<std::string>(&v_)) return static_cast<int64_t>(Val(*s));
    return 0;
}

double Variant::DoubleValue() const {
    if (auto* d = std::get_if<double>(&v_)) return *d;
    if (auto* s = std::get_if<std::string>(&v_)) return Val(*s);
    return static_cast<double>(Int64Value());
}

bool Variant::BooleanValue() const {
    if (auto* b = std::get_if<bool>(&v_)) return *b;
    return Int64Value() != 0;
}

std::string Variant::StringValue() const {
    if (auto* s = std::get_if<std::string>(&v_)) return *s;
    if (auto* i = std::get_if<int64_t>(&v_)) return Str(*i);
    if (auto* d = std::get_if<double>(&v_)) return Str(*d);
    if (auto* b = std::get_if<bool>(&v_)) return *b ? "True" : "False";
    return {};
}

}  // namespace fw
