// The per-file step of every run: read a file and apply the operation to its
// text, writing nothing, so that it can run ahead on worker threads while
// the run's own thread writes files in order. This is the one seam between a
// file's bytes and the text operations: whatever decides how a file is read
// or what is done to its text is added here, for the run, the preview and the
// command line alike.
//
// How bytes become text (FileOperation::Encoding::Sniff):
//   - a file that begins with a UTF-16 or UTF-32 byte-order mark (either
//     byte order; text_encoding.h) is decoded to UTF-8, the operation works
//     on that text, and the result is encoded back and written with the
//     file's own mark: where nothing changed, the bytes are the same;
//   - after a UTF-8 mark, the bytes that follow are the text: the mark stays
//     first and is never part of a match or a capture;
//   - without a mark the bytes are the text; no code page is guessed.
// Offsets, line ends, kept stretches and the texts given to a diff are those
// of the text (PreparedFile::oldText), never of the encoded bytes.
//
// A binary file (one whose text holds a NUL byte among its first
// core::kBinaryProbeBytes, the rule by which a diff says "Binary files ...
// differ") is passed over by the operations that write, unless
// BinaryFiles::Process: see PreparedFile::PassedOver. Only Search reads
// every file alike.
#pragma once

#include "core/spliced_text.h"
#include "core/text_diff.h"
#include "core/text_ops.h"
#include "engine/fs/file_identity.h"
#include "engine/fs/file_io.h"
#include "engine/fs/file_location.h"
#include "engine/run/text_encoding.h"

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::engine {

// What a run does to each file: the operation and its settings.
struct FileOperation {
    std::uint8_t Operation = core::OpReplaceText;
    std::string SearchPattern;
    bool CaseSensitive = false;
    std::string NewText;
    bool ResultIsPattern = false;
    std::string TagOpen{core::kTagOpen};
    std::string TagClose{core::kTagClose};
    std::int64_t MaxCount = -1; // matches handled per file; <= 0: no limit
    core::MatchOptions Match;   // whole words, kept case, a selection of the matches
    bool DryRun = false;        // find and count, but write nothing
    bool RecordKept = false;    // note which stretches of a changed file stay (PreparedFile::Kept), for a diff
    // Note each match where it stands (PreparedFile::MatchList); Only Search
    // then reads a matching file whole and finds every match in it.
    bool ListMatches = false;
    // With ListMatches, the matches noted at most: those after are handled
    // and counted (PreparedFile::Matches), not noted, so that a view that
    // shows a file's first few holds no more of a line of millions.
    std::size_t ListMatchesUpTo = std::numeric_limits<std::size_t>::max();
    // Note HashText of a changed file's text (PreparedFile::TextHash) where
    // it is read, so that a run's workers hash while the bytes are fresh.
    bool HashText = false;
    // Threads Only Search may share one large file among (stream_match.h):
    // a run gives its own count (RunRequest::Threads), so that -j1 keeps a
    // search to one thread.
    int SearchThreads = 1;

    // How a file's bytes become the text the operation works on.
    enum class Encoding : std::uint8_t {
        Sniff, // a byte-order mark decides (see the top of this header)
        Bytes, // the bytes are the text, a mark included
    };
    Encoding FileEncoding = Encoding::Sniff;

    // What the operations that write do with a binary file.
    enum class BinaryFiles : std::uint8_t {
        PassOver, // leave it as it is, and say so (PreparedFile::PassedOver)
        Process,  // handle it as any other file
    };
    BinaryFiles Binary = BinaryFiles::PassOver;
};

// One match of a file, where it stands in the text the operation worked on
// (PreparedFile::oldText): lines and columns as text_lines.h counts them,
// columns in characters for a text decoded from UTF-16 or UTF-32. A match
// that spans lines has LastLine > FirstLine.
struct MatchLocation {
    std::size_t Start = 0; // bytes [Start, End) of the text
    std::size_t End = 0;
    std::int64_t FirstLine = 0;
    std::int64_t FirstColumn = 0;
    std::int64_t LastLine = 0;   // the line of the match's last byte
    std::int64_t LastColumn = 0; // the column of the match's last character
    std::string Replacement;     // what takes its place (core::TextMatch); empty for Only Search

    bool operator==(const MatchLocation&) const = default;
};

struct PreparedFile {
    bool Matched = false;
    bool Changed = false;    // the operation changes the file's text (dry run or not)
    bool NeedsWrite = false; // Changed, and not a dry run
    // A binary file that a writing operation matched and left as it is
    // (BinaryFiles::PassOver); Matched and Changed are then false, and a run
    // neither counts nor lists it.
    bool PassedOver = false;
    TextEncoding Encoding = TextEncoding::Bytes; // as the file's mark said
    FileBytes Original;                          // the bytes read, when Changed
    bool OriginalEndsFile = false;               // a read met the end after them (FileReader::metEnd)
    // For UTF-16 and UTF-32, when Changed: Original decoded, without its mark.
    FileBytes Decoded;
    // The new text when Changed, partly as stretches of oldText().
    core::SplicedText Result;
    // For UTF-16 and UTF-32, when Changed: Result encoded, after the mark.
    FileBytes Encoded;
    // With FileOperation::RecordKept, when Changed: the stretches of
    // oldText() that stand unchanged in Result, so that a diff need not
    // search for them.
    std::vector<core::KeptStretch> Kept;
    // When Changed: the matches the operation handled (see core::ProcessText;
    // -1 for the clean-up recipes, which count none).
    std::int64_t Matches = 0;
    // With FileOperation::ListMatches, when Matched: each match handled, in
    // order (as many as Matches counts), and oldText() stays readable.
    std::vector<MatchLocation> MatchList;
    // With FileOperation::HashText, when Changed: HashText(oldText())
    // (text_hash.h); 0 otherwise.
    std::uint64_t TextHash = 0;
    // The file shrank while it was read (see FileBytes::torn): nothing above
    // holds; read it again.
    bool Torn = false;
    bool Opened = false;   // the file was opened (an empty pattern only checks it is there)
    FileIdentity Identity; // the file as it was opened, when Opened

    // When Changed, or with MatchList: the text the operation worked on
    // (Original after its mark, or Decoded), which Result, Kept and MatchList
    // refer to.
    std::string_view oldText() const;
    // When NeedsWrite: the file's new bytes, its mark first. Valid while this
    // object stays where it is, unchanged.
    std::vector<std::string_view> newBytes() const;
};

// Takes a file's matches as PrepareFileAt finds them, in pieces, in place of
// PreparedFile::MatchList, so that a file with millions of matches is shown
// as they come and never held whole.
class MatchFeed {
public:
    virtual ~MatchFeed() = default;
    // Before the first match: the text the matches refer to
    // (PreparedFile::oldText()), valid until PrepareFileAt returns.
    virtual void begin(std::string_view text) = 0;
    // The next matches, in order; valid during the call only.
    virtual void matches(std::span<const MatchLocation> batch) = 0;
    // After the last match, the text still valid.
    virtual void end() = 0;
};

// Reads the file at `location` and applies `op` to its text; never writes.
// For operations 0 to 3 an empty pattern matches nothing without reading the
// file, except that Only Search counts it as a match; a path must still name
// a regular file ("Cannot open file "<path>". <reason>"). Operations 4 and 5
// run their recipes whatever the pattern. Only Search reads no more of a
// file without a UTF-16 or UTF-32 mark than it needs to find the first
// match, unless FileOperation::ListMatches, or with whole words
// (MatchOptions::WholeWord), when it reads the file whole and judges matches
// as the other operations do. Errors of LoadFileText pass through.
//
// A UTF-16 or UTF-32 file that does not decode to the end (an unpaired
// surrogate, an odd length) is searched as far as it decodes; where the
// operation would change it, it raises "Cannot rewrite "<path>": not valid
// UTF-16" (or UTF-32), dry run or not, since it could not be written back
// whole. So does a new text that cannot be encoded ("Cannot rewrite
// "<path>": the new text is not valid UTF-8"): a NEWTEXT that is not UTF-8
// makes one, and so does a match that begins or ends inside a character.
//
// With `feed` (and FileOperation::ListMatches, in an operation that writes
// nothing: Only Search or a dry run) the matches go to the feed as they are
// found, in batches of at most kMatchFeedBatch, and MatchList stays empty. A
// file that shrank while it was read (Torn) is not matched: it is read again
// first. The new text of a file without a UTF-16 or UTF-32 mark is then only
// compared with the old, not kept: Result stays empty, Changed still holds
// (FileOperation::RecordKept is not honoured). Its errors come after the
// matches were given (a UTF-16 file that cannot be written back).
PreparedFile PrepareFileAt(const FileLocation& location, const FileOperation& op, MatchFeed* feed = nullptr);
inline constexpr std::size_t kMatchFeedBatch = 256;
inline PreparedFile PrepareFile(const std::string& inName, const FileOperation& op) {
    return PrepareFileAt(FileLocation::atPath(inName), op);
}

} // namespace quillet::engine
