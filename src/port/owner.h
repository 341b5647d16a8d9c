// Owner<T, Free>: the one "release on every path" holder of the library. It
// keeps a handle or pointer and passes it to Free when the scope ends,
// unless release() handed it on to a new owner.
#pragma once

#include <utility>

namespace kxfpx::port {

template <typename T, auto Free> class Owner {
public:
    Owner() = default;
    explicit Owner(T value) : value_(value) {}
    ~Owner() { reset(); }
    Owner(const Owner &) = delete;
    Owner &operator=(const Owner &) = delete;
    Owner(Owner &&other) noexcept : value_(other.release()) {}
    Owner &operator=(Owner &&other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T get() const { return value_; }
    explicit operator bool() const { return value_ != T{}; }
    // Gives up ownership without freeing.
    T release() { return std::exchange(value_, T{}); }
    // Frees what is held and takes `value` instead.
    void reset(T value = T{})
    {
        if (T old = std::exchange(value_, value); old != T{})
            Free(old);
    }

private:
    T value_{};
};

} // namespace kxfpx::port
