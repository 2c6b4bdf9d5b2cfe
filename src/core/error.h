// The one exception type of Quillet. Every layer reports a failure by throwing
// it with the text the user reads ("Cannot open file "x". No such file or
// directory"); "not found" and "no match" are values, never exceptions.
// Failures are caught only at the edges: the command line's main and the
// window's error box.
#pragma once

#include <stdexcept>
#include <string>

namespace quillet {

class Error : public std::runtime_error {
public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quillet
