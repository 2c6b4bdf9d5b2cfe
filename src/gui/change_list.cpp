#include "change_list.h"

#include "core/text_diff.h"

#include <sys/stat.h>

#include <utility>

namespace quillet::gui {

std::int64_t countChangedPlaces(std::string_view diff) {
    // The "---" and "+++" heading lines come before the first hunk.
    std::int64_t places = 0;
    bool inChange = false;
    bool inHunks = false;
    std::size_t start = 0;
    while (start < diff.size()) {
        std::size_t end = diff.find('\n', start);
        if (end == std::string_view::npos)
            end = diff.size();
        const char first = diff[start];
        inHunks = inHunks || first == '@';
        const bool changed = inHunks && (first == '-' || first == '+');
        if (changed && !inChange)
            ++places;
        inChange = changed;
        start = end + 1;
    }
    return places;
}

std::string fileDiff(const std::string& path, std::string_view oldText, std::string_view newText) {
    std::string diff;
    core::WriteUnifiedDiff(diff, "a/" + path, "b/" + path, oldText, newText, nullptr, core::DiffColor::None);
    return diff;
}

std::string diffOfFileNow(const engine::FileOperation& param, const std::string& path) {
    engine::FileOperation dry = param;
    dry.DryRun = true;
    const engine::PreparedFile prepared = engine::PrepareFile(path, dry);
    if (!prepared.Changed)
        return {};
    return fileDiff(path, prepared.oldText(), prepared.Result.joined());
}

bool sameFileNow(const std::string& path, const engine::FileIdentity& identity) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return engine::FileIdentity::of(info) == identity;
}

ChangeCollector::ChangeCollector(ChangeLimits limits) : m_limits(limits) {}

void ChangeCollector::record(const std::string& path, std::string_view oldText, std::string_view newText,
                             std::int64_t matches) {
    FileChange change;
    change.Path = path;
    change.Matches = matches;
    if (oldText.size() > m_limits.MaxTextBytes || newText.size() > m_limits.MaxTextBytes) {
        change.DiffKept = false;
    } else {
        change.Diff = fileDiff(path, oldText, newText);
        if (matches < 0)
            change.Matches = countChangedPlaces(change.Diff);
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        change.HasIdentity = true;
        change.Identity = engine::FileIdentity::of(info);
    }
    const std::lock_guard lock(m_mutex);
    if (!change.DiffKept || change.Diff.size() > m_limits.MaxDiffBytes ||
        m_keptBytes + change.Diff.size() > m_limits.MaxTotalBytes) {
        change.Diff = std::string();
        change.DiffKept = false;
    } else {
        m_keptBytes += change.Diff.size();
    }
    m_changes.push_back(std::move(change));
}

std::vector<FileChange> ChangeCollector::take() {
    const std::lock_guard lock(m_mutex);
    m_keptBytes = 0;
    return std::exchange(m_changes, {});
}

} // namespace quillet::gui
