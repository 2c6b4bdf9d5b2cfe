// The run journal's record of one run: a text file named "manifest" in the
// run's directory, one line per fact, appended as the run goes and read back
// by listing and undo. Engine layer; the format only, no file access.
//
// Every line is words separated by single spaces and ends with '\n'. Texts
// (paths, the run's description, reasons) are escaped so that they hold no
// space, no control byte and no newline: any byte outside '!'..'~' and the
// backslash itself become "\xHH"; an empty text is "\-". Paths are arbitrary
// bytes (a newline, invalid UTF-8, 255-byte names) and come back exactly.
//
//   quillet-journal 1
//   run <id> <started-ns> <description>
//   old <n> <link|copy|packed|none> <metadata 0|1> <in-place 0|1> <bytes> <dev> <ino> <size> <mtime-ns>
//       <mode-octal> <uid> <gid> <directory> <name> <listed-path> <reason-not-kept> [<pack-offset>]
//                                              the offset only, and always, for "packed"
//   folder <n> <dev> <ino>                     the folder that holds the file, so that undo
//                                              never takes another folder at the same path for it
//   keep-folder <k> <dev> <ino> <path>         the run's folder <k> (from 1) in a keep folder at the
//                                              top of another file system (engine/keep/journal.h),
//                                              written before the first entry kept there, and again
//                                              after the "kept" line, where a listing reads it
//   kept-in <n> <k>                            the kept file of <n> is "<n>" in keep folder <k>, not
//                                              in the run's own directory
//   new <n> <dev> <ino> <size> <mtime-ns>      what the rename is about to put in place
//   done <n> <dev> <ino> <size> <mtime-ns>     what the run left in place
//   abandoned <n>                              the rewrite recorded as <n> did not take place (the
//                                              file changed first, or the run stopped): undo passes over it
//   restored <n>                               undo gave the old bytes back (or found them there)
//   kept <bytes>                               what the run keeps in all, written with "end"
//   files <count> <not-kept>                   how many files it recorded, and of them not kept,
//                                              written with "end" (a listing reads no entry)
//   end <ns>                                   the run finished
//   undone <ns>                                every file of the run was dealt with by undo
//
// A line cut short by a crash (no final '\n') and a line of a kind this
// version does not know are skipped when reading, so that a run killed at
// any point can still be read and undone.
//
// Nothing read back is believed beyond what a run can write: an "old" line
// whose name is not one path component (empty, ".", "..", or holding '/' or
// a NUL byte), whose directory is not an absolute path without NUL bytes
// (or empty, for a file not kept), whose mode has bits beyond 07777, or
// whose numbers are out of range is a damaged entry: undo refuses it and
// touches nothing of it. The mode is kept to its permission bits (0777):
// set-id and sticky bits come back only with the kept inode's own metadata,
// so that a manifest edited by hand cannot make a file set-id.
#pragma once

#include "engine/fs/file_identity.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace quillet::engine {

// Whether the file now at a place is the one a run left there. Compares
// device, inode, size and modification time, not the change time: renaming a
// file moves its ctime on some file systems, and the journal's own hard link
// to an old inode moves that inode's.
bool SameAsLeft(const FileIdentity& recorded, const FileIdentity& now);

enum class KeptAs {
    Link,   // a hard link to the old inode, in the run's directory
    Copy,   // a copy of the old bytes (a reflink where the file system offers one)
    Packed, // the old bytes appended to the run's file "pack", from PackOffset on
    None,   // not kept: NotKeptReason says why
};

// One file the run rewrote.
struct JournalEntry {
    std::size_t Number = 0; // 1-based; the kept bytes are the file "<Number>" in the run's directory
                            // (or, for Packed, the old size's worth of "pack" from PackOffset)
    KeptAs Kept = KeptAs::None;
    bool KeptMetadata = false; // the kept file carries the old owner, mode and extended attributes
    bool InPlace = false;      // the run overwrote the old inode instead of renaming a new file over it
    std::int64_t Bytes = 0;    // what the kept file costs the journal
    std::int64_t PackOffset = 0;
    FileIdentity Old; // as the run read it (ChangedNs is not recorded: 0)
    mode_t Mode = 0;  // permission bits of the old file
    uid_t Owner = 0;
    gid_t Group = 0;
    std::string Directory;  // absolute path of the directory holding the real file (symlinks resolved)
    std::string Name;       // the file's name in it
    std::string ListedPath; // as the run listed it, for messages
    std::string NotKeptReason;
    std::optional<FileIdentity> Folder;   // from a "folder" line: Device and Inode only
    std::size_t KeptIn = 0;               // from a "kept-in" line: the keep folder; 0: the run's directory
    std::optional<FileIdentity> Expected; // from a "new" line
    std::optional<FileIdentity> Left;     // from a "done" line
    bool Restored = false;
    // From an "abandoned" line: the rewrite did not take place, and undo and
    // the listing pass over the entry (its kept bytes stay the run's own).
    bool Abandoned = false;
    // The "old" line is not one a run writes (see the file's comment): only
    // Number and, where it could be read, ListedPath are set.
    bool Damaged = false;
};

