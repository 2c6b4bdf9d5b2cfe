// Unified diffs of one text before and after a run changed it, in the format
// `diff -u` writes (and `patch` and `git apply` read): a "--- a/PATH" and a
// "+++ b/PATH" line, then hunks of changed lines with three lines of context,
// "@@ -l,n +l,n @@" heading each. Pure text work, no I/O; the command line
// writes the result.
//
// A text operation knows which stretches of the input it carried over
// unchanged (TextSink::keep); a KeptStretchRecorder notes them, and with them
// WriteUnifiedDiff needs no search for what changed: it walks the gaps
// between the stretches once, so a 100 MB file with thousands of matches
// diffs in time linear in its size. Without them (the clean-up recipes
// rewrite whole pages) a general line diff finds the changes.
#pragma once

#include "core/text_ops.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::core {

// A stretch of the old text found unchanged in the new text: Length bytes at
// OldOffset in the old text are the Length bytes at NewOffset in the new one.
struct KeptStretch {
    std::size_t OldOffset = 0;
    std::size_t NewOffset = 0;
    std::size_t Length = 0;

    bool operator==(const KeptStretch&) const = default;
};

// Forwards every call to `inner` and records where each kept piece stands in
// the input and in the output. The pieces ProcessText keeps point into the
// text it was given, which must be `input` (precondition); the new offset is
// the number of bytes forwarded before the piece. Adjacent pieces (touching
// in both texts) are recorded as one stretch, empty ones not at all; clear()
// starts the record afresh.
class KeptStretchRecorder final : public TextSink {
public:
    KeptStretchRecorder(TextSink& inner, std::string_view input) : m_inner(inner), m_input(input) {}

    void clear() override;
    void reserve(std::size_t bytes) override { m_inner.reserve(bytes); }
    void append(std::string_view bytes) override;
    void keep(std::string_view piece) override;

    const std::vector<KeptStretch>& stretches() const { return m_stretches; }
    std::vector<KeptStretch> takeStretches() { return std::move(m_stretches); }

private:
    TextSink& m_inner;
    std::string_view m_input;
    std::size_t m_newOffset = 0;
    std::vector<KeptStretch> m_stretches;
};

// Whether a diff shows colours, as `git diff` does: the "---"/"+++" lines
// bold, "@@" lines cyan, removed lines red, added lines green, each reset at
// its end ("\033[1m", "\033[36m", "\033[31m", "\033[32m", "\033[m").
enum class DiffColor : std::uint8_t { None, Ansi };

// How many leading bytes decide whether a text is binary (a NUL among them).
inline constexpr std::size_t kBinaryProbeBytes = 8192;

// Whether `text` holds a NUL byte among its first kBinaryProbeBytes.
bool LooksBinary(std::string_view text);

// Appends to `out` the unified diff of oldText against newText, labelled
// oldLabel and newLabel ("a/PATH", "b/PATH"), as GNU `diff -u --label`
// writes it:
//   - nothing at all when the texts are equal;
//   - "Binary files a/PATH and b/PATH differ\n" when either text LooksBinary;
//   - hunks with 3 lines of context, merged when their contexts touch; a
//     range of one line is written "l", an empty one "l,0" with l the line
//     before it (0 at the start); a last line without a line break is
//     followed by "\ No newline at end of file". Lines end at "\n" only: a
//     "\r" before it belongs to the line.
// `kept`, when given, must describe the two texts: stretches in order, not
// overlapping, each naming equal bytes in both (a KeptStretchRecorder's
// record). A record that does not fit the texts is not trusted: the general
// diff is used instead. The general diff trims equal lines at both ends and
// finds a shortest edit of the rest; past about 4 million pairs of lines it
// shows the differing middle as one change instead. Where several shortest
// edits exist, the one shown may differ from the one `diff` picks. Either
// way, applying the diff to oldText gives newText.
void WriteUnifiedDiff(std::string& out, std::string_view oldLabel, std::string_view newLabel, std::string_view oldText,
                      std::string_view newText, const std::vector<KeptStretch>* kept, DiffColor color);

} // namespace quillet::core
