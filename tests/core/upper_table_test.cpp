// The case table under the "C" locale (the locale the tests run in): only
// a..z fold, every other byte, including the bytes above 127 that a Latin-1
// code page would fold, keeps its own value so UTF-8 text stays intact.
#include "core/upper_table.h"

#include <gtest/gtest.h>

#include <clocale>

namespace quillet::core {
namespace {

void expectCLocaleTable(const CaseTable& table) {
    for (int i = 0; i < 256; ++i) {
        const int expected = (i >= 'a' && i <= 'z') ? i - ('a' - 'A') : i;
        EXPECT_EQ(int{table[static_cast<std::size_t>(i)]}, expected) << "byte " << i;
    }
}

TEST(UpperTableTest, DefaultTableFoldsOnlyAsciiLetters) {
    expectCLocaleTable(UpperTable);
}

TEST(UpperTableTest, BuiltUnderCLocaleFoldsOnlyAsciiLetters) {
    const char* old = std::setlocale(LC_CTYPE, nullptr);
    const std::string saved = old ? old : "C";
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    BuildUpperTable();
    expectCLocaleTable(UpperTable);
    std::setlocale(LC_CTYPE, saved.c_str());
}

TEST(UpperTableTest, UpperByteReadsTheTable) {
    struct Case {
        char in;
        char out;
    };
    const Case cases[] = {
        {'a', 'A'}, {'z', 'Z'},       {'A', 'A'},       {'0', '0'},       {'{', '{'},
        {'`', '`'}, {'\xe9', '\xe9'}, {'\xc9', '\xc9'}, {'\xff', '\xff'}, {'\0', '\0'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(upperByte(c.in), static_cast<std::uint8_t>(c.out))
            << "byte " << int{static_cast<unsigned char>(c.in)};
}

} // namespace
} // namespace quillet::core
