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

} // namespace

// Static initialisation runs before main() sets any locale, so this is the
// "C" locale's table.
CaseTable UpperTable = tableFromLocale();

void BuildUpperTable() { UpperTable = tableFromLocale(); }

} // namespace quillet::core
