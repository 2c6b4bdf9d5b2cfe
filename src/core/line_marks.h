// Which part of a changed line changed: the words of a removed line that its
// added line no longer has, and the words the added line brings, as
// `git diff --word-diff`, diff-highlight and code review sites mark them.
// Pure text work beside text_diff.h, no I/O; the window paints the result.
//
// A line is cut into tokens: a run of word characters (word_case.h's
// IsWordChar: letters, digits, '_', in any script), a run of white space
// (' ', '\t', '\r', '\v', '\f'), or one other character. A UTF-8 character
// is never cut: a byte that does not begin a valid sequence is a token of
// its own. The changed spans are the tokens outside a longest common
// subsequence of the two lines' tokens, neighbouring ones joined.
#pragma once

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::core {

// Bytes [From, To) of a line.
struct ByteSpan {
    std::size_t From = 0;
    std::size_t To = 0;

    bool operator==(const ByteSpan&) const = default;
};

struct ChangedSpans {
    std::vector<ByteSpan> Old; // in the removed line, in order, not touching
    std::vector<ByteSpan> New; // in the added line, likewise

    bool operator==(const ChangedSpans&) const = default;
};

// Lines longer than this, or pairs whose shortest edit takes more than
// kMaxLineEdits token insertions and deletions, are not diffed token by
// token: their common leading and trailing tokens are found and everything
// between is one span on each side, as diff-highlight always does. Keeps a
// 500 MB line, or two unrelated long lines, from stalling the view.
inline constexpr std::size_t kMaxDiffedLineBytes = std::size_t{16} * 1024;
inline constexpr std::size_t kMaxLineEdits = 256;

// The tokens of `line`, in order, covering it.
std::vector<std::string_view> SplitLineTokens(std::string_view line);

// The spans that differ between `oldLine` and `newLine` (without their line
// ends). Equal lines give no spans; an empty line against another gives the
// whole other line. The tokens outside the spans are the same, in the same
// order, on both sides; when neither cap is passed there are as few changed
// tokens as any common subsequence allows.
ChangedSpans FindChangedSpans(std::string_view oldLine, std::string_view newLine);

// How alike two lines are, 0 to 1: twice the bytes left unmarked by
// FindChangedSpans over the bytes of both (1 for two empty lines).
double LineSimilarity(std::string_view oldLine, std::string_view newLine);

// The pairs (index into `removed`, index into `added`) of one change, a run
// of removed lines followed by the lines that replaced them, whose words are
// worth comparing:
//   - as many removed as added lines: each with its counterpart, in order;
//   - otherwise the pairs, in order in both lists, whose LineSimilarity is at
//     least kMinPairSimilarity, chosen to make the summed similarity
//     greatest. Each removed line is weighed against each added one, so a
//     change of more than kMaxPairedLines lines on a side, or whose longer
//     side's line count times its bytes passes kMaxPairingWork, gets no
//     pairs.
// Lines left unpaired are all new (or all gone): nothing in them is marked.
inline constexpr double kMinPairSimilarity = 0.5;
inline constexpr std::size_t kMaxPairedLines = 64;
inline constexpr std::size_t kMaxPairingWork = std::size_t{256} * 1024;
std::vector<std::pair<std::size_t, std::size_t>> PairChangedLines(const std::vector<std::string_view>& removed,
                                                                  const std::vector<std::string_view>& added);

} // namespace quillet::core
