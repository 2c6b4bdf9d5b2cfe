#include "change_list.h"

#include "core/text_diff.h"
#include "core/text_lines.h"

#include <sys/stat.h>

#include <algorithm>
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

namespace {

constexpr std::string_view kCut = "[...]";
// How much of a cut line stands before its first match.
constexpr std::size_t kCutLead = 100;

bool continues(std::string_view text, std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The row of the line [start, end) with the parts of `marks` (ranges of the
// text) that lie in it.
MatchRow rowOf(std::string_view text, std::size_t start, std::size_t end, std::int64_t number,
               const std::vector<std::pair<std::size_t, std::size_t>>& marks) {
    std::size_t from = start;
    std::size_t to = end;
    if (end - start > kMatchCutWidth) {
        const std::size_t anchor = marks.empty() ? start : std::max(marks.front().first, start);
        from = anchor - std::min(kCutLead, anchor - start);
        to = std::min(end, from + kMatchCutWidth);
        while (from > start && continues(text, from))
            --from;
        while (to < end && continues(text, to))
            ++to;
    }
    MatchRow row;
    row.Line = number;
    if (from > start)
        row.Text = kCut;
    const std::size_t offset = row.Text.size();
    row.Text.append(text.substr(from, to - from));
    for (const auto& [markStart, markEnd] : marks) {
        const std::size_t markFrom = std::clamp(markStart, from, to);
        const std::size_t markTo = std::clamp(markEnd, from, to);
        if (markFrom < markTo)
            row.Marks.emplace_back(markFrom - from + offset, markTo - from + offset);
    }
    if (to < end)
        row.Text += kCut;
    return row;
}

} // namespace

std::vector<MatchRow> matchRows(std::string_view text, const std::vector<engine::MatchLocation>& matches,
                                std::int64_t context) {
    std::vector<MatchRow> rows;
    // Lines are visited forward only, each read once.
    std::int64_t number = 1;
    std::size_t lineStart = 0;
    const auto go = [&](std::int64_t wanted) {
        while (number < wanted && lineStart < text.size()) {
            lineStart = core::LineEndAt(text, lineStart) + 1;
            ++number;
        }
        return number == wanted && lineStart < text.size();
    };
    std::int64_t shown = 0; // the last line shown
    const std::vector<std::pair<std::size_t, std::size_t>> none;
    const auto contextLines = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t n = std::max(from, shown + 1); n <= to && go(n); ++n) {
            rows.push_back(rowOf(text, lineStart, core::LineEndAt(text, lineStart), n, none));
            shown = n;
        }
    };
    std::int64_t contextTo = 0; // after-context still due up to this line
    std::vector<std::pair<std::size_t, std::size_t>> marks;
    for (std::size_t i = 0; i < matches.size();) {
        // A group: the lines of matches that share or span lines.
        const std::int64_t first = matches[i].FirstLine;
        std::int64_t last = matches[i].LastLine;
        std::size_t j = i + 1;
        while (j < matches.size() && matches[j].FirstLine <= last)
            last = std::max(last, matches[j++].LastLine);
        contextLines(shown + 1, std::min(contextTo, first - 1));
        const std::int64_t groupStart = std::max(shown + 1, first - context);
        if (!rows.empty() && groupStart > shown + 1)
            rows.push_back(MatchRow{});
        contextLines(groupStart, first - 1);
        std::size_t k = i;
        for (std::int64_t n = std::max(first, shown + 1); n <= last && go(n); ++n) {
            const std::size_t end = core::LineEndAt(text, lineStart);
            while (k < j && matches[k].LastLine < n)
                ++k;
            marks.clear();
            for (std::size_t m = k; m < j && matches[m].Start <= end; ++m)
                marks.emplace_back(std::max(matches[m].Start, lineStart), std::min(matches[m].End, end));
            rows.push_back(rowOf(text, lineStart, end, n, marks));
            shown = n;
        }
        contextTo = last + context;
        i = j;
    }
    contextLines(shown + 1, contextTo);
    return rows;
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

void ChangeCollector::recordMatches(const std::string& path, std::string_view text,
                                    const std::vector<engine::MatchLocation>& matches) {
    FileChange change;
    change.Path = path;
    change.IsSearch = true;
    change.Matches = static_cast<std::int64_t>(matches.size());
    change.MatchesBinary = core::LooksBinary(text);
    std::size_t shown = 0;
    {
        const std::lock_guard lock(m_mutex);
        shown = std::min({matches.size(), m_limits.MaxFileMatches, m_limits.MaxTotalMatches - m_keptMatches});
        if (change.MatchesBinary)
            shown = 0;
        m_keptMatches += shown;
    }
    change.MatchesCut = !change.MatchesBinary && shown < matches.size();
    if (shown > 0) {
        const std::vector<engine::MatchLocation> kept(matches.begin(),
                                                      matches.begin() + static_cast<std::ptrdiff_t>(shown));
        change.MatchRows = matchRows(text, kept, m_limits.ContextLines);
    }
    const std::lock_guard lock(m_mutex);
    m_changes.push_back(std::move(change));
}

std::vector<FileChange> ChangeCollector::take() {
    const std::lock_guard lock(m_mutex);
    m_keptBytes = 0;
    m_keptMatches = 0;
    return std::exchange(m_changes, {});
}

} // namespace quillet::gui
