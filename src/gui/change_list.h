// What a run changed, file by file, as the window's "Changes" page lists it:
// the files a preview (a dry run) would rewrite, or those a real run did
// rewrite, each with its number of matches, a hash of the text it was made of and
// the unified diff of its old and new text (a real run's; a preview's is made
// again from the file when it is looked at), and the changes of one file
// read again for a review of each.
//
// Layer: gui, but free of widgets: a ChangeCollector is fed from the run's
// thread (RunEvents::OnChanged) and read on the window's thread when the run
// has ended.
#pragma once

#include "engine/run/prepare.h"
#include "engine/run/text_hash.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quillet::gui {

// One line of a file's matches as the page shows them after Only Search: a
// line holding (a part of) a match, a context line around one, or a gap
// between groups of lines that do not touch (Line 0, no text).
struct MatchRow {
    std::int64_t Line = 0;
    // The line without its "\n", or, past engine::kShownLineWidth bytes, the
    // part around its first match, with "[...]" for each part left out.
    std::string Text;
    std::vector<std::pair<std::size_t, std::size_t>> Marks; // byte ranges of Text that matched, in order

    bool operator==(const MatchRow&) const = default;
};

// The rows that show `matches` (in order, not overlapping, within `text`,
// numbered by core/text_lines.h) with `context` lines before and after each
// group of matching lines, as engine/run/match_lines.h picks and cuts them.
// A match that spans lines marks a part of each.
std::vector<MatchRow> matchRows(std::string_view text, const std::vector<engine::MatchLocation>& matches,
                                std::int64_t context);

struct FileChange {
    std::string Path;         // as the run listed it (a directory's files with the directory)
    std::int64_t Matches = 0; // see ChangeCollector::record; -1: not counted
    // engine::HashText of the text the change was made of: how a review knows that
    // the file it reads again is the one previewed, whatever its times say.
    std::uint64_t TextHash = 0;
    // The unified diff (old "a/PATH", new "b/PATH"), or empty when it was too
    // large to keep or is made on demand (ChangeLimits::DiffsOnDemand): DiffKept
    // false.
    std::string Diff;
    bool DiffKept = true;
    // After Only Search (ChangeCollector::recordMatches): the file's matches
    // instead of a diff, the first of them when MatchesCut; none for a
    // binary file (MatchesBinary).
    bool IsSearch = false;
    std::vector<MatchRow> MatchRows;
    bool MatchesCut = false;
    bool MatchesBinary = false;
};

// How much of the diffs a collector keeps. A preview over thousands of files
// must not hold them all: past either limit a file's diff is dropped (the
// page reads the file again to show it, or says it is too large).
struct ChangeLimits {
    // A preview: the files are still there to be read, so no diff of a file
    // whose matches are counted is made while the run goes (the page makes
    // it when the file is looked at); a recipe's still is, to count its
    // changed places. This keeps a preview over thousands of files as fast
    // as a dry run and its memory flat.
    bool DiffsOnDemand = false;
    std::size_t MaxDiffBytes = std::size_t{1} << 20;   // one file's diff
    std::size_t MaxTotalBytes = std::size_t{32} << 20; // all kept diffs together
    // Texts larger than this are not diffed at all while the run goes, so
    // that a run over huge files is not slowed by diffs nobody may look at.
    std::size_t MaxTextBytes = std::size_t{16} << 20;
    // After Only Search: the matches shown of one file, and of all together;
    // past them a file lists its count only, and says its view is cut.
    std::size_t MaxFileMatches = 1000;
    std::size_t MaxTotalMatches = 100000;
    std::int64_t ContextLines = 2; // shown before and after each group of matching lines
};

// The number of changed places in a unified diff: runs of removed and added
// lines, the "---" and "+++" heading lines not counted. What the page shows
// as the count of a clean-up recipe (Remove Script, Strip Word HTML), which
// has no pattern to count matches of.
std::int64_t countChangedPlaces(std::string_view diff);

// The unified diff of one file's texts, labelled with its path.
std::string fileDiff(const std::string& path, std::string_view oldText, std::string_view newText);

// Reads the file at `path` and returns the diff that `param` would make of
// it now; empty when it would not change. Errors of reading pass through
// ("Cannot open file ...").
std::string diffOfFileNow(const engine::FileOperation& param, const std::string& path);

// One change of a file, as the review of a preview lists it: the line where
// its match starts, the matched text and what takes its place, each cut to
// kShownChangeBytes (at a character's start, with "[...]") and with each
// line end shown as "\u23CE" so that a change over lines fits one row.
struct ChangeRow {
    std::int64_t Line = 0;
    std::string Old;
    std::string New;

    bool operator==(const ChangeRow&) const = default;
};
inline constexpr std::size_t kShownChangeBytes = 80;

// What `param` would change in the file at `path` now, change by change, in
// the order that MatchOptions::Selection numbers them: Count changes, the
// first `listedUpTo` of them in Changes (a file of millions of changes is
// not held row by row); both stay empty for a clean-up recipe, which has no
// matches to choose from. TextHash is that of the text read. Errors of
// reading pass through.
struct FileReview {
    bool Changed = false;
    std::uint64_t TextHash = 0;
    std::size_t Count = 0;
    std::vector<ChangeRow> Changes;
};
FileReview reviewFileNow(const engine::FileOperation& param, const std::string& path, std::size_t listedUpTo);

// The rows of `matches` in `text` (as FileOperation::ListMatches notes them).
std::vector<ChangeRow> changeRows(std::string_view text, const std::vector<engine::MatchLocation>& matches);

// Gathers the changes of one run. record() may be called from the run's
// thread while the window's thread waits; take() after the run has ended.
class ChangeCollector {
public:
    explicit ChangeCollector(ChangeLimits limits = {});

    // One changed file, with the matches the run handled in it and the hash
    // of its old text (RunEvents::OnChanged): notes the hash and keeps its
    // diff within the limits. With DiffsOnDemand, newText is not read for
    // a counted file (it may be empty). A recipe's file (matches -1) counts its changed places instead,
    // or stays not counted when its texts are too large to diff.
    void record(const std::string& path, std::string_view oldText, std::string_view newText, std::int64_t matches,
                std::uint64_t textHash);

    // One matching file of Only Search, with the first matches the run
    // listed in its text and the count of all (RunEvents::OnMatches): keeps
    // their rows within the limits.
    void recordMatches(const std::string& path, std::string_view text,
                       const std::vector<engine::MatchLocation>& matches, std::int64_t count);
    // The matches of a file that a run need list: no more than are kept
    // (FileOperation::ListMatchesUpTo), so that a line of millions of them
    // is not held match by match.
    std::size_t listedMatches() const { return m_limits.MaxFileMatches; }

    // The changes recorded since the last take, in run order. The limits
    // hold for the collector's whole life (one run), however often it is
    // taken from while the run goes.
    std::vector<FileChange> take();

private:
    const ChangeLimits m_limits;
    std::mutex m_mutex;
    std::vector<FileChange> m_changes; // guarded by m_mutex
    std::size_t m_keptBytes = 0;       // guarded by m_mutex
    std::size_t m_keptMatches = 0;     // guarded by m_mutex
};

} // namespace quillet::gui
