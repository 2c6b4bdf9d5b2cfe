#include "core/text_ops.h"

#include "core/word_case.h"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

namespace quillet::core {

namespace {

struct RecipePass {
    std::string_view pattern;
    std::string_view newText;
    bool isPattern;
    std::int64_t maxCount;
};

// Runs the passes one after the other, each case-insensitive Replace Text on
// the output of the one before.
template <std::size_t N>
void runRecipe(std::string& result, std::string_view text, const RecipePass (&passes)[N]) {
    std::string current(text);
    for (const RecipePass& pass : passes) {
        std::string next;
        ProcessText(next, current, OpReplaceText, pass.pattern, false, pass.newText, pass.isPattern, kTagOpen,
                    kTagClose, pass.maxCount);
        current = std::move(next);
    }
    result = std::move(current);
}

// Room for the whole result up front, so that a large text is not copied on
// every doubling. Untouched reserved memory costs no more than its address
// space, so the guess is generous; when even that cannot be had, the result
// grows as usual.
template <class Out>
void reserveForResult(Out& result, std::size_t textSize, std::size_t newTextSize) {
    const std::size_t guesses[] = {textSize + textSize / 2 + 64 * newTextSize, textSize + newTextSize};
    for (std::size_t guess : guesses) {
        if (guess < textSize)
            continue;
        try {
            result.reserve(guess);
            return;
        } catch (const std::bad_alloc&) {
        } catch (const std::length_error&) {
        }
    }
}

void keep(std::string& result, std::string_view piece) {
    result.append(piece);
}

void keep(TextSink& result, std::string_view piece) {
    result.keep(piece);
}

// Tells `observer` of the match at 1-based [start, end], and what takes its
// place in the result.
void reportMatch(const MatchObserver& observer, std::string_view text, Pos start, Pos end, std::uint8_t operation,
                 std::string_view newText) {
    const std::string_view match = Copy(text, start, end - start + 1);
    std::string joined;
    std::string_view replacement = newText;
    if (operation == OpOnlySearch)
        replacement = {};
    else if (operation == OpInsertBefore)
        replacement = (joined.assign(newText) += match);
    else if (operation == OpInsertAfter)
        replacement = (joined.assign(match) += newText);
    observer({static_cast<std::size_t>(start - 1), static_cast<std::size_t>(end), replacement});
}

// The first match from `from` on that the options let count (see
// MatchOptions::WholeWord). A '*' at an end of the pattern moves the match's
// ends, which only the captures' computation sets, so a whole-word test
// computes them.
bool nextMatch(Pos& start, Pos& end, TSubStrPosArray& ranges, std::string_view text, const CompiledPattern& compiled,
               Pos from, bool caseSensitive, bool needCaptures, const MatchOptions& options) {
    const auto textLen = static_cast<Pos>(text.size());
    needCaptures = needCaptures || options.WholeWord;
    for (Pos at = from; at <= textLen; at = start + 1) {
        if (!MatchPattern(start, end, ranges, text, compiled, textLen, true, at, caseSensitive, needCaptures))
            return false;
        if (!options.WholeWord || (!SplitsWord(text, static_cast<std::size_t>(start - 1)) &&
                                   !SplitsWord(text, static_cast<std::size_t>(end))))
            return true;
    }
    return false;
}

// The new text of Replace Text with MatchOptions::KeepCase, made once per
// case shape of the matched texts: its written parts in that shape, its
// references (tagOpen, digits, tagClose) as they are.
class ShapedNewText {
public:
    ShapedNewText(std::string_view newText, bool isPattern, std::string_view tagOpen, std::string_view tagClose)
        : m_newText(newText), m_isPattern(isPattern), m_tagOpen(tagOpen), m_tagClose(tagClose) {}

    std::string_view in(CaseShape shape) {
        if (shape == CaseShape::AsWritten)
            return m_newText;
        auto& made = m_made[static_cast<std::size_t>(shape)];
        if (!made.has_value())
            made = shaped(shape);
        return *made;
    }

private:
    std::string shaped(CaseShape shape) const {
        std::string out;
        bool firstDone = false;
        std::size_t copied = 0;
        std::size_t at = m_isPattern && !m_tagOpen.empty() ? m_newText.find(m_tagOpen) : std::string_view::npos;
        while (at != std::string_view::npos) {
            std::size_t end = at + m_tagOpen.size();
            while (end < m_newText.size() && m_newText[end] >= '0' && m_newText[end] <= '9')
                ++end;
            if (end > at + m_tagOpen.size() && m_newText.substr(end).starts_with(m_tagClose)) {
                end += m_tagClose.size();
                AppendInShape(out, m_newText.substr(copied, at - copied), shape, firstDone);
                out.append(m_newText.substr(at, end - at));
                copied = end;
            }
            at = m_newText.find(m_tagOpen, std::max(at + 1, copied));
        }
        AppendInShape(out, m_newText.substr(copied), shape, firstDone);
        return out;
    }

