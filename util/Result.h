#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace util {

// The failure half of a result: a message for the operator, worded as a whole
// sentence without padding (callers add their own separators), and the kind of
// failure from the failing subsystem's own scoped enum, for callers that branch
// on it. A subsystem's first enumerator is its plain "it failed".
template <typename Code> struct Error
{
    QString message;
    Code code{};
};

// A value or an error, used wherever I/O or outside input can fail.
template <typename T, typename Code> class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {}
    Result(Error<Code> error)
        : m_state(std::in_place_index<1>, std::move(error))
    {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T &value() & { return std::get<0>(m_state); }
    const T &value() const & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    T *operator->() { return &value(); }
    const T *operator->() const { return &value(); }
    T &operator*() & { return value(); }
    const T &operator*() const & { return value(); }

    const Error<Code> &error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error<Code>> m_state;
};

// A result that carries no value on success.
template <typename Code> class [[nodiscard]] Result<void, Code>
{
public:
    Result() = default;
    Result(Error<Code> error)
        : m_error(std::move(error))
    {}

    bool ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error<Code> &error() const { return *m_error; }

private:
    std::optional<Error<Code>> m_error;
};

} // namespace util
