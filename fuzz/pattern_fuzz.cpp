// Fuzz target: the text operations on arbitrary text, pattern and new text,
// checked against properties that hold whatever the input.
#include "core/case_fold.h"
#include "core/pattern.h"
#include "core/replace_all.h"
#include "core/text_ops.h"
#include "fuzz_input.h"

#include <cstdlib>
#include <cstdio>

using namespace quillet::core;
using quillet::fuzz::require;

namespace {

// The text with every character that has case partners written as the next
// of them (a..z as A..Z, K as the Kelvin sign, ſ as s ...), stray bytes kept.
std::string withPartners(const std::string& text) {
    std::string out;
    const char* const end = text.data() + text.size();
    for (const char* p = text.data(); p < end;) {
        char32_t cp = 0;
        const int len = DecodeUtf8(p, end, cp);
        if (len == 0) {
            out += *p++;
            continue;
        }
        const FoldClass partners = CasePartners(cp);
        int i = 0;
        while (partners.Members[i] != cp)
            ++i;
        char bytes[4];
        out.append(bytes, static_cast<std::size_t>(EncodeUtf8(partners.Members[(i + 1) % partners.Count], bytes)));
        p += len;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const bool caseSensitive = (flags & 1) != 0;
    const bool isPattern = (flags & 2) != 0;
    const auto operation = static_cast<std::uint8_t>((flags >> 2) % 4);
    const std::int64_t maxCount = static_cast<std::int64_t>(flags >> 4) - 4;
    const std::string pattern = input.piece(16);
    const std::string newText = input.piece(16);
    const std::string text = input.rest(4096);

    std::string result;
    const bool matched =
        ProcessText(result, text, operation, pattern, caseSensitive, newText, isPattern, "{$", "}", maxCount);
    require(matched || result == text, "no match leaves the text as it is");
    require(matched == TextMatches(text, pattern, caseSensitive), "Only Search and the operations agree on a match");
    if (operation == OpOnlySearch)
        require(result == text, "Only Search never changes the text");
    if (!caseSensitive)
        require(matched == TextMatches(withPartners(text), pattern, false),
                "without regard to case, other case partners give the same answer");
    if (operation == OpInsertBefore || operation == OpInsertAfter)
        require(result.size() >= text.size(), "inserting never shortens");

    // Whole words and kept case: Only Search and the operations agree on
    // them too, and a whole-word match is a match.
    const MatchOptions wordAndCase{true, true, {}};
    std::string worded;
    const bool wordMatched = ProcessText(worded, text, operation, pattern, caseSensitive, newText, isPattern, "{$", "}",
                                         maxCount, wordAndCase);
    require(wordMatched == TextMatches(text, pattern, caseSensitive, wordAndCase),
            "Only Search and the operations agree on whole words");
    require(!wordMatched || matched, "a whole-word match is a match");
    require(wordMatched || worded == text, "no whole-word match leaves the text as it is");

    // Without stars a pattern is a literal, and replacing it everywhere is
    // what replace-all does.
    if (!pattern.empty() && pattern.find('*') == std::string::npos && operation == OpReplaceText && !isPattern &&
        maxCount <= 0)
        require(result == ReplaceAll(text, pattern, newText, caseSensitive), "literal replace equals replace-all");

    // Every match lies inside the text, and every capture reads inside it.
    Pos from = 1;
    TSubStrPosArray ranges;
    for (int guard = 0; guard < 64 && from <= static_cast<Pos>(text.size()); ++guard) {
        Pos start = 0, end = 0;
        if (!MatchPattern(start, end, ranges, text, pattern, static_cast<Pos>(text.size()), true, from, caseSensitive,
                          true))
            break;
        require(from <= start && start <= end + 1 && end <= static_cast<Pos>(text.size()), "match inside the text");
        std::string expanded;
        ExpandCaptures(text, ranges, "{$1}{$2}{$3}", "{$", "}", expanded);
        from = end + 1;
    }

    // The recipes only ever remove or shorten mark-up: never a crash, and
    // text without '<' or '=' passes through them unchanged.
    std::string cleaned;
    RemoveScripts(cleaned, text, maxCount);
    StripWordHtml(cleaned, text);
    if (text.find_first_of("<=lL") == std::string::npos)
        require(cleaned == text, "text without mark-up is left alone");
    return 0;
}
