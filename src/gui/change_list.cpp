#include "change_list.h"

#include "core/pattern.h"
#include "core/text_diff.h"
#include "core/text_ops.h"

#include <sys/stat.h>

#include <utility>

namespace quillet::gui {

std::int64_t countMatches(const engine::FileOperation& param, std::string_view oldText, std::string_view diff) {
    if (core::IsRecipe(param.Operation)) {
        // Runs of "-" and "+" lines; the "---" and "+++" heading lines come
        // before the first hunk and are not changes.
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
    const core::CompiledPattern compiled = core::CompilePattern(param.SearchPattern);
    const auto textLen = static_cast<core::Pos>(oldText.size());
    core::TSubStrPosArray ranges;
    std::int64_t count = 0;
    for (core::Pos from = 1; from <= textLen;) {
        core::Pos start = 0;
        core::Pos end = 0;
        if (!core::MatchPattern(start, end, ranges, oldText, compiled, textLen, true, from, param.CaseSensitive, true))
            break;
        ++count;
        if (param.MaxCount > 0 && count >= param.MaxCount)
            break;
        from = end + 1;
    }
    return count;
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
    return fileDiff(path, prepared.Original.view(), prepared.Result.joined());
}

bool sameFileNow(const std::string& path, const engine::FileIdentity& identity) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    return engine::FileIdentity::of(info) == identity;
}

ChangeCollector::ChangeCollector(engine::FileOperation param, ChangeLimits limits)
    : m_param(std::move(param)), m_limits(limits) {}

void ChangeCollector::record(const std::string& path, std::string_view oldText, std::string_view newText) {
    FileChange change;
    change.Path = path;
    const bool recipe = core::IsRecipe(m_param.Operation);
    if (oldText.size() > m_limits.MaxTextBytes || newText.size() > m_limits.MaxTextBytes) {
        change.DiffKept = false;
        change.Matches = recipe ? -1 : countMatches(m_param, oldText, {});
    } else {
        change.Diff = fileDiff(path, oldText, newText);
        change.Matches = countMatches(m_param, oldText, change.Diff);
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
