#include "finder/file_finder.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>
#include <cstddef>
#include <string_view>
#include <system_error>

#include <fcntl.h>
#include <unistd.h>

namespace quillet::finder {

namespace {

char foldAsciiLetter(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameNameFoldingAscii(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAsciiLetter(a[i]) != foldAsciiLetter(b[i]))
            return false;
    }
    return true;
}

std::string reasonOf(int error) {
    return std::error_code(error, std::generic_category()).message();
}

} // namespace

OpenDirectory::~OpenDirectory() {
    if (Fd >= 0)
        ::close(Fd);
}

void TFileFinder::Start() {
    m_stopped.store(false);
    m_root = Root;
    // Sub-directory paths are built by appending to the directory, so a root
    // without its "/" would send the walk to the wrong sibling ("/data" +
    // "sub" = "/datasub").
    if (!m_root.empty() && m_root.back() != '/')
        m_root.push_back('/');
    const int fd = ::open(m_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (OnDirectoryError)
            OnDirectoryError(m_root, reasonOf(error));
        if (OnStop)
            OnStop(*this);
        return;
    }
    m_ancestors.clear();
    m_walked.clear();
    m_fuzzy = FuzzySearch;
    m_mask = m_fuzzy ? FileMask(Filename, IgnoreCase) : FileMask();
    struct stat info {};
    if (::fstat(fd, &info) == 0) {
        m_ancestors.emplace_back(info.st_dev, info.st_ino);
        m_walked.emplace(info.st_dev, info.st_ino);
    }
    SearchDirectory(std::make_shared<const OpenDirectory>(fd, m_root));
    m_current.reset();
}

void TFileFinder::Stop() {
    m_stopped.store(true);
}

void TFileFinder::SearchDirectory(const std::shared_ptr<const OpenDirectory>& opened) {
    const std::string& directory = opened->Path;
    // The folder's path below Root, as the mask's path tokens read it.
    const std::string_view below = std::string_view(directory).substr(m_root.size());
    bool localStop = m_stopped.load();
    std::vector<std::string> subDirectories;

    std::vector<TSearchRec> entries;
    std::string reason;
    if (!ListDirectoryAt(opened->Fd, FileAttr, entries, reason, Detail) && OnDirectoryError)
        OnDirectoryError(directory, reason);

    for (std::size_t i = 0; i < entries.size() && !m_stopped.load() && !localStop; ++i) {
        const TSearchRec& entry = entries[i];
        const bool folder = (entry.Attr & faDirectory) != 0;
        const bool leftOut = m_fuzzy && folder && m_mask.leavesOutFolder(below, entry.Name);
        if (folder && entry.Name[0] != '.' && !leftOut)
            subDirectories.push_back(entry.Name);

        bool passed = false;
        if (m_fuzzy)
            passed = !leftOut && m_mask.takes(below, entry.Name);
        else if (!Filename.empty())
            passed = IgnoreCase ? sameNameFoldingAscii(entry.Name, Filename) : entry.Name == Filename;
        if (passed && OnFileFound) {
            m_current = opened;
            OnFileFound(*this, directory, entry, localStop);
            // The handler's verdict replaces the flag, also a Stop() made while
            // it ran. Where no handler ran, the local flag is still false and
            // copying it would only lose a Stop() from another thread.
            m_stopped.store(localStop);
        }

        if (StatusLabel)
            StatusLabel(directory);
        if (ProcessMessages && MessagePump)
            MessagePump();
    }

    // A scan started after a stop copies the stop in its first step, reports
    // nothing and enters nothing; the list is walked without testing between.
    if (SubFolders && !m_stopped.load() && !localStop) {
        for (const std::string& name : subDirectories) {
            const std::string path = directory + name + "/";
            // O_NOFOLLOW: a sub-directory swapped for a symlink since it was
            // listed is refused, never followed out of the tree.
            const int fd = ::openat(opened->Fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0) {
                const int error = errno;
                if (OnDirectoryError)
                    OnDirectoryError(path, reasonOf(error));
                continue;
            }
            auto sub = std::make_shared<const OpenDirectory>(fd, path);
            struct stat info {};
            if (::fstat(fd, &info) != 0) {
                SearchDirectory(sub);
                continue;
            }
            if (SkipDirectory && SkipDirectory(info.st_dev, info.st_ino))
                continue;
            // A folder mounted inside itself: walking it again would hand
            // every file below it over twice.
            const std::pair<dev_t, ino_t> id(info.st_dev, info.st_ino);
            if (std::find(m_ancestors.begin(), m_ancestors.end(), id) != m_ancestors.end()) {
                if (OnDirectoryError)
                    OnDirectoryError(path, "Recursive directory loop");
                continue;
            }
            // The same folder again elsewhere in the tree (a bind mount):
            // its files were handed over once already.
            if (!m_walked.insert(id).second)
                continue;
            m_ancestors.push_back(id);
            SearchDirectory(sub);
            m_ancestors.pop_back();
        }
    }

    if (directory == m_root && OnStop)
        OnStop(*this);
}

} // namespace quillet::finder
