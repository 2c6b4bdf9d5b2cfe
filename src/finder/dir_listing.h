// One directory's entries with the attribute bits the walker and the window's
// file list work with. This is the only place that reads directories.
//
// Entries are typed with lstat semantics, never by following a symlink, so a
// symlinked directory is never mistaken for a directory (and never entered),
// and a symlink to a file is never taken for a regular file. Entries come
// sorted by name in byte order, "." and ".." first where the system lists
// them, so that runs are reproducible.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quillet::finder {

// Attribute bits of an entry, and of the mask handed to ListDirectory.
inline constexpr int faReadOnly = 1; // the owner has no write permission
inline constexpr int faHidden = 2;   // the name begins with "." (but is not "." or "..")
inline constexpr int faSysFile = 4;  // neither regular file, directory nor symlink: FIFO, socket, device
inline constexpr int faVolumeId = 8; // never set here
inline constexpr int faDirectory = 16;
inline constexpr int faArchive = 32; // a regular file
inline constexpr int faAnyFile = 63;

// One listed entry. A symlink has IsSymlink set and none of faDirectory,
// faArchive or faSysFile, whatever it points to (or whether it dangles).
struct TSearchRec {
    std::string Name; // without the directory
    int Attr = 0;
    bool IsSymlink = false;
    std::int64_t Size = 0;
    std::int64_t Time = 0; // last modification, seconds since the epoch
    bool isRegularFile() const { return (Attr & faArchive) != 0; }
};

// Lists `directory` (with or without a trailing "/") into `entries`, replacing
// what they held. An entry that carries faHidden, faSysFile or faDirectory is
// left out unless attrMask has that bit too; the other bits of attrMask filter
// nothing (faAnyFile lists everything). Returns false, with `entries` empty and
// `errorText` set to the system's reason ("Permission denied"), when the
// directory cannot be opened. An entry that vanishes while it is listed is
// left out.
bool ListDirectory(const std::string& directory, int attrMask, std::vector<TSearchRec>& entries,
                   std::string& errorText);

// How much a listing learns of each entry.
enum class EntryDetail : std::uint8_t {
    Full,     // type, size, time and faReadOnly, from one lstat-like call per entry
    TypeOnly, // the type from the directory itself where the file system gives it
              // (no call per entry); Size is -1, Time 0 and faReadOnly unset
};

// ListDirectory on an open directory: entries are examined relative to
// `directoryFd` (never by a path, so a directory renamed or swapped for a
// symlink meanwhile cannot redirect the listing). The descriptor stays open
// and is listed from its beginning; its position is left alone, but for a
// directory the process may read and not search (listed through the
// descriptor itself).
bool ListDirectoryAt(int directoryFd, int attrMask, std::vector<TSearchRec>& entries, std::string& errorText,
                     EntryDetail detail = EntryDetail::Full);

// The files a run over one directory (no sub-folders) handles, as the window's
// file list shows them: bare names of the regular, non-hidden files of
// `directory` that the FileMask `masks` takes ("*.htm;*.html", "!*.bak"; see
// file_mask.h), ignoring case, in byte order; `directory` is the start folder
// of its path tokens. Symlinks, directories, FIFOs and the like are never
// listed. An empty `masks` gives an empty list. When the directory cannot be opened the
// list is empty and, if errorText is given, it receives the reason (it is
// cleared otherwise).
std::vector<std::string> ListMatchingFiles(const std::string& directory, std::string_view masks,
                                           std::string* errorText = nullptr);

} // namespace quillet::finder
