#pragma once

// Result<T, E>: a value or an error, with std::expected's member names so the
// code moves to std::expected unchanged once the compiler offers it.

#include <cassert>
#include <type_traits>
#include <utility>
#include <variant>

namespace hollowkit {

template <typename E>
class Unexpected {
public:
    explicit Unexpected(E error) : error_(std::move(error)) {}
    const E& error() const& { return error_; }
    E&& error() && { return std::move(error_); }

private:
    E error_;
};

template <typename E>
Unexpected(E) -> Unexpected<E>;

template <typename E>
Unexpected<std::decay_t<E>> unexpected(E&& error) {
    return Unexpected<std::decay_t<E>>(std::forward<E>(error));
}

template <typename T, typename E>
class [[nodiscard]] Result {
public:
    using value_type = T;
    using error_type = E;

    Result() requires std::is_default_constructible_v<T> : storage_(std::in_place_index<0>) {}
    Result(const T& value) : storage_(std::in_place_index<0>, value) {}
    Result(T&& value) : storage_(std::in_place_index<0>, std::move(value)) {}
    template <typename G>
    Result(Unexpected<G> error) : storage_(std::in_place_index<1>, std::move(error).error()) {}

    bool has_value() const { return storage_.index() == 0; }
    explicit operator bool() const { return has_value(); }

    T& value() & { assert(has_value()); return std::get<0>(storage_); }
    const T& value() const& { assert(has_value()); return std::get<0>(storage_); }
    T&& value() && { assert(has_value()); return std::get<0>(std::move(storage_)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const& { assert(!has_value()); return std::get<1>(storage_); }
    E&& error() && { assert(!has_value()); return std::get<1>(std::move(storage_)); }

    template <typename U>
    T value_or(U&& fallback) const& {
        return has_value() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

    bool operator==(const Result&) const = default;

private:
    std::variant<T, E> storage_;
};

template <typename E>
class [[nodiscard]] Result<void, E> {
public:
    using value_type = void;
    using error_type = E;

    Result() = default;
    template <typename G>
    Result(Unexpected<G> error) : error_(std::move(error).error()), failed_(true) {}

    bool has_value() const { return !failed_; }
    explicit operator bool() const { return has_value(); }
    void value() const { assert(has_value()); }
    const E& error() const { assert(failed_); return error_; }

    bool operator==(const Result&) const = default;

private:
    E error_{};
    bool failed_ = false;
};

}  // namespace hollowkit
