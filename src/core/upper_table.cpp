#include "core/upper_table.h"

#include <cctype>

namespace quillet::core {

namespace {

CaseTable tableFromLocale() {
    CaseTable table{};
    for (int i = 0; i < 256; ++i) {
        const int up = std::toupper(i);
        // A locale whose toupper leaves the byte range keeps the byte as it is.
        table[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(up >= 0 && up <= 255 ? up : i);
    }
    return table;
}

std::array<CaseForms, 256> formsOf(const CaseTable& table) {
    std::array<CaseForms, 256> forms{};
    for (int i = 0; i < 256; ++i) {
        CaseForms& f = forms[table[static_cast<std::size_t>(i)]];
        if (f.Count < 2)
            f.Bytes[static_cast<std::size_t>(f.Count)] = static_cast<char>(i);
        ++f.Count;
    }
    return forms;
}

} // namespace

// Static initialisation runs before main() sets any locale, so this is the
// "C" locale's table.
CaseTable UpperTable = tableFromLocale();
std::array<CaseForms, 256> UpperForms = formsOf(UpperTable);

void BuildUpperTable() {
    UpperTable = tableFromLocale();
    UpperForms = formsOf(UpperTable);
}

} // namespace quillet::core
