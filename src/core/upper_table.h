// The process-wide byte case table: file-name masks and the byte scans
// ScanForwardNoCase and BuildSkipTableNoCase read it. Text searches fold case
// by Unicode instead (case_fold.h), whatever the locale.
//
// Two bytes are equal without regard to case when their UpperTable entries are
// equal. The table maps one byte to one byte, so folding never changes a
// length. It is filled from the C library's toupper() in the current LC_CTYPE
// locale: under "C" or a UTF-8 locale only a..z fold, which keeps UTF-8 text
// intact; under a single-byte locale that code page's letters fold as well.
#pragma once

#include <array>
#include <cstdint>

namespace quillet::core {

using CaseTable = std::array<std::uint8_t, 256>;

// Read-only after start-up. Until BuildUpperTable() runs it holds the "C"
// locale's table, so code that never calls it (tests) folds a..z only.
extern CaseTable UpperTable;

// For each upper-case value, the bytes that fold to it (at most two kept;
// Count tells how many there are in all). Built together with UpperTable.
struct CaseForms {
    int Count = 0;
    std::array<char, 2> Bytes{};
};
extern std::array<CaseForms, 256> UpperForms;

// Fills UpperTable and UpperForms from the current LC_CTYPE locale. Call it once at the start
// of main, right after setlocale(LC_CTYPE, ""), before any search runs; it is
// not safe to call while another thread searches.
void BuildUpperTable();

inline std::uint8_t upperByte(char c) {
    return UpperTable[static_cast<std::uint8_t>(c)];
}

} // namespace quillet::core
