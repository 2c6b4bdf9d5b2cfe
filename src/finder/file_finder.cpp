#include "finder/file_finder.h"

#include "finder/wildcard.h"

#include <cstddef>

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

} // namespace

void TFileFinder::Start() {
    m_stopped.store(false);
    m_root = Root;
    // Sub-directory paths are built by appending to the directory, so a root
    // without its "/" would send the walk to the wrong sibling ("/data" +
    // "sub" = "/datasub").
    if (!m_root.empty() && m_root.back() != '/')
        m_root.push_back('/');
    SearchDirectory(m_root);
}

void TFileFinder::Stop() {
    m_stopped.store(true);
}

void TFileFinder::SearchDirectory(const std::string& directory) {
    bool localStop = m_stopped.load();
    std::vector<std::string> subDirectories;

    std::vector<TSearchRec> entries;
    std::string reason;
    if (!ListDirectory(directory, FileAttr, entries, reason) && OnDirectoryError)
        OnDirectoryError(directory, reason);

    for (std::size_t i = 0; i < entries.size() && !m_stopped.load() && !localStop; ++i) {
        const TSearchRec& entry = entries[i];
        if ((entry.Attr & faDirectory) != 0 && entry.Name[0] != '.')
            subDirectories.push_back(directory + entry.Name);

        bool passed = false;
        if (!Filename.empty()) {
            if (FuzzySearch)
                passed = MatchesAnyMask(entry.Name, Filename, IgnoreCase);
            else if (IgnoreCase)
                passed = sameNameFoldingAscii(entry.Name, Filename);
            else
                passed = entry.Name == Filename;
        }
        if (passed && OnFileFound) {
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
        for (const std::string& path : subDirectories)
            SearchDirectory(path + "/");
    }

    if (directory == m_root && OnStop)
        OnStop(*this);
}

} // namespace quillet::finder
