// The reference of the encoding tests: the C library's iconv(3), which the
// code under test does not use.
#pragma once

#include <iconv.h>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillet::testutil {

// `text` converted from encoding `from` to `to`, named as `iconv -l` lists
// them ("UTF-16LE" writes no mark). Raises std::runtime_error where iconv
// refuses.
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
    const bool converted = iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(converter);
    if (!converted)
        throw std::runtime_error(std::string("iconv refuses the text as ") + from);
    output.resize(output.size() - outLeft);
    return output;
}

} // namespace quillet::testutil
