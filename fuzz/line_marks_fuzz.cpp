// Fuzz target: the changed words of two lines. The spans lie in their lines,
// in order and apart, never cut a token (so never a UTF-8 character), and
// what they leave unmarked is the same token sequence on both sides; equal
// lines have none. The pairing of a change's lines is in order on both sides.
#include "core/line_marks.h"
#include "fuzz_input.h"

#include <string>
#include <string_view>
#include <vector>

using quillet::core::ByteSpan;
using quillet::fuzz::require;

namespace {

// The tokens of `line` outside `spans`; each span must start and end at a
// token boundary.
std::vector<std::string_view> unmarked(std::string_view line, const std::vector<ByteSpan>& spans) {
    std::vector<std::string_view> kept;
    std::size_t next = 0;
    std::size_t offset = 0;
    for (std::string_view token : quillet::core::SplitLineTokens(line)) {
        const std::size_t end = offset + token.size();
        if (next < spans.size() && offset >= spans[next].From) {
            require(end <= spans[next].To, "a span ends inside a token");
        } else {
            require(next >= spans.size() || end <= spans[next].From, "a span starts inside a token");
            kept.push_back(token);
        }
        offset = end;
        if (next < spans.size() && offset == spans[next].To)
            ++next;
    }
    require(next == spans.size(), "a span lies past its line");
    return kept;
}

void checkSpans(const std::vector<ByteSpan>& spans) {
    for (std::size_t i = 0; i < spans.size(); ++i) {
        require(spans[i].From < spans[i].To, "an empty span");
        require(i == 0 || spans[i - 1].To < spans[i].From, "spans out of order or touching");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    quillet::fuzz::Input input(data, size);
    const std::string oldLine = input.piece(2048);
    const std::string newLine = input.rest(2048);
    const quillet::core::ChangedSpans spans = quillet::core::FindChangedSpans(oldLine, newLine);
    checkSpans(spans.Old);
    checkSpans(spans.New);
    require(unmarked(oldLine, spans.Old) == unmarked(newLine, spans.New), "the unmarked tokens differ");
    require(oldLine != newLine || (spans.Old.empty() && spans.New.empty()), "equal lines have marks");

    const std::vector<std::string_view> removed{oldLine, newLine, oldLine};
    const std::vector<std::string_view> added{newLine, oldLine};
    const auto pairs = quillet::core::PairChangedLines(removed, added);
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        require(pairs[i].first < removed.size() && pairs[i].second < added.size(), "a pair out of range");
        require(i == 0 || (pairs[i - 1].first < pairs[i].first && pairs[i - 1].second < pairs[i].second),
                "pairs out of order");
    }
    return 0;
}
