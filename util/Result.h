#pragma once
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace vaultry {

// A failure the caller may report: one sentence, no trailing period.
struct Error {
    std::string message;
    bool cancelled = false;  // the user stopped the work and everything is as it was before
};

// A value or an error. Engines return these; nothing in the core throws across its API.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error e) : v_(std::move(e)) {}
    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(v_); }
    const T& value() const { return std::get<0>(v_); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : e_(std::move(e)) {}
    bool ok() const { return !e_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return *e_; }

private:
    std::optional<Error> e_;
};

using Status = Result<void>;

inline Error fail(std::string message) { return Error{std::move(message)}; }
inline Error cancelledError() { return Error{"Cancelled", true}; }

}  // namespace vaultry