    std::string_view m_newText;
    bool m_isPattern;
    std::string_view m_tagOpen;
    std::string_view m_tagClose;
    std::array<std::optional<std::string>, 4> m_made;
};

// ProcessText over any output with clear(), reserve() and append().
template <class Out>
bool processText(Out& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount, std::int64_t* matches = nullptr,
                 const MatchOptions& options = {}, const MatchObserver* observer = nullptr) {
    result.clear();
    if (IsRecipe(operation)) {
        if (matches != nullptr)
            *matches = -1;
        std::string cleaned;
        if (operation == OpRemoveScript)
            RemoveScripts(cleaned, text, maxCount);
        else
            StripWordHtml(cleaned, text);
        result.append(cleaned);
        return true;
    }

    const std::shared_ptr<const CompiledPattern> held = CompiledForThisThread(pattern);
    const CompiledPattern& compiled = *held;
    const bool needCaptures = operation != OpOnlySearch;
    const auto textLen = static_cast<Pos>(text.size());
    TSubStrPosArray ranges;
    std::string expanded;
    ShapedNewText shaped(newText, isPattern, tagOpen, tagClose);
    const bool keepCase = options.KeepCase && operation == OpReplaceText;
    const std::vector<bool>* selection =
        operation != OpOnlySearch && options.Selection.has_value() ? &*options.Selection : nullptr;
    Pos from = 1;
    Pos copied = 1; // the text before it is in the result
    std::int64_t found = 0;
    std::int64_t count = 0;
    bool matched = false;
    while (from <= textLen) {
        Pos start = 0;
        Pos end = 0;
        if (!nextMatch(start, end, ranges, text, compiled, from, caseSensitive, needCaptures, options))
            break;
        const auto number = static_cast<std::size_t>(found++);
        if (selection != nullptr && (number >= selection->size() || !(*selection)[number])) {
            from = end + 1;
            if (maxCount > 0 && found >= maxCount)
                break;
            continue;
        }
        if (!matched)
            reserveForResult(result, text.size(), newText.size());
        matched = true;
        if (operation == OpOnlySearch && observer == nullptr) {
            count = 1;
            break;
        }
        const std::string_view written = keepCase ? shaped.in(ShapeOf(Copy(text, start, end - start + 1))) : newText;
        std::string_view replacement = written;
        if (isPattern && operation != OpOnlySearch) {
            ExpandCaptures(text, ranges, written, tagOpen, tagClose, expanded);
            replacement = expanded;
        }
        if (observer != nullptr)
            reportMatch(*observer, text, start, end, operation, replacement);
        if (operation == OpOnlySearch) {
            from = end + 1;
            if (++count == maxCount)
                break;
            continue;
        }
        keep(result, Copy(text, copied, start - copied));
        if (operation == OpInsertAfter)
            keep(result, Copy(text, start, end - start + 1));
        result.append(replacement);
        if (operation == OpInsertBefore)
            keep(result, Copy(text, start, end - start + 1));
        from = end + 1;
        copied = from;
        ++count;
        if (maxCount > 0 && found >= maxCount)
            break;
    }
    if (operation == OpOnlySearch)
        copied = 1; // the text stays as it is
    keep(result, Copy(text, copied, textLen));
    if (matches != nullptr)
        *matches = count;
    return matched;
}

} // namespace

bool ProcessText(std::string& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount, const MatchOptions& options) {
    if (operation == OpRemoveScript) {
        result.clear();
        return RemoveScripts(result, text, maxCount);
    }
    if (operation == OpStripWordHtml) {
        result.clear();
        return StripWordHtml(result, text);
    }
    return processText(result, text, operation, pattern, caseSensitive, newText, isPattern, tagOpen, tagClose, maxCount,
                       nullptr, options);
}

bool ProcessText(TextSink& result, std::string_view text, std::uint8_t operation, std::string_view pattern,
                 bool caseSensitive, std::string_view newText, bool isPattern, std::string_view tagOpen,
                 std::string_view tagClose, std::int64_t maxCount, std::int64_t* matches, const MatchOptions& options,
                 const MatchObserver* observer) {
    return processText(result, text, operation, pattern, caseSensitive, newText, isPattern, tagOpen, tagClose, maxCount,
                       matches, options, observer);
}

bool TextMatches(std::string_view text, std::string_view pattern, bool caseSensitive, const MatchOptions& options) {
    Pos start = 0;
    Pos end = 0;
    TSubStrPosArray ranges;
    return nextMatch(start, end, ranges, text, *CompiledForThisThread(pattern), 1, caseSensitive, false, options);
}

bool RemoveScripts(std::string& result, std::string_view text, std::int64_t maxCount) {
    const RecipePass passes[] = {
        {"<body*>", "<body>", false, 1},
        {"<link*>", "", false, maxCount},
        {"<script*/script>", "", false, maxCount},
    };
    runRecipe(result, text, passes);
    return true;
}

bool StripWordHtml(std::string& result, std::string_view text) {
    const RecipePass passes[] = {
        {"<html*>*<head>*<meta*Content-Type*>*<title>*</title>*</head>",
         "<html><head><meta{$4}Content-Type{$5}><title>{$7}</title></head>", true, 1},
        {"style='*'", "", false, -1},
        {"<o:*>", "", false, -1},
        {"</o:*>", "", false, -1},
        {"<w:*>", "", false, -1},
        {"</w:*>", "", false, -1},
        {"lang=EN-US", "", false, -1},
        {"<!*>", "", false, -1},
        {"class=*>", ">", false, -1},
        {"class=* *>", " {$2}>", true, -1},
    };
    runRecipe(result, text, passes);
    return true;
}

} // namespace quillet::core
