#pragma once
// What an operation that can fail returns: its value, or the reason it
// failed. The reason is a sentence for the user, whole ("cannot create
// x.pda: No such file or directory"); Context puts what the operation
// worked on in front of it, as a caller that knows more says it.
//
//     Result<std::string> ReadName(const std::string& path);
//     const auto name = ReadName(path);
//     if (!name) return Failure{name.Reason()};
//     Use(*name);

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace varnel {

// Why an operation failed.
struct Failure {
    std::string reason;
};

template <class T = void>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool Ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return Ok(); }

    // The value; only when Ok.
    T& operator*() & { return std::get<0>(m_state); }
    const T& operator*() const& { return std::get<0>(m_state); }
    T&& operator*() && { return std::get<0>(std::move(m_state)); }
    T* operator->() { return &std::get<0>(m_state); }
    const T* operator->() const { return &std::get<0>(m_state); }

    // Why it failed; only when not Ok.
    const std::string& Reason() const { return std::get<1>(m_state).reason; }
    const Failure& Error() const { return std::get<1>(m_state); }

    // A failure's reason with "CONTEXT: " in front; a value stays as it is.
    Result Context(std::string_view context) && {
        if (!Ok()) std::get<1>(m_state).reason.insert(0, std::string(context) + ": ");
        return std::move(*this);
    }

private:
    std::variant<T, Failure> m_state;
};

// An operation with nothing to return but whether it worked.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : m_failure(std::move(failure)) {}

    bool Ok() const { return !m_failure; }
    explicit operator bool() const { return Ok(); }

    const std::string& Reason() const { return m_failure->reason; }
    const Failure& Error() const { return *m_failure; }

    Result Context(std::string_view context) && {
        if (m_failure) m_failure->reason.insert(0, std::string(context) + ": ");
        return std::move(*this);
    }

private:
    std::optional<Failure> m_failure;
};

}  // namespace varnel