// A folder of the run's at the top of another file system, that holds the
// old inodes of its files there (engine/keep/journal.h).
struct KeepFolderRecord {
    std::size_t Number = 0; // 1-based, as "kept-in" lines name it
    dev_t Device = 0;       // of the run's folder in it, so that undo and pruning
    ino_t Inode = 0;        // never take another folder at the same path for it
    std::string Path;       // absolute
};

struct RunManifest {
    std::string Id;
    std::int64_t StartedNs = 0;
    std::string Description;
    std::vector<JournalEntry> Entries; // in the order of their "old" lines
    std::vector<KeepFolderRecord> KeepFolders;
    std::optional<std::int64_t> KeptTotal; // from the "kept" line
    std::optional<std::int64_t> FinishedNs;
    std::optional<std::int64_t> UndoneNs;
    // From the "files" line: what a listing shows without reading entries.
    struct Counts {
        std::size_t Files = 0;
        std::size_t NotKept = 0;
    };
    std::optional<Counts> Totals;
    bool AnyRestored = false; // a "restored" line was read
    // An "old" line whose number could not be read, or a number recorded
    // twice, or a keep folder recorded twice as two different ones: the
    // entries may not name every file the run changed.
    bool Damaged = false;

    // Bytes the run's kept files cost the journal: the "kept" line's, else
    // the sum over the entries.
    std::int64_t keptBytes() const;
    // The keep folder numbered `number`; null where none is recorded.
    const KeepFolderRecord* keepFolder(std::size_t number) const;
};

std::string EscapeJournalText(std::string_view text);
// The text back; nullopt for a malformed escape.
std::optional<std::string> UnescapeJournalText(std::string_view escaped);

// The lines, each ending in '\n'. Those written for each replaced file are
// appended to the text that collects them.
std::string ManifestHeaderLines(std::string_view id, std::int64_t startedNs, std::string_view description);
void AppendManifestOldLine(std::string& manifest, const JournalEntry& entry);
void AppendManifestFolderLine(std::string& manifest, std::size_t number, dev_t device, ino_t inode);
void AppendManifestKeepFolderLine(std::string& manifest, const KeepFolderRecord& folder);
void AppendManifestKeptInLine(std::string& manifest, std::size_t number, std::size_t folder);
void AppendManifestNewLine(std::string& manifest, std::size_t number, const FileIdentity& identity);
void AppendManifestDoneLine(std::string& manifest, std::size_t number, const FileIdentity& identity);
void AppendManifestAbandonedLine(std::string& manifest, std::size_t number);
std::string ManifestRestoredLine(std::size_t number);
std::string ManifestKeptLine(std::int64_t bytes);
std::string ManifestFilesLine(std::size_t files, std::size_t notKept);
std::string ManifestEndLine(std::int64_t ns);
std::string ManifestUndoneLine(std::int64_t ns);

// Reads a manifest, in time linear in its length; nullopt when it lacks the
// header lines (a run directory still being created, or not the journal's).
// A text cut short anywhere reads as the entries of its whole lines.
std::optional<RunManifest> ParseManifest(std::string_view text);

// The part of a manifest's text that ParseManifest needs for the run's id,
// start, end, kept total, counts and keep folders without its entries: the
// header lines and, where the run finished, the lines from its "kept" line on. Empty where either
// is not within `head` and `tail`, the text's first and last bytes (each at
// most all of it); `size` is the text's length.
std::string ManifestSummaryText(std::string_view head, std::string_view tail, std::size_t size);

} // namespace quillet::engine
