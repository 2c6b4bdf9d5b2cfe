#include "engine/run/path_list.h"

#include <gtest/gtest.h>

using quillet::engine::ListSeparator;
using quillet::engine::SplitPathList;

namespace {

struct SplitCase {
    std::string text;
    ListSeparator separator;
    std::vector<std::string> expected;
};

std::string printable(const std::string& text) {
    std::string out;
    for (char c : text)
        out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\0' ? "\\0" : std::string(1, c);
    return out;
}

} // namespace

TEST(SplitPathList, OneRuleForEveryLineEndAndForNul) {
    using namespace std::string_literals;
    const SplitCase cases[] = {
        {"", ListSeparator::Lines, {}},
        {"a", ListSeparator::Lines, {"a"}},
        {"a\nb\n", ListSeparator::Lines, {"a", "b"}},
        {"a\r\nb\r\n", ListSeparator::Lines, {"a", "b"}},
        {"a\rb", ListSeparator::Lines, {"a", "b"}},
        {"a\n\n\r\n\rb", ListSeparator::Lines, {"a", "b"}},
        {" a \tb\n", ListSeparator::Lines, {" a \tb"}},
        {"a\0b\n"s, ListSeparator::Lines, {"a\0b"s}},
        {"a\0b\0"s, ListSeparator::Nul, {"a", "b"}},
        {"line\nbreak\0cr\r\0\0"s, ListSeparator::Nul, {"line\nbreak", "cr\r"}},
        {"no nul\n", ListSeparator::Nul, {"no nul\n"}},
    };
    for (const SplitCase& c : cases)
        EXPECT_EQ(SplitPathList(c.text, c.separator), c.expected)
            << "\"" << printable(c.text) << "\" " << (c.separator == ListSeparator::Nul ? "NUL" : "lines");
}
