// One run over many files, in one of its three shapes, as the window and the
// command line start it:
//   directory walk     every regular file under a directory whose name fits the mask
//   directory listing  the given names of one directory (the listing the window shows)
//   path list          the given paths, each used as written
// The run reports each handled file through callbacks and knows nothing of
// the window: the window adapts them to queued signals, the command line
// prints.
#pragma once

#include "engine/fs/commit_hooks.h"
#include "engine/run/prepare.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::engine {

enum class RunShape { DirectoryWalk, DirectoryListing, PathList };

// One handled file.
struct FileReport {
    std::string Directory; // walk: the directory scanned, ending in "/"; list shapes: empty
    std::string Name;      // walk: the entry's name; list shapes: the entry as given
    std::string FullPath;  // the path that was opened
    bool Matched = false;
    std::int64_t Index = 0; // list shapes: 1-based count of entries handled; walk: entries handled so far
    std::int64_t Total = 0; // list shapes: number of entries; walk: -1 (unknown)
};

struct RunRequest {
    RunShape Shape = RunShape::PathList;
    std::string Directory; // walk and listing: the chosen directory
    std::string Mask;      // walk, and a listing without Entries: a FileMask ("*.js;!*.min.js;!node_modules/")
    // Listing: bare names (empty: the run lists Directory with Mask itself, as
    // ListMatchingFiles does); path list: paths (taken at the start).
    std::vector<std::string> Entries;
    FileOperation Param;        // operation, pattern, new text ...
    std::int64_t MaxFiles = -1; // stop after this many matching files; <= 0: no limit
    // Files read and matched at once: the calling thread and Threads - 1
    // workers (writing, counting and reporting stay in run order on the
    // calling thread); 1: one at a time. Where fewer threads can be started,
    // the run uses those (at least the calling thread).
    int Threads = 1;
    // Called around each rewrite (the run journal, backups); borrowed, may be
    // null. Without hooks that keep the old bytes, a file in a directory that
    // is not writable is refused rather than rewritten in place.
    CommitHooks* Hooks = nullptr;
    // An error in one file is reported through RunEvents::OnFileError and the
    // run goes on with the next; false: the first error ends the run.
    bool KeepGoing = false;
};

// Takes the matches of each matching file (FileOperation::ListMatches) in
// pieces, in run order: begin, batches of matches in order, end. Where the
// run writes nothing (Only Search, a dry run) and neither OnChanged nor
// ChooseMatches is set, a file's matches are given while they are found, at
// its turn, and forgotten after each batch, so that the first line of a file
// with millions of matches can be shown at once and none of them is held;
// otherwise they are given all at once, where OnMatches would be.
class MatchListener {
public:
    virtual ~MatchListener() = default;
    // A matching file's matches begin: its result-list entry (as OnResult
    // gives it) and the text they refer to (PreparedFile::oldText()), valid
    // until end().
    virtual void begin(const std::string& entry, std::string_view text) = 0;
    // The next matches of the file, in order; valid during the call only.
    virtual void matches(std::span<const MatchLocation> batch) = 0;
    // After the file's last match, before the file is reported; also when
    // the file then fails (OnFileError, or an error that ends the run). A
    // file whose matching itself fails midway (out of memory) gets none: the
    // next begin() starts afresh.
    virtual void end() = 0;
};

