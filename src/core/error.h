// The one exception type of Quillet. Every layer reports a failure by throwing
// it with the text the user reads ("Cannot open file "x". No such file or
// directory"); "not found" and "no match" are values, never exceptions.
// Failures are caught only at the edges: the command line's main and the
// window's error box.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace quillet {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message), m_reason(message) {}
    // A message that names what failed, and the reason alone, for a caller
    // that tells what failed in its own words ("Cannot create backup ...").
    Error(const std::string& message, std::string reason) : std::runtime_error(message), m_reason(std::move(reason)) {}
    const std::string& reason() const { return m_reason; }

private:
    std::string m_reason;
};

} // namespace quillet
