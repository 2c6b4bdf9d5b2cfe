#include "core/pattern.h"

#include <limits>

namespace quillet::core {

namespace {

const CharSet& starSet() {
    static const CharSet set = [] {
        CharSet s;
        s.set(static_cast<unsigned char>('*'));
        return s;
    }();
    return set;
}

Pos lengthOf(const std::string& s) {
    return static_cast<Pos>(s.size());
}

// Piece k's rightmost match that begins at or before f and ends at or before e.
Pos findPieceBack(const CompiledPattern& pattern, std::size_t k, bool caseSensitive, std::string_view text, Pos e,
                  Pos f, Pos& matchLen) {
    if (caseSensitive) {
        matchLen = lengthOf(pattern.Pieces[k]);
        return FindBack(text, pattern.Pieces[k], e, matchLen, f);
    }
    return pattern.Folded[k].findBack(text, e, f, matchLen);
}

// The first pass and the re-anchoring; fills ranges with the pieces.
bool findPieces(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, std::string_view text,
                const CompiledPattern& pattern, Pos textLen, bool shortest, Pos from, bool caseSensitive,
                bool needCaptures) {
    const auto n = static_cast<std::size_t>(pattern.Pieces.size());
    bool found = false;
    Pos start = from;
    for (std::size_t i = 0; i < n; ++i) {
        Pos len = 0;
        const Pos at = FindPiece(pattern, i, caseSensitive, text, textLen, start, len);
        if (at == 0)
            return false;
        ranges[i] = {at, len};
        if (i == 0)
            matchStart = at;
        if (i + 1 == n) {
            found = true;
            matchEnd = at + len - 1;
            break;
        }
        start = at + len;
    }
    if (!found || !shortest || n < 2)
        return found;

    // Does the first piece occur again before the last piece? Then start as
    // late as possible before that same last piece.
    Pos len = 0;
    const Pos again = FindPiece(pattern, 0, caseSensitive, text, ranges[n - 1].Pos, ranges[0].Pos + ranges[0].Len, len);
    if (again == 0)
        return true;
    for (std::size_t k = n - 1; k-- > 0;) {
        // A piece not found keeps its length beside position 0.
        ranges[k].Pos = findPieceBack(pattern, k, caseSensitive, text, textLen, ranges[k + 1].Pos - 1, len);
        if (ranges[k].Pos != 0)
            ranges[k].Len = len;
    }
    matchStart = ranges[0].Pos;
    if (needCaptures && n >= 3) {
        // Middle pieces go back to their leftmost places; one that is not found
        // there keeps the place the backward step gave it.
        for (std::size_t i = 1; i + 1 < n; ++i) {
            const Pos at = FindPiece(pattern, i, caseSensitive, text, ranges[n - 1].Pos,
                                     ranges[i - 1].Pos + ranges[i - 1].Len, len);
            if (at != 0)
                ranges[i] = {at, len};
        }
    }
    return true;
}

void computeCaptures(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, const CompiledPattern& pattern,
                     Pos textLen, Pos from) {
    const auto n = pattern.Pieces.size();
    const TSubStrPos last = ranges[n - 1];
    const Pos firstPiece = ranges[0].Pos;
    std::ptrdiff_t m = static_cast<std::ptrdiff_t>(n) - 2;
    if (pattern.TrailingStar) {
        ranges[n] = {textLen + 1, 0};
        m = static_cast<std::ptrdiff_t>(n) - 1;
    }
    for (std::ptrdiff_t i = 0; i <= m; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const TSubStrPos piece = ranges[k];
        ranges[k] = {piece.Pos + piece.Len, ranges[k + 1].Pos - piece.Pos - piece.Len};
    }
    ranges[static_cast<std::size_t>(m + 1)] = {last.Pos + last.Len, textLen - (last.Pos + last.Len - 1)};
    if (pattern.LeadingStar) {
        // Resized to one more than the pieces: with a trailing star as well,
        // the text after the last piece drops off the end.
        ranges.resize(n + 1);
        for (std::size_t k = n; k-- > 0;)
            ranges[k + 1] = ranges[k];
        ranges[0] = {from, firstPiece - from};
        matchStart = from;
    }
    if (pattern.TrailingStar)
        matchEnd = textLen;
}

} // namespace

std::string_view Copy(std::string_view s, Pos i, Pos n) {
    if (i < 1)
        i = 1;
    const auto size = static_cast<Pos>(s.size());
    if (s.empty() || i > size || n < 0)
        return {};
    if (n > size - i + 1)
        n = size - i + 1;
    return s.substr(static_cast<std::size_t>(i - 1), static_cast<std::size_t>(n));
}

void SplitByChars(std::vector<std::string>& list, std::string_view text, const CharSet& charSet, bool keepEmpty) {
    list.clear();
    std::size_t pieceStart = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (!charSet.test(static_cast<unsigned char>(text[i])))
            continue;
        if (i > pieceStart || keepEmpty)
            list.emplace_back(text.substr(pieceStart, i - pieceStart));
        pieceStart = i + 1;
    }
    if (pieceStart < text.size())
        list.emplace_back(text.substr(pieceStart));
}

