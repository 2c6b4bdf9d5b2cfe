// The reference for the encoding tests: the C library's iconv(3), which the
// code under test does not use, and a TextSink that gathers a string.
#pragma once

#include "core/text_ops.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet::testutil {

// `text` converted from encoding `from` to `to` by iconv (names as iconv -l
// lists them: "UTF-16LE" has no mark, "UTF-16" has one). Raises
// std::runtime_error where iconv refuses.
inline std::string Iconv(const char* to, const char* from, std::string_view text) {
    const iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    std::string input(text);
    std::string output(text.size() * 4 + 16, '\0');
    char* in = input.data();
    std::size_t inLeft = input.size();
    char* out = output.data();
    std::size_t outLeft = output.size();
    const std::size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
    const int error = errno;
    iconv_close(converter);
    if (done == static_cast<std::size_t>(-1))
        throw std::runtime_error("iconv: " + std::to_string(error));
    output.resize(output.size() - outLeft);
    return output;
}

struct StringSink final : core::TextSink {
    std::string text;
    void clear() override { text.clear(); }
    void reserve(std::size_t bytes) override { text.reserve(bytes); }
    void append(std::string_view bytes) override { text.append(bytes); }
};

} // namespace quillet::testutil
