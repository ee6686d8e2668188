#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "exceptions.h"

namespace fw {

// A counted reference. It keeps its object alive while it holds it; using it while it holds
// nothing throws NilObjectException instead of crashing.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    Ref(std::shared_ptr<T> p) : p_(std::move(p)) {}
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Ref(const Ref<U>& other) : p_(other.Shared()) {}

    T* operator->() const { return &Checked(); }
    T& operator*() const { return Checked(); }

    T* Get() const noexcept { return p_.get(); }
    bool IsNil() const noexcept { return !p_; }
    explicit operator bool() const noexcept { return static_cast<bool>(p_); }
    const std::shared_ptr<T>& Shared() const noexcept { return p_; }

    // The same object as a U, or nil when it is not one.
    template <class U>
    Ref<U> As() const {
        return Ref<U>(std::dynamic_pointer_cast<U>(p_));
    }

    // The same object as a U; throws IllegalCastException when it is not one.
    template <class U>
    Ref<U> Cast() const {
        Ref<U> r = As<U>();
        if (p_ && !r) throw IllegalCastException("Illegal cast");
        return r;
    }

    void Reset() noexcept { p_.reset(); }

    template <class U>
    bool operator==(const Ref<U>& other) const noexcept {
        return p_ == other.Shared();
    }
    bool operator==(std::nullptr_t) const noexcept { return !p_; }

private:
    T& Checked() const {
        if (!p_) throw NilObjectException();
        return *p_;
    }

    std::shared_ptr<T> p_;
};

template <class T, class... Args>
Ref<T> New(Args&&... args) {
    return Ref<T>(std::make_shared<T>(std::forward<Args>(args)...));
}

}  // namespace fw
