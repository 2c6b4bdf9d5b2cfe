#include "finder/file_mask.h"

#include "finder/wildcard.h"

#include <algorithm>
#include <cstddef>

namespace quillet::finder {

namespace {

constexpr char kSeparator = ';';
constexpr char kExclude = '!';
constexpr char kSlash = '/';

std::vector<std::string> splitAtSlashes(std::string_view path) {
    std::vector<std::string> segments;
    while (true) {
        const std::size_t cut = path.find(kSlash);
        segments.emplace_back(path.substr(0, cut));
        if (cut == std::string_view::npos)
            return segments;
        path.remove_prefix(cut + 1);
    }
}

} // namespace

FileMask::FileMask(std::string_view masks, bool ignoreCase) : m_ignoreCase(ignoreCase) {
    while (!masks.empty()) {
        const std::size_t cut = masks.find(kSeparator);
        std::string_view token = masks.substr(0, cut);
        masks.remove_prefix(cut == std::string_view::npos ? masks.size() : cut + 1);
        if (token.empty())
            continue;
        if (token.front() != kExclude) {
            m_includes.emplace_back(token);
            continue;
        }
        m_hasExcludes = true;
        token.remove_prefix(1);
        const bool folder = !token.empty() && token.back() == kSlash;
        if (folder)
            token.remove_suffix(1);
        const bool anchored = !token.empty() && token.front() == kSlash;
        if (anchored)
            token.remove_prefix(1);
        // What is left of "!" or "!/" names nothing; the token still makes
        // the mask one that takes every other file.
        if (token.empty())
            continue;
        if (anchored || token.find(kSlash) != std::string_view::npos)
            (folder ? m_folderPaths : m_filePaths).push_back(splitAtSlashes(token));
        else
            (folder ? m_folderNames : m_fileNames).emplace_back(token);
    }
}

bool FileMask::fitsName(std::string_view name, const std::vector<std::string>& masks) const {
    return std::any_of(masks.begin(), masks.end(),
                       [&](const std::string& mask) { return MatchesWildcard(name, mask, m_ignoreCase); });
}

bool FileMask::fitsPath(std::string_view below, std::string_view name, const std::vector<Segments>& paths) const {
    if (paths.empty())
        return false;
    const auto depth = static_cast<std::size_t>(std::count(below.begin(), below.end(), kSlash)) + 1;
    for (const Segments& path : paths) {
        if (path.size() != depth)
            continue;
        std::string_view rest = below;
        bool fits = true;
        for (std::size_t i = 0; fits && i + 1 < depth; ++i) {
            const std::size_t cut = rest.find(kSlash);
            fits = MatchesWildcard(rest.substr(0, cut), path[i], m_ignoreCase);
            rest.remove_prefix(cut + 1);
        }
        if (fits && MatchesWildcard(name, path.back(), m_ignoreCase))
            return true;
    }
    return false;
}

bool FileMask::takes(std::string_view below, std::string_view name) const {
    if (m_includes.empty() ? !m_hasExcludes : !fitsName(name, m_includes))
        return false;
    return !fitsName(name, m_fileNames) && !fitsPath(below, name, m_filePaths);
}

bool FileMask::leavesOutFolder(std::string_view below, std::string_view name) const {
    return fitsName(name, m_folderNames) || fitsPath(below, name, m_folderPaths);
}

bool MatchesAnyMask(std::string_view name, std::string_view masks, bool ignoreCase) {
    return FileMask(masks, ignoreCase).takes("", name);
}

} // namespace quillet::finder