CompiledPattern CompilePattern(std::string_view pattern) {
    CompiledPattern compiled;
    compiled.Text = std::string(pattern);
    SplitByChars(compiled.Pieces, pattern, starSet(), false);
    compiled.Folded.reserve(compiled.Pieces.size());
    for (const std::string& piece : compiled.Pieces)
        compiled.Folded.emplace_back(piece);
    compiled.LeadingStar = !pattern.empty() && pattern.front() == '*';
    compiled.TrailingStar = !pattern.empty() && pattern.back() == '*';
    return compiled;
}

std::shared_ptr<const CompiledPattern> CompiledForThisThread(std::string_view pattern) {
    thread_local std::shared_ptr<const CompiledPattern> kept;
    if (!kept || kept->Text != pattern)
        kept = std::make_shared<const CompiledPattern>(CompilePattern(pattern));
    return kept;
}

Pos FindPiece(const CompiledPattern& pattern, std::size_t i, bool caseSensitive, std::string_view text, Pos e, Pos f,
              Pos& matchLen) {
    if (caseSensitive) {
        matchLen = lengthOf(pattern.Pieces[i]);
        return FindFrom(text, pattern.Pieces[i], e, matchLen, f);
    }
    return pattern.Folded[i].findFrom(text, e, f, matchLen);
}

Pos LongestPieceMatch(const CompiledPattern& pattern, std::size_t i, bool caseSensitive) {
    return caseSensitive ? lengthOf(pattern.Pieces[i]) : pattern.Folded[i].maxLength();
}

bool MatchPattern(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, std::string_view text,
                  std::string_view pattern, Pos textLen, bool shortest, Pos from, bool caseSensitive,
                  bool needCaptures) {
    return MatchPattern(matchStart, matchEnd, ranges, text, CompilePattern(pattern), textLen, shortest, from,
                        caseSensitive, needCaptures);
}

bool MatchPattern(Pos& matchStart, Pos& matchEnd, TSubStrPosArray& ranges, std::string_view text,
                  const CompiledPattern& pattern, Pos textLen, bool shortest, Pos from, bool caseSensitive,
                  bool needCaptures) {
    matchStart = 0;
    matchEnd = 0;
    if (textLen < from || textLen == 0 || pattern.Text.empty())
        return false;
    if (pattern.Text == "*") {
        matchStart = from;
        matchEnd = textLen;
        ranges.assign({{from, textLen}, {textLen, 0}});
        return true;
    }
    const auto n = pattern.Pieces.size();
    ranges.assign(n + (pattern.TrailingStar ? 1 : 0), TSubStrPos{});
    if (n == 0)
        return false;
    if (!findPieces(matchStart, matchEnd, ranges, text, pattern, textLen, shortest, from, caseSensitive, needCaptures))
        return false;
    if (needCaptures)
        computeCaptures(matchStart, matchEnd, ranges, pattern, textLen, from);
    return true;
}

void ExpandCaptures(std::string_view text, const TSubStrPosArray& ranges, std::string_view newText,
                    std::string_view tagOpen, std::string_view tagClose, std::string& result) {
    result.clear();
    const std::size_t captureCount = ranges.empty() ? 0 : ranges.size() - 1;
    if (tagOpen.empty() || captureCount == 0) {
        result.assign(newText);
        return;
    }
    std::size_t copied = 0; // newText[0 .. copied) is in result
    std::size_t at = newText.find(tagOpen);
    while (at != std::string_view::npos) {
        std::size_t digits = at + tagOpen.size();
        std::size_t number = 0;
        bool valid = digits < newText.size() && newText[digits] >= '1' && newText[digits] <= '9';
        std::size_t end = digits;
        while (valid && end < newText.size() && newText[end] >= '0' && newText[end] <= '9') {
            number = number * 10 + static_cast<std::size_t>(newText[end] - '0');
            if (number > captureCount)
                valid = false;
            ++end;
        }
        valid = valid && number >= 1 && newText.substr(end).starts_with(tagClose);
        if (!valid) {
            at = newText.find(tagOpen, at + 1);
            continue;
        }
        result.append(newText.substr(copied, at - copied));
        const TSubStrPos& capture = ranges[number - 1];
        result.append(Copy(text, capture.Pos, capture.Len));
        copied = end + tagClose.size();
        at = newText.find(tagOpen, copied);
    }
    result.append(newText.substr(copied));
}

} // namespace quillet::core
