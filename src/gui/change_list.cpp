#include "change_list.h"

#include "core/text_diff.h"
#include "engine/run/match_lines.h"

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

namespace {

// At most kShownChangeBytes of `text`, never ending inside a character, line
// ends shown as a return sign.
std::string shownChangeText(std::string_view text) {
    std::string_view kept = text;
    bool cut = false;
    if (kept.size() > kShownChangeBytes) {
        std::size_t end = kShownChangeBytes;
        while (end > 0 && (static_cast<unsigned char>(kept[end]) & 0xC0U) == 0x80U)
            --end;
        kept = kept.substr(0, end);
        cut = true;
    }
    std::string shown;
    shown.reserve(kept.size() + 8);
    for (const char c : kept) {
        if (c == '\n')
            shown += "\u23CE";
        else if (c != '\r')
            shown += c;
    }
    if (cut)
        shown += "[...]";
    return shown;
}

} // namespace

std::vector<ChangeRow> changeRows(std::string_view text, const std::vector<engine::MatchLocation>& matches) {
    std::vector<ChangeRow> rows;
    rows.reserve(matches.size());
    for (const engine::MatchLocation& match : matches)
        rows.push_back({match.FirstLine, shownChangeText(text.substr(match.Start, match.End - match.Start)),
                        shownChangeText(match.Replacement)});
    return rows;
}

FileReview reviewFileNow(const engine::FileOperation& param, const std::string& path, std::size_t listedUpTo) {
    engine::FileOperation dry = param;
    dry.DryRun = true;
    dry.ListMatches = !core::IsRecipe(param.Operation);
    dry.ListMatchesUpTo = listedUpTo;
    dry.Match.Selection.reset();
    const engine::PreparedFile prepared = engine::PrepareFile(path, dry);
    FileReview review;
    review.Changed = prepared.Changed;
    if (!prepared.Changed)
        return review;
    review.TextHash = engine::HashText(prepared.oldText());
    review.Count = dry.ListMatches ? static_cast<std::size_t>(prepared.Matches) : 0;
    review.Changes = changeRows(prepared.oldText(), prepared.MatchList);
    return review;
}

namespace {

constexpr std::string_view kCut = "[...]";

// The rows of the lines ShowMatchLines picks.
class Rows : public engine::MatchLineSink {
public:
    explicit Rows(std::string_view text) : m_text(text) {}

    void gap() override { m_rows.push_back(MatchRow{}); }

    void line(const engine::ShownLine& line) override {
        const std::vector<engine::TextSpan>& marks = *line.Marks;
        const engine::TextSpan part =
            engine::ShownPartOfLine(m_text, line.Start, line.End, marks.empty() ? line.Start : marks.front().Start);
        MatchRow row;
        row.Line = line.Number;
        if (part.Start > line.Start)
            row.Text = kCut;
        const std::size_t offset = row.Text.size();
        row.Text.append(m_text.substr(part.Start, part.End - part.Start));
        for (const engine::TextSpan& mark : marks) {
            const std::size_t markFrom = std::clamp(mark.Start, part.Start, part.End);
            const std::size_t markTo = std::clamp(mark.End, part.Start, part.End);
            if (markFrom < markTo)
                row.Marks.emplace_back(markFrom - part.Start + offset, markTo - part.Start + offset);
        }
        if (part.End < line.End)
            row.Text += kCut;
        m_rows.push_back(std::move(row));
    }

    std::vector<MatchRow> take() { return std::move(m_rows); }

private:
    std::string_view m_text;
    std::vector<MatchRow> m_rows;
};

} // namespace

std::vector<MatchRow> matchRows(std::string_view text, const std::vector<engine::MatchLocation>& matches,
                                std::int64_t context) {
    Rows rows(text);
    engine::ShowMatchLines(text, matches, context, context, rows);
    return rows.take();
}

ChangeCollector::ChangeCollector(ChangeLimits limits) : m_limits(limits) {}

void ChangeCollector::record(const std::string& path, std::string_view oldText, std::string_view newText,
                             std::int64_t matches, std::uint64_t textHash) {
    FileChange change;
    change.Path = path;
    change.Matches = matches;
    change.TextHash = textHash;
    const bool madeOnDemand = m_limits.DiffsOnDemand && matches >= 0;
    if (madeOnDemand || oldText.size() > m_limits.MaxTextBytes || newText.size() > m_limits.MaxTextBytes) {
        change.DiffKept = false;
    } else {
        change.Diff = fileDiff(path, oldText, newText);
        if (matches < 0)
            change.Matches = countChangedPlaces(change.Diff);
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
                                    const std::vector<engine::MatchLocation>& matches, std::int64_t count) {
    FileChange change;
    change.Path = path;
    change.IsSearch = true;
    change.Matches = count;
    change.MatchesBinary = core::LooksBinary(text);
    std::size_t shown = 0;
    {
        const std::lock_guard lock(m_mutex);
        shown = std::min({matches.size(), m_limits.MaxFileMatches, m_limits.MaxTotalMatches - m_keptMatches});
        if (change.MatchesBinary)
            shown = 0;
        m_keptMatches += shown;
    }
    change.MatchesCut = !change.MatchesBinary && static_cast<std::int64_t>(shown) < count;
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
    return std::exchange(m_changes, {});
}

} // namespace quillet::gui
