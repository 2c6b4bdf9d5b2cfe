// The directory walker: from Root it reports every entry whose name fits
// Filename through OnFileFound, all entries of a directory (in listing order)
// before those of its sub-directories, which are then walked depth first.
// It processes nothing itself; the handler does, and ends the walk through its
// `stop` argument.
//
// Entries are typed without following symlinks (see dir_listing.h): a
// symlinked directory is reported like any entry whose name fits, but never
// entered, so a link to an ancestor cannot make the walk loop. Nor can a
// folder mounted inside itself (a bind mount): a sub-directory that is one of
// the directories it lies in is reported through OnDirectoryError ("Recursive
// directory loop") and not entered. Directories whose names begin with "."
// ('.', '..', '.git') are never entered either, nor folders the mask leaves
// out ("!node_modules/", see file_mask.h): the walk does not open them.
//
// The walk holds directory descriptors, not paths: Root is opened once (a
// symlink naming the root is followed, as `find` does for a start point), and
// each sub-directory is opened relative to its parent's descriptor without
// following a symlink. A sub-directory swapped for a symlink after it was
// listed therefore fails to open (reported through OnDirectoryError) instead
// of leading the walk out of the tree, and each reported entry is one listed
// under a directory the walk actually holds open (CurrentDirectory()).
//
// Threads: Start runs the whole walk on the calling thread. Stop() and
// Stopped() may be called from any thread. FuzzySearch is read when Start
// begins, and so are Filename and IgnoreCase with it (the mask is parsed once
// per walk); the other properties are read afresh at each use. Change them
// from another thread only while no walk runs.
#pragma once

#include "finder/dir_listing.h"
#include "finder/file_mask.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <set>
#include <vector>

#include <sys/types.h>

namespace quillet::finder {

// A directory the walk opened, kept open for as long as anyone holds it: a
// file found in it can be opened, and replaced, relative to Fd after the walk
// has moved on, and always in this directory whatever is renamed meanwhile.
struct OpenDirectory {
    int Fd = -1;
    std::string Path; // as the walk reached it, ending in "/"

    OpenDirectory(int fd, std::string path) : Fd(fd), Path(std::move(path)) {}
    ~OpenDirectory();
    OpenDirectory(const OpenDirectory&) = delete;
    OpenDirectory& operator=(const OpenDirectory&) = delete;
};

class TFileFinder {
public:
    // Attribute mask for the listings (see ListDirectory). Without faDirectory
    // no directory is reported and none is entered.
    int FileAttr = faAnyFile;
    // What the listings learn of each entry (see EntryDetail): TypeOnly
    // saves a call per entry where the handler needs no size or time.
    EntryDetail Detail = EntryDetail::Full;
    // Where Start begins. A "/" is added when it does not end with one, so
    // every Directory handed to OnFileFound ends with "/".
    std::string Root = "/";
    bool SubFolders = true;
    // Call MessagePump after every entry.
    bool ProcessMessages = true;
    // The mask (FuzzySearch) or the whole name entries are tested against.
    // Empty: the tree is walked but nothing is reported.
    std::string Filename;
    // Called after every entry with the directory being scanned.
    std::function<void(const std::string& directory)> StatusLabel;
    // True: Filename is a FileMask, ";"-separated masks with exclusions,
    // whose paths are taken relative to Root. False: the whole name is
    // compared, wildcards and "!" meaning nothing; with IgnoreCase only the
    // letters a..z are folded.
    bool FuzzySearch = false;
    bool IgnoreCase = true;

    // Called for each entry whose name passes, directories included (a folder
    // named "old.htm" fits "*.htm"; check searchRec.isRegularFile()) unless
    // the mask leaves them out. The directory is Root or Root + sub-directory
    // names, each followed by "/"; the entry's full path is directory +
    // searchRec.Name. `stop` arrives false; set it to true to end the walk. An
    // exception thrown here ends the walk at once and passes out of Start;
    // OnStop is then not called.
    std::function<void(TFileFinder& sender, const std::string& directory, TSearchRec searchRec, bool& stop)>
        OnFileFound;
    // Called once when the scan of Root has ended, whether it ran to its end or
    // was stopped (also when Root cannot be opened).
    std::function<void(TFileFinder& sender)> OnStop;
    // Called after every entry when ProcessMessages is true (the window binds
    // its event processing; the command line leaves it empty).
    std::function<void()> MessagePump;
    // Called once for every directory whose listing cannot be opened (Root
    // included); the walk goes on without it. `reason` is the system's text
    // ("Not a directory" for a sub-directory replaced by a symlink after it
    // was listed).
    std::function<void(const std::string& directory, const std::string& reason)> OnDirectoryError;
    // Asked for each sub-directory about to be walked, with its device and
    // inode; true passes over it (the run's own journal folder). Unset: every
    // sub-directory is walked.
    std::function<bool(dev_t device, ino_t inode)> SkipDirectory;

    // Clears the stop flag and walks from Root; returns when the walk has
    // ended, normally or by a stop.
    void Start();
    // Asks a running walk to end: it takes effect before the next entry. While
    // OnFileFound runs, the handler's `stop` argument decides instead and
    // overrides this request; a handler that wants to honour Stop() must carry
    // its own flag into `stop`. Called while no walk runs, it only sets the
    // flag, which the next Start clears.
    void Stop();
    // The stop flag: true after a stopped walk, until the next Start.
    bool Stopped() const { return m_stopped.load(); }
    // While OnFileFound runs: the directory holding the reported entry (its
    // Path is the `directory` argument). Empty outside a walk.
    std::shared_ptr<const OpenDirectory> CurrentDirectory() const { return m_current; }

private:
    void SearchDirectory(const std::shared_ptr<const OpenDirectory>& directory);

    std::atomic<bool> m_stopped{false};
    std::string m_root;                               // Root as Start received it, with its trailing "/"
    bool m_fuzzy = false;                             // FuzzySearch when Start began
    FileMask m_mask;                                  // and then Filename, parsed
    std::vector<std::pair<dev_t, ino_t>> m_ancestors; // the directories being walked, Root first
    std::set<std::pair<dev_t, ino_t>> m_walked;       // every directory entered so far
    std::shared_ptr<const OpenDirectory> m_current;
};

} // namespace quillet::finder
