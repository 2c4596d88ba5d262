// SPDX-License-Identifier: MIT
#pragma once

// The one way the core and the port report a failure. A Result<T> holds the
// value, or why there is none: a reason in words for the operator (the
// system's, as systemError() gives it, or the program's own: "it is a FIFO,
// not a regular file"), and the errno when the system refused, for callers
// that must tell a missing file (ENOENT) from other failures. Result<void>
// is "done, or why not". A rule's verdict that is no failure (may this port
// be used?) is not a Result; such functions say so where they are declared.

#include <QString>
#include <optional>
#include <utility>

// Why something failed; `error` is the errno, 0 when the refusal is ours.
struct Failure
{
    QString reason;
    int error = 0;
};

// The system's text for errno `code`, in the locale's language.
QString systemError(int code);

// The failure of a system call that set errno to `code`.
inline Failure systemFailure(int code)
{
    return { systemError(code), code };
}

template<class T> class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    { }
    Result(Failure failure)
        : m_failure(std::move(failure))
    { }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }

    // Empty, and 0, when ok().
    const QString& reason() const { return m_failure.reason; }
    int error() const { return m_failure.error; }
    const Failure& failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Failure m_failure;
};

template<> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Failure failure)
        : m_failed(true)
        , m_failure(std::move(failure))
    { }

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }

    const QString& reason() const { return m_failure.reason; }
    int error() const { return m_failure.error; }
    const Failure& failure() const { return m_failure; }

private:
    bool m_failed = false;
    Failure m_failure;
};