struct RunEvents {
    // After each handled file, in run order; setting stop ends the run after
    // it (with StopRequested: once the files already put in place are
    // reported).
    std::function<void(const FileReport& report, bool& stop)> OnFile;
    // Where set, asked on the run's thread right before each rewrite is put
    // in place, from the run's second file on (a file handled or put in
    // place comes first, as with OnFile's stop, which is read after a
    // file); true ends the run there: that file and every file after it
    // are left as they were (what was staged for them is given up), and
    // the files put in place before it are flushed and reported, so that a
    // file changed is a file reported and the counts are exact. It lets the
    // run put a batch of files in place together, with one flush of their
    // folders, and report them after: a stop that OnFile sets at a file of
    // such a batch then ends the run once the files of the batch already
    // put in place are reported. Without it, each file is put in place, its
    // folder flushed and the file reported before the next is put in place,
    // so that OnFile's stop leaves every file after it as it was. A front
    // end whose stop is a flag that the user sets (Ctrl-C, a Stop button)
    // gives it.
    std::function<bool()> StopRequested;
    // The result-list entry of each matching file: the bare name in a
    // listing, the full path in a walk, the path as written in a path list.
    std::function<void(const std::string& entry)> OnResult;
    // A directory of the walk that cannot be opened (reported once each).
    std::function<void(const std::string& directory, const std::string& reason)> OnUnreadableDirectory;
    // With KeepGoing: a file that failed, in run order, with the error's text
    // ("Cannot open file "..."..."); the file is neither reported through
    // OnFile nor counted as handled.
    std::function<void(const std::string& listedPath, const std::string& message)> OnFileError;
    // A file a writing operation passed over, in run order, with the reason
    // (kBinaryPassedOver: a binary file it matched, see prepare.h); the file
    // is left as it is, neither reported through OnFile nor counted as
    // handled or matching.
    std::function<void(const std::string& listedPath, std::string_view reason)> OnPassedOver;
    // Each file whose content the operation changes, with its old and new
    // text, once the new content is in place (under DryRun: instead of
    // writing it), before the file is reported: the bytes, or for a file
    // with a byte-order mark its text without the mark, decoded to UTF-8
    // from UTF-16 or UTF-32 (PreparedFile::oldText). Not called for a file
    // that matches but keeps its bytes. The views live until the call returns.
    // `kept`: with FileOperation::RecordKept, the stretches of the old text that
    // stand unchanged in the new (a diff then need not search for them);
    // null otherwise, and for the clean-up recipes, which rebuild the text.
    // `matches`: the matches the operation handled in the file (at most
    // MaxCount when it is positive); -1 for the clean-up recipes, which count
    // none. `textHash`: with ChangedNeedsTextHash, HashText(oldText)
    // (text_hash.h); 0 otherwise.
    std::function<void(const std::string& listedPath, std::string_view oldText, std::string_view newText,
                       const std::vector<core::KeptStretch>* kept, std::int64_t matches, std::uint64_t textHash)>
        OnChanged;
    // Whether OnChanged is given the new text: false gives it an empty one,
    // for a listener that notes only the old text and the count (a preview
    // that makes its diffs later), so that the run does not join the new
    // text of every file for nothing.
    bool ChangedNeedsNewText = true;
    // Whether OnChanged is given the hash of the old text, made as each file
    // is read, on whichever thread reads it (a worker ahead of the file's
    // turn, while its bytes are fresh), rather than on the run's own thread
    // at its turn, which every file passes through.
    bool ChangedNeedsTextHash = false;
    // With FileOperation::ListMatches: the matches of each matching file, in
    // run order, just before it is reported (after OnChanged): its
    // result-list entry (as OnResult gives it), the text the operation worked
    // on (PreparedFile::oldText), the matches in it and their count, as many
    // as the operation handled, of which `matches` holds the first
    // FileOperation::ListMatchesUpTo. The views live until the call returns.
    std::function<void(const std::string& entry, std::string_view text, const std::vector<MatchLocation>& matches,
                       std::int64_t count)>
        OnMatches;
    // Where set, in place of OnMatches: the same matches in pieces (see
    // MatchListener). Borrowed.
    MatchListener* Matches = nullptr;
    // Where set, the run asks which changes to make: for each file that the
    // operation would change and whose matches it counts (Replace Text and
    // the inserts), on the run's own thread and in run order (the run then
    // reads one file at a time, whatever Threads), with the file's listed
    // path, its text, its matches as FileOperation::ListMatches notes them
    // (the first ChoiceListsUpTo of them) and their count. It returns which
    // of them to apply (core::MatchOptions::Selection, match n at [n - 1],
    // for all `count`); the file is then processed again with that
    // selection, from the same bytes (a file that changed between the two
    // reads is asked about again), and committed and reported as in any run.
    // A file read again because it changed before its commit is asked about
    // again too.
    std::function<std::vector<bool>(const std::string& listedPath, std::string_view text,
                                    const std::vector<MatchLocation>& matches, std::int64_t count)>
        ChooseMatches;
    // The matches ChooseMatches is given at most: one that goes by their
    // count (a choice made before, checked against the text) needs none, and
    // a line of millions of them is then not held match by match.
    std::size_t ChoiceListsUpTo = std::numeric_limits<std::size_t>::max();
    // Whether ChooseMatches asks a person, who may stop the run at any answer
    // (OnFile's stop): each file is then put in place and reported as soon
    // as its changes are chosen, before the next file is asked about, so
    // that a stop given at a file's questions keeps every file answered
    // before it and leaves the rest as they were. Otherwise the chosen
    // rewrites are staged and flushed in batches, as in any run.
    bool ChoicesAreAsked = false;
};

// What a run did, beyond the count ExecuteRun returns.
struct RunTotals {
    std::int64_t Handled = 0;    // files reported through OnFile
    std::int64_t Matched = 0;    // of those, the matching ones
    std::int64_t Failed = 0;     // files reported through OnFileError (KeepGoing)
    std::int64_t PassedOver = 0; // files reported through OnPassedOver
};

// The reason OnPassedOver gives for a binary file.
inline constexpr std::string_view kBinaryPassedOver = "binary file passed over";

// Runs the request and returns the count the final message shows: matching
// files in a walk, files handled in a listing or path list. Entries of a walk
// that are not regular files (directories whose name fits the mask, FIFOs,
// symlinks) are passed over without counting, and so are the binary files a
// writing operation matches (OnPassedOver), which the run leaves as they
// are unless FileOperation::BinaryFiles::Process. Errors end the run and pass
// through (unless KeepGoing); files handled before stay handled. `totals`,
// where given, receives the counts also when an error passes through.
//
// Whatever the threads, the outcome is that of handling the entries one
// after the other, on the very files read: a file is rewritten only if it is
// still, at its turn, exactly the file that was read (device, inode, size,
// modification and change times, checked again just before the rename);
// otherwise it is read and processed again, up to three times, after which
// the run raises "File changed while being processed: "<path>"" and leaves
// the file as the other program made it. A file that another program holds
// open for writing at its turn counts as changing (where the system tells,
// through a read lease: files the user owns, on local file systems). So a file named twice (also as
// "./f", through a symlink or a hard link) is processed twice, as in a serial
// run, and a file deleted before its turn raises "Cannot open file ..." and
// stays deleted. The root of a walk, and the directory of a listing that the
// run lists itself, must open: "Cannot open directory "<path>". <reason>";
// a sub-folder that cannot be read is reported through OnUnreadableDirectory
// and passed over.
std::int64_t ExecuteRun(const RunRequest& request, const RunEvents& events, RunTotals* totals = nullptr);

} // namespace quillet::engine
