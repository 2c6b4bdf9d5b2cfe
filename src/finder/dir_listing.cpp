#include "finder/dir_listing.h"

#include "finder/file_mask.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quillet::finder {

namespace {

bool isDotEntry(const std::string& name) {
    return name == "." || name == "..";
}

// "." and ".." first, then byte order (std::string compares bytes unsigned).
// Sorted by name alone, and those two moved to the front after: a walk sorts
// every folder it enters, and a comparison that looks for them each time
// took a tenth of a search's own work.
void sortForListing(std::vector<TSearchRec>& entries) {
    const auto byName = [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; };
    std::sort(entries.begin(), entries.end(), byName);
    auto front = entries.begin();
    for (const char* dots : {".", ".."}) {
        TSearchRec wanted;
        wanted.Name = dots;
        const auto found = std::lower_bound(front, entries.end(), wanted, byName);
        if (found != entries.end() && found->Name == dots) {
            // Only names that begin with a byte below '.' come before it.
            std::rotate(front, found, found + 1);
            ++front;
        }
    }
}

int typeBits(mode_t mode) {
    if (S_ISDIR(mode))
        return faDirectory;
    if (S_ISREG(mode))
        return faArchive;
    if (S_ISLNK(mode))
        return 0;
    return faSysFile;
}

// When the entry cannot be examined (a directory we may read but not search),
// fall back on the type readdir gave; false when that is unknown too.
bool typeFromDirent(unsigned char dtype, mode_t& mode) {
    switch (dtype) {
    case DT_DIR:
        mode = S_IFDIR;
        return true;
    case DT_REG:
        mode = S_IFREG;
        return true;
    case DT_LNK:
        mode = S_IFLNK;
        return true;
    case DT_FIFO:
        mode = S_IFIFO;
        return true;
    case DT_SOCK:
        mode = S_IFSOCK;
        return true;
    case DT_CHR:
        mode = S_IFCHR;
        return true;
    case DT_BLK:
        mode = S_IFBLK;
        return true;
    default:
        return false;
    }
}

} // namespace

namespace {

// Hands each entry of the open directory `fd`, from its position on, to
// onEntry, straight from the system (fdopendir would check again, with
// three calls, what the caller knows of its descriptor), and closes fd. A
// read that fails ends the listing with the entries that came, as readdir
// does.
template <class OnEntry>
void readEntries(int fd, OnEntry onEntry) {
    alignas(dirent64) char buffer[32 * 1024];
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            onEntry(*entry);
        }
    }
    ::close(fd);
}

// Lists the directory open as listFd (and closes it), examining each entry
// relative to statFd, the same directory.
bool listOpenDirectory(int listFd, int attrMask, std::vector<TSearchRec>& entries, EntryDetail detail, int statFd) {
    const int excluded = (faHidden | faSysFile | faDirectory) & ~attrMask;
    readEntries(listFd, [&](const dirent64& ent) {
        TSearchRec rec;
        rec.Name = ent.d_name;
        struct stat st {};
        mode_t mode = 0;
        if (detail == EntryDetail::TypeOnly && typeFromDirent(ent.d_type, mode)) {
            rec.Size = -1;
        } else if (fstatat(statFd, ent.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            mode = st.st_mode;
            rec.Size = static_cast<std::int64_t>(st.st_size);
            rec.Time = static_cast<std::int64_t>(st.st_mtime);
            if ((st.st_mode & S_IWUSR) == 0 && !S_ISLNK(st.st_mode))
                rec.Attr |= faReadOnly;
        } else if (errno == ENOENT || !typeFromDirent(ent.d_type, mode)) {
            return;
        }
        rec.Attr |= typeBits(mode);
        rec.IsSymlink = S_ISLNK(mode);
        if (!rec.Name.empty() && rec.Name[0] == '.' && !isDotEntry(rec.Name))
            rec.Attr |= faHidden;
        if ((rec.Attr & excluded) != 0)
            return;
        entries.push_back(std::move(rec));
    });
    sortForListing(entries);
    return true;
}

std::string reasonOf(int error) {
    return std::error_code(error, std::generic_category()).message();
}

} // namespace

bool ListDirectory(const std::string& directory, int attrMask, std::vector<TSearchRec>& entries,
                   std::string& errorText) {
    entries.clear();
    errorText.clear();
    // O_DIRECTORY: a FIFO named as the directory fails with ENOTDIR instead
    // of blocking; entries are only stat'ed, never opened.
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        errorText = reasonOf(errno);
        return false;
    }
    return listOpenDirectory(fd, attrMask, entries, EntryDetail::Full, fd);
}

bool ListDirectoryAt(int directoryFd, int attrMask, std::vector<TSearchRec>& entries, std::string& errorText,
                     EntryDetail detail) {
    entries.clear();
    errorText.clear();
    // The directory opened once more through its own ".", which cannot lead
    // anywhere else: a descriptor of its own, read from its start, leaving
    // the caller's where it is. Opening "." takes the right to search the
    // directory, and fails once the directory is removed: there, as before,
    // a duplicate is listed (it shares the caller's position), from its
    // start.
    int own = ::openat(directoryFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) {
        own = ::fcntl(directoryFd, F_DUPFD_CLOEXEC, 0);
        if (own >= 0 && ::lseek(own, 0, SEEK_SET) != 0) {
            errorText = reasonOf(errno);
            ::close(own);
            return false;
        }
    }
    if (own < 0) {
        errorText = reasonOf(errno);
        return false;
    }
    return listOpenDirectory(own, attrMask, entries, detail, directoryFd);
}

std::vector<std::string> ListMatchingFiles(const std::string& directory, std::string_view masks,
                                           std::string* errorText) {
    std::vector<std::string> names;
    std::vector<TSearchRec> entries;
    std::string reason;
    // Hidden, system and directory entries are left out by the listing itself.
    const bool opened = ListDirectory(directory, faReadOnly | faArchive, entries, reason);
    if (errorText)
        *errorText = opened ? std::string() : reason;
    const FileMask mask(masks, true);
    if (mask.takesNothing())
        return names;
    for (TSearchRec& rec : entries) {
        if (rec.isRegularFile() && mask.takes("", rec.Name))
            names.push_back(std::move(rec.Name));
    }
    return names;
}

} // namespace quillet::finder
